#include "net/Clock.h"

#include <cerrno>
#include <ctime>

namespace velt {

namespace {

uint64_t MonotonicNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

// The origin is set by whichever thread asks first; a function-local static makes that race-free
// even when the network thread and the main thread start together.
uint64_t ElapsedNs() {
    static const uint64_t origin = MonotonicNs();
    return MonotonicNs() - origin;
}

}  // namespace

NetTime GetTimeMs() { return static_cast<NetTime>(ElapsedNs() / 1000000u); }

uint64_t GetTimeUs() { return ElapsedNs() / 1000u; }

void SleepMs(uint32_t ms) {
    timespec request{static_cast<time_t>(ms / 1000u), static_cast<long>(ms % 1000u) * 1000000L};
    timespec remaining;
    while (nanosleep(&request, &remaining) != 0 && errno == EINTR) request = remaining;
}

}  // namespace velt
