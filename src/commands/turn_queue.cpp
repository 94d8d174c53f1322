#include "commands/turn_queue.h"

namespace qm {

TurnQueue::TurnQueue(boost::asio::io_context& loop, std::chrono::milliseconds interval)
    : timer_(loop), interval_(interval) {}

void TurnQueue::Add(std::function<bool()> job) {
    jobs_.push_back(std::move(job));
    if (!resting_) RunNext();
}

void TurnQueue::RunNext() {
    while (!jobs_.empty()) {
        const auto job = std::move(jobs_.front());
        jobs_.pop_front();
        if (!job()) continue;
        resting_ = true;
        timer_.expires_after(interval_);
        timer_.async_wait([this](boost::system::error_code ec) {
            if (ec) return;
            resting_ = false;
            RunNext();
        });
        return;
    }
}

}  // namespace qm
