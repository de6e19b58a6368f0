// Player::SendMapMarkers: where every other human player is on this player's radar.

#include <cmath>
#include <cstdint>
#include <vector>

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

// The entries of a marker packet, a thousand of them at times, packed as the bit stream would
// write them (each byte most significant bit first, wider values in little-endian byte order)
// without a call into it per field.
class EntryBits {
public:
    explicit EntryBits(size_t entries) : bytes_(entries * kMaxEntryBytes + 1) {}
    // An entry: the id and whether it is shown, then where when it is.
    void Hidden(uint16_t id) { Put(uint64_t(Wire(id)) << 1, 17); }
    void Shown(uint16_t id, int16_t x, int16_t y, int16_t z) {
        Put(uint64_t(Wire(id)) << 1 | 1, 17);
        Put(uint64_t(Wire(x)) << 32 | uint64_t(Wire(y)) << 16 | Wire(z), 48);
    }
    // The packed bits, the last byte's unused low bits zero.
    const uint8_t* Finish() {
        if (pendingBits_ != 0) bytes_[used_++] = uint8_t(pending_ << (8 - pendingBits_));
        pendingBits_ = 0;
        return bytes_.data();
    }
    int32_t Bits() const { return int32_t(total_); }

private:
    static constexpr size_t kMaxEntryBytes = 9;  // 16 + 1 + 3 * 16 bits
    static uint16_t Wire(int16_t value) { return __builtin_bswap16(uint16_t(value)); }
    static uint16_t Wire(uint16_t value) { return __builtin_bswap16(value); }
    // Fewer than 8 bits wait between calls, so 48 more still fit the 64-bit word.
    void Put(uint64_t value, uint32_t bits) {
        pending_ = pending_ << bits | value;
        pendingBits_ += bits;
        total_ += bits;
        while (pendingBits_ >= 8) {
            pendingBits_ -= 8;
            bytes_[used_++] = uint8_t(pending_ >> pendingBits_);
        }
    }

    std::vector<uint8_t> bytes_;
    size_t used_ = 0;
    uint64_t pending_ = 0;
    uint32_t pendingBits_ = 0;
    size_t total_ = 0;
};

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
    const int32_t upper = pool->GetUpperIndex();
    EntryBits entries(size_t(upper + 1));
    uint32_t count = 0;
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
        if (visible)
            entries.Shown(other, MarkerCoordinate(where.x), MarkerCoordinate(where.y),
                          MarkerCoordinate(where.z));
        else
            entries.Hidden(other);
    }
    BitStream bs;
    bs.Write(kMapMarkersPacketId);
    bs.Write(count);
    const uint8_t* packed = entries.Finish();
    bs.WriteRawBits(packed, entries.Bits(), false);
    server_.SendPacketToPlayer(&bs, id_);
}

}  // namespace velt
