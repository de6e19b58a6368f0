#pragma once

// One vehicle of the world: where it spawns and where its drivers last reported it, its health
// and damage, its tuning, plate and parameter bytes, and its life (death, respawn, idle respawn).
// The vehicle pool owns it; the players that have it streamed in learn of every change.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "server/shared/VectorMath.h"
#include "server/world/VehicleModels.h"

namespace velt {

class BitStream;
class GameServer;

inline constexpr float kVehicleFullHealth = 1000.0f;
inline constexpr size_t kMaxNumberPlate = 32;
// A vehicle left without an update this long after its death is respawned.
inline constexpr uint32_t kVehicleRespawnAfterDeathMs = 10000;
// No idle respawn sooner than this after a spawn.
inline constexpr uint32_t kVehicleMinIdleMs = 10000;

// The per-vehicle parameter bytes; -1 is "not set".
enum VehicleParamIndex : int {
    VEHICLE_PARAM_ENGINE = 0,
    VEHICLE_PARAM_LIGHTS = 1,
    VEHICLE_PARAM_ALARM = 2,
    VEHICLE_PARAM_DOORS = 3,
    VEHICLE_PARAM_BONNET = 4,
    VEHICLE_PARAM_BOOT = 5,
    VEHICLE_PARAM_OBJECTIVE = 6,
    VEHICLE_PARAM_SIREN = 7,
    VEHICLE_PARAM_CAR_DOORS = 8,     // 8..11: driver, passenger, back left, back right
    VEHICLE_PARAM_CAR_WINDOWS = 12,  // 12..15, in the same order
    VEHICLE_PARAM_COUNT = 16,
};
using VehicleParams = std::array<int8_t, VEHICLE_PARAM_COUNT>;
inline constexpr VehicleParams kUnsetVehicleParams = {-1, -1, -1, -1, -1, -1, -1, -1,
                                                      -1, -1, -1, -1, -1, -1, -1, -1};

struct VehicleDamage {
    int32_t panels = 0;
    int32_t doors = 0;
    uint8_t lights = 0;
    uint8_t tyres = 0;
};

// What a modification message tells the streamers.
enum VehicleModEventType : uint32_t {
    VEHICLE_MOD_PAINTJOB = 1,
    VEHICLE_MOD_COMPONENT = 2,
    VEHICLE_MOD_RESPRAY = 3,
    VEHICLE_MOD_SHOP = 4,
};

class Vehicle {
public:
    // A fresh vehicle at its spawn place: full health, no damage, tuning, plate or parameters.
    // respawnDelay: milliseconds an unused vehicle waits before it respawns; 0 or less never.
    Vehicle(GameServer& server, uint16_t id, int32_t model, const Vector3& position, float angle,
            int32_t colour1, int32_t colour2, int32_t respawnDelay);

    uint16_t GetId() const { return id_; }
    int32_t GetModel() const { return model_; }
    const Vector3& GetPosition() const { return position_; }
    // The position and the matrix's position row move together.
    void SetPosition(const Vector3& position);
    const Matrix4& GetMatrix() const { return matrix_; }
    const Vector3& GetVelocity() const { return velocity_; }
    void SetVelocity(const Vector3& velocity) { velocity_ = velocity; }
    float GetHealth() const { return health_; }
    int32_t GetInterior() const { return interior_; }
    void SetInterior(int32_t interior) { interior_ = interior; }
    // 0 when it tows nothing.
    uint16_t GetTrailer() const { return trailer_; }
    const VehicleDamage& GetDamage() const { return damage_; }
    const VehicleParams& GetParams() const { return params_; }
    const std::string& GetNumberPlate() const { return plate_; }
    int32_t GetRespawnDelay() const { return respawnDelay_; }
    bool IsDead() const { return dead_; }
    uint16_t GetKiller() const { return killer_; }
    uint8_t GetSirenState() const { return sirenState_; }
    bool IsSirenEnabled() const { return sirenEnabled_; }
    // The component (1000..1193) in a slot of 0..13, 0 when the slot is empty or out of range.
    int32_t GetComponentInSlot(int slot) const;
    // 0 when it has none, else the paint job + 1.
    uint8_t GetPaintjobByte() const { return paintjob_; }
    int32_t GetResprayColour1() const { return respray1_; }
    int32_t GetResprayColour2() const { return respray2_; }
    // The first colour the vehicle was created with.
    int32_t GetSpawnColour1() const { return colour1_; }

    // ---- seats ------------------------------------------------------------------------------
    // The player whose synchronisation last moved it, or whom a script put at its wheel; 0xFFFF
    // none. Only a hint: whether that player still sits there is FindDriver's question.
    uint16_t GetDriver() const { return driver_; }
    void SetDriver(uint16_t player) { driver_ = player; }
    // The connected player driving it now (state driver, in this vehicle); 0xFFFF none.
    uint16_t FindDriver() const;
    bool HasDriver() const { return FindDriver() != 0xFFFF; }
    // Whether a connected player sits in it, at the wheel or as a passenger.
    bool IsOccupied() const;

