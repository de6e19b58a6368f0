#pragma once

// The vehicles streamed in for the bot. Only presence matters: the block the server sends with a
// vehicle is read for its id alone. A game reset replaces the whole pool with an empty one.

#include <cstdint>

namespace velt {

inline constexpr uint16_t kNpcMaxVehicles = 2000;

class NpcVehiclePool {
public:
    NpcVehiclePool();

    // False (nothing changes) for ids of 2000 and more.
    bool Add(uint16_t id);
    void Remove(uint16_t id);
    bool IsPresent(uint16_t id) const { return id < kNpcMaxVehicles && present_[id] != 0; }
    bool IsStreamedIn(uint16_t id) const { return id < kNpcMaxVehicles && streamedIn_[id] != 0; }

private:
    uint32_t present_[kNpcMaxVehicles];
    uint32_t streamedIn_[kNpcMaxVehicles];
};

}  // namespace velt
