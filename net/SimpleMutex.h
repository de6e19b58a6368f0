#pragma once

#include <pthread.h>

#include "net/ThreadAnnotations.h"

namespace velt {

// A plain, non-recursive mutex. A failing pthread call means the lock is misused (locked twice by
// its owner, unlocked by another thread, destroyed while held): that ends the program with the
// assertion "error==0" rather than letting two threads into what the lock guards.
class VELT_CAPABILITY("mutex") SimpleMutex {
public:
    SimpleMutex();
    ~SimpleMutex();
    SimpleMutex(const SimpleMutex&) = delete;
    SimpleMutex& operator=(const SimpleMutex&) = delete;

    void Lock() VELT_ACQUIRE();
    void Unlock() VELT_RELEASE();

    // So std::lock_guard and std::scoped_lock work with it (code under the lock analysis uses
    // MutexLock, which the analysis understands).
    void lock() VELT_ACQUIRE() { Lock(); }
    void unlock() VELT_RELEASE() { Unlock(); }

private:
    pthread_mutex_t mutex_;
};

// Holds a SimpleMutex for its own lifetime.
class VELT_SCOPED_CAPABILITY MutexLock {
public:
    explicit MutexLock(SimpleMutex& mutex) VELT_ACQUIRE(mutex) : mutex_(mutex) { mutex_.Lock(); }
    ~MutexLock() VELT_RELEASE() { mutex_.Unlock(); }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

private:
    SimpleMutex& mutex_;
};

}  // namespace velt
