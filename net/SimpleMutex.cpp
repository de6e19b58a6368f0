#include "net/SimpleMutex.h"

#include <cstdio>
#include <cstdlib>

namespace velt {

namespace {

void Check(int error, const char* call) {
    if (error == 0) return;
    std::fprintf(stderr, "SimpleMutex: %s failed (%d): assertion failed: error==0\n", call, error);
    std::fflush(stderr);
    std::abort();
}

// Error checking makes a relock by the owner or an unlock by a stranger fail loudly instead of
// deadlocking or silently unlocking someone else's critical section.
pthread_mutexattr_t* Attributes() {
    static pthread_mutexattr_t attributes = [] {
        pthread_mutexattr_t a;
        Check(pthread_mutexattr_init(&a), "pthread_mutexattr_init");
        Check(pthread_mutexattr_settype(&a, PTHREAD_MUTEX_ERRORCHECK), "pthread_mutexattr_settype");
        return a;
    }();
    return &attributes;
}

}  // namespace

SimpleMutex::SimpleMutex() { Check(pthread_mutex_init(&mutex_, Attributes()), "pthread_mutex_init"); }

SimpleMutex::~SimpleMutex() { Check(pthread_mutex_destroy(&mutex_), "pthread_mutex_destroy"); }

void SimpleMutex::Lock() { Check(pthread_mutex_lock(&mutex_), "pthread_mutex_lock"); }

void SimpleMutex::Unlock() { Check(pthread_mutex_unlock(&mutex_), "pthread_mutex_unlock"); }

}  // namespace velt
