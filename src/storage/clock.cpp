#include "storage/clock.h"

#include <ctime>

#include <fmt/core.h>

namespace qm {

LocalDateTime ToLocal(TimePoint t) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(t);
    std::tm tm{};
    localtime_r(&seconds, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

std::string FormatHourMinute(TimePoint t) {
    const auto local = ToLocal(t);
    return fmt::format("{:02}:{:02}", local.hour, local.minute);
}

std::string FormatDuration(std::chrono::seconds d) {
    // A clock set back while a user was connected must not print garbage.
    const long long total = d.count() < 0 ? 0 : d.count();
    return fmt::format("{:02}:{:02}:{:02}", total / 3600 % 24, total / 60 % 60, total % 60);
}

std::string LogFileName(TimePoint t) {
    const auto local = ToLocal(t);
    return fmt::format("{}-{}-{:04}.log", local.month, local.day, local.year);
}

}  // namespace qm
