#pragma once

#include <pthread.h>

namespace velt {

// A plain, non-recursive mutex. A failing pthread call means the lock is misused (locked twice by
// its owner, unlocked by another thread, destroyed while held): that ends the program with the
// assertion "error==0" rather than letting two threads into what the lock guards.
class SimpleMutex {
public:
    SimpleMutex();
    ~SimpleMutex();
    SimpleMutex(const SimpleMutex&) = delete;
    SimpleMutex& operator=(const SimpleMutex&) = delete;

    void Lock();
    void Unlock();

    // So std::lock_guard and std::scoped_lock work with it.
    void lock() { Lock(); }
    void unlock() { Unlock(); }

private:
    pthread_mutex_t mutex_;
};

}  // namespace velt
