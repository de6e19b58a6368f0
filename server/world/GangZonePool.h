#pragma once

// The gang zones of the world, ids 0 to 1023: rectangles on the players' radar and map. The
// server keeps only the rectangles; colours, visibility and flashing live on the clients, which
// the pool drives with its four messages. Callers check ids and players before they call.

#include <array>
#include <cstdint>

#include "server/shared/GameRpc.h"

namespace velt {

class BitStream;
class GameServer;

inline constexpr uint16_t kMaxGangZones = 1024;
inline constexpr uint16_t kNoGangZone = 0xFFFF;

struct GangZoneRect {
    float minX = 0.0f;
    float minY = 0.0f;
    float maxX = 0.0f;
    float maxY = 0.0f;
};

class GangZonePool {
public:
    explicit GangZonePool(GameServer& server) : server_(server) {}

    // The lowest free id, the rectangle kept as given (not reordered); kNoGangZone when full.
    uint16_t Create(const GangZoneRect& rect);
    bool Exists(uint16_t id) const { return id < kMaxGangZones && used_[id]; }
    const GangZoneRect* Get(uint16_t id) const { return Exists(id) ? &rects_[id] : nullptr; }
    // Freed, and hidden from every player whether or not it was shown to them.
    void Destroy(uint16_t id);

    // Colours as the scripts give them, 0xRRGGBBAA.
    void ShowForPlayer(uint16_t player, uint16_t id, uint32_t colour) { Show(player, id, colour); }
    void ShowForAll(uint16_t id, uint32_t colour) { Show(kEveryone, id, colour); }
    void HideForPlayer(uint16_t player, uint16_t id) { SendId(RPC_GangZoneHide, player, id); }
    void HideForAll(uint16_t id) { SendId(RPC_GangZoneHide, kEveryone, id); }
    void FlashForPlayer(uint16_t player, uint16_t id, uint32_t colour) { Flash(player, id, colour); }
    void FlashForAll(uint16_t id, uint32_t colour) { Flash(kEveryone, id, colour); }
    void StopFlashForPlayer(uint16_t player, uint16_t id) { SendId(RPC_GangZoneFlashStop, player, id); }
    void StopFlashForAll(uint16_t id) { SendId(RPC_GangZoneFlashStop, kEveryone, id); }

private:
    static constexpr uint16_t kEveryone = 0xFFFF;

    void Show(uint16_t player, uint16_t id, uint32_t colour);
    void Flash(uint16_t player, uint16_t id, uint32_t colour);
    void SendId(uint8_t rpcId, uint16_t player, uint16_t id);
    void Send(uint8_t rpcId, const BitStream& bs, uint16_t player);

    GameServer& server_;
    std::array<GangZoneRect, kMaxGangZones> rects_{};
    std::array<bool, kMaxGangZones> used_{};
};

}  // namespace velt
