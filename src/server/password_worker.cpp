#include "server/password_worker.h"

#include <asio/post.hpp>

#include "storage/password_hash.h"

namespace qm {

PasswordWorker::PasswordWorker(asio::io_context& loop) : loop_(loop), pool_(2) {}

PasswordWorker::~PasswordWorker() {
    pool_.stop();
    pool_.join();
}

void PasswordWorker::Hash(std::string password, std::function<void(std::string)> done) {
    asio::post(pool_, [this, password = std::move(password), done = std::move(done)]() mutable {
        std::string stored;
        try {
            stored = HashPassword(password);
        } catch (const std::exception&) {
            // Out of memory: the caller sees an empty result and says so.
        }
        asio::post(loop_, [stored = std::move(stored), done = std::move(done)]() mutable { done(std::move(stored)); });
    });
}

void PasswordWorker::Check(std::string stored, std::string nick, std::string password,
                           std::function<void(PasswordCheck)> done) {
    asio::post(pool_, [this, stored = std::move(stored), nick = std::move(nick), password = std::move(password),
                       done = std::move(done)]() mutable {
        PasswordCheck result;
        try {
            result.matches = VerifyPassword(stored, nick, password);
            if (result.matches && !IsPasswordHash(stored)) result.upgraded = HashPassword(password);
        } catch (const std::exception&) {
            // Out of memory: a legacy value that matched stays as it is.
        }
        asio::post(loop_, [result = std::move(result), done = std::move(done)]() mutable { done(std::move(result)); });
    });
}

}  // namespace qm
