#include "load_proc.h"

#include <sys/resource.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <string>

namespace qm::bench {

std::uint64_t NowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1'000'000'000u +
           static_cast<std::uint64_t>(ts.tv_nsec);
}

std::optional<double> CpuSeconds(pid_t pid) {
    // The process's CPU clock counts in nanoseconds: /proc/<pid>/stat counts
    // in ticks of 10 ms, too coarse for a run that costs the server a few ms.
    clockid_t clock{};
    timespec ts{};
    if (clock_getcpuclockid(pid, &clock) != 0 || clock_gettime(clock, &ts) != 0) return std::nullopt;
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double OwnCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& tv) { return static_cast<double>(tv.tv_sec) + tv.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

long OwnPeakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;  // KiB on Linux
}

std::optional<long> RssKiB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return std::nullopt;
}

long RaiseFdLimit() {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    getrlimit(RLIMIT_NOFILE, &limit);
    return static_cast<long>(limit.rlim_cur);
}

}  // namespace qm::bench
