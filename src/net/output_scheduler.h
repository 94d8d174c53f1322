#pragma once
// Output batching shared by every socket on one io_context: a socket that
// has something to send asks for a flush, and the flushes of one loop round
// run together once input has stopped arriving (for at most 20 ms), so a
// burst of lines costs one write per connection instead of one per line.
// Also owns the one read buffer all sockets share, hands freed output
// memory back to the system after a burst, and keeps the unsent output of
// all sockets together under one limit.
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qm {

// A connection as the scheduler sees it, whatever does its writing (a
// socket of ours, or a library with a write loop of its own): it is told
// when to write a round's output, and to shed its output when all the
// connections together hold too much.
class FlushTarget {
public:
    // Writes what is queued; once per loop round in which it asked.
    virtual void Flush() = 0;
    // The unsent output of all connections is over its limit and this one
    // holds the most: writes what its peer takes now, and drops the peer
    // if anything is left.
    virtual void ShedOutput() = 0;

protected:
    ~FlushTarget() = default;
};

// Bytes kept once for the current loop round and queued by many sockets:
// a line for a channel goes into each member's output as a reference to one
// copy, and the kernel copies it from there when each socket is written.
struct SharedBytes {
    std::size_t offset = 0;
    std::size_t size = 0;
};

// A socket's share of the unsent output, kept by the socket and updated
// through the scheduler.
struct UnsentOutput {
    static constexpr std::size_t kNotHeld = static_cast<std::size_t>(-1);
    FlushTarget* owner = nullptr;
    std::size_t bytes = 0;
    // Where the scheduler lists it while bytes is not zero.
    std::size_t slot = kNotHeld;
};

class OutputScheduler {
public:
    // All sockets together may hold this much unsent output unless told otherwise.
    static constexpr std::size_t kDefaultMaxTotalOutput = std::size_t{512} << 20;

    explicit OutputScheduler(boost::asio::io_context& io);

    // Once the unsent output of all sockets passes `bytes`, the socket
    // holding the most is made to write what it can and, if its peer still
    // takes nothing, dropped; again until the total is under the limit.
    void SetMaxTotalOutput(std::size_t bytes) { maxTotalOutput_ = bytes; }
    // `entry` now stands for `bytes` of unsent output.
    void TrackUnsent(UnsentOutput& entry, std::size_t bytes);

    boost::asio::io_context& io() { return io_; }

    // Keeps `bytes` until this round's flush is over, for sockets to queue
    // without a copy of their own.
    SharedBytes Share(std::string_view bytes);
    const char* SharedData(const SharedBytes& bytes) const { return roundBytes_.data() + bytes.offset; }

    // `socket` wants its output written in this loop round.
    void QueueFlush(std::shared_ptr<FlushTarget> target);
    // Input arrived: output may wait a little longer for more.
    void NoteInput() { inputSinceCheck_ = true; }
    // A socket dropped an output buffer of this capacity.
    void NoteOutputReleased(std::size_t bytes);
    // One buffer serves every read: bytes are handed on before the next read.
    std::pair<char*, std::size_t> ReadBuffer() { return {readBuffer_.data(), readBuffer_.size()}; }

    // While true, sockets that close raise no events (the owner is being destroyed).
    bool ShuttingDown() const { return shuttingDown_; }
    void BeginShutdown() { shuttingDown_ = true; }

private:
    void FlushWhenQuiet();
    void FlushAll();
    void ScheduleTrim(std::chrono::steady_clock::duration wait);
    void ShedLargest();

    boost::asio::io_context& io_;
    std::vector<std::shared_ptr<FlushTarget>> flushQueue_;
    // What Share keeps; emptied once a round's flush has written it all.
    std::string roundBytes_;
    bool flushPosted_ = false;
    bool inputSinceCheck_ = false;
    // Only a server busy without a pause waits this long. A login storm into
    // a channel of thousands is such a time: every round announces each
    // login to every member, so longer rounds mean more notices per write,
    // and writes are what the time goes on. At 2 ms the rounds were too
    // short once the channel held 8,000 users; at 20 ms the cost per notice
    // stays flat to 10,000 while a steady 2,000 lines/s is written at once.
    static constexpr auto kMaxFlushDelay = std::chrono::milliseconds(20);
    std::chrono::steady_clock::time_point flushDeadline_;
    boost::asio::steady_timer trimTimer_;
    std::size_t releasedSinceTrim_ = 0;
    bool trimScheduled_ = false;
    static constexpr auto kTrimQuiet = std::chrono::milliseconds(250);
    std::chrono::steady_clock::time_point lastRelease_;
    bool shuttingDown_ = false;
    // The sockets with unsent output, in no order: a delivery only adds or
    // removes its own entry, and only a drop searches them.
    std::vector<UnsentOutput*> holders_;
    std::size_t totalUnsent_ = 0;
    std::size_t maxTotalOutput_ = kDefaultMaxTotalOutput;
    bool shedding_ = false;
    // Gone with the scheduler, so that a posted round never runs on a dead one.
    std::shared_ptr<char> alive_ = std::make_shared<char>();
    std::vector<char> readBuffer_ = std::vector<char>(16384);
};

}  // namespace qm
