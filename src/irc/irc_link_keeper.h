#pragma once
// Keeps an IRC link up without an operator at hand (the daemon): starts it,
// joins the stored channel as soon as the server has accepted the
// registration, and after the link goes down starts it again after a delay
// that doubles from 2 s up to 5 minutes, back to 2 s once a link has stayed
// registered for a minute. A link kicked from its channel by an IRC operator
// is not joined again.
#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>

#include "irc/irc_bridge.h"

namespace qm {

struct IrcKeeperTimings {
    std::chrono::milliseconds firstRetry{2000};
    std::chrono::milliseconds maxRetry{std::chrono::minutes(5)};
    // A link registered this long counts as healthy again.
    std::chrono::milliseconds stable{std::chrono::minutes(1)};
};

class IrcLinkKeeper {
public:
    IrcLinkKeeper(asio::io_context& io, IrcBridge& bridge, IrcKeeperTimings timings = {});
    ~IrcLinkKeeper();

    // Starts the link, or says in the link log that no server is configured.
    void Begin();

private:
    void StateChanged(TState state);
    void StartOrExplain();

    IrcBridge& bridge_;
    IrcKeeperTimings timings_;
    asio::steady_timer retryTimer_;
    asio::steady_timer stableTimer_;
    std::chrono::milliseconds nextRetry_;
    bool joinedThisConnection_ = false;
    bool kicked_ = false;
};

}  // namespace qm