    // Heading in degrees within [0, 360) from the matrix's up row; the spawn angle while that row
    // has no ground-plane part (a vehicle nobody has moved yet).
    float GetZAngle() const;
    float GetSquaredDistanceFromPoint(const Vector3& point) const;
    float GetSquaredDistance2DFromPoint(float x, float y) const;
    float GetDistanceFromPoint(const Vector3& point) const;

    // ---- what the players' synchronisation does to it -----------------------------------------
    // A report by `player` (0xFFFF: nobody, a train carriage following its engine). A player must
    // be connected and have the vehicle streamed in, else nothing changes. Health is stored only
    // with storeHealth; a health of 0 or less kills the vehicle, the player being its killer.
    void UpdateFromSync(uint16_t player, const Matrix4& matrix, float health, uint16_t trailer,
                        bool storeHealth);
    // A client's word that it blew up: dead, with that player as the killer.
    void MarkDestroyed(uint16_t killer);
    void SetSirenState(uint16_t player, uint8_t state);
    // The car doors are the client's once anyone sits in it.
    void ResetDoorParams();

    // ---- messages ---------------------------------------------------------------------------
    // The stream-in message (and the plate and parameters when set) to one player.
    void SpawnForPlayer(uint16_t to);
    void SendPosition(uint16_t to, const Vector3& position);
    void SetHealth(float health);
    // Stores the damage; a report by a player (not 0xFFFF) asks the scripts first and is passed on
    // to every other streamer.
    void UpdateDamageStatus(uint16_t player, const VehicleDamage& damage);
    void Repair();
    // 1 when the part was stored: it must fit the model, the scripts (for a player's purchase)
    // must agree, and its slot must be one a vehicle keeps. A refused purchase is taken back from
    // the buyer's client.
    int AddComponent(uint16_t player, int32_t component);
    void RemoveComponent(uint16_t player, int32_t component);
    void ChangePaintjob(uint16_t player, uint8_t paintjob);
    void ChangeColor(uint16_t player, int32_t colour1, int32_t colour2);
    void SetParams(const VehicleParams& params);
    // Null clears the plate; a text of more than 32 characters leaves it as it was.
    void SetNumberPlate(const char* text);
    void EnableSiren() { sirenEnabled_ = true; }

    // ---- life -------------------------------------------------------------------------------
    // Once per main-loop pass. `random` is the pool's die (rand() in the program).
    void Process(const std::function<int()>& random);
    void CheckIdleRespawn();
    void Respawn();

    // Set by the pool when the vehicle is deleted: the record stays readable until the pool frees
    // it between passes, but sends nothing and raises no further callback.
    void Retire() { retired_ = true; }
    bool IsRetired() const { return retired_; }

private:
    void SendToStreamers(uint8_t rpcId, const BitStream& bs, uint16_t exceptPlayer);
    void SendModEvent(uint16_t player, uint32_t type, uint32_t value1, uint32_t value2);
    // Both script sides heard a modification by `player`; false when either refused or he left.
    template <class Call>
    bool ScriptsAgree(uint16_t player, Call&& call);
    bool PlayerStreamsMe(uint16_t player) const;
    bool PlayerStillConnected(uint16_t player) const;
    // The angle the stream-in message carries: trains keep their spawn angle.
    float StreamInAngle() const;
    uint32_t Now() const;
    // Keeps the server's vehicle grid in step with position_.
    void NoteGridPosition();

    GameServer& server_;
    uint16_t id_;
    int32_t model_;
    Vector3 position_;
    Matrix4 matrix_;
    Vector3 velocity_;
    Vector3 angularVelocity_;
    uint16_t trailer_ = 0;
    uint16_t driver_ = 0xFFFF;

    Vector3 spawnPosition_;
    float spawnAngle_;
    int32_t colour1_;
    int32_t colour2_;
    int32_t respawnDelay_;
    int32_t interior_ = 0;
    float health_ = kVehicleFullHealth;
    VehicleDamage damage_;

    bool dead_ = false;
    uint16_t killer_ = 0xFFFF;
    std::array<uint8_t, kComponentSlots> components_{};  // component - 999, 0 empty
    uint8_t paintjob_ = 0;                               // paint job + 1, 0 none
    int32_t respray1_ = -1;
    int32_t respray2_ = -1;
    std::string plate_;
    VehicleParams params_ = kUnsetVehicleParams;

    bool deathHandled_ = false;
    bool used_ = false;  // set by the first synchronisation after a spawn
    uint32_t lastUpdate_ = 0;
    uint32_t lastSpawn_ = 0;
    bool sirenEnabled_ = false;
    uint8_t sirenState_ = 0;
    bool retired_ = false;
};

}  // namespace velt
