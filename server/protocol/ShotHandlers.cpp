#include "server/protocol/ShotHandlers.h"

#include <cmath>

#include "net/BitStream.h"
#include "net/Packet.h"
#include "server/game/GameServer.h"
#include "server/game/PlayerPool.h"
#include "server/game/PlayerShots.h"
#include "server/game/RaiseCallback.h"
#include "server/protocol/SyncHandlers.h"
#include "server/shared/SyncRecords.h"
#include "server/world/ObjectPool.h"

namespace velt {

namespace {

constexpr uint8_t kMaxWeaponId = 46;

bool IsFinite(const Vector3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

}  // namespace

bool IsSaneBulletRecord(const BulletSyncRecord& r) {
    if (r.weaponId > kMaxWeaponId || r.hitType > BULLET_HIT_PLAYER_OBJECT) return false;
    if (r.hitType == BULLET_HIT_PLAYER && r.hitId >= kMaxPlayers) return false;
    if (r.hitType == BULLET_HIT_VEHICLE && r.hitId >= kMaxVehicles) return false;
    if ((r.hitType == BULLET_HIT_OBJECT || r.hitType == BULLET_HIT_PLAYER_OBJECT) && r.hitId >= kMaxObjects)
        return false;
    return IsFinite(r.origin) && IsFinite(r.hitPosition) && IsFinite(r.offset);
}

void HandleBulletSync(GameServer& server, Packet* packet) {
    if (server.GetGameState() != GAME_STATE_RUNNING) return;
    PlayerPool* pool = server.GetPlayerPool();
    if (pool == nullptr || packet == nullptr || packet->playerIndex >= kMaxPlayers) return;
    Player* player = pool->GetAt(packet->playerIndex);
    BitStream bs;
    uint8_t id = 0;
    BulletSyncRecord record;
    if (player == nullptr || !OpenPacketStream(packet, bs) || !bs.Read(id) || !ReadSyncRecord(bs, record))
        return;
    if (!IsSaneBulletRecord(record)) return;
    // The client cannot tell a global object from one of its own: a hit on an id that only the
    // sender's own objects hold is a player-object hit.
    const ObjectPool* objects = server.GetObjectPool();
    if (record.hitType == BULLET_HIT_OBJECT && objects != nullptr && !objects->Exists(record.hitId) &&
        objects->PlayerObjectExists(player->GetId(), record.hitId))
        record.hitType = BULLET_HIT_PLAYER_OBJECT;
    player->StoreLastShot(record);
    const uint16_t shooter = player->GetId();
    // The scripts hear the shot first and may refuse it; only then is it checked.
    const CallbackOutcome shot = RaiseCallback(
        server, {.stop = CallbackStop::AtZero, .initial = 1}, [&] { return !player->IsRetired(); },
        [&](auto& side) {
            return side.OnPlayerWeaponShot(shooter, record.weaponId, record.hitType, record.hitId,
                                           record.offset.x, record.offset.y, record.offset.z);
        });
    if (shot.secondSkipped || shot.result == 0 || player->IsRetired()) return;
    HandleShot(server, *player, record);
}

}  // namespace velt
