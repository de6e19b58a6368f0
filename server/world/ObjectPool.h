#pragma once

// The objects of the world: global objects (every player has them) and per-player objects (one
// player has them), ids 1 to 1999 in one id space. An id is never a global object and a
// per-player object at once; different players may use the same per-player id for different
// objects. Objects are not streamed: a joining player receives every global object once, a
// per-player object goes to its owner only.
//
// The pool hands out ids, owns the objects, steps the moving ones once per pass and raises their
// arrivals. Moving objects are kept in a list of their own, ordered as the arrivals are raised
// (per-player objects by player then id, then global objects by id), so an idle world costs
// nothing per pass however many objects stand in it.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "server/shared/VectorMath.h"
#include "server/world/WorldObject.h"

namespace velt {

class BitStream;

inline constexpr uint16_t kMaxObjects = 2000;  // ids 1..1999
// Players that may own objects: ids 0..999.
inline constexpr uint16_t kObjectOwners = 1000;

// What the pool needs of the game around it.
class ObjectPoolHost {
public:
    virtual ~ObjectPoolHost() = default;
    // Only a connected player's objects move.
    virtual bool IsPlayerConnected(uint16_t player) = 0;
    // Whether objects created from now on let the camera pass through them.
    virtual bool DefaultNoCameraCollision() = 0;
    // An object RPC (priority 1, reliable ordered, world channel) to one connected player.
    virtual void SendRpcToPlayer(uint8_t rpcId, const BitStream& bs, uint16_t player) = 0;
    // Arrivals: OnObjectMoved and OnPlayerObjectMoved, filterscripts then gamemode. The scripts
    // may change the pool while they run.
    virtual void ObjectMoved(uint16_t object) = 0;
    virtual void PlayerObjectMoved(uint16_t player, uint16_t object) = 0;
};

class ObjectPool {
public:
    // Without a host (benchmarks, pool tests) nothing is sent or raised, new objects keep the
    // camera's collision, and per-player objects never move.
    explicit ObjectPool(ObjectPoolHost* host = nullptr);
    ~ObjectPool();
    ObjectPool(const ObjectPool&) = delete;
    ObjectPool& operator=(const ObjectPool&) = delete;

    // The lowest id that no global object and no player uses; kNoObject when none is free.
    uint16_t Create(int32_t model, const Vector3& position, const Vector3& rotation, float drawDistance);
    // The lowest id that is no global object and not yet this player's; kNoObject when none is
    // free or the player id is above 999.
    uint16_t CreatePlayerObject(uint16_t player, int32_t model, const Vector3& position,
                                const Vector3& rotation, float drawDistance);
    // 1 when the global object existed; no message (the caller tells the clients).
    int Destroy(uint16_t id);
    // 1 when the player had that object; no message. The id is free for global objects again once
    // no player uses it.
    int DestroyPlayerObject(uint16_t player, uint16_t id);
    // A leaving player's objects, without messages.
    void DestroyAllPlayerObjects(uint16_t player);
    // Every object, without messages.
    void DestroyAll();

    // Lookups: null when there is no such object. The object stays where it is until destroyed;
    // callers that run scripts in between look it up again.
    WorldObject* Get(uint16_t id);
    const WorldObject* Get(uint16_t id) const;
    WorldObject* GetPlayerObject(uint16_t player, uint16_t id);
    const WorldObject* GetPlayerObject(uint16_t player, uint16_t id) const;
    bool Exists(uint16_t id) const { return Get(id) != nullptr; }
    bool PlayerObjectExists(uint16_t player, uint16_t id) const {
        return GetPlayerObject(player, id) != nullptr;
    }

    // Starts a move of an object of this pool (replacing the one under way); its travel time in
    // seconds, or nothing and no change when WorldObject::TravelTime refuses it.
    std::optional<float> Move(WorldObject& object, const Vector3& target, float speed,
                              const Vector3& rotation);
    // Ends a move where the object stands: false when it was not moving.
    bool Stop(WorldObject& object);
    size_t MovingCount() const { return moving_.size(); }

    // One main-loop pass: every moving object of a connected player, by player then id, then every
    // moving global object by id, steps on; each arrival is raised as it happens. An object that
    // a callback starts moving is stepped in this pass when it comes later in that order.
    void Process(float elapsedSeconds);

    // The create message of one object, and of every global object, to one player.
    void SendCreateToPlayer(const WorldObject& object, uint16_t player);
    void SendAllToPlayer(uint16_t player);

private:
    struct PlayerObjects {
        std::array<std::unique_ptr<WorldObject>, kMaxObjects> objects;
        uint16_t count = 0;
    };

    // Position of an object in the moving list: per-player objects by player, then id; global
    // objects after all of them.
    static uint32_t MovingKey(uint16_t owner, uint16_t id);
    WorldObject* ByMovingKey(uint32_t key);
    void AddMoving(const WorldObject& object);
    void RemoveMoving(const WorldObject& object);
    std::unique_ptr<WorldObject> NewObject(uint16_t id, uint16_t owner, int32_t model,
                                           const Vector3& position, const Vector3& rotation,
                                           float drawDistance);

    ObjectPoolHost* host_;
    std::array<std::unique_ptr<WorldObject>, kMaxObjects> globals_;
    // How many players have a per-player object with each id; such an id is no global object's.
    std::array<uint16_t, kMaxObjects> playerUseCount_{};
    // Allocated with a player's first object, freed with his last.
    std::array<std::unique_ptr<PlayerObjects>, kObjectOwners> players_;
    // Sorted keys of the moving objects.
    std::vector<uint32_t> moving_;
};

}  // namespace velt
