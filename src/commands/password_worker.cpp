#include "commands/password_worker.h"

#include <asio/post.hpp>

#include "storage/password_hash.h"

namespace qm {

PasswordWorker::PasswordWorker(asio::io_context& loop) : loop_(loop), pool_(2) {}

PasswordWorker::~PasswordWorker() {
    pool_.stop();
    pool_.join();
}

template <typename Result, typename Work>
void PasswordWorker::Run(Work work, std::function<void(Result)> done) {
    asio::post(pool_, [this, work = std::move(work), done = std::move(done)]() mutable {
        Result result{};
        try {
            work(result);
        } catch (const std::exception&) {
            // Out of memory: the result stays as far as it got (an empty
            // hash; a legacy value that matched is kept as it is).
        }
        asio::post(loop_, [result = std::move(result), done = std::move(done)]() mutable { done(std::move(result)); });
    });
}

void PasswordWorker::Hash(std::string password, std::function<void(std::string)> done) {
    Run<std::string>([password = std::move(password)](std::string& stored) { stored = HashPassword(password); },
                     std::move(done));
}

void PasswordWorker::Check(std::string stored, std::string nick, std::string password,
                           std::function<void(PasswordCheck)> done) {
    Run<PasswordCheck>(
        [stored = std::move(stored), nick = std::move(nick), password = std::move(password)](PasswordCheck& check) {
            check.matches = VerifyPassword(stored, nick, password);
            if (check.matches && !IsPasswordHash(stored)) check.upgraded = HashPassword(password);
        },
        std::move(done));
}

}  // namespace qm
