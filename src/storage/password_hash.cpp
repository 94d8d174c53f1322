#include "storage/password_hash.h"

#include <sodium.h>

#include <stdexcept>

#include "storage/user_database.h"

namespace qm {

namespace {

constexpr std::string_view kPrefix = "$argon2id$";
constexpr std::string_view kLegacyNoPassword = "Error";

void InitSodium() {
    static const bool ready = sodium_init() >= 0;
    if (!ready) throw std::runtime_error("libsodium cannot be initialised");
}

}  // namespace

std::string HashPassword(std::string_view password) {
    InitSodium();
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str_alg(out, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                              crypto_pwhash_MEMLIMIT_INTERACTIVE, crypto_pwhash_ALG_ARGON2ID13) != 0)
        throw std::runtime_error("out of memory while hashing a password");
    return out;
}

bool IsPasswordHash(std::string_view stored) { return stored.substr(0, kPrefix.size()) == kPrefix; }

bool VerifyPassword(std::string_view stored, std::string_view nick, std::string_view password) {
    InitSodium();
    if (IsPasswordHash(stored)) {
        const std::string text(stored);  // needs its terminating NUL
        return crypto_pwhash_str_verify(text.c_str(), password.data(), password.size()) == 0;
    }
    // The legacy scheme stores "Error" for an empty password, and computes
    // it for any password of 256 characters too: such a record would open
    // for anybody, so it opens for nobody until the operator resets it.
    if (stored == kLegacyNoPassword) return false;
    const std::string legacy = EncodePassword(nick, password);
    return legacy.size() == stored.size() && sodium_memcmp(legacy.data(), stored.data(), legacy.size()) == 0;
}

}  // namespace qm
