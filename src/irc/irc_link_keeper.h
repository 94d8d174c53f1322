#pragma once
// Keeps an IRC link up without an operator at hand (the daemon): starts it,
// joins the stored channel as soon as the server has accepted the
// registration, and after the link goes down starts it again after a delay
// that doubles from 2 s up to 5 minutes, back to 2 s once a link has stayed
// registered for a minute. A link kicked from its channel by an IRC operator
// is not joined again.
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <memory>
#include <string>

#include "irc/irc_bridge.h"
#include "net/backoff.h"

namespace qm {

struct IrcKeeperTimings {
    std::chrono::milliseconds firstRetry{2000};
    std::chrono::milliseconds maxRetry{std::chrono::minutes(5)};
    // A link registered this long counts as healthy again.
    std::chrono::milliseconds stable{std::chrono::minutes(1)};
};

class IrcLinkKeeper {
public:
    IrcLinkKeeper(boost::asio::io_context& io, IrcBridge& bridge, IrcKeeperTimings timings = {});
    ~IrcLinkKeeper();

    // Starts the link, or says in the link log that no server is configured.
    void Begin();
    // The stored values were read again: a link that never started (no
    // server) starts now, and a channel other than the one the link was
    // kicked from is joined again.
    void SettingsChanged();

private:
    void StateChanged(TState state);
    void StartOrExplain();
    template <typename F>
    void After(boost::asio::steady_timer& timer, std::chrono::milliseconds delay, F f);

    IrcBridge& bridge_;
    IrcKeeperTimings timings_;
    boost::asio::steady_timer retryTimer_;
    boost::asio::steady_timer stableTimer_;
    Backoff retryDelay_;
    bool began_ = false;
    bool joinedThisConnection_ = false;
    // The channel the link was kicked from, while it stays out of it.
    std::string kickedFrom_;
    // Timer handlers check it: a keeper that is gone does nothing.
    std::shared_ptr<char> alive_ = std::make_shared<char>();
};

}  // namespace qm
