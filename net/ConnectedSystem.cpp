#include "net/ConnectedSystem.h"

namespace velt {

bool RecordPing(ConnectedSystem& slot, NetTime sent, NetTime remoteTime, NetTime now) {
    const NetTime elapsed = TimeBefore(sent, now) ? now - sent : 0;
    // 0xFFFF marks an empty entry; a measurement never writes it.
    const uint32_t ping = elapsed < kNoPing ? elapsed : kNoPing - 1u;

    PingAndClockDifferential& entry = slot.pingHistory[slot.pingWriteIndex];
    const bool accepted = entry.pingTime == 0 || (ping < 3u * entry.pingTime && ping < kMaxAcceptedPing);
    if (!accepted) return false;
    // The remote clock was read halfway through the round trip. Halving the elapsed time rather
    // than the sum of both stamps keeps this right once the clock passes 2^31 ms.
    const NetTime midpoint = sent + elapsed / 2u;
    entry.pingTime = uint16_t(ping);
    entry.clockDifferential = int32_t(remoteTime - midpoint);
    if (slot.lowestPing == kNoPing || slot.lowestPing > ping) slot.lowestPing = uint16_t(ping);
    slot.pingWriteIndex = (slot.pingWriteIndex + 1) % kPingHistorySize;
    return true;
}

int32_t BestClockDifferential(const ConnectedSystem& slot) {
    int32_t best = 0;
    uint16_t lowest = kNoPing;
    for (int i = 0; i < kPingHistorySize && slot.pingHistory[i].pingTime != kNoPing; ++i) {
        if (slot.pingHistory[i].pingTime < lowest) {
            lowest = slot.pingHistory[i].pingTime;
            best = slot.pingHistory[i].clockDifferential;
        }
    }
    return best;
}

}  // namespace velt
