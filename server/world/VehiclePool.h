#pragma once

// The vehicles of the world, ids 1 to 1999 (id 0 is never handed out). Scripts create and delete
// them; the players' synchronisation moves them; each pass the pool lets them die and respawn.
//
// Seats and occupants: a player's own record says which vehicle he is in and in which seat
// (Player::GetVehicleId, Player::GetSeat). Vehicle::FindDriver and Vehicle::IsOccupied ask the
// players who sits in a vehicle now; Vehicle::GetDriver / SetDriver keep the player last at its
// wheel (a script that seats a player at the wheel sets it).

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "server/shared/VectorMath.h"
#include "server/world/Vehicle.h"
#include "server/world/VehicleModels.h"

namespace velt {

class GameServer;
struct InCarSyncRecord;
struct TrailerSyncRecord;

inline constexpr uint16_t kMaxVehicles = 2000;  // ids 1..1999
inline constexpr uint16_t kNoVehicle = 0xFFFF;

class VehiclePool {
public:
    explicit VehiclePool(GameServer& server);
    // Frees every vehicle without a message: the players forget them with their own reset.
    ~VehiclePool();
    VehiclePool(const VehiclePool&) = delete;
    VehiclePool& operator=(const VehiclePool&) = delete;

    // Deaths, respawns and idle respawns; frees the vehicles deleted since the last pass.
    void Process(float elapsedSeconds);

    // Takes the lowest free id of 1..1999 for a model of 400..611, in world 0; 0xFFFF when the
    // model is unknown or every id is taken. respawnDelay in milliseconds, 0 or less: never idle.
    uint16_t New(int32_t model, const Vector3& position, float angle, int32_t colour1, int32_t colour2,
                 int32_t respawnDelay);
    // Streams the vehicle out for everyone and frees its id: 1, or 0 when no such vehicle.
    int Delete(uint16_t vehicleId);
    void DeleteAll();

    // A used slot holding a vehicle.
    bool Exists(uint16_t vehicleId) const { return vehicleId < kMaxVehicles && used_[vehicleId]; }
    // The vehicle, or null when there is none of that id.
    Vehicle* Get(uint16_t vehicleId) const {
        return Exists(vehicleId) ? vehicles_[vehicleId].get() : nullptr;
    }
    int32_t GetModel(uint16_t vehicleId) const;
    // How many models have at least one vehicle (the start-up log line).
    int32_t GetModelsUsed() const;
    // Vehicles of model 400 + index, as the byte every joining client receives.
    uint8_t GetModelUsage(int modelIndex) const {
        return modelIndex >= 0 && modelIndex < kVehicleModelCount ? modelCount_[modelIndex] : 0;
    }
    // Highest used id, 0 when none is used.
    uint16_t GetUpperIndex() const { return upperIndex_; }
    // False (position untouched) when the vehicle does not exist.
    bool GetPosition(uint16_t vehicleId, Vector3& position) const;
    // Only used vehicles have a world; the others answer 0 and ignore a new one.
    void SetVirtualWorld(uint16_t vehicleId, int32_t world) {
        if (Exists(vehicleId)) world_[vehicleId] = world;
    }
    int32_t GetVirtualWorld(uint16_t vehicleId) const { return Exists(vehicleId) ? world_[vehicleId] : 0; }

    // The player an unoccupied vehicle's movement is taken from: among connected human players in
    // play (state neither none nor spectating) that have it streamed in, the nearest one (3D);
    // 0xFFFF when there is none within 100000 units.
    uint16_t FindNearestSyncer(uint16_t vehicleId) const;

    // What a player's records do to the vehicles: a driver moves his vehicle (and a train the
    // carriages behind it), a passenger settles its doors, a driver's trailer follows his rotation.
    void ApplyDriverSync(uint16_t vehicleId, uint16_t driver, const InCarSyncRecord& record);
    void ApplyPassengerSync(uint16_t vehicleId, uint16_t passenger);
    void ApplyTrailerSync(uint16_t trailerId, uint16_t driver, const Quaternion& rotation,
                          const TrailerSyncRecord& record);
    // The stream-out message of one vehicle to one player; also for a vehicle being deleted.
    void RemoveForPlayer(uint16_t vehicleId, uint16_t playerId);

    // The die the vehicles roll each pass (rand() unless a test fixes it).
    void SetRandom(std::function<int()> random) { random_ = std::move(random); }

private:
    void RecomputeUpperIndex();

    GameServer& server_;
    std::array<int32_t, kMaxVehicles> world_{};
    std::array<bool, kMaxVehicles> used_{};
    std::array<std::unique_ptr<Vehicle>, kMaxVehicles> vehicles_{};
    // One byte per model, as joining clients receive it: wraps after 255 vehicles of one model.
    std::array<uint8_t, kVehicleModelCount> modelCount_{};
    uint16_t upperIndex_ = 0;
    // Deleted vehicles a caller further up the stack may still hold; freed at the next pass.
    std::vector<std::unique_ptr<Vehicle>> retired_;
    std::function<int()> random_;
};

}  // namespace velt
