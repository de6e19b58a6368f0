// The shared generator is drawn from by the network thread and the main thread at once; the
// exact sequence is checked against an independent generator by random_check.py.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <thread>
#include <vector>

#include "net/Random.h"

using namespace velt;

TEST(Random, ConcurrentDrawsStayInsideTheStateAndNeverRepeatAWord) {
    TwisterSeed(12345);
    // Reference: one thread drawing the whole sequence.
    std::vector<uint32_t> reference(40000);
    for (uint32_t& v : reference) v = TwisterNext();

    TwisterSeed(12345);
    std::vector<uint32_t> a(20000), b(20000);
    std::thread other([&b] {
        for (uint32_t& v : b) v = TwisterNext();
    });
    for (uint32_t& v : a) v = TwisterNext();
    other.join();

    // Together the two threads drew exactly the reference sequence, each value once.
    std::multiset<uint32_t> drawn(a.begin(), a.end());
    drawn.insert(b.begin(), b.end());
    EXPECT_EQ(drawn, std::multiset<uint32_t>(reference.begin(), reference.end()));
}

TEST(Random, UniformStaysWithinZeroAndOne) {
    TwisterSeed(99);
    float lowest = 2.0f;
    float highest = -1.0f;
    for (int i = 0; i < 100000; ++i) {
        const float u = TwisterUniform();
        ASSERT_GE(u, 0.0f);
        ASSERT_LE(u, 1.0f);
        lowest = std::min(lowest, u);
        highest = std::max(highest, u);
    }
    EXPECT_LT(lowest, 0.001f);
    EXPECT_GT(highest, 0.999f);
}
