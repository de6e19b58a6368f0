#pragma once

// The pickups of the world, ids 0 to 4095 (-1 names none): a model and pickup type at a point, in
// one virtual world or in every world. Players get them through their streaming pass
// (Player::StreamInPickup / StreamOutPickup keep each player's flag); the pool writes the two
// messages. Pickup ids are 32 bits wide on the wire.

#include <array>
#include <cstddef>
#include <cstdint>

#include "server/shared/VectorMath.h"

namespace velt {

class GameServer;

inline constexpr uint16_t kMaxPickups = 4096;
inline constexpr int32_t kNoPickup = -1;
// A pickup in this world is seen in every world.
inline constexpr int32_t kEveryWorld = -1;

// The 20-byte row the create message carries after the id.
struct PickupRow {
    int32_t model = 0;
    int32_t type = 0;
    Vector3 position;
};

class PickupPool {
public:
    explicit PickupPool(GameServer& server) : server_(server) {}
    PickupPool(const PickupPool&) = delete;
    PickupPool& operator=(const PickupPool&) = delete;

    // The lowest free id; kNoPickup when all are in use.
    int32_t Create(int32_t model, int32_t type, const Vector3& position, int32_t virtualWorld);
    // Streamed out for exactly the players who have it, then freed: 1; 0 for an id outside
    // 0..4095 or not in use.
    int Destroy(int32_t id);

    // The messages of one pickup to one player; nothing for an id not in use. Only the player's
    // own stream operations call these, so that his flag and count stay right.
    void StreamIn(int32_t id, uint16_t player);
    void StreamOut(int32_t id, uint16_t player);

    bool IsUsed(int32_t id) const { return id >= 0 && id < kMaxPickups && used_[size_t(id)]; }
    // Only meaningful for a used id.
    const PickupRow& GetRow(int32_t id) const { return rows_[size_t(id) % kMaxPickups]; }
    int32_t GetVirtualWorld(int32_t id) const { return IsUsed(id) ? virtualWorld_[size_t(id)] : 0; }
    // Highest used id, 0 when none is used.
    int32_t GetUpperIndex() const { return highestId_; }

private:
    void UpdateHighestId();

    GameServer& server_;
    std::array<PickupRow, kMaxPickups> rows_{};
    std::array<bool, kMaxPickups> used_{};
    std::array<int32_t, kMaxPickups> virtualWorld_{};
    int32_t highestId_ = 0;
};

}  // namespace velt
