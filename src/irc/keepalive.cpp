#include "irc/keepalive.h"

namespace qm {

Keepalive::Keepalive(boost::asio::io_context& io, std::function<void()> sendPing, std::function<void()> timedOut)
    : timer_(io), sendPing_(std::move(sendPing)), timedOut_(std::move(timedOut)) {}

void Keepalive::Start(std::chrono::milliseconds idle, std::chrono::milliseconds timeout) {
    idle_ = idle;
    timeout_ = timeout;
    awaitingAnswer_ = false;
    lastLine_ = Clock::now();
    ++round_;
    Arm(lastLine_ + idle_);
}

void Keepalive::Stop() {
    awaitingAnswer_ = false;
    ++round_;
    timer_.cancel();
}

void Keepalive::LineReceived() {
    lastLine_ = Clock::now();
    if (!awaitingAnswer_) return;
    // The answer to a ping: the next quiet spell starts now.
    awaitingAnswer_ = false;
    ++round_;
    Arm(lastLine_ + idle_);
}

// The timer is not moved for every line: when it fires it looks at the time
// of the last line and, if that is recent, waits for the rest of the spell.
void Keepalive::Arm(Clock::time_point at) {
    timer_.expires_at(at);
    timer_.async_wait([this, alive = std::weak_ptr<char>(alive_), round = round_](const boost::system::error_code&) {
        if (alive.expired() || round != round_) return;
        Check();
    });
}

void Keepalive::Check() {
    const Clock::time_point now = Clock::now();
    if (awaitingAnswer_) {
        ++round_;
        timedOut_();
        return;
    }
    if (now - lastLine_ < idle_) {
        Arm(lastLine_ + idle_);
        return;
    }
    awaitingAnswer_ = true;
    const unsigned round = round_;
    sendPing_();
    if (round == round_) Arm(now + timeout_);
}

}  // namespace qm
