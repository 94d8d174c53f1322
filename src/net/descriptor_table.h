#pragma once
// The process's table of file descriptors, grown once, up front.
#include <cstddef>

namespace qm {

// Grows the descriptor table to hold `count` descriptors (0: as many as the
// soft RLIMIT_NOFILE allows; never more than that, nor more than 65,536).
// The kernel doubles the table as descriptors are opened, and in a process
// with threads each doubling waits for an RCU grace period, 10 to 25 ms
// here: during a login storm those waits fell on the event loop at 256,
// 512, 1,024... connections. Done at start-up, the one wait costs nothing
// anybody sees.
void ReserveDescriptors(std::size_t count);

}  // namespace qm
