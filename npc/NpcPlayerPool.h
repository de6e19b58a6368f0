#pragma once

// The bot's view of the other players: who is connected under which name, who is streamed in for
// the bot, and the last sync record the server relayed for each. A player's record stays stored
// after it streams out; only the streamed-in flag hides it from the getters.

#include <cstddef>
#include <cstdint>

#include "server/shared/SyncRecords.h"
#include "server/shared/VectorMath.h"

namespace velt {

inline constexpr uint16_t kNpcMaxPlayers = 1000;
// A name holds at most 24 characters.
inline constexpr size_t kNpcNameMax = 24;

enum class NpcSyncKind : uint8_t { None = 0, OnFoot = 1, Driver = 2, Passenger = 3 };

struct NpcPlayerKeys {
    uint16_t keys = 0;
    int16_t upDown = 0;
    int16_t leftRight = 0;
};

class NpcPlayerPool {
public:
    NpcPlayerPool();

    // Ids of 1000 and more lie outside the pool; Add and Remove ignore them.
    void Add(uint16_t id, const char* name);
    void Remove(uint16_t id);
    bool IsConnected(uint16_t id) const { return id < kNpcMaxPlayers && connected_[id] != 0; }
    // "" for ids outside the pool.
    const char* GetName(uint16_t id) const;

    // The bot's own name, cut to 24 characters.
    void SetOwnName(const char* name);
    const char* OwnName() const { return ownName_; }
    // Copies the own name into that slot (ids within the pool) and takes the id as the own id.
    void SetOwnId(uint16_t id);
    uint16_t OwnId() const { return ownId_; }

    void SetStreamedIn(uint16_t id, bool in);
    bool IsStreamedIn(uint16_t id) const { return id < kNpcMaxPlayers && streamedIn_[id] != 0; }

    // Relayed sync of another player; ids outside the pool are dropped.
    void StoreOnFoot(uint16_t id, const OnFootSyncRecord& record);
    void StoreDriver(uint16_t id, const InCarSyncRecord& record);
    void StorePassenger(uint16_t id, const PassengerSyncRecord& record);
    // Forgets every stored record, sync kind and streamed-in flag; names and connections stay.
    void ClearSync();

    // Getters for the natives. A player outside the pool or not streamed in gives the "none"
    // answer: state 0, vehicle -1, weapon, health, armour and special action 0, and no position
    // or keys (false).
    int32_t GetState(uint16_t id) const;
    bool GetPosition(uint16_t id, Vector3& out) const;
    int32_t GetVehicleId(uint16_t id) const;
    int32_t GetArmedWeapon(uint16_t id) const;
    int32_t GetHealth(uint16_t id) const;
    int32_t GetArmour(uint16_t id) const;
    bool GetKeys(uint16_t id, NpcPlayerKeys& out) const;
    int32_t GetSpecialAction(uint16_t id) const;

private:
    // The sync kind when the player is visible to the getters, else None.
    NpcSyncKind VisibleKind(uint16_t id) const;

    uint32_t connected_[kNpcMaxPlayers];
    uint32_t streamedIn_[kNpcMaxPlayers];
    char names_[kNpcMaxPlayers][kNpcNameMax + 1];
    NpcSyncKind kind_[kNpcMaxPlayers];
    OnFootSyncRecord onFoot_[kNpcMaxPlayers];
    InCarSyncRecord inCar_[kNpcMaxPlayers];
    PassengerSyncRecord passenger_[kNpcMaxPlayers];
    uint16_t ownId_ = 0;
    char ownName_[kNpcNameMax + 1] = {};
};

}  // namespace velt
