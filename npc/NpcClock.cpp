#include "npc/NpcClock.h"

#include <time.h>

namespace velt {

namespace {

NpcTickSource g_tickSource = nullptr;

uint64_t MonotonicMicroseconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000000u + uint64_t(ts.tv_nsec) / 1000u;
}

}  // namespace

uint32_t NpcTickMs() {
    if (g_tickSource != nullptr) return g_tickSource();
    return uint32_t(MonotonicMicroseconds() / 1000u);
}

float NpcFrameSeconds() {
    static bool started = false;
    static uint64_t previous = 0;
    const uint64_t now = MonotonicMicroseconds();
    if (!started) {
        started = true;
        previous = now;
        return 0.0f;
    }
    const uint64_t elapsed = now - previous;
    previous = now;
    return float(double(elapsed) / 1e6);
}

void SetNpcTickSource(NpcTickSource source) { g_tickSource = source; }

}  // namespace velt
