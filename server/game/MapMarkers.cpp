// Player::SendMapMarkers: where every other human player is on this player's radar.

#include <cmath>
#include <cstdint>

#include "net/BitStream.h"
#include "server/game/GameServer.h"
#include "server/game/Player.h"
#include "server/game/PlayerPool.h"
#include "server/game/Streaming.h"

namespace velt {

namespace {

constexpr uint8_t kMapMarkersPacketId = 208;
constexpr int32_t kMarkerIntervalMs = 2500;
// Only this mode shows players on the radar from the server's side.
constexpr uint32_t kMarkersGlobal = 1;

// A coordinate as the marker carries it: truncated toward zero, kept within 16 bits (a position
// a script set far outside the world must not wrap round to the other side).
int16_t MarkerCoordinate(float value) {
    if (std::isnan(value)) return 0;
    if (value <= -32768.0f) return INT16_MIN;
    if (value >= 32767.0f) return INT16_MAX;
    return int16_t(value);
}

}  // namespace

void Player::SendMapMarkers() {
    if (retired_ || server_.world.playerMarkerMode != kMarkersGlobal) return;
    PlayerPool* pool = server_.GetPlayerPool();
    if (pool == nullptr) return;
    const uint32_t now = Now();
    if (int32_t(now - lastMarkerTime_) <= kMarkerIntervalMs) return;
    lastMarkerTime_ = now;

    const WorldSettings& world = server_.world;
    const bool limited = world.limitPlayerMarkerRadius != 0;
    const float radiusSquared = world.playerMarkerRadius * world.playerMarkerRadius;
    const int32_t ownWorld = pool->GetVirtualWorld(id_);
    // One walk over the ids writes the entries and counts them; the count goes before them.
    BitStream entries;
    uint32_t count = 0;
    const int32_t upper = pool->GetUpperIndex();
    for (int32_t i = 0; i <= upper; ++i) {
        const uint16_t other = uint16_t(i);
        // A bot receives the entries too, but is never one of them.
        if (other == id_ || !pool->IsConnected(other) || pool->IsBot(other)) continue;
        const Player* target = pool->GetAt(other);
        if (target == nullptr) continue;
        ++count;
        const Vector3& where = target->GetPosition();
        const uint8_t state = target->GetState();
        bool visible = state != PLAYER_STATE_NONE && state != PLAYER_STATE_SPECTATING &&
                       pool->GetVirtualWorld(other) == ownWorld;
        if (visible && limited &&
            SquaredDistance2D(position_.x, position_.y, where.x, where.y) > radiusSquared)
            visible = false;
        entries.Write(other);
        entries.Write(visible);
        if (!visible) continue;
        entries.Write(MarkerCoordinate(where.x));
        entries.Write(MarkerCoordinate(where.y));
        entries.Write(MarkerCoordinate(where.z));
    }
    BitStream bs;
    bs.Write(kMapMarkersPacketId);
    bs.Write(count);
    bs.WriteStream(entries);
    server_.SendPacketToPlayer(&bs, id_);
}

}  // namespace velt
