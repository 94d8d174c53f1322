#include "irc/send_pacer.h"

#include <algorithm>

namespace qm {

SendPacer::SendPacer(boost::asio::io_context& io, Writer write, std::function<void()> overflow)
    : timer_(io), write_(std::move(write)), overflow_(std::move(overflow)) {}

void SendPacer::Start(const Limits& limits) {
    Clear();
    limits_ = limits;
    allowance_ = limits_.burst;
    lastRefill_ = Clock::now();
}

void SendPacer::Clear() {
    queue_.clear();
    overflowing_ = false;
    timerArmed_ = false;
    ++round_;
    timer_.cancel();
}

void SendPacer::Refill() {
    const Clock::time_point now = Clock::now();
    if (allowance_ >= limits_.burst || limits_.interval.count() <= 0) {
        allowance_ = limits_.burst;
        lastRefill_ = now;
        return;
    }
    const auto earned = (now - lastRefill_) / limits_.interval;
    allowance_ = static_cast<int>(std::min<decltype(earned)>(limits_.burst, allowance_ + earned));
    lastRefill_ += earned * limits_.interval;
    if (allowance_ >= limits_.burst) lastRefill_ = now;
}

void SendPacer::Send(std::string line) {
    if (!queue_.empty() && queue_.size() >= limits_.queueLimit) MakeRoom();
    queue_.push_back(std::move(line));
    Drain();
}

void SendPacer::SendNow(std::string line) {
    Refill();
    if (allowance_ > 0) --allowance_;
    write_(line);
}

void SendPacer::MakeRoom() {
    const auto chat = std::find_if(queue_.begin(), queue_.end(), [](const std::string& line) {
        return line.starts_with("PRIVMSG ") || line.starts_with("NOTICE ");
    });
    queue_.erase(chat != queue_.end() ? chat : queue_.begin());
    if (overflowing_) return;
    overflowing_ = true;
    overflow_();
}

void SendPacer::Drain() {
    Refill();
    while (allowance_ > 0 && !queue_.empty()) {
        --allowance_;
        std::string line = std::move(queue_.front());
        queue_.pop_front();
        if (queue_.size() < limits_.queueLimit) overflowing_ = false;
        // The writer may call back into Send or Clear; the loop re-reads the queue.
        write_(line);
    }
    if (!queue_.empty()) ArmTimer();
}

void SendPacer::ArmTimer() {
    if (timerArmed_) return;
    timerArmed_ = true;
    timer_.expires_at(lastRefill_ + limits_.interval);
    timer_.async_wait([this, alive = std::weak_ptr<char>(alive_), round = round_](const boost::system::error_code&) {
        if (alive.expired() || round != round_) return;
        timerArmed_ = false;
        Drain();
    });
}

}  // namespace qm
