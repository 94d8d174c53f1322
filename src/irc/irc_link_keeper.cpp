#include "irc/irc_link_keeper.h"

#include <fmt/format.h>

#include <algorithm>

namespace qm {

IrcLinkKeeper::IrcLinkKeeper(asio::io_context& io, IrcBridge& bridge, IrcKeeperTimings timings)
    : bridge_(bridge), timings_(timings), retryTimer_(io), stableTimer_(io), nextRetry_(timings.firstRetry) {
    bridge_.onStateChange = [this](TState state) { StateChanged(state); };
    bridge_.onKicked = [this](const std::string& channel) {
        kicked_ = true;
        bridge_.AddLinkLog("*** Kicked from " + channel + "; the link does not join it again by itself.");
    };
}

IrcLinkKeeper::~IrcLinkKeeper() {
    bridge_.onStateChange = nullptr;
    bridge_.onKicked = nullptr;
}

void IrcLinkKeeper::Begin() { StartOrExplain(); }

void IrcLinkKeeper::StartOrExplain() {
    if (bridge_.Settings().Server.empty()) {
        bridge_.AddLinkLog("*** The IRC link is not configured (no server set); it stays down.");
        return;
    }
    bridge_.Start();
}

void IrcLinkKeeper::StateChanged(TState state) {
    if (state == csConnecting) {
        joinedThisConnection_ = false;
    } else if (state == csConnected) {
        if (!joinedThisConnection_ && !kicked_) {
            joinedThisConnection_ = true;
            bridge_.Join();
        }
        stableTimer_.expires_after(timings_.stable);
        stableTimer_.async_wait([this](std::error_code ec) {
            if (!ec) nextRetry_ = timings_.firstRetry;
        });
    } else if (state == csDisconnected) {
        stableTimer_.cancel();
        const auto delay = nextRetry_;
        nextRetry_ = std::min(nextRetry_ * 2, timings_.maxRetry);
        bridge_.AddLinkLog(fmt::format("*** Trying again in {:g} s.", delay.count() / 1000.0));
        retryTimer_.expires_after(delay);
        retryTimer_.async_wait([this](std::error_code ec) {
            if (!ec) StartOrExplain();
        });
    }
}

}  // namespace qm
