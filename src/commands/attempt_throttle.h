#pragma once
// Failed password attempts, counted per key (an address and a nickname, or
// an address alone), and how long the next attempt of a key is held back:
// nothing for the first few failures, then a hold that doubles with every
// further failure up to a ceiling. A success forgets the key, and so does
// a key that has not failed for longer than the ceiling, so the table stays
// as small as the failures of the last stretch of time.
#include <chrono>
#include <cstddef>
#include <string>
#include <unordered_map>

#include "storage/clock.h"

namespace qm {

class AttemptThrottle {
public:
    // Failures that cost nothing; the next attempt after them waits `firstHold`.
    static constexpr int kFreeFailures = 5;

    AttemptThrottle(std::chrono::milliseconds firstHold, std::chrono::milliseconds maxHold);

    std::chrono::milliseconds HoldFor(const std::string& key, TimePoint now) const;
    void Failed(const std::string& key, TimePoint now);
    void Succeeded(const std::string& key) { entries_.erase(key); }

    // How many keys are remembered.
    std::size_t Size() const { return entries_.size(); }

private:
    struct Entry {
        int failures = 0;
        TimePoint lastFailure{};
    };
    bool Idle(const Entry& entry, TimePoint now) const { return now - entry.lastFailure > maxHold_; }
    void ForgetIdle(TimePoint now);

    std::chrono::milliseconds firstHold_;
    std::chrono::milliseconds maxHold_;
    std::unordered_map<std::string, Entry> entries_;
    TimePoint nextSweep_{};
};

}  // namespace qm
