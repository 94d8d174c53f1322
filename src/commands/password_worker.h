#pragma once
// Password hashing and checking off the event loop: the work runs on a
// small pool of worker threads and the result is posted back to the loop.
// Jobs wait on the loop thread until a worker is free, logins ahead of
// password changes, so that a crowd changing passwords never keeps a user
// from logging in; and only so many may wait, so that the crowd cannot
// build a backlog without end.
#include <boost/asio/io_context.hpp>
#include <boost/asio/thread_pool.hpp>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <string>

namespace qm {

struct PasswordCheck {
    bool matches = false;
    // When a legacy value matched: the password hashed in the current form,
    // to be stored in its place.
    std::string upgraded;
};

class PasswordWorker {
public:
    // How many jobs of one priority may wait for a worker.
    static constexpr std::size_t kMaxWaitingJobs = 64;
    static constexpr int kWorkers = 2;

    enum class Priority { kLogin, kChange };

    explicit PasswordWorker(boost::asio::io_context& loop);
    // Waits for the jobs under way; their results are not delivered.
    ~PasswordWorker();

    // Runs `work` on a worker, then `done` on the loop thread. Returns false,
    // and queues nothing, when kMaxWaitingJobs of that priority wait already.
    bool Submit(Priority priority, std::function<void()> work, std::function<void()> done);

    // Hashing is a password change; checking is a login. `done` runs on the
    // loop thread; an empty hash means it could not be made (out of memory).
    bool Hash(std::string password, std::function<void(std::string stored)> done);
    bool Check(std::string stored, std::string nick, std::string password, std::function<void(PasswordCheck)> done);

    // Jobs that wait for a worker.
    std::size_t Waiting() const;

private:
    struct Job {
        std::function<void()> work;
        std::function<void()> done;
    };
    // Hands waiting jobs to free workers, logins first.
    void StartJobs();

    boost::asio::io_context& loop_;
    boost::asio::thread_pool pool_;
    std::deque<Job> waiting_[2];
    int running_ = 0;
    // Gone with the worker: results that come back later are dropped.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace qm
