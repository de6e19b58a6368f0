// The transport's clocks: one lazy origin shared by both, monotonic readings, and the wrap-safe
// comparison every caller of the 32-bit millisecond clock relies on.

#include <gtest/gtest.h>

#include <cstdint>

#include "net/Clock.h"

using namespace velt;

// Must stay the first test of this program: nothing may read the clocks before it.
TEST(Clock, OriginIsTakenOnTheFirstCallAndSharedByBothClocks) {
    SleepMs(30);  // the process has been running a while; the clocks must not count that
    const uint64_t firstUs = GetTimeUs();
    EXPECT_LT(firstUs, 5000u);
    const NetTime firstMs = GetTimeMs();
    EXPECT_LT(firstMs, 5u);

    SleepMs(25);
    const uint64_t us = GetTimeUs();
    const NetTime ms = GetTimeMs();
    EXPECT_GE(us, 25000u);
    EXPECT_LT(us, 5000000u);
    // Read back to back, the millisecond clock agrees with the microsecond one.
    EXPECT_GE(ms, us / 1000);
    EXPECT_LE(ms, us / 1000 + 2);
}

TEST(Clock, ReadingsNeverGoBackwards) {
    uint64_t previousUs = GetTimeUs();
    NetTime previousMs = GetTimeMs();
    for (int i = 0; i < 200000; ++i) {
        const uint64_t us = GetTimeUs();
        const NetTime ms = GetTimeMs();
        ASSERT_GE(us, previousUs);
        ASSERT_TRUE(TimeReached(ms, previousMs));
        previousUs = us;
        previousMs = ms;
    }
    const NetTime before = GetTimeMs();
    SleepMs(15);
    EXPECT_GE(GetTimeMs() - before, 15u);
}

// now >= when goes wrong where the 32-bit clock wraps; the helper must not.
TEST(Clock, TimeReachedAcrossTheWrap) {
    struct Case {
        NetTime now;
        NetTime when;
        bool reached;
    };
    const Case cases[] = {
        {0, 0, true},
        {1, 0, true},
        {0, 1, false},
        {0xFFFFFFFFu, 0xFFFFFFFEu, true},
        {5, 0xFFFFFFF0u, true},   // deadline set just before the wrap, now after it
        {0xFFFFFFF0u, 5, false},  // deadline just after the wrap, not yet there
        {0x00000000u, 0xFFFFFFFFu, true},
        {0x7FFFFFFFu, 0, true},   // furthest apart still counted as later
        {0x80000000u, 0, false},  // half the range: taken as before
        {0x80000000u + 1000, 1000, false},
        {0xFFFFFFFFu, 0x80000000u, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TimeReached(c.now, c.when), c.reached) << std::hex << c.now << " vs " << c.when;
        if (c.now != c.when) {
            EXPECT_EQ(TimeBefore(c.now, c.when), !c.reached) << std::hex << c.now;
        }
    }
    static_assert(TimeReached(3, 0xFFFFFFFDu), "usable in constant expressions");
}
