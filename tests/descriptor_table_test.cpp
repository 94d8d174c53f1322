#include "net/descriptor_table.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <fstream>
#include <string>

namespace qm {
namespace {

// The size of this process's descriptor table, as the kernel reports it.
std::size_t TableSize() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("FDSize:", 0) == 0) return std::stoul(line.substr(7));
    return 0;
}

TEST(DescriptorTable, GrowsToTheCountAskedForWithinTheSoftLimit) {
    rlimit original{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &original), 0);
    if (original.rlim_max < 4096) GTEST_SKIP() << "needs a hard limit of at least 4096 descriptors";
    // The soft limit is the process's: the tests after this one get theirs back.
    struct RestoreLimit {
        rlimit saved;
        ~RestoreLimit() { ::setrlimit(RLIMIT_NOFILE, &saved); }
    } restore{original};
    rlimit limit = original;
    limit.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
    ASSERT_LT(TableSize(), 1500u);

    // The table only ever grows, so the cases go from small to large.
    const struct {
        std::size_t count;
        std::size_t least, most;
    } cases[] = {
        {1500, 1500, 2048},    // what was asked for, in the kernel's power of two
        {0, 4096, 4096},       // as many as the soft limit allows
        {100000, 4096, 4096},  // never beyond the soft limit
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.count);
        ReserveDescriptors(c.count);
        EXPECT_GE(TableSize(), c.least);
        EXPECT_LE(TableSize(), c.most);
    }
}

}  // namespace
}  // namespace qm
