#pragma once
// Stored passwords. New ones are argon2id hashes in libsodium's string form
// ("$argon2id$..."); values of the legacy scheme (EncodePassword) are still
// accepted, so that existing user.dat files keep working. Hashing takes tens
// of milliseconds on purpose: never call these on the event-loop thread.
#include <string>
#include <string_view>

namespace qm {

// A fresh argon2id hash of `password`.
std::string HashPassword(std::string_view password);

// True when `stored` is in the argon2id form rather than the legacy one.
bool IsPasswordHash(std::string_view stored);

// Whether `password` opens the record of `nick` whose stored password line
// is `stored`. Comparisons take the same time wherever the texts differ.
bool VerifyPassword(std::string_view stored, std::string_view nick, std::string_view password);

}  // namespace qm
