#include "server/protocol/ObjectEditing.h"

#include <cmath>

#include "net/BitStream.h"
#include "server/game/GameServer.h"
#include "server/game/PlayerPool.h"
#include "server/game/RaiseCallback.h"
#include "server/protocol/RpcCall.h"
#include "server/world/ObjectPool.h"

namespace velt {

namespace {

// What the client selected, as the scripts are told: the client's own word for it is not used.
enum SelectType : int32_t {
    SELECT_NOTHING = 0,
    SELECT_GLOBAL_OBJECT = 1,
    SELECT_PLAYER_OBJECT = 2,
};

// The sender of an editor or selection report, while the game runs; null otherwise.
Player* ReportingPlayer(GameServer* server, const RpcCallParams* params, uint16_t& id) {
    if (server == nullptr || server->GetGameState() != GAME_STATE_RUNNING) return nullptr;
    id = RpcConnectedSender(params, true);
    return id != kNoPlayer ? server->GetPlayerPool()->GetAt(id) : nullptr;
}

bool ReadVector(BitStream& bs, Vector3& v) { return bs.Read(v.x) && bs.Read(v.y) && bs.Read(v.z); }

// Scripts store what an editor reports and hand it to every client: no NaN or infinity gets that
// far.
bool IsFinite(const Vector3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

bool IsEditResponse(int32_t response) {
    return response == EDIT_RESPONSE_CANCEL || response == EDIT_RESPONSE_FINAL ||
           response == EDIT_RESPONSE_UPDATE;
}

}  // namespace

void RpcAttachedObjectEdit(RpcCallParams* params) {
    GameServer* server = TheGameServer;
    uint16_t id = kNoPlayer;
    Player* player = ReportingPlayer(server, params, id);
    if (player == nullptr || !player->IsEditingAttachedObject()) return;
    BitStream bs;
    int32_t response = 0;
    int32_t slot = 0;
    AttachedObjectSlot record;
    if (!OpenRpcPayload(params, bs) || !bs.Read(response) || !bs.Read(slot) || !bs.Read(record.model) ||
        !bs.Read(record.bone) || !ReadVector(bs, record.offset) || !ReadVector(bs, record.rotation) ||
        !ReadVector(bs, record.scale) || !bs.Read(record.colour1) || !bs.Read(record.colour2))
        return;
    if (!IsEditResponse(response) || slot < 0 || slot >= kAttachedObjectSlots) return;
    if (!IsFinite(record.offset) || !IsFinite(record.rotation) || !IsFinite(record.scale)) return;
    // The filterscript that handles the result ends it.
    RaiseCallback(
        *server, {.stop = CallbackStop::AtNonZero}, [&] { return StillConnected(*server, id); },
        [&](auto& side) {
            return side.OnPlayerEditAttachedObject(id, response, slot, record.model, record.bone,
                                                   record.offset.x, record.offset.y, record.offset.z,
                                                   record.rotation.x, record.rotation.y, record.rotation.z,
                                                   record.scale.x, record.scale.y, record.scale.z);
        });
}

void RpcObjectEdit(RpcCallParams* params) {
    GameServer* server = TheGameServer;
    uint16_t id = kNoPlayer;
    Player* player = ReportingPlayer(server, params, id);
    if (player == nullptr || !player->IsEditingObject()) return;
    BitStream bs;
    if (!OpenRpcPayload(params, bs)) return;
    bool playerObject = false;
    uint16_t object = 0;
    int32_t response = 0;
    Vector3 position;
    Vector3 rotation;
    if (!bs.Read(playerObject) || !bs.Read(object) || !bs.Read(response) || !ReadVector(bs, position) ||
        !ReadVector(bs, rotation))
        return;
    if (!IsEditResponse(response) || !IsFinite(position) || !IsFinite(rotation)) return;
    ObjectPool* objects = server->GetObjectPool();
    if (objects == nullptr) return;
    if (playerObject ? !objects->PlayerObjectExists(id, object) : !objects->Exists(object)) return;
    const int32_t flag = playerObject ? 1 : 0;
    RaiseCallback(
        *server, {.stop = CallbackStop::AtNonZero}, [&] { return StillConnected(*server, id); },
        [&](auto& side) {
            return side.OnPlayerEditObject(id, flag, object, response, position.x, position.y, position.z,
                                           rotation.x, rotation.y, rotation.z);
        });
}

void RpcObjectSelect(RpcCallParams* params) {
    GameServer* server = TheGameServer;
    uint16_t id = kNoPlayer;
    if (ReportingPlayer(server, params, id) == nullptr) return;
    BitStream bs;
    int32_t claimedType = 0;
    uint16_t object = 0;
    int32_t model = 0;
    Vector3 position;
    if (!OpenRpcPayload(params, bs) || !bs.Read(claimedType) || !bs.Read(object) || !bs.Read(model) ||
        !ReadVector(bs, position) || !IsFinite(position))
        return;
    ObjectPool* objects = server->GetObjectPool();
    if (objects == nullptr) return;
    int32_t type = SELECT_NOTHING;
    if (objects->Exists(object))
        type = SELECT_GLOBAL_OBJECT;
    else if (objects->PlayerObjectExists(id, object))
        type = SELECT_PLAYER_OBJECT;
    if (type == SELECT_NOTHING) return;
    RaiseCallback(
        *server, {.stop = CallbackStop::AtNonZero}, [&] { return StillConnected(*server, id); },
        [&](auto& side) {
            return side.OnPlayerSelectObject(id, type, object, model, position.x, position.y, position.z);
        });
}

}  // namespace velt
