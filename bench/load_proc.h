#pragma once
// What the load tool reads about the server process and its own limits.
#include <sys/types.h>

#include <cstdint>
#include <optional>

namespace qm::bench {

// Nanoseconds on CLOCK_MONOTONIC. Chat payloads carry this value, so sender
// and receiver (both in this process) measure latency on the same clock.
std::uint64_t NowNs();

// User plus system CPU time the process has used so far, all threads, in
// seconds to the nanosecond (its CPU-time clock), or nothing when the
// process is gone.
std::optional<double> CpuSeconds(pid_t pid);

// CPU time this process has used so far, in seconds.
double OwnCpuSeconds();

// The most resident memory this process has had so far, in KiB.
long OwnPeakRssKiB();

// Resident set size in KiB (VmRSS of /proc/<pid>/status).
std::optional<long> RssKiB(pid_t pid);

// Raises the soft open-files limit to the hard limit and returns it.
long RaiseFdLimit();

}  // namespace qm::bench
