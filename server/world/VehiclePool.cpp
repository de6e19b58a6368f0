#include "server/world/VehiclePool.h"

#include <cstdlib>

#include "net/BitStream.h"
#include "server/game/GameServer.h"
#include "server/game/PlayerPool.h"
#include "server/shared/GameRpc.h"
#include "server/shared/SyncRecords.h"

namespace velt {

namespace {

// Beyond this nobody is near enough to move an unoccupied vehicle.
constexpr float kMaxSyncerDistance = 100000.0f;
// How many vehicles behind an engine follow its driver's synchronisation.
constexpr uint16_t kTrainFollowers = 3;

// The matrix a driver's record describes: its rotation, at its position.
Matrix4 MatrixOf(const Quaternion& rotation, const Vector3& position) {
    Matrix4 m;
    QuaternionToMatrix4(rotation, m);
    m.pos = {position.x, position.y, position.z, 0.0f};
    return m;
}

}  // namespace

VehiclePool::VehiclePool(GameServer& server) : server_(server), random_([] { return std::rand(); }) {}

// The grid outlives the pool (a gamemode's end makes a new one); it keeps no vehicle that went.
VehiclePool::~VehiclePool() { server_.VehicleGrid().Clear(); }

void VehiclePool::Process(float /*elapsedSeconds*/) {
    retired_.clear();
    for (uint16_t id = 1; id <= upperIndex_ && id < kMaxVehicles; ++id) {
        // A script run by one vehicle's callbacks may delete any vehicle.
        if (used_[id] && vehicles_[id]) vehicles_[id]->Process(random_);
    }
}

uint16_t VehiclePool::New(int32_t model, const Vector3& position, float angle, int32_t colour1,
                          int32_t colour2, int32_t respawnDelay) {
    if (!IsVehicleModel(model)) return kNoVehicle;
    for (uint16_t id = 1; id < kMaxVehicles; ++id) {
        if (used_[id]) continue;
        vehicles_[id] =
            std::make_unique<Vehicle>(server_, id, model, position, angle, colour1, colour2, respawnDelay);
        used_[id] = true;
        world_[id] = 0;
        ++modelCount_[model - kFirstVehicleModel];
        RecomputeUpperIndex();
        return id;
    }
    return kNoVehicle;
}

int VehiclePool::Delete(uint16_t vehicleId) {
    if (!Exists(vehicleId) || !vehicles_[vehicleId]) return 0;
    --modelCount_[vehicles_[vehicleId]->GetModel() - kFirstVehicleModel];
    used_[vehicleId] = false;
    // The record stays alive (and the id free) while the players are told and their scripts hear
    // of it: a callback may create a vehicle in the freed id, or come back to this one.
    std::unique_ptr<Vehicle> gone = std::move(vehicles_[vehicleId]);
    gone->Retire();
    server_.VehicleGrid().Remove(vehicleId);
    retired_.push_back(std::move(gone));
    RecomputeUpperIndex();
    if (PlayerPool* players = server_.GetPlayerPool()) players->StreamOutVehicleForAll(vehicleId);
    return 1;
}

void VehiclePool::DeleteAll() {
    for (uint16_t id = 0; id < kMaxVehicles; ++id) Delete(id);
}

int32_t VehiclePool::GetModel(uint16_t vehicleId) const {
    const Vehicle* v = Get(vehicleId);
    return v != nullptr ? v->GetModel() : 0;
}

int32_t VehiclePool::GetModelsUsed() const {
    int32_t models = 0;
    for (uint8_t count : modelCount_) models += count != 0 ? 1 : 0;
    return models;
}

bool VehiclePool::GetPosition(uint16_t vehicleId, Vector3& position) const {
    const Vehicle* v = Get(vehicleId);
    if (v == nullptr) return false;
    position = v->GetPosition();
    return true;
}

void VehiclePool::RecomputeUpperIndex() {
    uint16_t upper = 0;
    for (uint16_t id = kMaxVehicles - 1; id > 0; --id) {
        if (used_[id]) {
            upper = id;
            break;
        }
    }
    upperIndex_ = upper;
}

uint16_t VehiclePool::FindNearestSyncer(uint16_t vehicleId) const {
    const Vehicle* vehicle = Get(vehicleId);
    PlayerPool* pool = server_.GetPlayerPool();
    if (vehicle == nullptr || pool == nullptr) return kNoVehicle;
    float best = kMaxSyncerDistance;
    uint16_t nearest = 0xFFFF;
    // Only the players streaming it can move it; they are listed in id order, so the first of
    // equally near ones wins, as in a walk over every id.
    for (const uint16_t id : server_.VehicleStreamers().Of(vehicleId)) {
        const Player* p = pool->IsConnected(id) && !pool->IsBot(id) ? pool->GetAt(id) : nullptr;
        if (p == nullptr || p->GetState() == PLAYER_STATE_NONE || p->GetState() == PLAYER_STATE_SPECTATING ||
            !p->IsVehicleStreamedIn(vehicleId))
            continue;
        const float distance = vehicle->GetDistanceFromPoint(p->GetPosition());
        if (distance < best) {
            best = distance;
            nearest = id;
        }
    }
    return nearest;
}

// ---- synchronisation --------------------------------------------------------------------------

void VehiclePool::ApplyDriverSync(uint16_t vehicleId, uint16_t driver, const InCarSyncRecord& record) {
    Vehicle* vehicle = Get(vehicleId);
    if (vehicle == nullptr) return;
    const Matrix4 matrix = MatrixOf(record.rotation, record.position);
    vehicle->UpdateFromSync(driver, matrix, record.vehicleHealth, record.trailerId, true);
    vehicle->SetVelocity(record.velocity);
    vehicle->SetSirenState(driver, record.sirenState);
    // The siren callback may have deleted the vehicle.
    if (vehicle->IsRetired()) return;
    vehicle->ResetDoorParams();
    if (!IsTrainEngine(vehicle->GetModel())) return;
    // The carriages behind an engine take its place and state; the pool ends at id 1999.
    for (uint16_t follower = uint16_t(vehicleId + 1);
         follower < kMaxVehicles && follower <= vehicleId + kTrainFollowers; ++follower) {
        Vehicle* carriage = Get(follower);
        if (carriage != nullptr && IsRailVehicle(carriage->GetModel()))
            carriage->UpdateFromSync(0xFFFF, matrix, record.vehicleHealth, record.trailerId, true);
    }
}

void VehiclePool::ApplyPassengerSync(uint16_t vehicleId, uint16_t /*passenger*/) {
    if (Vehicle* vehicle = Get(vehicleId)) vehicle->ResetDoorParams();
}

void VehiclePool::ApplyTrailerSync(uint16_t trailerId, uint16_t driver, const Quaternion& rotation,
                                   const TrailerSyncRecord& record) {
    Vehicle* trailer = Get(trailerId);
    if (trailer == nullptr) return;
    trailer->UpdateFromSync(driver, MatrixOf(rotation, record.position), kVehicleFullHealth, 0xFFFF, true);
    trailer->SetVelocity(record.velocity);
}

void VehiclePool::RemoveForPlayer(uint16_t vehicleId, uint16_t playerId) {
    if (vehicleId >= kMaxVehicles) return;
    // A vehicle being deleted is no longer in its slot, but its stream-out still goes out.
    BitStream bs;
    bs.Write(vehicleId);
    server_.SendRpcToPlayer(RPC_VehicleStreamOut, &bs, playerId, RpcChannel::World);
}

}  // namespace velt
