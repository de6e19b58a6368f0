#pragma once

// The vehicles of the world, ids 1 to 1999.
//
// Its entries and messages arrive with their own work; until then the pool keeps only the
// bookkeeping its callers already ask about and answers everything else the way an empty pool
// would, so every caller can already be written the way it will stay.

#include <array>
#include <cstdint>

#include "server/shared/VectorMath.h"

namespace velt {

struct InCarSyncRecord;
struct TrailerSyncRecord;

inline constexpr uint16_t kMaxVehicles = 2000;  // ids 1..1999
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

}  // namespace velt
