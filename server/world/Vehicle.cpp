#include "server/world/Vehicle.h"

#include <cmath>
#include <cstring>

#include "net/BitStream.h"
#include "server/game/GameServer.h"
#include "server/game/PlayerPool.h"
#include "server/game/RaiseCallback.h"
#include "server/game/ScriptServices.h"
#include "server/shared/GameRpc.h"

namespace velt {

namespace {

constexpr int kComponentByteOffset = 999;  // a slot holds component - 999

void WriteVector(BitStream& bs, const Vector3& v) {
    bs.Write(v.x);
    bs.Write(v.y);
    bs.Write(v.z);
}

Matrix4 SpawnMatrix(const Vector3& position) {
    Matrix4 m;
    m.pos = {position.x, position.y, position.z, 0.0f};
    return m;
}

}  // namespace

Vehicle::Vehicle(GameServer& server, uint16_t id, int32_t model, const Vector3& position, float angle,
                 int32_t colour1, int32_t colour2, int32_t respawnDelay)
    : server_(server),
      id_(id),
      model_(model),
      position_(position),
      matrix_(SpawnMatrix(position)),
      spawnPosition_(position),
      spawnAngle_(angle),
      colour1_(colour1),
      colour2_(colour2),
      respawnDelay_(respawnDelay) {
    lastSpawn_ = Now();
    NoteGridPosition();
}

uint32_t Vehicle::Now() const { return server_.GetTickMs(); }

void Vehicle::NoteGridPosition() {
    // A deleted vehicle's id may already be a new one's.
    if (!retired_) server_.VehicleGrid().Place(id_, position_.x, position_.y);
}

void Vehicle::SetPosition(const Vector3& position) {
    position_ = position;
    matrix_.pos.x = position.x;
    matrix_.pos.y = position.y;
    matrix_.pos.z = position.z;
    NoteGridPosition();
}

int32_t Vehicle::GetComponentInSlot(int slot) const {
    if (slot < 0 || slot >= kComponentSlots || components_[slot] == 0) return 0;
    return int32_t(components_[slot]) + kComponentByteOffset;
}

// ---- seats ------------------------------------------------------------------------------------

uint16_t Vehicle::FindDriver() const {
    PlayerPool* pool = server_.GetPlayerPool();
    if (pool == nullptr) return 0xFFFF;
    for (int32_t i = 0; i <= pool->GetUpperIndex(); ++i) {
        const uint16_t id = uint16_t(i);
        const Player* p = pool->IsConnected(id) ? pool->GetAt(id) : nullptr;
        if (p != nullptr && p->GetState() == PLAYER_STATE_DRIVER && p->GetVehicleId() == id_) return id;
    }
    return 0xFFFF;
}

bool Vehicle::IsOccupied() const {
    PlayerPool* pool = server_.GetPlayerPool();
    if (pool == nullptr) return false;
    for (int32_t i = 0; i <= pool->GetUpperIndex(); ++i) {
        const uint16_t id = uint16_t(i);
        const Player* p = pool->IsConnected(id) ? pool->GetAt(id) : nullptr;
        if (p == nullptr || p->GetVehicleId() != id_) continue;
        if (p->GetState() == PLAYER_STATE_DRIVER || p->GetState() == PLAYER_STATE_PASSENGER) return true;
    }
    return false;
}

bool Vehicle::PlayerStreamsMe(uint16_t player) const {
    PlayerPool* pool = server_.GetPlayerPool();
    const Player* p = pool != nullptr && pool->IsConnected(player) ? pool->GetAt(player) : nullptr;
    return p != nullptr && p->IsVehicleStreamedIn(id_);
}

// ---- geometry ---------------------------------------------------------------------------------

float Vehicle::GetZAngle() const {
    if (matrix_.up.x == 0.0f && matrix_.up.y == 0.0f) return spawnAngle_;
    return FacingAngleFromUp(matrix_.up.x, matrix_.up.y);
}

float Vehicle::StreamInAngle() const { return IsTrainEngine(model_) ? spawnAngle_ : GetZAngle(); }

float Vehicle::GetSquaredDistanceFromPoint(const Vector3& point) const {
    const float dx = position_.x - point.x, dy = position_.y - point.y, dz = position_.z - point.z;
    return dx * dx + dy * dy + dz * dz;
}

float Vehicle::GetSquaredDistance2DFromPoint(float x, float y) const {
    const float dx = position_.x - x, dy = position_.y - y;
    return dx * dx + dy * dy;
}

float Vehicle::GetDistanceFromPoint(const Vector3& point) const {
    return std::sqrt(GetSquaredDistanceFromPoint(point));
}

// ---- synchronisation ----------------------------------------------------------------------------

void Vehicle::UpdateFromSync(uint16_t player, const Matrix4& matrix, float health, uint16_t trailer,
                             bool storeHealth) {
    if (player != 0xFFFF && !PlayerStreamsMe(player)) return;
    driver_ = player;
    matrix_ = matrix;
    position_ = {matrix.pos.x, matrix.pos.y, matrix.pos.z};
    NoteGridPosition();
    if (storeHealth) {
        used_ = true;
        health_ = health;
        lastUpdate_ = Now();
    }
    trailer_ = trailer >= 1 && trailer < 2000 ? trailer : 0;
    if (health_ <= 0.0f) {
        dead_ = true;
        killer_ = player;
    }
}

void Vehicle::MarkDestroyed(uint16_t killer) {
    dead_ = true;
    killer_ = killer;
}

void Vehicle::SetSirenState(uint16_t player, uint8_t state) {
    if (state == sirenState_) return;
    sirenState_ = state;
    params_[VEHICLE_PARAM_SIREN] = state != 0 ? 1 : 0;
    const uint16_t vehicle = id_;
    RaiseCallback(
        server_, {.stop = CallbackStop::AtNonZero}, [&] { return PlayerStillConnected(player); },
        [&](auto& side) { return side.OnVehicleSirenStateChange(player, vehicle, state); });
}

void Vehicle::ResetDoorParams() {
    for (int i = 0; i < 4; ++i) params_[VEHICLE_PARAM_CAR_DOORS + i] = -1;
}

// ---- messages ---------------------------------------------------------------------------------

void Vehicle::SendToStreamers(uint8_t rpcId, const BitStream& bs, uint16_t exceptPlayer) {
    if (retired_) return;
    server_.SendRpcToPlayersStreamingVehicle(rpcId, &bs, id_, exceptPlayer, RpcChannel::World);
}

void Vehicle::SpawnForPlayer(uint16_t to) {
    if (retired_) return;
    BitStream bs;
    bs.Write(id_);
    bs.Write(model_);
    bs.Write(matrix_.pos.x);
    bs.Write(matrix_.pos.y);
    bs.Write(matrix_.pos.z);
    bs.Write(StreamInAngle());
    bs.Write(uint8_t(colour1_));
    bs.Write(uint8_t(colour2_));
    bs.Write(health_);
    bs.Write(uint8_t(interior_));
    bs.Write(damage_.doors);
    bs.Write(damage_.panels);
    bs.Write(damage_.lights);
    bs.Write(damage_.tyres);
    bs.Write(uint8_t(sirenEnabled_ ? 1 : 0));
    for (uint8_t slot : components_) bs.Write(slot);
    bs.Write(paintjob_);
    bs.Write(respray1_);
    bs.Write(respray2_);
    server_.SendRpcToPlayer(RPC_VehicleStreamIn, &bs, to, RpcChannel::World);

    if (!plate_.empty()) {
        BitStream plate;
        plate.Write(id_);
        plate.Write(uint8_t(plate_.size()));
        plate.WriteBytes(plate_.data(), int32_t(plate_.size()));
        server_.SendRpcToPlayer(RPC_NumberPlateSet, &plate, to, RpcChannel::World);
    }
    bool paramsSet = false;
    for (int8_t p : params_) paramsSet = paramsSet || p != -1;
    if (paramsSet) {
        BitStream params;
        params.Write(id_);
        for (int8_t p : params_) params.Write(p);
        server_.SendRpcToPlayer(RPC_VehicleParamsExSet, &params, to, RpcChannel::World);
    }
}

void Vehicle::SendPosition(uint16_t to, const Vector3& position) {
    if (retired_) return;
    BitStream bs;
    bs.Write(id_);
    WriteVector(bs, position);
    server_.SendRpcToPlayer(RPC_VehiclePosSet, &bs, to, RpcChannel::World);
}

void Vehicle::SetHealth(float health) {
    BitStream bs;
    bs.Write(id_);
    bs.Write(health);
    SendToStreamers(RPC_VehicleHealthSet, bs, 0xFFFF);
    health_ = health;
}

void Vehicle::UpdateDamageStatus(uint16_t player, const VehicleDamage& damage) {
    damage_ = damage;
    if (player != 0xFFFF) {
        const uint16_t vehicle = id_;
        RaiseCallback(server_, {}, NoPlayerToLose,
                      [&](auto& side) { return side.OnVehicleDamageStatusUpdate(vehicle, player); });
    }
    // A script may have changed the damage again meanwhile: its state is what goes out.
    BitStream bs;
    bs.Write(id_);
    bs.Write(damage_.panels);
    bs.Write(damage_.doors);
    bs.Write(damage_.lights);
    bs.Write(damage_.tyres);
    SendToStreamers(RPC_VehicleDamageStatus, bs, player);
}

void Vehicle::Repair() {
    SetHealth(kVehicleFullHealth);
    UpdateDamageStatus(0xFFFF, VehicleDamage{});
    params_[VEHICLE_PARAM_BONNET] = 0;
    params_[VEHICLE_PARAM_BOOT] = 0;
    ResetDoorParams();
}

template <class Call>
bool Vehicle::ScriptsAgree(uint16_t player, Call&& call) {
    bool refused = false;
    const CallbackOutcome outcome = RaiseCallback(
        server_, {.gameModeFirst = true}, [&] { return PlayerStillConnected(player); },
        [&](auto& side) {
            const int32_t result = call(side);
            if (result == 0) refused = true;
            return result;
        });
    return !refused && !outcome.secondSkipped && PlayerStillConnected(player) && !retired_;
}

bool Vehicle::PlayerStillConnected(uint16_t player) const {
    PlayerPool* pool = server_.GetPlayerPool();
    return pool != nullptr && pool->IsConnected(player);
}

void Vehicle::SendModEvent(uint16_t player, uint32_t type, uint32_t value1, uint32_t value2) {
    BitStream bs;
    bs.Write(player);
    bs.Write(type);
    bs.Write(uint32_t(id_));
    bs.Write(value1);
    bs.Write(value2);
    SendToStreamers(RPC_VehicleModEvent, bs, player);
}

int Vehicle::AddComponent(uint16_t player, int32_t component) {
    if (!ComponentFitsModel(component, model_)) return 0;
    if (player != 0xFFFF) {
        const uint16_t vehicle = id_;
        const bool agreed =
            ScriptsAgree(player, [&](auto& side) { return side.OnVehicleMod(player, vehicle, component); });
        if (!agreed) {
            // The buyer's client fitted the part already: it takes it off again.
            if (!PlayerStillConnected(player)) return 0;
            BitStream bs;
            bs.Write(vehicle);
            bs.Write(uint16_t(component));
            server_.SendRpcToPlayer(RPC_VehicleComponentRemove, &bs, player, RpcChannel::World);
            return 0;
        }
    }
    const int slot = ComponentSlot(component);
    if (slot == kUnstoredComponentSlot) return 0;
    components_[slot] = uint8_t(component - kComponentByteOffset);
    SendModEvent(player, VEHICLE_MOD_COMPONENT, uint32_t(component), 0);
    return 1;
}

void Vehicle::RemoveComponent(uint16_t player, int32_t component) {
    const int slot = ComponentSlot(component);
    if (slot < 0 || GetComponentInSlot(slot) != component) return;
    BitStream bs;
    bs.Write(id_);
    bs.Write(uint16_t(component));
    SendToStreamers(RPC_VehicleComponentRemove, bs, player);
    components_[slot] = 0;
}

void Vehicle::ChangePaintjob(uint16_t player, uint8_t paintjob) {
    if (player != 0xFFFF) {
        if (server_.GetGameMode() == nullptr || server_.GetFilterScripts() == nullptr) return;
        const uint16_t vehicle = id_;
        if (!ScriptsAgree(player,
                          [&](auto& side) { return side.OnVehiclePaintjob(player, vehicle, paintjob); }))
            return;
    }
    paintjob_ = uint8_t(paintjob + 1);
    SendModEvent(player, VEHICLE_MOD_PAINTJOB, paintjob, 0);
}

void Vehicle::ChangeColor(uint16_t player, int32_t colour1, int32_t colour2) {
    if (player != 0xFFFF) {
        const uint16_t vehicle = id_;
        if (!ScriptsAgree(
                player, [&](auto& side) { return side.OnVehicleRespray(player, vehicle, colour1, colour2); }))
            return;
    }
    respray1_ = colour1;
    respray2_ = colour2;
    SendModEvent(player, VEHICLE_MOD_RESPRAY, uint32_t(colour1), uint32_t(colour2));
}

void Vehicle::SetParams(const VehicleParams& params) {
    params_ = params;
    BitStream bs;
    bs.Write(id_);
    for (int8_t p : params_) bs.Write(p);
    SendToStreamers(RPC_VehicleParamsExSet, bs, 0xFFFF);
}

void Vehicle::SetNumberPlate(const char* text) {
    if (text == nullptr) {
        plate_.clear();
        return;
    }
    const size_t length = std::strlen(text);
    if (length <= kMaxNumberPlate) plate_.assign(text, length);
}

// ---- life -------------------------------------------------------------------------------------

void Vehicle::Process(const std::function<int()>& random) {
    // A dead vehicle waits for its death to be handled: an idle respawn now would bring it back
    // before the scripts ever heard of the death.
    if (!deathHandled_ && !dead_ && respawnDelay_ > 0 && random() % 20 == 0) {
        CheckIdleRespawn();
        return;
    }
    if (!dead_) return;
    if (!deathHandled_) {
        deathHandled_ = true;
        lastUpdate_ = Now();
        if (server_.GetGameMode() != nullptr && server_.GetFilterScripts() != nullptr) {
            const uint16_t vehicle = id_, killer = killer_;
            RaiseCallback(server_, {}, NoPlayerToLose,
                          [&](auto& side) { return side.OnVehicleDeath(vehicle, killer); });
            if (retired_) return;
        }
    }
    if (random() % 20 == 0 && int32_t(Now() - lastUpdate_) > int32_t(kVehicleRespawnAfterDeathMs)) Respawn();
}

void Vehicle::CheckIdleRespawn() {
    if (IsRailVehicle(model_) || !used_) return;
    const uint32_t now = Now();
    if (int32_t(now - lastSpawn_) < int32_t(kVehicleMinIdleMs) || IsOccupied()) return;
    if (int32_t(now - lastUpdate_) >= respawnDelay_) Respawn();
}

void Vehicle::Respawn() {
    matrix_ = SpawnMatrix(spawnPosition_);
    position_ = spawnPosition_;
    NoteGridPosition();
    velocity_ = {};
    angularVelocity_ = {};
    health_ = kVehicleFullHealth;
    damage_ = {};
    components_.fill(0);
    paintjob_ = 0;
    respray1_ = respray2_ = -1;
    params_ = kUnsetVehicleParams;
    dead_ = deathHandled_ = used_ = false;
    lastSpawn_ = lastUpdate_ = Now();
    // The next streaming pass of each player streams it in again, as it now is.
    if (PlayerPool* pool = server_.GetPlayerPool()) pool->StreamOutVehicleForAll(id_);
    if (retired_) return;
    if (server_.GetGameMode() != nullptr && server_.GetFilterScripts() != nullptr) {
        const uint16_t vehicle = id_;
        RaiseCallback(server_, {}, NoPlayerToLose, [&](auto& side) { return side.OnVehicleSpawn(vehicle); });
    }
}

}  // namespace velt
