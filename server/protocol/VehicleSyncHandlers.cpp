#include "server/protocol/VehicleSyncHandlers.h"

#include <cmath>

#include "net/BitStream.h"
#include "net/Packet.h"
#include "server/game/GameServer.h"
#include "server/game/PlayerPool.h"
#include "server/game/RaiseCallback.h"
#include "server/game/ScriptServices.h"
#include "server/protocol/SyncHandlers.h"
#include "server/shared/SyncRecords.h"
#include "server/shared/VectorMath.h"

namespace velt {

namespace {

bool IsFinite(const Vector3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

bool IsFinite(const Quaternion& q) {
    return std::isfinite(q.w) && std::isfinite(q.x) && std::isfinite(q.y) && std::isfinite(q.z);
}

// Where the vehicle is and how fast it goes must be believable, as for a player on foot.
bool IsPlausibleMotion(const Vector3& position, const Vector3& velocity) {
    return IsValidPosition(position) && IsValidVelocity(velocity);
}

}  // namespace

void HandleDriverSync(GameServer& server, Packet* packet) {
    InCarSyncRecord record;
    Player* player = ReadRecord(server, packet, record);
    if (player == nullptr) return;
    if (record.vehicleId > kMaxReportedVehicleId) {
        server.KickPlayer(player->GetId());
        return;
    }
    // The rotation and health reach the vehicle's record and, from there, every client the vehicle
    // is streamed to.
    if (!IsPlausibleMotion(record.position, record.velocity) || !IsFinite(record.rotation) ||
        !std::isfinite(record.vehicleHealth))
        return;
    player->StoreInCarSync(record);
    ApplyRelayVeto(server, *player);
}

void HandlePassengerSync(GameServer& server, Packet* packet) {
    PassengerSyncRecord record;
    Player* player = ReadRecord(server, packet, record);
    if (player == nullptr) return;
    if (record.vehicleId > kMaxReportedVehicleId) {
        server.KickPlayer(player->GetId());
        return;
    }
    // The server places a passenger at his vehicle, but his record goes to the others as it came.
    if (!IsFinite(record.position)) return;
    player->StorePassengerSync(record);
    ApplyRelayVeto(server, *player);
}

void HandleTrailerSync(GameServer& server, Packet* packet) {
    TrailerSyncRecord record;
    Player* player = ReadRecord(server, packet, record);
    if (player == nullptr) return;
    if (!IsPlausibleMotion(record.position, record.velocity)) return;
    player->StoreTrailerSync(record);
}

void HandleUnoccupiedSync(GameServer& server, Packet* packet) {
    UnoccupiedSyncRecord record;
    Player* player = ReadRecord(server, packet, record);
    if (player == nullptr) return;
    VehiclePool* vehicles = server.GetVehiclePool();
    Vehicle* vehicle = vehicles != nullptr ? vehicles->Get(record.vehicleId) : nullptr;
    if (vehicle == nullptr || !player->IsVehicleStreamedIn(record.vehicleId)) return;
    // The record moves the vehicle for everyone who sees it: the same checks as a driver's.
    if (!IsPlausibleMotion(record.position, record.velocity) || !IsFinite(record.right) ||
        !IsFinite(record.up) || !std::isfinite(record.vehicleHealth))
        return;
    const uint16_t id = player->GetId();
    const bool passenger = record.seat != 0;
    if (passenger) {
        // A passenger speaks for the vehicle only while nobody drives it.
        if (vehicle->HasDriver()) return;
    } else if (vehicle->IsOccupied() || vehicles->FindNearestSyncer(record.vehicleId) != id) {
        // Of the players around an empty vehicle, only the nearest one moves it.
        return;
    }
    if (server.GetGameMode() == nullptr || server.GetFilterScripts() == nullptr) return;
    const uint16_t vehicleId = record.vehicleId;
    const CallbackOutcome update = RaiseCallback(
        server, {.stop = CallbackStop::AtZero, .initial = 1}, [&] { return !player->IsRetired(); },
        [&](auto& side) {
            return side.OnUnoccupiedVehicleUpdate(vehicleId, id, record.seat, record.position.x,
                                                  record.position.y, record.position.z, record.velocity.x,
                                                  record.velocity.y, record.velocity.z);
        });
    if (update.secondSkipped || update.result == 0 || player->IsRetired()) return;
    // The scripts may have deleted the vehicle, or the pool, meanwhile.
    vehicles = server.GetVehiclePool();
    vehicle = vehicles != nullptr ? vehicles->Get(vehicleId) : nullptr;
    if (vehicle == nullptr) return;
    Matrix4 matrix;
    matrix.right = {record.right.x, record.right.y, record.right.z, 0.0f};
    matrix.up = {record.up.x, record.up.y, record.up.z, 0.0f};
    const Vector3 at = CrossProduct(record.right, record.up);
    matrix.at = {at.x, at.y, at.z, 0.0f};
    matrix.pos = {record.position.x, record.position.y, record.position.z, 0.0f};
    vehicle->UpdateFromSync(id, matrix, record.vehicleHealth, 0xFFFF, passenger);
    player->StoreUnoccupiedSync(record);
}

}  // namespace velt
