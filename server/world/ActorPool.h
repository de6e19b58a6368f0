#pragma once

// The actors of the world, ids 0 to 999: characters the server places (a skin at a position and
// facing angle, with health, invulnerability, a virtual world and maybe an animation that keeps
// playing), with no client behind them. Players get them through their streaming pass
// (Player::StreamInActor / StreamOutActor keep each player's flag and raise the scripts'
// callbacks); the pool writes the stream messages, and an actor sends its own changes to the
// players who have it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "server/shared/VectorMath.h"

namespace velt {

class BitStream;
class GameServer;

inline constexpr uint16_t kMaxActors = 1000;
inline constexpr uint16_t kNoActor = 0xFFFF;
inline constexpr size_t kMaxActorAnimationName = 64;

// An animation as the client plays it; kept by the actor while it loops or freezes, so that
// players who stream the actor in later see it too.
struct ActorAnimation {
    std::array<char, kMaxActorAnimationName + 1> library{};
    std::array<char, kMaxActorAnimationName + 1> name{};
    float delta = 0.0f;
    uint8_t loop = 0;
    uint8_t lockX = 0;
    uint8_t lockY = 0;
    uint8_t freeze = 0;
    int32_t time = 0;
};

// The message of one RPC that concerns an actor to every connected player who has it streamed
// in.
void SendRpcToActorStreamers(GameServer& server, uint16_t actor, uint8_t rpcId, const BitStream& bs);

class Actor {
public:
    Actor(GameServer& server, uint16_t id, int32_t model, int32_t customModel, const Vector3& position,
          float facingAngle)
        : server_(server),
          model_(model),
          customModel_(customModel),
          facingAngle_(facingAngle),
          position_(position),
          id_(id) {}

    uint16_t GetId() const { return id_; }
    int32_t GetModel() const { return model_; }
    int32_t GetCustomModel() const { return customModel_; }
    const Vector3& GetPosition() const { return position_; }
    float GetFacingAngle() const { return facingAngle_; }
    float GetHealth() const { return health_; }
    bool IsInvulnerable() const { return invulnerable_ != 0; }
    bool HasKeptAnimation() const { return animationKept_; }
    const ActorAnimation& GetKeptAnimation() const { return animation_; }

    // Stored only: the clients learn them from whoever changes them, or at the next stream-in.
    void SetPosition(const Vector3& position) { position_ = position; }
    void SetFacingAngle(float angle) { facingAngle_ = angle; }
    void SetInvulnerable(bool on) { invulnerable_ = on ? 1 : 0; }
    // Stored and sent to the players who have the actor.
    void SetHealth(float health);

    // Sent to the players who have the actor; kept for later stream-ins while it loops or
    // freezes, else the kept one is dropped. Library and name are cut to 64 characters.
    void ApplyAnimation(const char* library, const char* name, float delta, bool loop, bool lockX, bool lockY,
                        bool freeze, int32_t time);
    void ClearAnimations();
    void SendAnimation(uint16_t player, const ActorAnimation& animation) const;

    float GetSquaredDistance2DFromPoint(float x, float y) const {
        const float dx = position_.x - x, dy = position_.y - y;
        return dx * dx + dy * dy;
    }

private:
    GameServer& server_;
    int32_t model_;
    int32_t customModel_;
    bool animationKept_ = false;
    ActorAnimation animation_{};
    float health_ = 100.0f;
    float facingAngle_;
    Vector3 position_;
    uint8_t invulnerable_ = 1;
    uint16_t id_;
};

class ActorPool {
public:
    explicit ActorPool(GameServer& server) : server_(server) {}
    ActorPool(const ActorPool&) = delete;
    ActorPool& operator=(const ActorPool&) = delete;

    // The lowest free id, in world 0; kNoActor when every id is taken. A custom skin the model
    // list does not know gives an actor of model 0.
    uint16_t Create(int32_t skin, const Vector3& position, float facingAngle);
    // Streamed out for every player who has it (their callbacks run), then deleted: 1; 0 for an
    // id not in use, or one whose destruction is already under way further up the stack.
    int Destroy(uint16_t id);

    bool Exists(uint16_t id) const { return id < kMaxActors && actors_[id] != nullptr; }
    // Null for an id not in use.
    Actor* GetAt(uint16_t id) const { return id < kMaxActors ? actors_[id].get() : nullptr; }
    void SetVirtualWorld(uint16_t id, int32_t world) {
        if (Exists(id)) virtualWorld_[id] = world;
    }
    int32_t GetVirtualWorld(uint16_t id) const { return Exists(id) ? virtualWorld_[id] : 0; }
    // Highest used id, 0 when none is used.
    uint16_t GetUpperIndex() const { return highestId_; }

    // The stream messages of one actor to one player (with its kept animation after the
    // stream-in). Only the player's own stream operations call these, so that his flag and
    // count stay right.
    void StreamIn(uint16_t id, uint16_t player);
    void StreamOut(uint16_t id, uint16_t player);

private:
    void UpdateHighestId();

    GameServer& server_;
    std::array<int32_t, kMaxActors> virtualWorld_{};
    std::array<std::unique_ptr<Actor>, kMaxActors> actors_{};
    std::array<bool, kMaxActors> destroying_{};
    uint16_t highestId_ = 0;
};

}  // namespace velt
