#include "server/game/Player.h"

#include <algorithm>
#include <cmath>

#include "common/LittleEndian.h"
#include "net/BitStream.h"
#include "net/MessageIdentifiers.h"
#include "server/console/ConsoleVariables.h"
#include "server/console/Log.h"
#include "server/game/GameServer.h"
#include "server/game/PlayerPool.h"
#include "server/game/RaiseCallback.h"
#include "server/game/ScriptServices.h"
#include "server/game/WeaponNames.h"
#include "server/shared/GameRpc.h"
#include "server/shared/SyncRecordsRelay.h"

namespace velt {

namespace {

constexpr uint32_t kServerPositionHoldMs = 5000;
constexpr float kClockResyncMinutes = 300.0f;
constexpr float kMinutesPerDay = 1440.0f;
constexpr float kMaxAimFrontSquared = 1.5f;

void WriteVector(BitStream& bs, const Vector3& v) {
    bs.Write(v.x);
    bs.Write(v.y);
    bs.Write(v.z);
}

// A callback about this player on both script sides: the second side hears it only while he is
// still there.
template <class Call>
CallbackOutcome RaiseAbout(GameServer& server, const Player& player, Call&& call,
                           const CallbackRule& rule = {}) {
    return RaiseCallback(
        server, rule, [&player] { return !player.IsRetired(); }, call);
}

float Squared3D(const Vector3& a, const Vector3& b) {
    float dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
    return dx * dx + dy * dy + dz * dz;
}

}  // namespace

// ---- records --------------------------------------------------------------------------------

void EncodeSpawnInfo(const SpawnInfo& info, uint8_t* out) {
    out[0] = info.team;
    WriteU32(out + 1, uint32_t(info.skin));
    WriteU32(out + 5, uint32_t(info.customSkin));
    out[9] = info.reserved;
    WriteF32(out + 10, info.position.x);
    WriteF32(out + 14, info.position.y);
    WriteF32(out + 18, info.position.z);
    WriteF32(out + 22, info.facingAngle);
    for (int i = 0; i < 3; ++i) WriteU32(out + 26 + 4 * i, uint32_t(info.weapons[i]));
    for (int i = 0; i < 3; ++i) WriteU32(out + 38 + 4 * i, uint32_t(info.ammo[i]));
}

void DecodeSpawnInfo(const uint8_t* in, SpawnInfo& info) {
    info.team = in[0];
    info.skin = int32_t(ReadU32(in + 1));
    info.customSkin = int32_t(ReadU32(in + 5));
    info.reserved = in[9];
    info.position = {ReadF32(in + 10), ReadF32(in + 14), ReadF32(in + 18)};
    info.facingAngle = ReadF32(in + 22);
    for (int i = 0; i < 3; ++i) info.weapons[i] = int32_t(ReadU32(in + 26 + 4 * i));
    for (int i = 0; i < 3; ++i) info.ammo[i] = int32_t(ReadU32(in + 38 + 4 * i));
}

void WriteSpawnInfo(BitStream& bs, const SpawnInfo& info) {
    uint8_t bytes[SpawnInfo::kSize];
    EncodeSpawnInfo(info, bytes);
    bs.WriteBytes(bytes, int32_t(sizeof bytes));
}

void WriteAttachedObjectSlot(BitStream& bs, const AttachedObjectSlot& slot) {
    bs.Write(slot.model);
    bs.Write(slot.bone);
    WriteVector(bs, slot.offset);
    WriteVector(bs, slot.rotation);
    WriteVector(bs, slot.scale);
    bs.Write(slot.colour1);
    bs.Write(slot.colour2);
}

// ---- construction ---------------------------------------------------------------------------

Player::Player(GameServer& server) : server_(server) {
    download_ = std::make_unique<FileDownload>(server_);
    Reset();
}

Player::~Player() = default;

void Player::SetId(uint16_t id) {
    id_ = id;
    if (textDraws_) textDraws_->SetOwner(id);
    if (labels_) labels_->SetOwner(id);
    if (download_) download_->SetOwner(id);
    UpdateGridEntry();
}

uint32_t Player::Now() const { return server_.GetTickMs(); }

void Player::Reset() {
    aim_ = {};
    inCar_ = {};
    passenger_ = {};
    onFoot_ = {};
    unoccupied_ = {};
    spectator_ = {};
    trailer_ = {};
    cameraTargets_.fill(kNoPlayer);
    cameraTargetEnabled_ = false;
    pendingRelay_ = RELAY_NONE;
    aimPending_ = trailerPending_ = unoccupiedPending_ = false;
    vehicleId_ = 0;
    seat_ = 0;
    health_ = armour_ = 0.0f;
    rotation_ = {};
    lrKeys_ = udKeys_ = 0;
    keyState_ = previousKeyState_ = 0;
    state_ = PLAYER_STATE_NONE;
    UpdateGridEntry();
    // He leaves the viewer lists of those he held. His own list of viewers stays: they hold him
    // until their own reset.
    ForgetStreamedPlayers();
    streamedPlayers_.fill(false);
    ForgetStreamedVehicles();
    streamedVehicles_.fill(false);
    streamedLabels_.fill(false);
    streamedPickups_.fill(false);
    streamedActors_.fill(false);
    streamedPlayerCount_ = streamedVehicleCount_ = streamedLabelCount_ = streamedPickupCount_ =
        streamedActorCount_ = 0;
    checkpointActive_ = inCheckpoint_ = false;
    raceCheckpointActive_ = inRaceCheckpoint_ = false;
    checkpoint_ = raceCheckpoint_ = raceCheckpointNext_ = {};
    checkpointSize_ = raceCheckpointSize_ = 0.0f;
    raceCheckpointType_ = 0;
    weapons_.fill(0);
    ammo_.fill(0);
    armedWeapon_ = 0;
    attachedObjects_.fill(AttachedObjectSlot{});
    attachedObjectUsed_.fill(false);
    recording_.Close();
    recordingStart_ = 0;
    skillLevels_.fill(kDefaultSkillLevel);
    fightingStyle_ = 4;
    wantedLevel_ = 0;
    clock_ = 720.0f;
    clockLastSent_ = 0.0f;
    controllable_ = true;
    serverPositionSet_ = false;
    lastStreamingPass_ = lastMarkerTime_ = Now();
    dialogId_ = 0;
    // The old labels are deleted on the client as their pool goes.
    const OwnerSend toSelf = [this](uint8_t rpcId, const BitStream& bs) { SendRpcToSelf(rpcId, bs); };
    textDraws_ = std::make_unique<PlayerTextDrawPool>(id_, toSelf);
    labels_ = std::make_unique<PlayerLabelPool>(id_, toSelf);
    variables_.Release();
}

// ---- helpers --------------------------------------------------------------------------------

void Player::SendRpcToSelf(uint8_t rpcId, const BitStream& bs, RpcChannel channel) {
    if (retired_) return;
    server_.SendRpcToPlayer(rpcId, &bs, id_, channel);
}

void Player::SendRpcToStreamers(uint8_t rpcId, const BitStream& bs, RpcChannel channel) {
    if (retired_) return;
    server_.SendRpcToPlayersStreamingPlayer(rpcId, &bs, id_, channel);
}

// ---- stores ---------------------------------------------------------------------------------

void Player::StoreOnFootSync(const OnFootSyncRecord& record) {
    vehicleId_ = 0;
    onFoot_ = record;
    UpdatePosition(record.position.x, record.position.y, record.position.z, false);
    if (retired_) return;
    pendingRelay_ = RELAY_ONFOOT;
    rotation_ = record.rotation;
    RotationMatrix m = QuaternionToMatrix(record.rotation);
    facingAngle_ = FacingAngleFromUp(m.up.x, m.up.y);
    health_ = float(record.health);
    armour_ = float(record.armour);
    SetArmedWeapon(uint8_t(record.weaponId & 0x3F));
    velocity_ = record.velocity;
    lrKeys_ = int16_t(record.lrKeys);
    udKeys_ = int16_t(record.udKeys);
    keyState_ = KeyStateOf(record.keys, record.additionalKeys);
    CheckKeyStateChange();
    if (retired_) return;
    SetState(PLAYER_STATE_ONFOOT);
    if (retired_) return;
    if (onFoot_.surfingId >= 2000 && onFoot_.surfingId < 4000) {
        ObjectPool* objects = server_.GetObjectPool();
        if (objects == nullptr || !objects->Exists(uint16_t(onFoot_.surfingId - 2000))) {
            onFoot_.surfingId = kNoSyncId;
            onFoot_.surfingOffset = {};
        }
    }
    if (recording_.IsOpen() && recording_.Type() == RECORDING_ONFOOT)
        recording_.Append(Now() - recordingStart_, onFoot_);
}

void Player::StoreInCarSync(const InCarSyncRecord& record) {
    VehiclePool* vehicles = server_.GetVehiclePool();
    if (vehicles == nullptr || record.vehicleId >= kMaxVehicles || !streamedVehicles_[record.vehicleId]) {
        pendingRelay_ = RELAY_NONE;
        return;
    }
    vehicleId_ = record.vehicleId;
    seat_ = 0;
    inCar_ = record;
    UpdatePosition(record.position.x, record.position.y, record.position.z, false);
    if (retired_) return;
    health_ = float(record.playerHealth);
    armour_ = float(record.armour);
    SetArmedWeapon(uint8_t(record.weaponId & 0x3F));
    pendingRelay_ = RELAY_DRIVER;
    if ((vehicles = server_.GetVehiclePool()) != nullptr)
        vehicles->ApplyDriverSync(record.vehicleId, id_, record);
    if (retired_) return;
    lrKeys_ = int16_t(record.lrKeys);
    udKeys_ = int16_t(record.udKeys);
    keyState_ = KeyStateOf(record.keys, record.additionalKeys);
    CheckKeyStateChange();
    if (retired_) return;
    SetState(PLAYER_STATE_DRIVER);
    if (retired_) return;
    if (recording_.IsOpen() && recording_.Type() == RECORDING_DRIVER)
        recording_.Append(Now() - recordingStart_, inCar_);
}

void Player::StorePassengerSync(const PassengerSyncRecord& record) {
    vehicleId_ = record.vehicleId;
    VehiclePool* vehicles = server_.GetVehiclePool();
    Vector3 vehiclePosition;
    if (vehicles == nullptr || !vehicles->GetPosition(record.vehicleId, vehiclePosition)) return;
    passenger_ = record;
    UpdatePosition(vehiclePosition.x, vehiclePosition.y, vehiclePosition.z, false);
    if (retired_) return;
    if ((vehicles = server_.GetVehiclePool()) != nullptr) vehicles->ApplyPassengerSync(record.vehicleId, id_);
    health_ = float(record.health);
    armour_ = float(record.armour);
    SetArmedWeapon(uint8_t(record.weaponId & 0x3F));
    pendingRelay_ = RELAY_PASSENGER;
    seat_ = uint8_t(record.seat & 0x3F);
    lrKeys_ = int16_t(record.lrKeys);
    udKeys_ = int16_t(record.udKeys);
    keyState_ = KeyStateOf(record.keys, record.additionalKeys);
    CheckKeyStateChange();
    if (retired_) return;
    SetState(PLAYER_STATE_PASSENGER);
}

void Player::StoreSpectatorSync(const SpectatorSyncRecord& record) {
    vehicleId_ = 0;
    spectator_ = record;
    UpdatePosition(record.position.x, record.position.y, record.position.z, false);
    if (retired_) return;
    lrKeys_ = int16_t(record.lrKeys);
    udKeys_ = int16_t(record.udKeys);
    keyState_ = KeyStateOf(record.keys, 0);
    CheckKeyStateChange();
    if (retired_) return;
    SetState(PLAYER_STATE_SPECTATING);
}

void Player::StoreAimSync(const AimSyncRecord& record) {
    aim_ = record;
    // A front vector that is no direction, or a camera outside the world, is not passed on.
    float front = VectorLengthSquared(record.cameraFront);
    if (front > 0.0f && front < kMaxAimFrontSquared && IsValidPosition(record.cameraPosition))
        aimPending_ = true;
}

void Player::StoreTrailerSync(const TrailerSyncRecord& record) {
    trailer_ = record;
    VehiclePool* vehicles = server_.GetVehiclePool();
    if (state_ != PLAYER_STATE_DRIVER || record.trailerId != inCar_.trailerId || vehicles == nullptr ||
        !vehicles->Exists(record.trailerId))
        return;
    vehicles->ApplyTrailerSync(record.trailerId, id_, inCar_.rotation, record);
    // Either side may keep the trailer's record from being passed on.
    const CallbackOutcome update =
        RaiseAbout(server_, *this, [&](auto& side) { return side.OnTrailerUpdate(id_, record.trailerId); },
                   {.stop = CallbackStop::AtZero, .initial = 1});
    if (update.secondSkipped || retired_ || update.result == 0) return;
    trailerPending_ = true;
}

int Player::StoreUnoccupiedSync(const UnoccupiedSyncRecord& record) {
    VehiclePool* vehicles = server_.GetVehiclePool();
    if (vehicles == nullptr || !vehicles->Exists(record.vehicleId)) return 0;
    unoccupied_ = record;
    unoccupiedPending_ = true;
    return 1;
}

void Player::StoreCameraTarget(uint16_t object, uint16_t vehicle, uint16_t player, uint16_t actor) {
    if (cameraTargetEnabled_) cameraTargets_ = {object, vehicle, player, actor};
}

void Player::StoreWeaponsUpdate(const WeaponsUpdateRecord& record) {
    targetPlayer_ = record.targetPlayerId;
    targetActor_ = record.targetActorId;
    for (int slot = 0; slot < kWeaponSlots; ++slot) {
        if (!record.present[slot]) continue;
        weapons_[slot] = record.weaponId[slot];
        ammo_[slot] = record.ammo[slot];
    }
}

void Player::StoreLastShot(const BulletSyncRecord& record) { lastBullet_ = record; }

// ---- setters --------------------------------------------------------------------------------

void Player::SetState(uint8_t state) {
    if (state == state_) return;
    uint8_t old = state_;
    state_ = state;
    UpdateGridEntry();
    RaiseAbout(server_, *this, [&](auto& side) { return side.OnPlayerStateChange(id_, state, old); });
}

void Player::CheckKeyStateChange() {
    if (keyState_ == previousKeyState_) return;
    uint32_t now = keyState_, old = previousKeyState_;
    // Remembered first, so a callback that stores another record sees this change as done.
    previousKeyState_ = keyState_;
    RaiseAbout(server_, *this,
               [&](auto& side) { return side.OnPlayerKeyStateChange(id_, int32_t(now), int32_t(old)); },
               {.gameModeFirst = true});
}

int Player::GetWeaponSlot(int weapon) {
    if (weapon < 0) return -1;
    if (weapon <= 1) return 0;
    if (weapon <= 9) return 1;
    if (weapon <= 15) return 10;
    if (weapon <= 18) return 8;
    if (weapon <= 21) return -1;
    if (weapon <= 24) return 2;
    if (weapon <= 27) return 3;
    if (weapon == 28 || weapon == 29 || weapon == 32) return 4;
    if (weapon <= 31) return 5;
    if (weapon <= 34) return 6;
    if (weapon <= 38) return 7;
    if (weapon == 39) return 8;
    if (weapon == 40) return 12;
    if (weapon <= 43) return 9;
    if (weapon <= 46) return 11;
    return -1;
}

int Player::SetArmedWeapon(uint8_t weapon) {
    int slot = GetWeaponSlot(weapon);
    if (slot < 0) {
        // The record keeps the two key bits of its weapon byte, not the unknown weapon.
        onFoot_.weaponId = 0;
        return slot;
    }
    weapons_[slot] = weapon;
    armedWeapon_ = weapon;
    return slot;
}

void Player::Spawn() {
    if (!spawnInfoSet_) return;
    if (PlayerPool* pool = server_.GetPlayerPool()) pool->StreamOutPlayerForAll(id_);
    if (retired_) return;
    for (int slot = 0; slot < kAttachedObjectSlots; ++slot) {
        if (attachedObjectUsed_[slot]) RemoveAttachedObject(slot);
    }
    onFoot_.position = spawnInfo_.position;
    position_ = spawnInfo_.position;
    UpdateGridEntry();
    controllable_ = true;
    vehicleId_ = 0;
    armedWeapon_ = 0;
    SetState(PLAYER_STATE_SPAWNED);
}

void Player::SetSpawnInfo(const SpawnInfo& info) {
    spawnInfo_ = info;
    spawnInfoSet_ = true;
}

void Player::Die(int32_t reason, uint16_t killer) {
    SetState(PLAYER_STATE_WASTED);
    if (retired_) return;
    RaiseAbout(server_, *this, [&](auto& side) { return side.OnPlayerDeath(id_, killer, reason); });
    if (retired_) return;
    BitStream bs;
    bs.Write(id_);
    server_.SendRpcToAll(RPC_PlayerDeath, &bs, id_, RpcChannel::World);
    PlayerPool* pool = server_.GetPlayerPool();
    if (pool != nullptr && server_.Settings().chatLogging != 0) {
        if (killer == kNoPlayer)
            LogPrintf("[death] %s died %d", pool->GetName(id_), reason);
        else
            LogPrintf("[kill] %s killed %s %s", pool->GetName(killer), pool->GetName(id_),
                      GetWeaponName(uint32_t(reason)));
    }
    StreamOutAllPickups();
}

void Player::EnterVehicle(uint16_t vehicle, uint8_t passenger) {
    RaiseAbout(server_, *this,
               [&](auto& side) { return side.OnPlayerEnterVehicle(id_, vehicle, passenger); });
    BitStream bs;
    bs.Write(id_);
    bs.Write(vehicle);
    bs.Write(passenger);
    SendRpcToStreamers(RPC_VehicleEnter, bs);
}

void Player::ExitVehicle(uint16_t vehicle) {
    RaiseAbout(server_, *this, [&](auto& side) { return side.OnPlayerExitVehicle(id_, vehicle); });
    BitStream bs;
    bs.Write(id_);
    bs.Write(vehicle);
    SendRpcToStreamers(RPC_VehicleExit, bs);
}

void Player::EnterExitModShop(int32_t enter, int32_t interior) {
    inModShop_ = enter != 0;
    RaiseAbout(server_, *this, [&](auto& side) { return side.OnEnterExitModShop(id_, enter, interior); });
    BitStream bs;
    bs.Write(id_);
    bs.Write(uint32_t(4));
    bs.Write(uint32_t(vehicleId_));
    bs.Write(uint32_t(enter));
    bs.Write(uint32_t(interior));
    SendRpcToStreamers(RPC_VehicleModEvent, bs);
}

void Player::SetColor(uint32_t colour) {
    colour_ = colour;
    if (retired_) return;
    BitStream bs;
    bs.Write(id_);
    bs.Write(colour);
    server_.SendRpcToAll(RPC_PlayerColorSet, &bs, kNoPlayer, RpcChannel::World);
}

void Player::SetSkillLevel(int32_t skill, uint16_t level) {
    if (skill < 0 || skill >= kSkillLevels) return;
    skillLevels_[skill] = int16_t(level);
    BitStream bs;
    bs.Write(id_);
    bs.Write(uint32_t(skill));
    bs.Write(level);
    SendRpcToSelf(RPC_SkillLevelSet, bs);
    if (state_ != PLAYER_STATE_NONE && state_ != PLAYER_STATE_SPECTATING)
        SendRpcToStreamers(RPC_SkillLevelSet, bs);
}

void Player::SendAttachedObjectTo(int slot, bool used, uint16_t to, bool toStreamers) {
    BitStream bs;
    bs.Write(id_);
    bs.Write(uint32_t(slot));
    bs.Write(used);
    if (used) WriteAttachedObjectSlot(bs, attachedObjects_[slot]);
    if (toStreamers) {
        SendRpcToStreamers(RPC_AttachedObjectSet, bs);
        SendRpcToSelf(RPC_AttachedObjectSet, bs);
    } else if (!retired_) {
        server_.SendRpcToPlayer(RPC_AttachedObjectSet, &bs, to, RpcChannel::World);
    }
}

void Player::SetAttachedObject(int slot, const AttachedObjectSlot& object) {
    if (slot < 0 || slot >= kAttachedObjectSlots) return;
    attachedObjects_[slot] = object;
    attachedObjectUsed_[slot] = true;
    SendAttachedObjectTo(slot, true, id_, true);
}

void Player::RemoveAttachedObject(int slot) {
    if (slot < 0 || slot >= kAttachedObjectSlots) return;
    attachedObjects_[slot] = {};
    attachedObjectUsed_[slot] = false;
    SendAttachedObjectTo(slot, false, id_, true);
}

void Player::SendAttachedObject(int slot, uint16_t to) {
    if (slot < 0 || slot >= kAttachedObjectSlots || !attachedObjectUsed_[slot]) return;
    SendAttachedObjectTo(slot, true, to, false);
}

bool Player::IsAttachedObjectSlotUsed(int slot) const {
    return slot >= 0 && slot < kAttachedObjectSlots && attachedObjectUsed_[slot];
}

void Player::EnableCameraTarget(bool on) {
    BitStream bs;
    if (on && !cameraTargetEnabled_) {
        cameraTargetEnabled_ = true;
        bs.Write(true);
    } else if (!on && cameraTargetEnabled_) {
        cameraTargets_.fill(kNoPlayer);
        cameraTargetEnabled_ = false;
        bs.Write(false);
    } else {
        return;
    }
    SendRpcToSelf(RPC_CameraTargetEnable, bs);
}

void Player::SetCheckpoint(float x, float y, float z, float size) {
    checkpoint_ = {x, y, z};
    checkpointSize_ = size;
    ToggleCheckpoint(true);
}

void Player::ToggleCheckpoint(bool on) {
    inCheckpoint_ = false;
    checkpointActive_ = on;
    BitStream bs;
    if (on) {
        WriteVector(bs, checkpoint_);
        bs.Write(checkpointSize_);
        SendRpcToSelf(RPC_CheckpointSet, bs);
    } else {
        SendRpcToSelf(RPC_CheckpointDisable, bs);
    }
}

void Player::SetRaceCheckpoint(uint8_t type, float x, float y, float z, float nx, float ny, float nz,
                               float size) {
    raceCheckpointType_ = type;
    raceCheckpoint_ = {x, y, z};
    raceCheckpointNext_ = {nx, ny, nz};
    raceCheckpointSize_ = size;
    ToggleRaceCheckpoint(true);
}

void Player::ToggleRaceCheckpoint(bool on) {
    inRaceCheckpoint_ = false;
    raceCheckpointActive_ = on;
    BitStream bs;
    if (on) {
        bs.Write(raceCheckpointType_);
        WriteVector(bs, raceCheckpoint_);
        WriteVector(bs, raceCheckpointNext_);
        bs.Write(raceCheckpointSize_);
        SendRpcToSelf(RPC_RaceCheckpointSet, bs);
    } else {
        SendRpcToSelf(RPC_RaceCheckpointDisable, bs);
    }
}

void Player::SetTime(uint8_t hour, uint8_t minute) {
    BitStream bs;
    bs.Write(hour);
    bs.Write(minute);
    SendRpcToSelf(RPC_PlayerTimeSet, bs);
    clock_ = float(int(hour) * 60 + int(minute));
}

void Player::ToggleClock(bool on) {
    clockEnabled_ = on;
    BitStream bs;
    bs.Write(uint8_t(on ? 1 : 0));
    SendRpcToSelf(RPC_PlayerClockToggle, bs);
}

void Player::SendServerTick() {
    BitStream bs;
    bs.Write(Now());
    SendRpcToSelf(RPC_ServerTick, bs);
}

void Player::BroadcastChat(const char* text, uint8_t length) {
    if (retired_ || text == nullptr) return;
    BitStream bs;
    bs.Write(id_);
    bs.Write(length);
    bs.WriteBytes(text, length);
    const WorldSettings& world = server_.world;
    PlayerPool* pool = server_.GetPlayerPool();
    if (world.limitGlobalChatRadius == 0 || pool == nullptr) {
        server_.SendRpcToAll(RPC_ChatText, &bs, kNoPlayer, RpcChannel::ClientMessage);
        return;
    }
    for (int32_t other = 0; other <= pool->GetUpperIndex(); ++other) {
        uint16_t id = uint16_t(other);
        if (id == id_ || !pool->IsConnected(id)) continue;
        if (pool->GetDistance(id_, id) <= world.globalChatRadius)
            server_.SendRpcToPlayer(RPC_ChatText, &bs, id, RpcChannel::ClientMessage);
    }
    server_.SendRpcToPlayer(RPC_ChatText, &bs, id_, RpcChannel::ClientMessage);
}

int32_t Player::GetPing() const {
    NetServerInterface* net = server_.GetNetServer();
    if (net == nullptr) return -1;
    return net->GetLastPing(net->GetPlayerIDFromIndex(id_));
}

float Player::GetDistanceFromPoint(float x, float y, float z) const {
    return std::sqrt(GetSquaredDistanceFromPoint(x, y, z));
}

float Player::GetSquaredDistanceFromPoint(float x, float y, float z) const {
    return Squared3D(position_, Vector3{x, y, z});
}

float Player::GetSquaredDistance2DFromPoint(float x, float y) const {
    float dx = position_.x - x, dy = position_.y - y;
    return dx * dx + dy * dy;
}

// ---- per pass -------------------------------------------------------------------------------

void Player::Tick(float elapsedSeconds) {
    clock_ += elapsedSeconds;
    if (download_) download_->Tick();
    if (state_ == PLAYER_STATE_NONE || state_ == PLAYER_STATE_SPECTATING) return;
    if (pendingRelay_ != RELAY_NONE || aimPending_ || trailerPending_ || unoccupiedPending_) {
        SendSync();
        pendingRelay_ = RELAY_NONE;
    }
    if (clockEnabled_ && clock_ - clockLastSent_ >= kClockResyncMinutes) {
        if (clock_ >= kMinutesPerDay) clock_ -= kMinutesPerDay;
        clockLastSent_ = clock_;
        int minutes = int(clock_);
        BitStream bs;
        bs.Write(uint8_t(minutes / 60));
        bs.Write(uint8_t(minutes % 60));
        SendRpcToSelf(RPC_PlayerTimeSet, bs);
    }
}

void Player::SendSync() {
    if (serverPositionSet_ || retired_) return;
    // Each form is written once and the same bytes go to every streamer.
    if (state_ == PLAYER_STATE_ONFOOT && pendingRelay_ == RELAY_ONFOOT) {
        if (!controllable_) onFoot_.lrKeys = onFoot_.udKeys = onFoot_.keys = 0;
        BitStream bs;
        WriteOnFootRelay(bs, id_, onFoot_);
        server_.SendPacketToPlayerStreamers(&bs, id_, true);
    } else if (state_ == PLAYER_STATE_DRIVER && pendingRelay_ == RELAY_DRIVER) {
        if (!controllable_) inCar_.lrKeys = inCar_.udKeys = inCar_.keys = 0;
        BitStream bs;
        WriteDriverRelay(bs, id_, inCar_);
        server_.SendPacketToPlayerStreamers(&bs, id_, true);
    } else if (state_ == PLAYER_STATE_PASSENGER && pendingRelay_ == RELAY_PASSENGER) {
        if (!controllable_) passenger_.lrKeys = passenger_.udKeys = passenger_.keys = 0;
        BitStream bs;
        WritePassengerRelay(bs, id_, passenger_);
        server_.SendPacketToPlayerStreamers(&bs, id_, true);
    }
    if (aimPending_) {
        BitStream bs;
        WriteAimRelay(bs, id_, aim_);
        server_.SendPacketToPlayerStreamers(&bs, id_, true);
        aimPending_ = false;
    }
    if (trailerPending_) {
        BitStream bs;
        WriteTrailerRelay(bs, id_, trailer_);
        server_.SendPacketToPlayerStreamers(&bs, id_, true);
        trailerPending_ = false;
    }
    if (unoccupiedPending_) {
        BitStream bs;
        WriteUnoccupiedRelay(bs, id_, unoccupied_);
        server_.SendPacketToVehicleStreamers(&bs, unoccupied_.vehicleId, id_);
        unoccupiedPending_ = false;
    }
}

void Player::UpdatePosition(float x, float y, float z, bool force) {
    position_ = {x, y, z};
    UpdateGridEntry();
    uint32_t now = Now();
    if (serverPositionSet_) {
        float distance = std::sqrt(Squared3D(position_, serverPosition_));
        // Until the client has caught up with a position the server set, its old positions far
        // from it must not stream the world around the old place.
        if (int32_t(now - serverPositionTime_) < int32_t(kServerPositionHoldMs) &&
            distance > server_.Settings().streamDistance)
            return;
        serverPositionSet_ = false;
        StreamingPass();
    } else if (force) {
        StreamingPass();
    } else if (int32_t(now - lastStreamingPass_) > server_.Settings().streamRate) {
        StreamingPass();
        lastStreamingPass_ = now;
    }
    if (retired_) return;
    CheckCheckpoints();
}

void Player::CheckCheckpoints() {
    if (checkpointActive_) {
        bool inside = GetDistanceFromPoint(checkpoint_.x, checkpoint_.y, checkpoint_.z) < checkpointSize_;
        if (inside != inCheckpoint_) {
            inCheckpoint_ = inside;
            RaiseAbout(server_, *this, [&](auto& side) {
                return inside ? side.OnPlayerEnterCheckpoint(id_) : side.OnPlayerLeaveCheckpoint(id_);
            });
            if (retired_) return;
        }
    }
    if (raceCheckpointActive_) {
        bool inside = GetDistanceFromPoint(raceCheckpoint_.x, raceCheckpoint_.y, raceCheckpoint_.z) <
                      raceCheckpointSize_;
        if (inside != inRaceCheckpoint_) {
            inRaceCheckpoint_ = inside;
            RaiseAbout(server_, *this, [&](auto& side) {
                return inside ? side.OnPlayerEnterRaceCheckpoint(id_) : side.OnPlayerLeaveRaceCheckpoint(id_);
            });
        }
    }
}

void Player::SetServerPosition(float x, float y, float z) {
    serverPositionSet_ = true;
    serverPositionTime_ = Now();
    serverPosition_ = {x, y, z};
}

// ---- streaming ------------------------------------------------------------------------------

void Player::StreamInPlayer(uint16_t other) {
    if (retired_ || other >= kMaxPlayers || other == id_ || streamedPlayers_[other]) return;
    if (streamedPlayerCount_ > kMaxStreamedPlayers || downloading_) return;
    PlayerPool* pool = server_.GetPlayerPool();
    Player* target = pool != nullptr ? pool->GetAt(other) : nullptr;
    if (target == nullptr) return;
    target->SendStreamIn(id_);
    streamedPlayers_[other] = true;
    NoteStreamedPlayer(other, true);
    ++streamedPlayerCount_;
    target->NoteStreamer(id_, true);
    RaiseAbout(server_, *this, [&](auto& side) { return side.OnPlayerStreamIn(other, id_); });
}

void Player::SendStreamIn(uint16_t to) {
    if (retired_) return;
    BitStream bs;
    bs.Write(id_);
    bs.Write(spawnInfo_.team);
    bs.Write(spawnInfo_.skin);
    bs.Write(spawnInfo_.customSkin);
    WriteVector(bs, position_);
    bs.Write(facingAngle_);
    bs.Write(colour_);
    bs.Write(fightingStyle_);
    for (int16_t level : skillLevels_) bs.Write(level);
    server_.SendRpcToPlayer(RPC_PlayerStreamIn, &bs, to, RpcChannel::World);
    for (int slot = 0; slot < kAttachedObjectSlots; ++slot) SendAttachedObject(slot, to);
}

void Player::StreamOutPlayer(uint16_t other) {
    if (other >= kMaxPlayers || !streamedPlayers_[other]) return;
    if (PlayerPool* pool = server_.GetPlayerPool(); pool != nullptr) {
        if (!retired_) pool->SendPlayerStreamOut(other, id_);
        if (Player* target = pool->GetAt(other)) target->NoteStreamer(id_, false);
    }
    --streamedPlayerCount_;
    streamedPlayers_[other] = false;
    NoteStreamedPlayer(other, false);
    if (retired_) return;
    RaiseAbout(server_, *this, [&](auto& side) { return side.OnPlayerStreamOut(other, id_); });
}

void Player::ForgetPlayer(uint16_t other) {
    NoteStreamer(other, false);
    if (other >= kMaxPlayers || !streamedPlayers_[other]) return;
    streamedPlayers_[other] = false;
    NoteStreamedPlayer(other, false);
    --streamedPlayerCount_;
}

void Player::NoteStreamer(uint16_t viewer, bool streams) {
    auto at = std::lower_bound(streamers_.begin(), streamers_.end(), viewer);
    const bool listed = at != streamers_.end() && *at == viewer;
    if (streams && !listed)
        streamers_.insert(at, viewer);
    else if (!streams && listed)
        streamers_.erase(at);
}

void Player::StreamOutVehicle(uint16_t vehicle) {
    if (vehicle >= kMaxVehicles || !streamedVehicles_[vehicle]) return;
    if (VehiclePool* vehicles = server_.GetVehiclePool(); vehicles != nullptr && !retired_)
        vehicles->RemoveForPlayer(vehicle, id_);
    --streamedVehicleCount_;
    streamedVehicles_[vehicle] = false;
    NoteStreamedVehicle(vehicle, false);
    if (retired_) return;
    RaiseAbout(server_, *this, [&](auto& side) { return side.OnVehicleStreamOut(vehicle, id_); });
}

void Player::StreamInLabel(uint16_t label) {
    if (retired_ || label >= kMaxLabels || streamedLabels_[label]) return;
    TextLabelPool* labels = server_.GetTextLabelPool();
    if (labels == nullptr || !labels->IsUsed(label)) return;
    labels->ShowForPlayer(label, id_);
    streamedLabels_[label] = true;
    ++streamedLabelCount_;
}

void Player::StreamOutLabel(uint16_t label) {
    if (label >= kMaxLabels || !streamedLabels_[label]) return;
    if (TextLabelPool* labels = server_.GetTextLabelPool(); labels != nullptr && !retired_)
        labels->HideForPlayer(label, id_);
    --streamedLabelCount_;
    streamedLabels_[label] = false;
}

void Player::StreamInPickup(uint16_t pickup) {
    if (retired_ || pickup >= kMaxPickups || streamedPickups_[pickup]) return;
    PickupPool* pickups = server_.GetPickupPool();
    if (pickups == nullptr || !pickups->IsUsed(pickup)) return;
    pickups->StreamIn(pickup, id_);
    streamedPickups_[pickup] = true;
    ++streamedPickupCount_;
}

void Player::StreamOutPickup(uint16_t pickup) {
    if (pickup >= kMaxPickups || !streamedPickups_[pickup]) return;
    if (PickupPool* pickups = server_.GetPickupPool(); pickups != nullptr && !retired_)
        pickups->StreamOut(pickup, id_);
    --streamedPickupCount_;
    streamedPickups_[pickup] = false;
}

void Player::StreamOutAllPickups() {
    for (uint16_t pickup = 0; pickup < kMaxPickups; ++pickup) {
        if (streamedPickups_[pickup]) StreamOutPickup(pickup);
    }
}

void Player::StreamInActor(uint16_t actor) {
    if (retired_ || actor >= kMaxActors || streamedActors_[actor]) return;
    if (streamedActorCount_ > kMaxStreamedActors || downloading_) return;
    ActorPool* actors = server_.GetActorPool();
    if (actors == nullptr || !actors->Exists(actor)) return;
    actors->StreamIn(actor, id_);
    streamedActors_[actor] = true;
    ++streamedActorCount_;
    RaiseAbout(server_, *this, [&](auto& side) { return side.OnActorStreamIn(actor, id_); });
}

void Player::StreamOutActor(uint16_t actor) {
    if (actor >= kMaxActors || !streamedActors_[actor]) return;
    if (ActorPool* actors = server_.GetActorPool(); actors != nullptr && !retired_)
        actors->StreamOut(actor, id_);
    --streamedActorCount_;
    streamedActors_[actor] = false;
    if (retired_) return;
    RaiseAbout(server_, *this, [&](auto& side) { return side.OnActorStreamOut(actor, id_); });
}

}  // namespace velt
