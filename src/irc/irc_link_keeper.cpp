#include "irc/irc_link_keeper.h"

#include <fmt/format.h>

#include "storage/ascii.h"

namespace qm {

IrcLinkKeeper::IrcLinkKeeper(boost::asio::io_context& io, IrcBridge& bridge, IrcKeeperTimings timings)
    : bridge_(bridge),
      timings_(timings),
      retryTimer_(io),
      stableTimer_(io),
      retryDelay_(timings.firstRetry, timings.maxRetry) {
    bridge_.onStateChange = [this](TState state) { StateChanged(state); };
    bridge_.onKicked = [this](const std::string& channel) {
        kickedFrom_ = channel;
        bridge_.AddLinkLog("*** Kicked from " + channel + "; the link does not join it again by itself.");
    };
}

IrcLinkKeeper::~IrcLinkKeeper() {
    bridge_.onStateChange = nullptr;
    bridge_.onKicked = nullptr;
}

void IrcLinkKeeper::Begin() {
    began_ = true;
    StartOrExplain();
}

void IrcLinkKeeper::SettingsChanged() {
    if (!began_) return;
    if (!kickedFrom_.empty() && !EqualsIgnoreCase(kickedFrom_, bridge_.Settings().Channel)) kickedFrom_.clear();
    // Down with no retry under way: it never started for want of a server.
    if (bridge_.State() == csDisconnected && retryTimer_.expiry() <= boost::asio::steady_timer::clock_type::now())
        StartOrExplain();
}

template <typename F>
void IrcLinkKeeper::After(boost::asio::steady_timer& timer, std::chrono::milliseconds delay, F f) {
    timer.expires_after(delay);
    timer.async_wait([alive = std::weak_ptr<char>(alive_), f](boost::system::error_code ec) {
        if (!ec && !alive.expired()) f();
    });
}

void IrcLinkKeeper::StartOrExplain() {
    if (bridge_.Settings().Server.empty()) {
        bridge_.AddLinkLog("*** The IRC link is not configured (no server set); it stays down.");
        return;
    }
    bridge_.Start();
}

void IrcLinkKeeper::StateChanged(TState state) {
    // Until Begin, the operator runs the link by hand.
    if (!began_) return;
    if (state == csConnecting) {
        joinedThisConnection_ = false;
    } else if (state == csConnected) {
        if (!joinedThisConnection_ && kickedFrom_.empty()) {
            joinedThisConnection_ = true;
            bridge_.Join();
        }
        After(stableTimer_, timings_.stable, [this] { retryDelay_.Reset(); });
    } else if (state == csDisconnected) {
        stableTimer_.cancel();
        const auto delay = retryDelay_.Next();
        bridge_.AddLinkLog(fmt::format("*** Trying again in {:g} s.", delay.count() / 1000.0));
        After(retryTimer_, delay, [this] { StartOrExplain(); });
    }
}

}  // namespace qm
