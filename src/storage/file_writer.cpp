#include "storage/file_writer.h"

#include <algorithm>

#include "storage/text_file.h"

namespace qm {

FileWriter::FileWriter() : thread_([this] { Run(); }) {}

FileWriter::~FileWriter() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void FileWriter::Replace(std::filesystem::path file, Contents contents, Done done) {
    Job job;
    job.file = std::move(file);
    job.contents = std::move(contents);
    job.done.push_back(std::move(done));
    Queue(std::move(job));
}

void FileWriter::Append(std::filesystem::path file, std::string bytes, Done done) {
    Job job;
    job.file = std::move(file);
    job.append = true;
    job.bytes = std::move(bytes);
    job.done.push_back(std::move(done));
    Queue(std::move(job));
}

void FileWriter::Queue(Job job) {
    {
        std::lock_guard lock(mutex_);
        const auto waiting = std::find_if(queue_.begin(), queue_.end(), [&](const Job& queued) {
            return queued.file == job.file && queued.append == job.append;
        });
        if (waiting == queue_.end()) {
            queue_.push_back(std::move(job));
        } else {
            // Not started yet: one write does for both.
            if (job.append)
                waiting->bytes += job.bytes;
            else
                waiting->contents = std::move(job.contents);
            for (auto& done : job.done) waiting->done.push_back(std::move(done));
        }
    }
    wake_.notify_one();
}

bool FileWriter::WaitUntilIdle(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, limit, [&] { return queue_.empty() && !busy_; });
}

std::size_t FileWriter::Failures() const {
    std::lock_guard lock(mutex_);
    return failures_;
}

void FileWriter::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;  // stopping, and nothing is left
        Job job = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
        lock.unlock();
        const std::string error = Write(job);
        for (auto& done : job.done) done(error);
        lock.lock();
        busy_ = false;
        if (!error.empty()) ++failures_;
        if (queue_.empty()) idle_.notify_all();
    }
}

std::string FileWriter::Write(Job& job) {
    try {
        if (job.append)
            AppendToFile(job.file, job.bytes);
        else
            WriteFileAtomic(job.file, job.contents());
        return {};
    } catch (const FileError& e) {
        return e.what();
    }
}

}  // namespace qm
