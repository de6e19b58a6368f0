// Every message the server sends to clients: RPCs and raw synchronisation packets to one player,
// to all, or to the players who have a given player or vehicle streamed in. The caller builds a
// message once, and it goes to the transport once, with the slots of all its receivers: player
// ids are the transport's slot indexes.

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "net/BitStream.h"
#include "net/NetServerInterface.h"
#include "server/console/Console.h"
#include "server/console/ConsoleVariables.h"
#include "server/game/GameServer.h"
#include "server/game/PlayerPool.h"
#include "server/shared/GameRpc.h"

namespace velt {

namespace {

constexpr float kThinningDistance = 250.0f;
constexpr size_t kClientMessageBufferSize = 1024;
constexpr Delivery kSync{HIGH_PRIORITY_LEVEL, RELIABILITY_UNRELIABLE_SEQUENCED,
                         ChannelNumber(RpcChannel::Sync)};

// Client messages are the one channel whose order does not matter against the world's.
Delivery RpcDelivery(RpcChannel channel) {
    return {HIGH_PRIORITY_LEVEL,
            channel == RpcChannel::ClientMessage ? RELIABILITY_RELIABLE : RELIABILITY_RELIABLE_ORDERED,
            ChannelNumber(channel)};
}

// Calls to the players streaming an entity are always in order.
Delivery StreamingDelivery(RpcChannel channel) {
    return {HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE_ORDERED, ChannelNumber(channel)};
}

}  // namespace

template <class Wanted>
std::span<const uint16_t> GameServer::Receivers(uint16_t except, Wanted&& wanted) {
    receivers_.clear();
    for (int32_t i = 0; i <= playerPool_->GetUpperIndex(); ++i) {
        const uint16_t id = uint16_t(i);
        if (id == except || !playerPool_->IsConnected(id)) continue;
        Player* receiver = playerPool_->GetAt(id);
        if (receiver != nullptr && wanted(id, *receiver)) receivers_.push_back(id);
    }
    return receivers_;
}

template <class Wanted>
std::span<const uint16_t> GameServer::ReceiversAmong(std::span<const uint16_t> candidates, uint16_t except,
                                                     Wanted&& wanted) {
    receivers_.clear();
    for (const uint16_t id : candidates) {
        if (id == except || !playerPool_->IsConnected(id)) continue;
        Player* receiver = playerPool_->GetAt(id);
        if (receiver != nullptr && wanted(id, *receiver)) receivers_.push_back(id);
    }
    return receivers_;
}

void GameServer::SendRpcToPlayer(uint8_t rpcId, const BitStream* bs, uint16_t player, RpcChannel channel) {
    if (!playerPool_ || netServer_ == nullptr || player >= kMaxPlayers || !playerPool_->IsConnected(player))
        return;
    netServer_->Slots().RpcToSlot(rpcId, bs, player, RpcDelivery(channel));
}

void GameServer::SendRpcToAll(uint8_t rpcId, const BitStream* bs, uint16_t exceptPlayer, RpcChannel channel) {
    if (!playerPool_ || netServer_ == nullptr) return;
    netServer_->Slots().RpcToSlots(rpcId, bs, Receivers(exceptPlayer, [](uint16_t, Player&) { return true; }),
                                   RpcDelivery(channel));
}

void GameServer::SendRpcToPlayersStreamingPlayer(uint8_t rpcId, const BitStream* bs, uint16_t player,
                                                 RpcChannel channel) {
    if (!playerPool_ || netServer_ == nullptr) return;
    auto streaming = [&](uint16_t, Player& receiver) { return receiver.IsPlayerStreamedIn(player); };
    const Player* sender = player < kMaxPlayers ? playerPool_->GetAt(player) : nullptr;
    // A player who is gone has no list of his own; his audience is then looked for among all.
    if (sender == nullptr) {
        netServer_->Slots().RpcToSlots(rpcId, bs, Receivers(player, streaming), StreamingDelivery(channel));
        return;
    }
    netServer_->Slots().RpcToSlots(rpcId, bs, ReceiversAmong(sender->Streamers(), player, streaming),
                                   StreamingDelivery(channel));
}

void GameServer::SendRpcToPlayersStreamingVehicle(uint8_t rpcId, const BitStream* bs, uint16_t vehicle,
                                                  uint16_t exceptPlayer, RpcChannel channel) {
    if (!playerPool_ || !vehiclePool_ || netServer_ == nullptr || vehicle >= kMaxVehicles) return;
    auto streaming = [&](uint16_t, Player& receiver) { return receiver.IsVehicleStreamedIn(vehicle); };
    netServer_->Slots().RpcToSlots(rpcId, bs,
                                   ReceiversAmong(vehicleStreamers_.Of(vehicle), exceptPlayer, streaming),
                                   StreamingDelivery(channel));
}

void GameServer::SendPacketToPlayer(const BitStream* bs, uint16_t player) {
    if (!playerPool_ || netServer_ == nullptr || bs == nullptr || player >= kMaxPlayers) return;
    netServer_->Slots().SendToSlot(player, *bs, kSync);
}

void GameServer::SendPacketToAll(const BitStream* bs) {
    if (!playerPool_ || netServer_ == nullptr || bs == nullptr) return;
    netServer_->Slots().Broadcast(*bs, kSync, -1);
}

bool GameServer::RelayThinning(float distance) {
    if (distance < kThinningDistance) return false;
    int coin = relayRandom_ ? relayRandom_() : std::rand();
    return coin % 2 != 0;
}

void GameServer::SendPacketToPlayerStreamers(const BitStream* bs, uint16_t player, bool thin) {
    if (!playerPool_ || netServer_ == nullptr || bs == nullptr) return;
    const Player* sender = playerPool_->GetAt(player);
    if (sender == nullptr) return;
    // Only the players streaming the sender are walked: O(k), not a scan of the pool. The list is
    // kept in id order, so the thinning coin is still tossed per receiver in id order.
    receivers_.clear();
    for (uint16_t id : sender->Streamers()) {
        if (id == player || !playerPool_->IsConnected(id)) continue;
        Player* receiver = playerPool_->GetAt(id);
        if (receiver == nullptr || !receiver->IsPlayerStreamedIn(player)) continue;
        if (thin && RelayThinning(playerPool_->GetDistance(player, id))) continue;
        receivers_.push_back(id);
    }
    netServer_->Slots().SendToSlots(receivers_, *bs, kSync);
}

void GameServer::SendPacketToVehicleStreamers(const BitStream* bs, uint16_t vehicle, uint16_t exceptPlayer) {
    if (!playerPool_ || !vehiclePool_ || netServer_ == nullptr || bs == nullptr || vehicle >= kMaxVehicles ||
        !vehiclePool_->Exists(vehicle))
        return;
    auto streaming = [&](uint16_t, Player& receiver) { return receiver.IsVehicleStreamedIn(vehicle); };
    netServer_->Slots().SendToSlots(ReceiversAmong(vehicleStreamers_.Of(vehicle), exceptPlayer, streaming),
                                    *bs, kSync);
}

// ---- client messages ------------------------------------------------------------------------

namespace {

void WriteClientMessage(BitStream& bs, uint32_t colour, const char* text, size_t length) {
    bs.Write(colour);
    bs.Write(uint32_t(length));
    bs.WriteBytes(text, int32_t(length));
}

}  // namespace

void GameServer::SendClientMessage(uint16_t player, uint32_t colour, const char* format, ...) {
    char text[kClientMessageBufferSize] = {};
    va_list args;
    va_start(args, format);
    // A longer text is cut to the buffer.
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    SendClientMessageText(player, colour, text);
}

void GameServer::SendClientMessageToAll(uint32_t colour, const char* format, ...) {
    char text[kClientMessageBufferSize] = {};
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    BitStream bs;
    WriteClientMessage(bs, colour, text, std::strlen(text));
    SendRpcToAll(RPC_ClientMessage, &bs, kNoPlayer, RpcChannel::ClientMessage);
}

void GameServer::SendClientMessageText(uint16_t player, uint32_t colour, const char* text) {
    if (text == nullptr) text = "";
    BitStream bs;
    WriteClientMessage(bs, colour, text, std::strlen(text));
    SendRpcToPlayer(RPC_ClientMessage, &bs, player, RpcChannel::ClientMessage);
}

// ---- GameInit -------------------------------------------------------------------------------

void GameServer::SendGameInit(uint16_t player) {
    const WorldSettings& w = world;
    BitStream bs;
    bs.Write(w.reservedInitFlag != 0);
    bs.Write(w.usePlayerPedAnims != 0);
    bs.Write(w.allowInteriorWeapons != 0);
    bs.Write(w.limitGlobalChatRadius != 0);
    bs.Write(w.globalChatRadius);
    bs.Write(w.stuntBonus != 0);
    bs.Write(w.nameTagDrawDistance);
    bs.Write(w.disableInteriorEnterExits != 0);
    bs.Write(w.nameTagLineOfSight != 0);
    bs.Write(w.manualVehicleEngineAndLights != 0);
    bs.Write(classCount_);
    bs.Write(player);
    bs.Write(w.showNameTags != 0);
    bs.Write(w.playerMarkerMode);
    bs.Write(w.worldTimeHour);
    bs.Write(w.weather);
    bs.Write(w.gravity);
    bs.Write(lanMode_ != 0);
    bs.Write(w.deathDropAmount);
    bs.Write(false);
    bs.Write(uint32_t(settings_.onFootRate));
    bs.Write(uint32_t(settings_.inCarRate));
    bs.Write(uint32_t(settings_.weaponRate));
    bs.Write(uint32_t(2));
    bs.Write(uint32_t(settings_.lagCompMode));
    const char* hostname = console_.GetStringVariable("hostname");
    // The length travels in one byte: a longer name is cut to 255 bytes rather than to the low
    // eight bits of its length.
    size_t length = hostname != nullptr ? std::strlen(hostname) : 0;
    if (length > 255) length = 255;
    bs.Write(uint8_t(length));
    if (length > 0) bs.WriteBytes(hostname, int32_t(length));
    for (int model = 0; model < kVehicleModelCount; ++model)
        bs.Write(vehiclePool_ ? vehiclePool_->GetModelUsage(model) : uint8_t(0));
    bs.Write(w.vehicleFriendlyFire);
    SendRpcToPlayer(RPC_GameInit, &bs, player, RpcChannel::World);
}

}  // namespace velt
