#include "commands/password_worker.h"

#include <boost/asio/post.hpp>

#include "storage/password_hash.h"

namespace qm {

PasswordWorker::PasswordWorker(boost::asio::io_context& loop) : loop_(loop), pool_(kWorkers) {}

PasswordWorker::~PasswordWorker() {
    alive_.reset();
    pool_.stop();
    pool_.join();
}

bool PasswordWorker::Submit(Priority priority, std::function<void()> work, std::function<void()> done) {
    auto& queue = waiting_[static_cast<int>(priority)];
    if (queue.size() >= kMaxWaitingJobs) return false;
    queue.push_back({std::move(work), std::move(done)});
    StartJobs();
    return true;
}

void PasswordWorker::StartJobs() {
    for (auto& queue : waiting_) {
        while (running_ < kWorkers && !queue.empty()) {
            Job job = std::move(queue.front());
            queue.pop_front();
            ++running_;
            boost::asio::post(pool_, [this, alive = std::weak_ptr<int>(alive_), job = std::move(job)]() mutable {
                job.work();
                boost::asio::post(loop_, [this, alive, done = std::move(job.done)] {
                    if (alive.expired()) return;
                    --running_;
                    done();
                    StartJobs();
                });
            });
        }
    }
}

std::size_t PasswordWorker::Waiting() const { return waiting_[0].size() + waiting_[1].size(); }

bool PasswordWorker::Hash(std::string password, std::function<void(std::string)> done) {
    auto stored = std::make_shared<std::string>();
    return Submit(
        Priority::kChange,
        [stored, password = std::move(password)] {
            try {
                *stored = HashPassword(password);
            } catch (const std::exception&) {
                // Out of memory: the hash stays empty.
            }
        },
        [stored, done = std::move(done)] { done(std::move(*stored)); });
}

bool PasswordWorker::Check(std::string stored, std::string nick, std::string password,
                           std::function<void(PasswordCheck)> done) {
    auto check = std::make_shared<PasswordCheck>();
    return Submit(
        Priority::kLogin,
        [check, stored = std::move(stored), nick = std::move(nick), password = std::move(password)] {
            try {
                check->matches = VerifyPassword(stored, nick, password);
                if (check->matches && !IsPasswordHash(stored)) check->upgraded = HashPassword(password);
            } catch (const std::exception&) {
                // Out of memory: a legacy value that matched is kept as it is.
            }
        },
        [check, done = std::move(done)] { done(std::move(*check)); });
}

}  // namespace qm
