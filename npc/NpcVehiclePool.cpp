#include "npc/NpcVehiclePool.h"

#include <cstring>

namespace velt {

NpcVehiclePool::NpcVehiclePool() {
    std::memset(present_, 0, sizeof present_);
    std::memset(streamedIn_, 0, sizeof streamedIn_);
}

bool NpcVehiclePool::Add(uint16_t id) {
    if (id >= kNpcMaxVehicles) return false;
    present_[id] = 1;
    streamedIn_[id] = 1;
    return true;
}

void NpcVehiclePool::Remove(uint16_t id) {
    // Presence outlives the stream-out: asking whether a vehicle is streamed in checks both flags.
    if (id < kNpcMaxVehicles) streamedIn_[id] = 0;
}

}  // namespace velt
