// How the network thread waits between passes: a queued send must end the wait even while the
// thread keeps its gap between two passes under load, or every reply of a busy server would sit
// out the rest of that gap before it reaches the wire.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "net/NetworkWakeup.h"

namespace {

using velt::NetworkWakeup;

// Far longer than the test runs when it passes: only a Notify can end a wait inside this gap.
constexpr uint32_t kLongGapUs = 5'000'000;

TEST(NetworkWakeup, NotifyEndsTheGapBetweenPasses) {
    NetworkWakeup wakeup;
    // A first wait that finds work at once: the gap counts from its end.
    wakeup.Wait(-1, 1000, 0, [] { return true; });

    std::atomic<bool> done{false};
    std::thread waiter([&] {
        wakeup.Wait(-1, 1000, kLongGapUs, [] { return false; });
        done.store(true);
    });
    // The waiter may not have announced its wait at the first notices; keep giving them, for at
    // most a fifth of the gap.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::microseconds(kLongGapUs / 5);
    while (!done.load() && std::chrono::steady_clock::now() < deadline) {
        wakeup.Notify();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_TRUE(done.load()) << "the wait slept through a queued send";
    waiter.join();
}

TEST(NetworkWakeup, WorkAlreadyQueuedSkipsTheGap) {
    NetworkWakeup wakeup;
    wakeup.Wait(-1, 1000, 0, [] { return true; });
    const auto start = std::chrono::steady_clock::now();
    wakeup.Wait(-1, 1000, kLongGapUs, [] { return true; });
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::microseconds(kLongGapUs / 5));
}

}  // namespace
