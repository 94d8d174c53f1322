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

}  // namespace

StdoutPump::StdoutPump(int fd, std::size_t limit)
    : limit_(limit), thread_([shared = shared_, fd] { Run(shared, fd); }) {}

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
    shared_->changed.notify_all();
}

void StdoutPump::Run(const std::shared_ptr<Shared>& shared, int fd) {
    std::unique_lock lock(shared->mutex);
    bool readerThere = true;
    for (;;) {
        shared->changed.wait(lock, [&] { return shared->stopping || !shared->buffer.empty(); });
        if (shared->buffer.empty()) break;
        const std::string bytes = std::move(shared->buffer);
        shared->buffer.clear();
        lock.unlock();
        // A reader that has gone for good is not waited for again.
        readerThere = readerThere && WriteAll(fd, bytes);
        lock.lock();
    }
    shared->finished = true;
    shared->changed.notify_all();
}

}  // namespace qm
