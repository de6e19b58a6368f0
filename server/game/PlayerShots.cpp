#include "server/game/PlayerShots.h"

#include <cmath>

#include "net/BitStream.h"
#include "net/MessageIdentifiers.h"
#include "server/console/Log.h"
#include "server/game/GameServer.h"
#include "server/game/PlayerPool.h"
#include "server/shared/SyncRecords.h"

namespace velt {

namespace {

constexpr float kMissBound = 20000.0f;
constexpr float kHitBound = 1000.0f;
constexpr uint16_t kMaxShotPlayerId = 999;
constexpr uint16_t kMaxShotVehicleId = 1999;

bool IsFirearm(uint8_t weapon) { return (weapon >= 22 && weapon <= 34) || weapon == 38; }

// NaN is outside every bound.
bool Within(const Vector3& v, float bound) {
    auto in = [bound](float c) { return c >= -bound && c <= bound; };
    return in(v.x) && in(v.y) && in(v.z);
}

}  // namespace

int ValidateShot(GameServer& server, const Player& shooter, const BulletSyncRecord& record) {
    const uint16_t id = shooter.GetId();
    if (!IsFirearm(record.weaponId)) return 0;
    if (record.hitType == BULLET_HIT_PLAYER) {
        if (record.hitId == id) {
            LogPrintf("[warning] Invalid shot data for player(%u). Player shoots self.", unsigned(id));
            return 0;
        }
        const PlayerPool* players = server.GetPlayerPool();
        if (players != nullptr && (record.hitId > kMaxShotPlayerId || !players->IsConnected(record.hitId) ||
                                   !shooter.IsPlayerStreamedIn(record.hitId)))
            return 0;
    } else if (record.hitType == BULLET_HIT_VEHICLE) {
        const VehiclePool* vehicles = server.GetVehiclePool();
        if (vehicles != nullptr && (record.hitId > kMaxShotVehicleId || !vehicles->Exists(record.hitId) ||
                                    !shooter.IsVehicleStreamedIn(record.hitId)))
            return 0;
    } else if (record.hitType == BULLET_HIT_NONE) {
        if (Within(record.offset, kMissBound)) return 1;
        LogPrintf("[warning] Invalid shot data for player(%u). Shot out of bounds.", unsigned(id));
        return 0;
    }
    if (Within(record.offset, kHitBound)) return 1;
    LogPrintf("[warning] Invalid shot data for player(%u). Offset out of bounds.", unsigned(id));
    return 0;
}

void HandleShot(GameServer& server, Player& shooter, const BulletSyncRecord& record) {
    shooter.NoteShot(server.GetTickMs(), shooter.GetArmedWeapon());
    if (!ValidateShot(server, shooter, record)) return;
    BitStream bs;
    bs.Write(uint8_t(ID_BULLET_SYNC));
    bs.Write(shooter.GetId());
    WriteSyncRecord(bs, record);
    server.SendPacketToPlayerStreamers(&bs, shooter.GetId(), false);
}

}  // namespace velt
