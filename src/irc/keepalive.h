#pragma once
// Notices a dead link: after a quiet spell the client pings the server, and
// if nothing at all arrives in answer the link is given up.
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <functional>
#include <memory>

namespace qm {

class Keepalive {
public:
    Keepalive(boost::asio::io_context& io, std::function<void()> sendPing, std::function<void()> timedOut);

    // Starts watching: `sendPing` runs after `idle` without a received line,
    // `timedOut` when no line follows the ping within `timeout`.
    void Start(std::chrono::milliseconds idle, std::chrono::milliseconds timeout);
    void Stop();
    // Any line from the server proves the link alive.
    void LineReceived();

private:
    using Clock = std::chrono::steady_clock;

    void Arm(Clock::time_point at);
    void Check();

    boost::asio::steady_timer timer_;
    std::function<void()> sendPing_;
    std::function<void()> timedOut_;
    std::chrono::milliseconds idle_{0}, timeout_{0};
    Clock::time_point lastLine_;
    bool awaitingAnswer_ = false;
    // A new Start or a Stop makes a waiting handler stale.
    unsigned round_ = 0;
    std::shared_ptr<char> alive_ = std::make_shared<char>();
};

}  // namespace qm
