// The consumer of the lock-free queue may ask which object it must give back next: only the
// oldest read lock, and none while it holds no lock.

#include <gtest/gtest.h>

#include "net/SingleProducerConsumer.h"

using velt::DataStructures::SingleProducerConsumer;

TEST(SingleProducerConsumer, CheckReadUnlockOrderNamesOnlyTheOldestReadLock) {
    SingleProducerConsumer<int> queue;
    for (int i = 0; i < 3; ++i) {
        *queue.WriteLock() = i;
        queue.WriteUnlock();
    }
    int* first = queue.ReadLock();
    int* second = queue.ReadLock();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(queue.CheckReadUnlockOrder(first));
    EXPECT_FALSE(queue.CheckReadUnlockOrder(second));
    EXPECT_FALSE(queue.CheckReadUnlockOrder(nullptr));
    queue.ReadUnlock();
    EXPECT_FALSE(queue.CheckReadUnlockOrder(first));
    EXPECT_TRUE(queue.CheckReadUnlockOrder(second));
    queue.ReadUnlock();
    int* third = queue.ReadLock();
    ASSERT_NE(third, nullptr);
    EXPECT_TRUE(queue.CheckReadUnlockOrder(third));
    queue.ReadUnlock();
    // No lock held: nothing may be given back, not even the object just released.
    EXPECT_FALSE(queue.CheckReadUnlockOrder(third));
    EXPECT_EQ(queue.ReadLock(), nullptr);
}
