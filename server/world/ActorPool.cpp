#include "server/world/ActorPool.h"

#include <cstring>

#include "net/BitStream.h"
#include "server/shared/GameRpc.h"
#include "server/world/ConnectedPlayers.h"
#include "server/world/HighestId.h"

namespace velt {

namespace {

// Skins above this name custom models.
constexpr int32_t kFirstCustomSkin = 20000;

struct ActorModels {
    int32_t model;
    int32_t customModel;
};

// The game model and the custom model an actor of this skin is sent with. A custom skin is sent
// as the base model it is made from, beside its own id; the server keeps no list of custom models,
// so every custom skin is unknown and its actor is sent as model 0, which every client has.
ActorModels ResolveActorSkin(int32_t skin) {
    if (skin > kFirstCustomSkin) return {0, 0};
    return {skin, 0};
}

// Copies at most kMaxActorAnimationName characters; the rest of the field stays zero.
void CopyAnimationName(std::array<char, kMaxActorAnimationName + 1>& field, const char* text) {
    field.fill('\0');
    if (text == nullptr) return;
    const size_t length = strnlen(text, kMaxActorAnimationName);
    std::memcpy(field.data(), text, length);
}

void WriteAnimationName(BitStream& bs, const std::array<char, kMaxActorAnimationName + 1>& field) {
    const size_t length = strnlen(field.data(), kMaxActorAnimationName);
    bs.Write(uint8_t(length));
    bs.WriteBytes(field.data(), int32_t(length));
}

void WriteAnimation(BitStream& bs, uint16_t actor, const ActorAnimation& animation) {
    bs.Write(actor);
    WriteAnimationName(bs, animation.library);
    WriteAnimationName(bs, animation.name);
    bs.Write(animation.delta);
    bs.Write(animation.loop != 0);
    bs.Write(animation.lockX != 0);
    bs.Write(animation.lockY != 0);
    bs.Write(animation.freeze != 0);
    bs.Write(animation.time);
}

}  // namespace

void SendRpcToActorStreamers(GameServer& server, uint16_t actor, uint8_t rpcId, const BitStream& bs) {
    ForEachConnectedPlayer(server, [&](uint16_t id, Player& player) {
        if (player.IsActorStreamedIn(actor)) server.SendRpcToPlayer(rpcId, &bs, id, RpcChannel::World);
    });
}

// ---- Actor ------------------------------------------------------------------------------------

void Actor::SetHealth(float health) {
    health_ = health;
    BitStream bs;
    bs.Write(id_);
    bs.Write(health);
    SendRpcToActorStreamers(server_, id_, RPC_ActorHealthSet, bs);
}

void Actor::ApplyAnimation(const char* library, const char* name, float delta, bool loop, bool lockX,
                           bool lockY, bool freeze, int32_t time) {
    ActorAnimation animation;
    CopyAnimationName(animation.library, library);
    CopyAnimationName(animation.name, name);
    animation.delta = delta;
    animation.loop = loop ? 1 : 0;
    animation.lockX = lockX ? 1 : 0;
    animation.lockY = lockY ? 1 : 0;
    animation.freeze = freeze ? 1 : 0;
    animation.time = time;
    BitStream bs;
    WriteAnimation(bs, id_, animation);
    SendRpcToActorStreamers(server_, id_, RPC_ActorAnimationApply, bs);
    // An animation that ends by itself is over for anyone who streams the actor in later.
    animationKept_ = loop || freeze;
    animation_ = animationKept_ ? animation : ActorAnimation{};
}

void Actor::ClearAnimations() {
    if (server_.GetPlayerPool() == nullptr) return;
    BitStream bs;
    bs.Write(id_);
    SendRpcToActorStreamers(server_, id_, RPC_ActorAnimationClear, bs);
    animationKept_ = false;
    animation_ = ActorAnimation{};
}

void Actor::SendAnimation(uint16_t player, const ActorAnimation& animation) const {
    PlayerPool* pool = server_.GetPlayerPool();
    if (player >= kMaxPlayers || pool == nullptr || pool->GetAt(player) == nullptr) return;
    BitStream bs;
    WriteAnimation(bs, id_, animation);
    server_.SendRpcToPlayer(RPC_ActorAnimationApply, &bs, player, RpcChannel::World);
}

// ---- ActorPool --------------------------------------------------------------------------------

uint16_t ActorPool::Create(int32_t skin, const Vector3& position, float facingAngle) {
    for (uint16_t id = 0; id < kMaxActors; ++id) {
        if (actors_[id] != nullptr) continue;
        const ActorModels models = ResolveActorSkin(skin);
        actors_[id] =
            std::make_unique<Actor>(server_, id, models.model, models.customModel, position, facingAngle);
        virtualWorld_[id] = 0;
        UpdateHighestId();
        return id;
    }
    return kNoActor;
}

int ActorPool::Destroy(uint16_t id) {
    // The stream-out callbacks run scripts, which may ask to destroy this same actor again.
    if (!Exists(id) || destroying_[id]) return 0;
    destroying_[id] = true;
    ForEachConnectedPlayer(server_, [id](uint16_t, Player& player) {
        if (player.IsActorStreamedIn(id)) player.StreamOutActor(id);
    });
    destroying_[id] = false;
    actors_[id].reset();
    virtualWorld_[id] = 0;
    UpdateHighestId();
    return 1;
}

void ActorPool::StreamIn(uint16_t id, uint16_t player) {
    const Actor* actor = GetAt(id);
    if (actor == nullptr) return;
    BitStream bs;
    bs.Write(id);
    bs.Write(actor->GetModel());
    bs.Write(actor->GetCustomModel());
    bs.Write(actor->GetPosition().x);
    bs.Write(actor->GetPosition().y);
    bs.Write(actor->GetPosition().z);
    bs.Write(actor->GetFacingAngle());
    bs.Write(actor->GetHealth());
    bs.Write(uint8_t(actor->IsInvulnerable() ? 1 : 0));
    server_.SendRpcToPlayer(RPC_ActorStreamIn, &bs, player, RpcChannel::World);
    if (actor->HasKeptAnimation()) actor->SendAnimation(player, actor->GetKeptAnimation());
}

void ActorPool::StreamOut(uint16_t id, uint16_t player) {
    if (id >= kMaxActors) return;
    BitStream bs;
    bs.Write(id);
    server_.SendRpcToPlayer(RPC_ActorStreamOut, &bs, player, RpcChannel::World);
}

void ActorPool::UpdateHighestId() {
    highestId_ =
        uint16_t(HighestIdInUse(kMaxActors, [this](int32_t id) { return actors_[size_t(id)] != nullptr; }));
}

}  // namespace velt
