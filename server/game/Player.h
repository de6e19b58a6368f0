#pragma once

// The server's record of one connected client or bot: the last synchronisation record of each
// kind, what follows from them (position, health, keys, state), what is streamed in for it, its
// checkpoints, weapons, attached objects and clock, and the small pools it owns. The player pool
// creates one at connect and retires it at disconnect.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "server/game/FileDownload.h"
#include "server/game/PlayerVariables.h"
#include "server/shared/GameRpc.h"
#include "server/shared/RecordingFile.h"
#include "server/shared/SyncRecords.h"
#include "server/shared/VectorMath.h"
#include "server/world/WorldPools.h"

namespace velt {

class BitStream;
class GameServer;

inline constexpr uint16_t kMaxPlayers = 1000;  // player ids 0..999
inline constexpr uint16_t kNoPlayer = 0xFFFF;

enum PlayerState : uint8_t {
    PLAYER_STATE_NONE = 0,
    PLAYER_STATE_ONFOOT = 1,
    PLAYER_STATE_DRIVER = 2,
    PLAYER_STATE_PASSENGER = 3,
    PLAYER_STATE_WASTED = 7,
    PLAYER_STATE_SPAWNED = 8,
    PLAYER_STATE_SPECTATING = 9,
};

// What a spectating player watches; the target is a vehicle or player id, -1 for none.
enum SpectateMode : uint8_t {
    SPECTATE_MODE_NONE = 0,
    SPECTATE_MODE_VEHICLE = 1,
    SPECTATE_MODE_PLAYER = 2,
};

// Which of the player's own records waits to be passed on to its streamers.
enum PendingRelay : int32_t {
    RELAY_NONE = 0,
    RELAY_ONFOOT = 1,
    RELAY_DRIVER = 2,
    RELAY_PASSENGER = 3,
};

// A player class or spawn description; 50 bytes on the wire.
struct SpawnInfo {
    static constexpr size_t kSize = 50;
    uint8_t team = 0;  // 255: no team
    int32_t skin = 0;
    int32_t customSkin = 0;
    uint8_t reserved = 0;
    Vector3 position;
    float facingAngle = 0.0f;
    std::array<int32_t, 3> weapons{};
    std::array<int32_t, 3> ammo{};
};
void EncodeSpawnInfo(const SpawnInfo& info, uint8_t* out);  // exactly kSize bytes
void DecodeSpawnInfo(const uint8_t* in, SpawnInfo& info);
void WriteSpawnInfo(BitStream& bs, const SpawnInfo& info);

// One object worn by a player; 52 bytes on the wire.
struct AttachedObjectSlot {
    static constexpr size_t kSize = 52;
    int32_t model = 0;
    int32_t bone = 0;
    Vector3 offset;
    Vector3 rotation;
    Vector3 scale;
    uint32_t colour1 = 0;
    uint32_t colour2 = 0;
};
void WriteAttachedObjectSlot(BitStream& bs, const AttachedObjectSlot& slot);

inline constexpr int kAttachedObjectSlots = 10;
inline constexpr int kSkillLevels = 11;
inline constexpr int16_t kDefaultSkillLevel = 999;
// Streaming caps: a stream-in is refused while the count is already above these.
inline constexpr int32_t kMaxStreamedPlayers = 200;
inline constexpr int32_t kMaxStreamedVehicles = 700;
inline constexpr int32_t kMaxStreamedActors = 50;

class Player {
public:
    explicit Player(GameServer& server);
    ~Player();
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    // Gives the id to the player and the pools it owns.
    void SetId(uint16_t id);
    uint16_t GetId() const { return id_; }

    // Back to the state of a player that has just joined (also for every player at the end of a
    // gamemode): records, streams, checkpoints, weapons, objects and recording cleared; the
    // per-player pools made anew and the variables dropped.
    void Reset();

    // ---- stores (records that passed the packet readers' checks) -----------------------------
    void StoreOnFootSync(const OnFootSyncRecord& record);
    void StoreInCarSync(const InCarSyncRecord& record);
    void StorePassengerSync(const PassengerSyncRecord& record);
    void StoreSpectatorSync(const SpectatorSyncRecord& record);
    void StoreAimSync(const AimSyncRecord& record);
    void StoreTrailerSync(const TrailerSyncRecord& record);
    // 0 when the vehicle does not exist.
    int StoreUnoccupiedSync(const UnoccupiedSyncRecord& record);
    void StoreCameraTarget(uint16_t object, uint16_t vehicle, uint16_t player, uint16_t actor);
    // Aim targets and the weapon and ammunition of every slot the update names.
    void StoreWeaponsUpdate(const WeaponsUpdateRecord& record);
    void StoreLastShot(const BulletSyncRecord& record);
    void NoteShot(uint32_t ms, uint8_t weapon) {
        lastShotTime_ = ms;
        lastShotWeapon_ = weapon;
    }

