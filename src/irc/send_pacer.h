#pragma once
// Flood control for the lines the client sends, as IRC servers expect of a
// client: a burst of lines may go at once, then one line per interval; the
// allowance grows back by one line per quiet interval. Lines beyond the
// allowance wait in a bounded queue.
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <string>

namespace qm {

class SendPacer {
public:
    struct Limits {
        int burst = 5;
        std::chrono::milliseconds interval{2000};
        std::size_t queueLimit = 200;
    };
    using Writer = std::function<void(const std::string& line)>;

    // `write` puts one line on the wire; `overflow` is told when a full queue
    // first drops chat lines, and again only after it has drained below its
    // limit in between.
    SendPacer(boost::asio::io_context& io, Writer write, std::function<void()> overflow);

    // A fresh connection: the whole burst is available, nothing is queued.
    void Start(const Limits& limits);
    // Writes the line now if the allowance permits and nothing waits, else
    // queues it. A full queue first drops its oldest PRIVMSG or NOTICE line,
    // or, holding none, its oldest line.
    void Send(std::string line);
    // Writes the line at once, ahead of everything queued (PONG, QUIT, the
    // keepalive PING); it still uses up allowance when there is some.
    void SendNow(std::string line);
    // Drops whatever waits.
    void Clear();

private:
    using Clock = std::chrono::steady_clock;

    // Adds the allowance earned since the last refill.
    void Refill();
    // Writes queued lines while the allowance lasts; arms the timer for the rest.
    void Drain();
    void ArmTimer();
    void MakeRoom();

    boost::asio::steady_timer timer_;
    Writer write_;
    std::function<void()> overflow_;
    Limits limits_;
    std::deque<std::string> queue_;
    int allowance_ = 0;
    Clock::time_point lastRefill_;
    bool overflowing_ = false;
    bool timerArmed_ = false;
    // Start and Clear make a waiting timer handler stale.
    unsigned round_ = 0;
    // Lets a timer handler that outlives this object see that it has gone.
    std::shared_ptr<char> alive_ = std::make_shared<char>();
};

}  // namespace qm
