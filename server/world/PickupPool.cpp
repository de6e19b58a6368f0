#include "server/world/PickupPool.h"

#include "net/BitStream.h"
#include "server/shared/GameRpc.h"
#include "server/world/ConnectedPlayers.h"
#include "server/world/HighestId.h"

namespace velt {

int32_t PickupPool::Create(int32_t model, int32_t type, const Vector3& position, int32_t virtualWorld) {
    for (int32_t id = 0; id < kMaxPickups; ++id) {
        if (used_[size_t(id)]) continue;
        used_[size_t(id)] = true;
        rows_[size_t(id)] = PickupRow{model, type, position};
        virtualWorld_[size_t(id)] = virtualWorld;
        UpdateHighestId();
        return id;
    }
    return kNoPickup;
}

int PickupPool::Destroy(int32_t id) {
    if (!IsUsed(id)) return 0;
    ForEachConnectedPlayer(server_, [id](uint16_t, Player& player) {
        if (player.IsPickupStreamedIn(uint16_t(id))) player.StreamOutPickup(uint16_t(id));
    });
    used_[size_t(id)] = false;
    virtualWorld_[size_t(id)] = 0;
    UpdateHighestId();
    return 1;
}

void PickupPool::StreamIn(int32_t id, uint16_t player) {
    if (!IsUsed(id)) return;
    const PickupRow& row = rows_[size_t(id)];
    BitStream bs;
    bs.Write(id);
    bs.Write(row.model);
    bs.Write(row.type);
    bs.Write(row.position.x);
    bs.Write(row.position.y);
    bs.Write(row.position.z);
    server_.SendRpcToPlayer(RPC_PickupCreate, &bs, player, RpcChannel::World);
}

void PickupPool::StreamOut(int32_t id, uint16_t player) {
    if (!IsUsed(id)) return;
    BitStream bs;
    bs.Write(id);
    server_.SendRpcToPlayer(RPC_PickupDestroy, &bs, player, RpcChannel::World);
}

void PickupPool::UpdateHighestId() {
    highestId_ = HighestIdInUse(kMaxPickups, [this](int32_t id) { return used_[size_t(id)]; });
}

}  // namespace velt
