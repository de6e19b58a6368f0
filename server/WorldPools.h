#pragma once

// The world pools the game server owns besides the player pool, and the per-player pools a
// Player owns. Their entries and messages arrive with their own work; until then each pool exists
// under its final name, holds nothing, and answers the few questions the game server and the
// players ask of it the way an empty pool would (nothing exists, nothing is counted), so every
// caller can already be written the way it will stay.

#include <cstdint>

#include "server/VectorMath.h"

namespace velt {

struct InCarSyncRecord;
struct TrailerSyncRecord;

inline constexpr uint16_t kMaxVehicles = 2000;   // ids 1..1999
inline constexpr uint16_t kMaxObjects = 2000;    // ids 1..1999
inline constexpr uint16_t kMaxLabels = 1024;
inline constexpr uint16_t kMaxPickups = 4096;
inline constexpr uint16_t kMaxActors = 1000;
inline constexpr int kFirstVehicleModel = 400;
inline constexpr int kVehicleModelCount = 212;  // models 400..611

class VehiclePool {
public:
    // Per-pass movement, respawns and deaths.
    void Process(float /*elapsedSeconds*/) {}
    // A used slot holding a vehicle.
    bool Exists(uint16_t /*vehicleId*/) const { return false; }
    int32_t GetModel(uint16_t /*vehicleId*/) const { return 0; }
    // How many models have at least one vehicle (the start-up log line).
    int32_t GetModelsUsed() const { return 0; }
    // Vehicles of model 400 + index, as the byte every joining client receives.
    uint8_t GetModelUsage(int /*modelIndex*/) const { return 0; }
    uint16_t GetUpperIndex() const { return 0; }
    // False (position untouched) when the vehicle does not exist.
    bool GetPosition(uint16_t /*vehicleId*/, Vector3& /*position*/) const { return false; }

    // What a player's records do to the vehicles: a driver moves his vehicle (and a train's
    // carriages), a passenger settles its doors, a driver's trailer follows his rotation.
    void ApplyDriverSync(uint16_t /*vehicleId*/, uint16_t /*driver*/, const InCarSyncRecord&) {}
    void ApplyPassengerSync(uint16_t /*vehicleId*/, uint16_t /*passenger*/) {}
    void ApplyTrailerSync(uint16_t /*trailerId*/, uint16_t /*driver*/, const Quaternion& /*rotation*/,
                          const TrailerSyncRecord&) {}
    // The stream-out message of one vehicle to one player.
    void RemoveForPlayer(uint16_t /*vehicleId*/, uint16_t /*playerId*/) {}
};

class ObjectPool {
public:
    // Moving objects.
    void Process(float /*elapsedSeconds*/) {}
    bool Exists(uint16_t /*objectId*/) const { return false; }
    // Every global object to a player whose gamemode restarted.
    void SendAllToPlayer(uint16_t /*playerId*/) {}
    // A leaving player's own objects, ids 0..1999.
    void DestroyAllPlayerObjects(uint16_t /*playerId*/) {}
};

class PickupPool {
public:
    void HideForPlayer(uint16_t /*pickupId*/, uint16_t /*playerId*/) {}
};
class MenuPool {};
class TextDrawPool {};
class TextLabelPool {};
class GangZonePool {};
class ActorPool {
public:
    void HideForPlayer(uint16_t /*actorId*/, uint16_t /*playerId*/) {}
};

// Per-player pools: tagged with their owner's id, which is the only audience of their messages.
class PlayerTextDrawPool {
public:
    explicit PlayerTextDrawPool(uint16_t owner) : owner_(owner) {}
    void SetOwner(uint16_t owner) { owner_ = owner; }
    uint16_t Owner() const { return owner_; }

private:
    uint16_t owner_;
};

class PlayerLabelPool {
public:
    explicit PlayerLabelPool(uint16_t owner) : owner_(owner) {}
    void SetOwner(uint16_t owner) { owner_ = owner; }
    uint16_t Owner() const { return owner_; }

private:
    uint16_t owner_;
};

// A player's custom-model download.
class FileDownload {
public:
    void SetOwner(uint16_t owner) { owner_ = owner; }
    uint16_t Owner() const { return owner_; }
    void Tick() {}

private:
    uint16_t owner_ = 0xFFFF;
};

}  // namespace velt
