// The lock-free hand-over between the network thread and the main thread: every object arrives
// once, whole and in order, while the ring grows under a stalled consumer. Run it under
// ThreadSanitizer too (make tsan).

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "net/SingleProducerConsumer.h"

using velt::DataStructures::SingleProducerConsumer;

namespace {

#if defined(__SANITIZE_THREAD__)
constexpr bool kThreadSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool kThreadSanitizer = true;
#else
constexpr bool kThreadSanitizer = false;
#endif
#else
constexpr bool kThreadSanitizer = false;
#endif

// 10^7 objects (about 2.5 s under AddressSanitizer); ThreadSanitizer slows every atomic access
// several times over, so its run hands over 10^6.
constexpr uint64_t kItems = kThreadSanitizer ? 1000000 : 10000000;
// Objects the producer writes before the consumer starts: far more than the 8 initial nodes.
constexpr uint64_t kStallItems = 5000;
// Bounds the ring if the consumer thread is descheduled for long on a busy machine.
constexpr uint32_t kMaxBacklog = 1u << 16;

// Two words that must agree: a torn or stale read shows up as a mismatch.
struct Item {
    uint64_t sequence;
    uint64_t check;
};

uint64_t CheckOf(uint64_t sequence) { return sequence * 0x9E3779B97F4A7C15ull ^ 0xA5A5A5A5u; }

}  // namespace

TEST(SingleProducerConsumer, TwoThreadsKeepEveryObjectInOrder) {
    SingleProducerConsumer<Item> queue;
    std::atomic<bool> stallOver{false};

    std::thread producer([&] {
        bool consumerRuns = false;
        for (uint64_t i = 0; i < kItems;) {
            if (!consumerRuns && i >= kStallItems) {
                stallOver.store(true, std::memory_order_release);
                consumerRuns = true;
            }
            if (consumerRuns && queue.Size() > kMaxBacklog) {
                std::this_thread::yield();
                continue;
            }
            // Now and then hold two write locks at once before publishing them.
            const uint64_t batch = (i % 97 == 0 && i + 2 <= kItems) ? 2 : 1;
            Item* slots[2];
            for (uint64_t b = 0; b < batch; ++b) slots[b] = queue.WriteLock();
            for (uint64_t b = 0; b < batch; ++b) {
                slots[b]->sequence = i + b;
                slots[b]->check = CheckOf(i + b);
            }
            for (uint64_t b = 0; b < batch; ++b) queue.WriteUnlock();
            i += batch;
        }
        stallOver.store(true, std::memory_order_release);
    });

    while (!stallOver.load(std::memory_order_acquire)) std::this_thread::yield();

    uint64_t expected = 0;
    uint64_t mismatches = 0;
    uint64_t cancels = 0;
    while (expected < kItems) {
        Item* item = queue.ReadLock();
        if (!item) {
            std::this_thread::yield();
            continue;
        }
        if (expected % 1009 == 0) {
            // Give the lock back: the same object must come again.
            queue.CancelReadLock(item);
            Item* again = queue.ReadLock();
            ASSERT_EQ(again, item);
            ++cancels;
        }
        if (item->sequence != expected || item->check != CheckOf(expected)) ++mismatches;
        // Now and then hold a second read lock before releasing the first.
        Item* second = (expected % 89 == 0) ? queue.ReadLock() : nullptr;
        queue.ReadUnlock();
        ++expected;
        if (second) {
            if (second->sequence != expected || second->check != CheckOf(expected)) ++mismatches;
            queue.ReadUnlock();
            ++expected;
        }
        ASSERT_EQ(mismatches, 0u) << "at object " << expected;
    }
    producer.join();
    EXPECT_EQ(mismatches, 0u);
    EXPECT_GT(cancels, 0u);
    EXPECT_EQ(queue.ReadLock(), nullptr);
    EXPECT_EQ(queue.Size(), 0u);
}

TEST(SingleProducerConsumer, StalledConsumerAndClearOnOneThread) {
    SingleProducerConsumer<int> queue;
    EXPECT_EQ(queue.ReadLock(), nullptr);
    for (int i = 0; i < 100; ++i) {
        *queue.WriteLock() = i;
        queue.WriteUnlock();
    }
    EXPECT_EQ(queue.Size(), 100u);
    // A write lock that is not yet published is invisible to the reader.
    *queue.WriteLock() = 100;
    for (int i = 0; i < 50; ++i) {
        int* p = queue.ReadLock();
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(*p, i);
        queue.ReadUnlock();
    }
    for (int i = 50; i < 100; ++i) {
        ASSERT_NE(queue.ReadLock(), nullptr);
        queue.ReadUnlock();
    }
    EXPECT_EQ(queue.ReadLock(), nullptr);
    queue.WriteUnlock();
    int* last = queue.ReadLock();
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(*last, 100);
    queue.ReadUnlock();

    for (int i = 0; i < 30; ++i) {
        *queue.WriteLock() = i;
        queue.WriteUnlock();
    }
    queue.Clear();
    EXPECT_EQ(queue.Size(), 0u);
    EXPECT_EQ(queue.ReadLock(), nullptr);
    *queue.WriteLock() = 7;
    queue.WriteUnlock();
    int* p = queue.ReadLock();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(*p, 7);
    queue.ReadUnlock();
}

TEST(SingleProducerConsumerDeathTest, UnlockWithoutLockIsFatal) {
    SingleProducerConsumer<int> queue;
    EXPECT_DEATH(queue.WriteUnlock(), "a write lock is held");
    EXPECT_DEATH(queue.ReadUnlock(), "a read lock is held");
}
