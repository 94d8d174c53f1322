#include "net/descriptor_table.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

namespace qm {

namespace {
// A limit in the millions (as containers often set) would cost megabytes of
// kernel memory for descriptors a small community never opens.
constexpr std::size_t kMostReserved = 65536;
}  // namespace

void ReserveDescriptors(std::size_t count) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
    const std::size_t allowed = std::min<std::size_t>(limit.rlim_cur, kMostReserved);
    const std::size_t wanted = count == 0 ? allowed : std::min(count, allowed);
    if (wanted < 2) return;
    // A descriptor numbered wanted - 1 makes the kernel size the table for
    // it; the table stays that size when the descriptor is closed again.
    const int any = ::eventfd(0, EFD_CLOEXEC);
    if (any < 0) return;
    const int highest = ::fcntl(any, F_DUPFD_CLOEXEC, static_cast<int>(wanted - 1));
    if (highest >= 0) ::close(highest);
    ::close(any);
}

}  // namespace qm
