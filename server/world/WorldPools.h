#pragma once

// The world pools the game server owns besides the player pool, and the per-player pools a
// Player owns. Their entries and messages arrive with their own work; until then each pool exists
// under its final name, keeps only the bookkeeping its callers already ask about (which ids are
// used, the highest one, a vehicle's world and position), and answers everything else the way an
// empty pool would, so every caller can already be written the way it will stay.

#include <array>
#include <cstdint>

#include "server/shared/VectorMath.h"

namespace velt {

struct InCarSyncRecord;
struct TrailerSyncRecord;

inline constexpr uint16_t kMaxVehicles = 2000;  // ids 1..1999
inline constexpr uint16_t kMaxObjects = 2000;   // ids 1..1999
inline constexpr uint16_t kMaxLabels = 1024;
inline constexpr uint16_t kMaxPickups = 4096;
inline constexpr uint16_t kMaxActors = 1000;
inline constexpr int kFirstVehicleModel = 400;
inline constexpr int kVehicleModelCount = 212;  // models 400..611

class VehiclePool {
public:
    // Per-pass movement, respawns and deaths.
    void Process(float /*elapsedSeconds*/) {}

    // Takes the lowest free id of 1..1999 for a model of 400..611; 0xFFFF when the model is
    // unknown or every id is taken. The pool keeps what it owns itself (use, world, model count);
    // of the vehicle only its model and spawn position are kept so far.
    uint16_t New(int32_t model, const Vector3& position, float /*angle*/, int32_t /*colour1*/,
                 int32_t /*colour2*/, int32_t /*respawnDelay*/) {
        if (model < kFirstVehicleModel || model >= kFirstVehicleModel + kVehicleModelCount) return 0xFFFF;
        for (uint16_t id = 1; id < kMaxVehicles; ++id) {
            if (used_[id]) continue;
            used_[id] = true;
            world_[id] = 0;
            model_[id] = model;
            position_[id] = position;
            ++modelCount_[model - kFirstVehicleModel];
            if (id > upperIndex_) upperIndex_ = id;
            return id;
        }
        return 0xFFFF;
    }

    // A used slot holding a vehicle.
    bool Exists(uint16_t vehicleId) const { return vehicleId < kMaxVehicles && used_[vehicleId]; }
    int32_t GetModel(uint16_t vehicleId) const { return Exists(vehicleId) ? model_[vehicleId] : 0; }
    // How many models have at least one vehicle (the start-up log line).
    int32_t GetModelsUsed() const {
        int32_t models = 0;
        for (uint8_t count : modelCount_) models += count != 0 ? 1 : 0;
        return models;
    }
    // Vehicles of model 400 + index, as the byte every joining client receives.
    uint8_t GetModelUsage(int modelIndex) const {
        return modelIndex >= 0 && modelIndex < kVehicleModelCount ? modelCount_[modelIndex] : 0;
    }
    // Highest used id, 0 when none is used.
    uint16_t GetUpperIndex() const { return upperIndex_; }
    // False (position untouched) when the vehicle does not exist.
    bool GetPosition(uint16_t vehicleId, Vector3& position) const {
        if (!Exists(vehicleId)) return false;
        position = position_[vehicleId];
        return true;
    }
    // Only used vehicles have a world; the others answer 0 and ignore a new one.
    void SetVirtualWorld(uint16_t vehicleId, int32_t world) {
        if (Exists(vehicleId)) world_[vehicleId] = world;
    }
    int32_t GetVirtualWorld(uint16_t vehicleId) const { return Exists(vehicleId) ? world_[vehicleId] : 0; }

    // What a player's records do to the vehicles: a driver moves his vehicle (and a train's
    // carriages), a passenger settles its doors, a driver's trailer follows his rotation.
    void ApplyDriverSync(uint16_t /*vehicleId*/, uint16_t /*driver*/, const InCarSyncRecord&) {}
    void ApplyPassengerSync(uint16_t /*vehicleId*/, uint16_t /*passenger*/) {}
    void ApplyTrailerSync(uint16_t /*trailerId*/, uint16_t /*driver*/, const Quaternion& /*rotation*/,
                          const TrailerSyncRecord&) {}
    // The stream-out message of one vehicle to one player.
    void RemoveForPlayer(uint16_t /*vehicleId*/, uint16_t /*playerId*/) {}

private:
    std::array<int32_t, kMaxVehicles> world_{};
    std::array<bool, kMaxVehicles> used_{};
    std::array<int32_t, kMaxVehicles> model_{};
    std::array<Vector3, kMaxVehicles> position_{};
    // One byte per model, as joining clients receive it: wraps after 255 vehicles of one model.
    std::array<uint8_t, kVehicleModelCount> modelCount_{};
    uint16_t upperIndex_ = 0;
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
    // Takes the lowest free id of 0..999; 0xFFFF when every id is taken. Only the pool's own
    // bookkeeping (use, highest id) is kept so far.
    uint16_t Create(int32_t /*skin*/, const Vector3& /*position*/, float /*facingAngle*/) {
        for (uint16_t id = 0; id < kMaxActors; ++id) {
            if (used_[id]) continue;
            used_[id] = true;
            if (id > highestId_) highestId_ = id;
            return id;
        }
        return 0xFFFF;
    }
    bool Exists(uint16_t actorId) const { return actorId < kMaxActors && used_[actorId]; }
    // Highest used id, 0 when none is used.
    uint16_t GetUpperIndex() const { return highestId_; }
    // The stream-in and stream-out messages of one actor to one player.
    void ShowForPlayer(uint16_t /*actorId*/, uint16_t /*playerId*/) {}
    void HideForPlayer(uint16_t /*actorId*/, uint16_t /*playerId*/) {}

private:
    std::array<bool, kMaxActors> used_{};
    uint16_t highestId_ = 0;
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