    // ---- setters and relays -----------------------------------------------------------------
    void SetState(uint8_t state);
    void CheckKeyStateChange();
    // The weapon's slot, -1 for a weapon without one.
    int SetArmedWeapon(uint8_t weapon);
    static int GetWeaponSlot(int weapon);
    void Spawn();
    void SetSpawnInfo(const SpawnInfo& info);
    // Team, skin and custom skin live in the spawn record; the scripts may change them before any
    // spawn information exists, which these leave as it is.
    void SetTeam(uint8_t team) { spawnInfo_.team = team; }
    void SetSkin(int32_t skin, int32_t customSkin) {
        spawnInfo_.skin = skin;
        spawnInfo_.customSkin = customSkin;
    }
    void SetSpectating(uint8_t mode, int32_t target) {
        spectateMode_ = mode;
        spectateTarget_ = target;
    }
    uint8_t GetSpectateMode() const { return spectateMode_; }
    int32_t GetSpectateTarget() const { return spectateTarget_; }
    void Die(int32_t reason, uint16_t killer);
    void EnterVehicle(uint16_t vehicle, uint8_t passenger);
    void ExitVehicle(uint16_t vehicle);
    void EnterExitModShop(int32_t enter, int32_t interior);
    void SetColor(uint32_t colour);
    void SetSkillLevel(int32_t skill, uint16_t level);
    void SetAttachedObject(int slot, const AttachedObjectSlot& object);
    void RemoveAttachedObject(int slot);
    void SendAttachedObject(int slot, uint16_t to);
    bool IsAttachedObjectSlotUsed(int slot) const;
    void EnableCameraTarget(bool on);
    void SetCheckpoint(float x, float y, float z, float size);
    void ToggleCheckpoint(bool on);
    void SetRaceCheckpoint(uint8_t type, float x, float y, float z, float nx, float ny, float nz, float size);
    void ToggleRaceCheckpoint(bool on);
    void SetTime(uint8_t hour, uint8_t minute);
    void ToggleClock(bool on);
    void SendServerTick();
    void BroadcastChat(const char* text, uint8_t length);
    int32_t GetPing() const;

    float GetDistanceFromPoint(float x, float y, float z) const;
    float GetSquaredDistanceFromPoint(float x, float y, float z) const;
    float GetSquaredDistance2DFromPoint(float x, float y) const;

    // Per main-loop pass.
    void Tick(float elapsedSeconds);
    // Passes the pending records on to the streamers.
    void SendSync();
    void UpdatePosition(float x, float y, float z, bool force);
    void SetServerPosition(float x, float y, float z);

    // ---- streaming --------------------------------------------------------------------------
    // Which entities are near enough to be shown; rate-limited by UpdatePosition.
    void StreamingPass();
    // Where the other human players are on the radar; at most one packet per 2500 ms.
    void SendMapMarkers();
    void StreamInPlayer(uint16_t other);
    void StreamOutPlayer(uint16_t other);
    // A player who left is no longer streamed in here, nor does he see this one any more; nothing
    // is sent (the client was told he left) and no callback is raised.
    void ForgetPlayer(uint16_t other);
    void SendStreamIn(uint16_t to);
    // Refused beyond the cap, while downloading, or (with checkDistance) out of range.
    void StreamInVehicle(uint16_t vehicle, bool checkDistance);
    void StreamOutVehicle(uint16_t vehicle);
    void StreamInLabel(uint16_t label);
    void StreamOutLabel(uint16_t label);
    void StreamInPickup(uint16_t pickup);
    void StreamOutPickup(uint16_t pickup);
    void StreamOutAllPickups();
    void StreamInActor(uint16_t actor);
    void StreamOutActor(uint16_t actor);
    // One global label, pickup or actor brought in line with the streaming rule for this player
    // (Streaming.cpp): the pass runs them over every id, and a caller that knows which entities
    // are near may run them for those alone.
    void UpdateLabelStreaming(uint16_t label);
    void UpdatePickupStreaming(uint16_t pickup);
    void UpdateActorStreaming(uint16_t actor);
    bool IsPlayerStreamedIn(uint16_t other) const { return other < kMaxPlayers && streamedPlayers_[other]; }
    bool IsVehicleStreamedIn(uint16_t vehicle) const {
        return vehicle < kMaxVehicles && streamedVehicles_[vehicle];
    }
    bool IsActorStreamedIn(uint16_t actor) const { return actor < kMaxActors && streamedActors_[actor]; }
    bool IsLabelStreamedIn(uint16_t label) const { return label < kMaxLabels && streamedLabels_[label]; }
    bool IsPickupStreamedIn(uint16_t pickup) const {
        return pickup < kMaxPickups && streamedPickups_[pickup];
    }
    int32_t StreamedPlayerCount() const { return streamedPlayerCount_; }
    // The players who may have this one streamed in, in ascending id: the receivers of his relays
    // are found among these few rather than among every player. It may name a player who no
    // longer streams him (a reset), so a sender still asks each one.
    const std::vector<uint16_t>& Streamers() const { return streamers_; }
    int32_t StreamedVehicleCount() const { return streamedVehicleCount_; }

