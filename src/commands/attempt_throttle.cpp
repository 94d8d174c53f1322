#include "commands/attempt_throttle.h"

#include <algorithm>

namespace qm {

AttemptThrottle::AttemptThrottle(std::chrono::milliseconds firstHold, std::chrono::milliseconds maxHold)
    : firstHold_(firstHold), maxHold_(std::max(firstHold, maxHold)) {}

std::chrono::milliseconds AttemptThrottle::HoldFor(const std::string& key, TimePoint now) const {
    const auto found = entries_.find(key);
    if (found == entries_.end() || Idle(found->second, now)) return {};
    std::chrono::milliseconds hold{};
    for (int failure = kFreeFailures; failure <= found->second.failures && hold < maxHold_; ++failure)
        hold = hold.count() == 0 ? firstHold_ : hold * 2;
    return std::min(hold, maxHold_);
}

void AttemptThrottle::Failed(const std::string& key, TimePoint now) {
    if (now >= nextSweep_) ForgetIdle(now);
    Entry& entry = entries_[key];
    if (Idle(entry, now)) entry.failures = 0;
    // The hold stops growing at the ceiling; so does the count.
    entry.failures = std::min(entry.failures + 1, kFreeFailures + 64);
    entry.lastFailure = now;
}

void AttemptThrottle::ForgetIdle(TimePoint now) {
    std::erase_if(entries_, [&](const auto& item) { return Idle(item.second, now); });
    nextSweep_ = now + maxHold_;
}

}  // namespace qm
