#pragma once
// Time comes through this interface so that tests can move it at will.
#include <chrono>
#include <string>

namespace qm {

using TimePoint = std::chrono::system_clock::time_point;

class Clock {
public:
    virtual ~Clock() = default;
    virtual TimePoint Now() const = 0;
};

class SystemClock final : public Clock {
public:
    TimePoint Now() const override { return std::chrono::system_clock::now(); }
};

// A clock that only moves when told to; for tests.
class ManualClock final : public Clock {
public:
    explicit ManualClock(TimePoint start = TimePoint{}) : now_(start) {}
    TimePoint Now() const override { return now_; }
    void Set(TimePoint t) { now_ = t; }
    void Advance(std::chrono::seconds d) { now_ += d; }

private:
    TimePoint now_;
};

struct LocalDateTime {
    int year, month, day, hour, minute, second;
};

// Broken down in the local time zone.
LocalDateTime ToLocal(TimePoint t);

// "hh:nn", 24-hour clock, two digits each.
std::string FormatHourMinute(TimePoint t);

// "hh:nn:ss" of a duration; the hours restart after 24, so 25 hours is "01:00:00".
std::string FormatDuration(std::chrono::seconds d);

// "m-d-yyyy.log": month and day without leading zeros.
std::string LogFileName(TimePoint t);

}  // namespace qm
