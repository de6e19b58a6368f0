#pragma once

#include <cstdint>

namespace velt {

// Milliseconds since the process-wide origin; wraps after about 49.7 days.
using NetTime = uint32_t;

// Both clocks count from one origin, taken on the first call of either. They run on the
// monotonic clock: stepping the wall clock must neither time out every connection nor freeze
// them.
NetTime GetTimeMs();
uint64_t GetTimeUs();

// Sleeps at least ms milliseconds (resumes after signals until the time has passed).
void SleepMs(uint32_t ms);

// True once now has reached when, for 32-bit millisecond times that may wrap: the two are
// taken to be less than 2^31 ms (about 24.8 days) apart. Every comparison of NetTime values
// goes through this helper; a plain now >= when breaks at the wrap.
constexpr bool TimeReached(NetTime now, NetTime when) { return static_cast<int32_t>(now - when) >= 0; }

// True when a lies strictly before b, under the same rule.
constexpr bool TimeBefore(NetTime a, NetTime b) { return static_cast<int32_t>(a - b) < 0; }

}  // namespace velt
