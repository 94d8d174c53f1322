#pragma once
// Password hashing and checking off the event loop: the work runs on a
// small pool of worker threads and the result is posted back to the loop.
#include <asio/io_context.hpp>
#include <asio/thread_pool.hpp>
#include <functional>
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
    explicit PasswordWorker(asio::io_context& loop);
    // Waits for the hashes under way; their results are not delivered.
    ~PasswordWorker();

    // `done` runs on the loop thread; an empty result means the hash could
    // not be made (out of memory).
    void Hash(std::string password, std::function<void(std::string stored)> done);
    void Check(std::string stored, std::string nick, std::string password,
               std::function<void(PasswordCheck)> done);

private:
    // Runs `work` (filling a Result) on a worker and hands the result to
    // `done` on the loop thread.
    template <typename Result, typename Work>
    void Run(Work work, std::function<void(Result)> done);

    asio::io_context& loop_;
    asio::thread_pool pool_;
};

}  // namespace qm
