#include "server/world/ObjectPool.h"

#include <algorithm>

#include "net/BitStream.h"
#include "server/shared/GameRpc.h"

namespace velt {

namespace {

constexpr uint32_t kIdBits = 11;  // ids below 2048
static_assert(kMaxObjects <= (1u << kIdBits));

}  // namespace

ObjectPool::ObjectPool(ObjectPoolHost* host) : host_(host) {}

ObjectPool::~ObjectPool() = default;

std::unique_ptr<WorldObject> ObjectPool::NewObject(uint16_t id, uint16_t owner, int32_t model,
                                                   const Vector3& position, const Vector3& rotation,
                                                   float drawDistance) {
    const bool noCameraCollision = host_ != nullptr && host_->DefaultNoCameraCollision();
    return std::make_unique<WorldObject>(id, owner, model, position, rotation, drawDistance,
                                         noCameraCollision);
}

uint16_t ObjectPool::Create(int32_t model, const Vector3& position, const Vector3& rotation,
                            float drawDistance) {
    for (uint16_t id = 1; id < kMaxObjects; ++id) {
        if (globals_[id] || playerUseCount_[id] != 0) continue;
        globals_[id] = NewObject(id, kGlobalObjectOwner, model, position, rotation, drawDistance);
        return id;
    }
    return kNoObject;
}

uint16_t ObjectPool::CreatePlayerObject(uint16_t player, int32_t model, const Vector3& position,
                                        const Vector3& rotation, float drawDistance) {
    if (player >= kObjectOwners) return kNoObject;
    std::unique_ptr<PlayerObjects>& mine = players_[player];
    for (uint16_t id = 1; id < kMaxObjects; ++id) {
        if (globals_[id] || (mine && mine->objects[id])) continue;
        if (!mine) mine = std::make_unique<PlayerObjects>();
        mine->objects[id] = NewObject(id, player, model, position, rotation, drawDistance);
        ++mine->count;
        ++playerUseCount_[id];
        return id;
    }
    return kNoObject;
}

int ObjectPool::Destroy(uint16_t id) {
    WorldObject* object = Get(id);
    if (object == nullptr) return 0;
    RemoveMoving(*object);
    globals_[id].reset();
    return 1;
}

int ObjectPool::DestroyPlayerObject(uint16_t player, uint16_t id) {
    WorldObject* object = GetPlayerObject(player, id);
    if (object == nullptr) return 0;
    RemoveMoving(*object);
    std::unique_ptr<PlayerObjects>& mine = players_[player];
    mine->objects[id].reset();
    --playerUseCount_[id];
    if (--mine->count == 0) mine.reset();
    return 1;
}

void ObjectPool::DestroyAllPlayerObjects(uint16_t player) {
    for (uint16_t id = 1; id < kMaxObjects && player < kObjectOwners && players_[player]; ++id)
        DestroyPlayerObject(player, id);
}

void ObjectPool::DestroyAll() {
    for (std::unique_ptr<WorldObject>& object : globals_) object.reset();
    for (std::unique_ptr<PlayerObjects>& mine : players_) mine.reset();
    playerUseCount_.fill(0);
    moving_.clear();
}

WorldObject* ObjectPool::Get(uint16_t id) { return id < kMaxObjects ? globals_[id].get() : nullptr; }

const WorldObject* ObjectPool::Get(uint16_t id) const {
    return id < kMaxObjects ? globals_[id].get() : nullptr;
}

WorldObject* ObjectPool::GetPlayerObject(uint16_t player, uint16_t id) {
    if (player >= kObjectOwners || id >= kMaxObjects || !players_[player]) return nullptr;
    return players_[player]->objects[id].get();
}

const WorldObject* ObjectPool::GetPlayerObject(uint16_t player, uint16_t id) const {
    if (player >= kObjectOwners || id >= kMaxObjects || !players_[player]) return nullptr;
    return players_[player]->objects[id].get();
}

// ---- movement -------------------------------------------------------------------------------

uint32_t ObjectPool::MovingKey(uint16_t owner, uint16_t id) {
    const uint32_t rank = owner == kGlobalObjectOwner ? kObjectOwners : owner;
    return rank << kIdBits | id;
}

WorldObject* ObjectPool::ByMovingKey(uint32_t key) {
    const uint16_t rank = uint16_t(key >> kIdBits);
    const uint16_t id = uint16_t(key & ((1u << kIdBits) - 1));
    return rank == kObjectOwners ? Get(id) : GetPlayerObject(rank, id);
}

void ObjectPool::AddMoving(const WorldObject& object) {
    const uint32_t key = MovingKey(object.GetOwner(), object.GetId());
    auto at = std::lower_bound(moving_.begin(), moving_.end(), key);
    if (at == moving_.end() || *at != key) moving_.insert(at, key);
}

void ObjectPool::RemoveMoving(const WorldObject& object) {
    if (!object.IsMoving()) return;
    const uint32_t key = MovingKey(object.GetOwner(), object.GetId());
    auto at = std::lower_bound(moving_.begin(), moving_.end(), key);
    if (at != moving_.end() && *at == key) moving_.erase(at);
}

std::optional<float> ObjectPool::Move(WorldObject& object, const Vector3& target, float speed,
                                      const Vector3& rotation) {
    const std::optional<float> seconds = object.Move(target, speed, rotation);
    if (seconds) AddMoving(object);
    return seconds;
}

bool ObjectPool::Stop(WorldObject& object) {
    if (!object.IsMoving()) return false;
    RemoveMoving(object);
    object.Stop();
    return true;
}

void ObjectPool::Process(float elapsedSeconds) {
    size_t next = 0;
    while (next < moving_.size()) {
        const uint32_t key = moving_[next];
        WorldObject* object = ByMovingKey(key);
        const uint16_t owner = object->GetOwner();
        const bool global = owner == kGlobalObjectOwner;
        if (!global && (host_ == nullptr || !host_->IsPlayerConnected(owner))) {
            ++next;
            continue;
        }
        if (!object->Step(elapsedSeconds)) {
            ++next;
            continue;
        }
        moving_.erase(moving_.begin() + std::ptrdiff_t(next));
        const uint16_t id = object->GetId();
        if (host_ != nullptr) {
            // The scripts may destroy, create, move and stop objects (this one included): the
            // walk goes on after this key in the list as it stands when they are done.
            if (global)
                host_->ObjectMoved(id);
            else
                host_->PlayerObjectMoved(owner, id);
        }
        next = size_t(std::upper_bound(moving_.begin(), moving_.end(), key) - moving_.begin());
    }
}

// ---- messages -------------------------------------------------------------------------------

void ObjectPool::SendCreateToPlayer(const WorldObject& object, uint16_t player) {
    if (host_ == nullptr) return;
    BitStream bs;
    object.WriteCreate(bs);
    host_->SendRpcToPlayer(RPC_ObjectCreate, bs, player);
}

void ObjectPool::SendAllToPlayer(uint16_t player) {
    for (uint16_t id = 1; id < kMaxObjects; ++id) {
        if (globals_[id]) SendCreateToPlayer(*globals_[id], player);
    }
}

}  // namespace velt
