// SimpleMutex: mutual exclusion between two threads (ThreadSanitizer checks the counter), and
// misuse that would hang or silently break the lock ends the program instead.

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "net/SimpleMutex.h"

using velt::SimpleMutex;

TEST(SimpleMutex, SerialisesTwoThreads) {
    SimpleMutex mutex;
    long counter = 0;
    auto work = [&] {
        for (int i = 0; i < 100000; ++i) {
            mutex.Lock();
            ++counter;
            mutex.Unlock();
        }
    };
    std::thread other(work);
    work();
    other.join();
    EXPECT_EQ(counter, 200000);

    std::lock_guard<SimpleMutex> guard(mutex);  // usable with the standard guards
}

TEST(SimpleMutexDeathTest, RelockByOwnerAndForeignUnlockAreFatalNotAHang) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            SimpleMutex mutex;
            mutex.Lock();
            mutex.Lock();
        },
        "error==0");
    EXPECT_DEATH(
        {
            SimpleMutex mutex;
            mutex.Unlock();
        },
        "error==0");
}
