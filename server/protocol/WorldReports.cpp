#include "server/protocol/WorldReports.h"

#include "net/BitStream.h"
#include "server/game/GameServer.h"
#include "server/game/RaiseCallback.h"
#include "server/game/ScriptServices.h"
#include "server/protocol/RpcCall.h"
#include "server/world/WorldPools.h"

namespace velt {

void RpcPickupPickedUp(RpcCallParams* params) {
    GameServer* server = TheGameServer;
    if (server == nullptr || server->GetGameState() != GAME_STATE_RUNNING) return;
    const uint16_t player = RpcConnectedSender(params, false);
    BitStream bs;
    if (player == kNoPlayer || !OpenRpcPayload(params, bs)) return;
    int32_t pickup = 0;
    if (!bs.Read(pickup)) return;
    PickupPool* pickups = server->GetPickupPool();
    if (pickups == nullptr || !pickups->IsUsed(pickup)) return;
    RaiseCallback(
        *server, {.gameModeFirst = true}, [&] { return StillConnected(*server, player); },
        [&](auto& side) { return side.OnPlayerPickUpPickup(player, pickup); });
}

void RpcActorDamage(RpcCallParams* params) {
    GameServer* server = TheGameServer;
    if (server == nullptr) return;
    const uint16_t player = RpcConnectedSender(params, false);
    BitStream bs;
    if (player == kNoPlayer || !OpenRpcPayload(params, bs)) return;
    bool unused = false;
    uint16_t actor = kNoActor;
    float amount = 0.0f;
    int32_t weapon = 0;
    int32_t bodyPart = 0;
    if (!bs.Read(unused) || !bs.Read(actor) || !bs.Read(amount) || !bs.Read(weapon) || !bs.Read(bodyPart))
        return;
    ActorPool* actors = server->GetActorPool();
    if (actors == nullptr || !actors->Exists(actor)) return;
    // Both sides hear it; the first filterscript that handles it only ends the filterscripts' walk.
    RaiseCallback(
        *server, {}, [&] { return StillConnected(*server, player); },
        [&](auto& side) { return side.OnPlayerGiveDamageActor(player, actor, amount, weapon, bodyPart); });
}

}  // namespace velt