    // ---- state the natives and handlers read ------------------------------------------------
    uint8_t GetState() const { return state_; }
    const Vector3& GetPosition() const { return position_; }
    float GetHealth() const { return health_; }
    float GetArmour() const { return armour_; }
    float GetFacingAngle() const { return facingAngle_; }
    int32_t GetPendingRelay() const { return pendingRelay_; }
    void SetPendingRelay(int32_t kind) { pendingRelay_ = kind; }
    bool IsAimPending() const { return aimPending_; }
    uint16_t GetVehicleId() const { return vehicleId_; }
    void SetVehicleId(uint16_t vehicle) { vehicleId_ = vehicle; }
    // The seat in that vehicle (0 the driver's), from the player's own records.
    uint8_t GetSeat() const { return seat_; }
    void SetSeat(uint8_t seat) { seat_ = seat; }
    uint32_t GetColor() const { return colour_; }
    // The wanted level and the fighting style, as the scripts last set them.
    uint8_t GetWantedLevel() const { return wantedLevel_; }
    void SetWantedLevel(uint8_t level) { wantedLevel_ = level; }
    uint8_t GetFightingStyle() const { return fightingStyle_; }
    void SetFightingStyle(uint8_t style) { fightingStyle_ = style; }
    uint8_t GetArmedWeapon() const { return armedWeapon_; }
    uint8_t GetWeapon(int slot) const { return slot >= 0 && slot < kWeaponSlots ? weapons_[slot] : 0; }
    int32_t GetAmmo(int slot) const { return slot >= 0 && slot < kWeaponSlots ? ammo_[slot] : 0; }
    void SetControllable(bool on) { controllable_ = on; }
    void SetDownloading(bool on) { downloading_ = on; }
    bool IsDownloading() const { return downloading_; }
    // The player's custom-model download.
    FileDownload& Download() { return *download_; }
    bool HasSpawnInfo() const { return spawnInfoSet_; }
    const SpawnInfo& GetSpawnInfo() const { return spawnInfo_; }
    // Whether a spawn may follow: granted by an allowed spawn request or by the scripts.
    bool IsSpawnAllowed() const { return spawnAllowed_; }
    void SetSpawnAllowed(bool on) { spawnAllowed_ = on; }
    // The class last chosen at class selection.
    uint32_t GetClassIndex() const { return classIndex_; }
    void SetClassIndex(uint32_t index) { classIndex_ = index; }
    // The dialog the scripts showed last; only an answer to it reaches them.
    uint16_t GetDialogId() const { return dialogId_; }
    void SetDialogId(uint16_t dialog) { dialogId_ = dialog; }
    // Set when the scripts open an editor or the object selection for the player; only then do
    // the client's edit results reach them. Nothing clears the marks.
    bool IsEditingObject() const { return editingObject_; }
    void SetEditingObject() { editingObject_ = true; }
    bool IsEditingAttachedObject() const { return editingAttachedObject_; }
    void SetEditingAttachedObject() { editingAttachedObject_ = true; }
    bool HaveGlobalObjectsBeenSent() const { return globalObjectsSent_; }
    void SetGlobalObjectsSent(bool sent) { globalObjectsSent_ = sent; }
    bool IsServerPositionSet() const { return serverPositionSet_; }

