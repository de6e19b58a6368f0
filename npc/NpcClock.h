#pragma once

// The bot's clocks. Both come from the monotonic clock, so a change of the wall clock can neither
// stall nor rush script sleeps, timers or sync sends.

#include <cstdint>

namespace velt {

// Milliseconds as an unsigned 32-bit value that wraps; compare times only through their unsigned
// difference. Every time stamp of the program (sync sends, playback, GetTickCount) uses it.
uint32_t NpcTickMs();

// Seconds since the previous call; the first call starts the count and returns 0.
float NpcFrameSeconds();

// Tests replace the millisecond source (null restores the real clock).
using NpcTickSource = uint32_t (*)();
void SetNpcTickSource(NpcTickSource source);

}  // namespace velt
