// How long failed password attempts hold back the next one.
#include <gtest/gtest.h>

#include <vector>

#include "commands/attempt_throttle.h"

namespace qm {
namespace {

using namespace std::chrono_literals;

const TimePoint kStart = TimePoint(std::chrono::hours(1000));

struct HoldCase {
    int failures;
    std::chrono::milliseconds hold;
};

TEST(AttemptThrottle, HoldDoublesAfterTheFreeFailuresUpToTheCeiling) {
    const std::vector<HoldCase> cases = {
        {0, 0ms},   {1, 0ms},   {4, 0ms},    {5, 2s},     {6, 4s},
        {7, 8s},    {10, 64s},  {13, 512s},  {14, 900s},  {200, 900s},
    };
    for (const auto& k : cases) {
        AttemptThrottle throttle(2s, 15min);
        for (int i = 0; i < k.failures; ++i) throttle.Failed("a bob", kStart);
        EXPECT_EQ(throttle.HoldFor("a bob", kStart), k.hold) << k.failures << " failures";
    }
}

TEST(AttemptThrottle, KeysCountApartAndASuccessForgets) {
    AttemptThrottle throttle(2s, 15min);
    for (int i = 0; i < 6; ++i) throttle.Failed("a bob", kStart);
    EXPECT_EQ(throttle.HoldFor("a bob", kStart), 4s);
    EXPECT_EQ(throttle.HoldFor("a ann", kStart), 0ms);
    EXPECT_EQ(throttle.HoldFor("b bob", kStart), 0ms);
    throttle.Succeeded("a bob");
    EXPECT_EQ(throttle.HoldFor("a bob", kStart), 0ms);
    throttle.Failed("a bob", kStart);
    EXPECT_EQ(throttle.HoldFor("a bob", kStart), 0ms);
}

TEST(AttemptThrottle, KeysIdleLongerThanTheCeilingAreForgotten) {
    AttemptThrottle throttle(2s, 15min);
    for (int i = 0; i < 1000; ++i) throttle.Failed("guess " + std::to_string(i), kStart);
    for (int i = 0; i < 6; ++i) throttle.Failed("a bob", kStart + 10min);
    EXPECT_EQ(throttle.Size(), 1001u);
    // Still remembered at the ceiling, forgotten once idle for longer.
    EXPECT_EQ(throttle.HoldFor("a bob", kStart + 25min), 4s);
    EXPECT_EQ(throttle.HoldFor("a bob", kStart + 26min), 0ms);
    throttle.Failed("b ann", kStart + 16min);
    EXPECT_EQ(throttle.Size(), 2u);
    // A key that failed again after its idle stretch starts counting afresh.
    throttle.Failed("a bob", kStart + 26min);
    EXPECT_EQ(throttle.HoldFor("a bob", kStart + 26min), 0ms);
}

}  // namespace
}  // namespace qm