    const OnFootSyncRecord& GetOnFootSync() const { return onFoot_; }
    const InCarSyncRecord& GetInCarSync() const { return inCar_; }
    const AimSyncRecord& GetAimSync() const { return aim_; }
    uint16_t GetTargetPlayer() const { return targetPlayer_; }

    // The player's own text draws and labels.
    PlayerTextDrawPool* GetTextDrawPool() { return textDraws_.get(); }
    PlayerLabelPool* GetLabelPool() { return labels_.get(); }

    // The recording under way (opened and closed by the recording natives).
    RecordingWriter& Recording() { return recording_; }
    void SetRecordingStart(uint32_t ms) { recordingStart_ = ms; }

    // The variables the scripts keep on this player; dropped when he leaves.
    PlayerVars& Variables() { return variables_; }
    const PlayerVars& Variables() const { return variables_; }

    // ---- clock and aim target the weapon and time natives read -------------------------------
    bool IsClockEnabled() const { return clockEnabled_; }
    // Game minutes since midnight, as the player's clock runs (it may pass 1440 between resyncs).
    float GetClock() const { return clock_; }
    uint16_t GetTargetActor() const { return targetActor_; }

    // ---- body, seat and camera as the position and camera natives read them ------------------
    // Velocity, keys and special action are those of the last on-foot record; the keys word
    // carries the two extra key bits of whichever record came last.
    const Vector3& GetOnFootVelocity() const { return velocity_; }
    int16_t GetLeftRightKeys() const { return lrKeys_; }
    int16_t GetUpDownKeys() const { return udKeys_; }
    uint32_t GetKeyState() const { return keyState_; }
    bool IsControllable() const { return controllable_; }
    const BulletSyncRecord& GetLastShot() const { return lastBullet_; }
    // What the camera points at while targeting is on: 0xFFFF each when nothing, or while off.
    uint16_t GetCameraTargetObject() const { return cameraTargets_[0]; }
    uint16_t GetCameraTargetVehicle() const { return cameraTargets_[1]; }
    uint16_t GetCameraTargetPlayer() const { return cameraTargets_[2]; }
    uint16_t GetCameraTargetActor() const { return cameraTargets_[3]; }
    // The interior the client last said it is in; a script's SetPlayerInterior counts only once
    // the client confirms it.
    uint8_t GetInterior() const { return interior_; }
    void SetInterior(uint8_t interior) { interior_ = interior; }

    // Set by the pool once the player has left: the record stays readable until the pool frees
    // it between two passes, but raises no further callback and sends nothing.
    void Retire() {
        retired_ = true;
        variables_.Release();
    }
    bool IsRetired() const { return retired_; }

    // ---- checkpoints as the last position update found them --------------------------------
    bool IsInCheckpoint() const { return inCheckpoint_; }
    bool IsInRaceCheckpoint() const { return inRaceCheckpoint_; }

private:
    void CheckCheckpoints();
    // The steps of the streaming pass (Streaming.cpp).
    void StreamPlayers();
    void NoteStreamer(uint16_t viewer, bool streams);
    // The vehicle step (PlayerVehicles.cpp).
    void StreamVehicles();
    void StreamLabels();
    void StreamPickups();
    void StreamActors();
    void SendRpcToSelf(uint8_t rpcId, const BitStream& bs, RpcChannel channel = RpcChannel::World);
    void SendRpcToStreamers(uint8_t rpcId, const BitStream& bs, RpcChannel channel = RpcChannel::World);
    void SendAttachedObjectTo(int slot, bool used, uint16_t to, bool toStreamers);
    uint32_t Now() const;

    GameServer& server_;
    uint16_t id_ = kNoPlayer;
    bool retired_ = false;

    AimSyncRecord aim_;
    std::array<uint16_t, 4> cameraTargets_{};  // object, vehicle, player, actor
    InCarSyncRecord inCar_;
    PassengerSyncRecord passenger_;
    OnFootSyncRecord onFoot_;
    UnoccupiedSyncRecord unoccupied_;
    SpectatorSyncRecord spectator_;
    TrailerSyncRecord trailer_;

    std::array<bool, kMaxPlayers> streamedPlayers_{};
    std::vector<uint16_t> streamers_;
    std::array<bool, kMaxVehicles> streamedVehicles_{};
    std::array<bool, kMaxLabels> streamedLabels_{};
    std::array<bool, kMaxPickups> streamedPickups_{};
    std::array<bool, kMaxActors> streamedActors_{};
    int32_t streamedPlayerCount_ = 0;
    int32_t streamedVehicleCount_ = 0;
    int32_t streamedLabelCount_ = 0;
    int32_t streamedPickupCount_ = 0;
    int32_t streamedActorCount_ = 0;

