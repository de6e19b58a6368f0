#include "server/protocol/SyncHandlers.h"

#include "net/BitStream.h"
#include "net/MessageIdentifiers.h"
#include "net/Packet.h"
#include "server/game/GameServer.h"
#include "server/game/PlayerPool.h"
#include "server/game/RaiseCallback.h"
#include "server/game/ScriptServices.h"
#include "server/protocol/InGameRcon.h"
#include "server/protocol/ShotHandlers.h"
#include "server/protocol/VehicleSyncHandlers.h"
#include "server/shared/SyncRecords.h"
#include "server/shared/VectorMath.h"

namespace velt {

Player* OpenRecord(GameServer& server, const Packet* packet, BitStream& bs) {
    if (server.GetGameState() != GAME_STATE_RUNNING) return nullptr;
    PlayerPool* pool = server.GetPlayerPool();
    if (pool == nullptr || packet == nullptr || packet->playerIndex >= kMaxPlayers) return nullptr;
    Player* player = pool->GetAt(packet->playerIndex);
    uint8_t id = 0;
    if (player == nullptr || !OpenPacketStream(packet, bs) || !bs.Read(id)) return nullptr;
    return player;
}

void ApplyRelayVeto(GameServer& server, Player& player) {
    if (server.GetFilterScripts() == nullptr || server.GetGameMode() == nullptr || player.IsRetired()) return;
    const uint16_t id = player.GetId();
    const CallbackOutcome update = RaiseCallback(
        server, {.stop = CallbackStop::AtZero, .initial = 1}, [&] { return !player.IsRetired(); },
        [&](auto& side) { return side.OnPlayerUpdate(id); });
    if (update.result == 0 && !player.IsRetired()) player.SetPendingRelay(RELAY_NONE);
}

bool OpenPacketStream(const Packet* packet, BitStream& bs) {
    if (packet == nullptr || packet->data == nullptr || packet->length == 0) return false;
    if (packet->length > BitStream::kMaxBytes) return false;
    bs.SetData(packet->data, packet->length);
    bs.SetWriteCursor(int32_t(packet->length * 8u));
    bs.SetReadOffset(0);
    // The time of a timestamped packet is of no use to the readers; the record follows its id.
    if (HasTimestampPrefix(packet->data, packet->length))
        bs.SetReadOffset(int32_t(kTimestampPrefixBytes * 8u));
    return true;
}

bool DispatchGamePacket(GameServer& server, Packet* packet, uint8_t packetId) {
    switch (packetId) {
        case ID_PLAYER_SYNC: HandleOnFootSync(server, packet); return true;
        case ID_AIM_SYNC: HandleAimSync(server, packet); return true;
        case ID_SPECTATOR_SYNC: HandleSpectatorSync(server, packet); return true;
        case ID_WEAPONS_UPDATE: HandleWeaponsUpdate(server, packet); return true;
        case ID_STATS_UPDATE: HandleStatsUpdate(server, packet); return true;
        case ID_BULLET_SYNC: HandleBulletSync(server, packet); return true;
        case kRconCommandPacketId: HandleRconCommand(server, packet); return true;
        case ID_VEHICLE_SYNC: HandleDriverSync(server, packet); return true;
        case ID_PASSENGER_SYNC: HandlePassengerSync(server, packet); return true;
        case ID_TRAILER_SYNC: HandleTrailerSync(server, packet); return true;
        case ID_UNOCCUPIED_SYNC: HandleUnoccupiedSync(server, packet); return true;
        default: return false;
    }
}

void HandleOnFootSync(GameServer& server, Packet* packet) {
    OnFootSyncRecord record;
    Player* player = ReadRecord(server, packet, record);
    if (player == nullptr) return;
    // A position outside the world or a wild velocity would be relayed to everyone streaming him.
    if (!IsValidPosition(record.position) || !IsValidVelocity(record.velocity)) return;
    player->StoreOnFootSync(record);
    ApplyRelayVeto(server, *player);
}

void HandleAimSync(GameServer& server, Packet* packet) {
    AimSyncRecord record;
    Player* player = ReadRecord(server, packet, record);
    if (player == nullptr) return;
    player->StoreAimSync(record);
}

void HandleSpectatorSync(GameServer& server, Packet* packet) {
    SpectatorSyncRecord record;
    Player* player = ReadRecord(server, packet, record);
    if (player == nullptr) return;
    player->StoreSpectatorSync(record);
    ApplyRelayVeto(server, *player);
}

void HandleWeaponsUpdate(GameServer& server, Packet* packet) {
    BitStream bs;
    Player* player = OpenRecord(server, packet, bs);
    WeaponsUpdateRecord record;
    // Whole entries only: a trailing partial entry is ignored, a missing header drops the update.
    if (player == nullptr || !ReadWeaponsUpdate(bs, record)) return;
    player->StoreWeaponsUpdate(record);
}

void HandleStatsUpdate(GameServer& server, Packet* packet) {
    // Money and drunk level are kept during the intermission as well.
    PlayerPool* pool = server.GetPlayerPool();
    BitStream bs;
    uint8_t id = 0;
    StatsUpdateRecord record;
    if (pool == nullptr || packet == nullptr || !pool->IsConnected(packet->playerIndex)) return;
    if (!OpenPacketStream(packet, bs) || !bs.Read(id) || !ReadSyncRecord(bs, record)) return;
    pool->StoreStats(packet->playerIndex, record.money, record.drunkLevel);
}

}  // namespace velt
