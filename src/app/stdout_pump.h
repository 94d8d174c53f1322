#pragma once
// The daemon's standard output, written by a thread of its own through a
// bounded buffer, so that a reader who stops reading (a pipe nobody drains,
// a stopped pager) never holds up the chat server. When the buffer is full
// the lines are dropped and counted; once there is room again, a line says
// how many were lost.
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace qm {

class StdoutPump {
public:
    static constexpr std::size_t kDefaultLimit = 1 << 20;

    explicit StdoutPump(int fd, std::size_t limit = kDefaultLimit);
    // Waits a moment for the buffer to be written; a reader that still
    // does not read is left behind with it.
    ~StdoutPump();
    StdoutPump(const StdoutPump&) = delete;
    StdoutPump& operator=(const StdoutPump&) = delete;

    // Queues the line and a line end; never waits for the reader.
    void Print(std::string_view line);

private:
    // Outlives the pump when its thread is left behind at the end.
    struct Shared {
        std::mutex mutex;
        std::condition_variable changed;
        std::string buffer;
        bool stopping = false;
        bool finished = false;
    };
    static void Run(const std::shared_ptr<Shared>& shared, int fd, std::size_t limit);

    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
    const std::size_t limit_;
    std::size_t dropped_ = 0;
    std::thread thread_;
};

}  // namespace qm