    bool serverPositionSet_ = false;
    uint32_t serverPositionTime_ = 0;
    Vector3 serverPosition_;

    bool cameraTargetEnabled_ = false;
    bool controllable_ = true;

    Vector3 position_;
    float health_ = 0.0f;
    float armour_ = 0.0f;
    Quaternion rotation_;
    float facingAngle_ = 0.0f;
    Vector3 velocity_;
    int16_t lrKeys_ = 0;
    int16_t udKeys_ = 0;
    uint32_t keyState_ = 0;
    uint32_t previousKeyState_ = 0;

    std::unique_ptr<PlayerTextDrawPool> textDraws_;
    std::unique_ptr<PlayerLabelPool> labels_;

    int32_t pendingRelay_ = RELAY_NONE;
    std::array<AttachedObjectSlot, kAttachedObjectSlots> attachedObjects_{};
    std::array<bool, kAttachedObjectSlots> attachedObjectUsed_{};
    bool aimPending_ = false;
    bool trailerPending_ = false;
    bool unoccupiedPending_ = false;
    uint8_t state_ = PLAYER_STATE_NONE;

    Vector3 checkpoint_;
    float checkpointSize_ = 0.0f;
    bool inCheckpoint_ = false;
    Vector3 raceCheckpoint_;
    Vector3 raceCheckpointNext_;
    uint8_t raceCheckpointType_ = 0;
    float raceCheckpointSize_ = 0.0f;
    bool inRaceCheckpoint_ = false;
    bool inModShop_ = false;
    std::array<int16_t, kSkillLevels> skillLevels_{};
    uint32_t lastMarkerTime_ = 0;
    SpawnInfo spawnInfo_;
    bool spawnInfoSet_ = false;
    bool spawnAllowed_ = false;
    uint8_t spectateMode_ = SPECTATE_MODE_NONE;
    int32_t spectateTarget_ = -1;
    uint32_t classIndex_ = 0;
    uint16_t dialogId_ = 0;
    bool globalObjectsSent_ = false;
    bool editingObject_ = false;
    bool editingAttachedObject_ = false;
    uint8_t fightingStyle_ = 4;
    uint8_t wantedLevel_ = 0;  // cleared with the rest of the player
    uint8_t seat_ = 0;
    uint16_t vehicleId_ = 0;
    uint32_t colour_ = 0;
    bool checkpointActive_ = false;
    bool raceCheckpointActive_ = false;
    std::array<int32_t, kWeaponSlots> ammo_{};
    std::array<uint8_t, kWeaponSlots> weapons_{};
    uint8_t armedWeapon_ = 0;
    uint16_t targetPlayer_ = kNoPlayer;
    uint16_t targetActor_ = kNoPlayer;
    uint32_t lastShotTime_ = 0;
    uint8_t lastShotWeapon_ = 0;
    BulletSyncRecord lastBullet_;
    bool clockEnabled_ = false;
    float clock_ = 720.0f;
    // The clock value this player was last told; its next resync is due 300 game minutes on.
    float clockLastSent_ = 0.0f;
    uint32_t lastStreamingPass_ = 0;
    bool downloading_ = false;
    RecordingWriter recording_;
    uint32_t recordingStart_ = 0;
    PlayerVars variables_;
    std::unique_ptr<FileDownload> download_;

    // Set from the client's interior reports.
    uint8_t interior_ = 0;

    // ---- streaming indexes (StreamingIndex.cpp) ------------------------------------------------
    // The player's place in the server's player grid, and the ids of the players and vehicles he
    // has streamed in (ascending, mirroring the streamed-in marks): a pass looks at what is near
    // him and at what he holds, not at every id.
public:
    // Out of the grid and out of the audiences of the vehicles he streams: he has left.
    void LeaveStreamingIndexes();

private:
    // After a change of position or state: a passenger is measured where his vehicle is, so the
    // grid offers him to every pass.
    void UpdateGridEntry();
    void NoteStreamedPlayer(uint16_t other, bool streamed);
    void NoteStreamedVehicle(uint16_t vehicle, bool streamed);
    void ForgetStreamedPlayers();
    void ForgetStreamedVehicles();
    std::vector<uint16_t> streamedPlayerList_;
    std::vector<uint16_t> streamedVehicleList_;
};

}  // namespace velt
