#pragma once
// The delay before trying again after a failure: short at first, doubling
// with every failure in a row up to a ceiling, and short again once a try
// has succeeded, so that a lasting fault costs little and a passing one
// little time.
#include <algorithm>
#include <chrono>

namespace qm {

class Backoff {
public:
    Backoff(std::chrono::milliseconds first, std::chrono::milliseconds most) : first_(first), most_(most), next_(first) {}

    // The delay to wait now; the next one is twice as long, up to the ceiling.
    std::chrono::milliseconds Next() {
        const auto delay = next_;
        next_ = std::min(next_ * 2, most_);
        return delay;
    }
    // A try succeeded: the next failure waits the first delay again.
    void Reset() { next_ = first_; }

private:
    std::chrono::milliseconds first_;
    std::chrono::milliseconds most_;
    std::chrono::milliseconds next_;
};

}  // namespace qm
