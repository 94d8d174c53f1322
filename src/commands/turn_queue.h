#pragma once
// Jobs that take turns: one runs, then the queue rests for an interval
// before the next, however many wait. A job waits for its turn; it is
// never refused.
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <deque>
#include <functional>

namespace qm {

class TurnQueue {
public:
    TurnQueue(boost::asio::io_context& loop, std::chrono::milliseconds interval);

    // `job` runs on the loop thread in its turn and says whether it did its
    // work; one that did not (its client has gone) hands its turn on at once.
    void Add(std::function<bool()> job);

private:
    void RunNext();

    boost::asio::steady_timer timer_;
    std::chrono::milliseconds interval_;
    std::deque<std::function<bool()>> jobs_;
    bool resting_ = false;
};

}  // namespace qm
