#include "app/stdout_pump.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "storage/clock.h"
#include "storage/text_file.h"

namespace qm {

namespace {

// How long the end waits for a reader to take what is left.
constexpr auto kFinishLimit = std::chrono::seconds(1);

// Lines that come within this time of each other go out in one write. A
// login storm logs two lines a login; waking the thread for each of them
// cost the event loop more than the lines themselves.
constexpr auto kGatherTime = std::chrono::milliseconds(10);

}  // namespace

StdoutPump::StdoutPump(int fd, std::size_t limit)
    : limit_(limit), thread_([shared = shared_, fd, limit] { Run(shared, fd, limit); }) {}

StdoutPump::~StdoutPump() {
    std::unique_lock lock(shared_->mutex);
    shared_->stopping = true;
    shared_->changed.notify_all();
    if (shared_->changed.wait_for(lock, kFinishLimit, [&] { return shared_->finished; })) {
        lock.unlock();
        thread_.join();
    } else {
        thread_.detach();
    }
}

void StdoutPump::Print(std::string_view line) {
    std::lock_guard lock(shared_->mutex);
    std::string& buffer = shared_->buffer;
    // The thread waits for the first line and then gathers for a moment; it
    // is woken again only when the buffer is half full.
    const bool wasEmpty = buffer.empty();
    const bool wasBelowHalf = buffer.size() < limit_ / 2;
    if (buffer.size() + line.size() + 1 > limit_) {
        ++dropped_;
        return;
    }
    if (dropped_ > 0) {
        buffer += "[" + FormatHourMinute(SystemClock().Now()) + "] " + std::to_string(dropped_) +
                  " log lines were dropped: standard output was not being read.\n";
        dropped_ = 0;
    }
    buffer += line;
    buffer += '\n';
    if (wasEmpty || (wasBelowHalf && buffer.size() >= limit_ / 2)) shared_->changed.notify_all();
}

void StdoutPump::Run(const std::shared_ptr<Shared>& shared, int fd, std::size_t limit) {
    std::unique_lock lock(shared->mutex);
    bool readerThere = true;
    std::string bytes;
    for (;;) {
        shared->changed.wait(lock, [&] { return shared->stopping || !shared->buffer.empty(); });
        if (shared->buffer.empty()) break;
        shared->changed.wait_for(lock, kGatherTime, [&] {
            return shared->stopping || shared->buffer.size() >= limit / 2;
        });
        // The two buffers change places, so neither is allocated again.
        bytes.swap(shared->buffer);
        lock.unlock();
        // A reader that has gone for good is not waited for again.
        readerThere = readerThere && WriteAll(fd, bytes);
        bytes.clear();
        lock.lock();
    }
    shared->finished = true;
    shared->changed.notify_all();
}

}  // namespace qm
