#include "server/world/TextLabelPool.h"

#include "net/BitStream.h"
#include "net/StringCompressor.h"
#include "server/shared/GameRpc.h"
#include "server/world/ConnectedPlayers.h"

namespace velt {

void WriteTextLabelCreate(BitStream& bs, uint16_t wireId, const TextLabel& label) {
    bs.Write(wireId);
    bs.Write(label.colour);
    bs.Write(label.position.x);
    bs.Write(label.position.y);
    bs.Write(label.position.z);
    bs.Write(label.drawDistance);
    bs.Write(label.testLOS);
    bs.Write(label.attachedPlayer);
    bs.Write(label.attachedVehicle);
    // The whole text, however long (a limit below 1 sets none): the compressor itself cuts a text
    // whose code would overflow its length field.
    StringCompressor::Instance()->EncodeString(label.text.c_str(), 0, bs);
}

uint16_t TextLabelPool::Create(const char* text, uint32_t colour, const Vector3& position, float drawDistance,
                               int32_t virtualWorld, uint8_t testLOS) {
    uint16_t id = 0;
    while (id < kMaxLabels && used_[id]) ++id;
    if (id == kMaxLabels) return kNoLabel;
    TextLabel& label = labels_[id];
    label = TextLabel{};
    label.text = text != nullptr ? text : "";
    label.colour = colour;
    label.position = position;
    label.drawDistance = drawDistance;
    label.virtualWorld = virtualWorld;
    label.testLOS = testLOS;
    used_[id] = true;

    ForEachConnectedPlayer(server_, [&](uint16_t, Player& player) {
        const uint8_t state = player.GetState();
        if (state == PLAYER_STATE_NONE || state == PLAYER_STATE_SPECTATING) return;
        if (player.GetDistanceFromPoint(position.x, position.y, position.z) <= drawDistance)
            player.StreamInLabel(id);
    });
    return id;
}

int TextLabelPool::Delete(uint16_t id) {
    if (!IsUsed(id)) return 0;
    HideForAll(id);
    labels_[id] = TextLabel{};
    used_[id] = false;
    return 1;
}

void TextLabelPool::UpdateText(uint16_t id, uint32_t colour, const char* text) {
    if (!IsUsed(id)) return;
    labels_[id].text = text != nullptr ? text : "";
    labels_[id].colour = colour;
    Resend(id);
}

int TextLabelPool::AttachToPlayer(uint16_t id, uint16_t player, const Vector3& offset) {
    PlayerPool* pool = server_.GetPlayerPool();
    if (!IsUsed(id) || pool == nullptr || player >= kMaxPlayers || !pool->IsConnected(player)) return 0;
    labels_[id].attachedPlayer = player;
    labels_[id].position = offset;
    Resend(id);
    return 1;
}

int TextLabelPool::AttachToVehicle(uint16_t id, uint16_t vehicle, const Vector3& offset) {
    VehiclePool* vehicles = server_.GetVehiclePool();
    if (!IsUsed(id) || vehicles == nullptr || vehicle >= kMaxVehicles || !vehicles->Exists(vehicle)) return 0;
    labels_[id].attachedVehicle = vehicle;
    labels_[id].position = offset;
    Resend(id);
    return 1;
}

void TextLabelPool::ShowForPlayer(uint16_t id, uint16_t player) {
    if (!IsUsed(id)) return;
    BitStream bs;
    WriteTextLabelCreate(bs, id, labels_[id]);
    server_.SendRpcToPlayer(RPC_TextLabelCreate, &bs, player, RpcChannel::World);
}

void TextLabelPool::HideForPlayer(uint16_t id, uint16_t player) {
    if (!IsUsed(id)) return;
    BitStream bs;
    bs.Write(id);
    server_.SendRpcToPlayer(RPC_TextLabelDelete, &bs, player, RpcChannel::World);
}

void TextLabelPool::HideForAll(uint16_t id) {
    ForEachConnectedPlayer(server_, [id](uint16_t, Player& player) {
        if (player.IsLabelStreamedIn(id)) player.StreamOutLabel(id);
    });
}

void TextLabelPool::Resend(uint16_t id) {
    ForEachConnectedPlayer(server_, [id](uint16_t, Player& player) {
        if (!player.IsLabelStreamedIn(id)) return;
        player.StreamOutLabel(id);
        player.StreamInLabel(id);
    });
}

}  // namespace velt
