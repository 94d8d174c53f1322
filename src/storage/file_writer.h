#pragma once
// Writes files on a thread of its own, so that an fsync or a slow disk never
// holds up the event loop. Work runs in the order it was handed over; a file
// that is to be replaced again before its earlier contents were written is
// written once, with the latest contents, and so is a run of appends to one
// file.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qm {

class FileWriter {
public:
    // Told, on the writer's thread, the error of the write ("Cannot create
    // file <name>: <reason>"), or an empty text when the bytes are on disk.
    using Done = std::function<void(const std::string& error)>;
    // Builds the whole contents of a file; runs on the writer's thread.
    using Contents = std::function<std::string()>;

    FileWriter();
    // Writes what was handed over, then stops.
    ~FileWriter();
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    // Replaces `file` whole with what `contents` gives (WriteFileAtomic).
    void Replace(std::filesystem::path file, Contents contents, Done done);
    // Adds `bytes` at the end of `file` (AppendToFile).
    void Append(std::filesystem::path file, std::string bytes, Done done);
    // Waits until everything handed over has been written or has failed;
    // false when `limit` passed first.
    bool WaitUntilIdle(std::chrono::milliseconds limit);
    // How many writes have failed so far.
    std::size_t Failures() const;

private:
    struct Job {
        std::filesystem::path file;
        bool append = false;
        Contents contents;
        std::string bytes;
        std::vector<Done> done;
    };
    void Queue(Job job);
    void Run();
    static std::string Write(Job& job);

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<Job> queue_;
    bool busy_ = false;
    bool stopping_ = false;
    std::size_t failures_ = 0;
    std::thread thread_;
};

}  // namespace qm
