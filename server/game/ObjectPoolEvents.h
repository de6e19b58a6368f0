#pragma once

// The object pool's view of the game server: who is connected, the default camera collision of
// new objects, where its messages go and how an object's arrival reaches the scripts.

#include "server/world/ObjectPool.h"

namespace velt {

class GameServer;

class ObjectPoolEvents final : public ObjectPoolHost {
public:
    explicit ObjectPoolEvents(GameServer& server) : server_(server) {}

    bool IsPlayerConnected(uint16_t player) override;
    bool DefaultNoCameraCollision() override;
    void SendRpcToPlayer(uint8_t rpcId, const BitStream& bs, uint16_t player) override;
    void ObjectMoved(uint16_t object) override;
    void PlayerObjectMoved(uint16_t player, uint16_t object) override;

private:
    GameServer& server_;
};

}  // namespace velt
