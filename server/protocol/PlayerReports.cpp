#include "server/protocol/PlayerReports.h"

#include <array>
#include <unordered_set>
#include <vector>

#include "net/BitStream.h"
#include "net/NetServerInterface.h"
#include "net/NetworkStatistics.h"
#include "server/game/GameServer.h"
#include "server/game/PlayerPool.h"
#include "server/game/RaiseCallback.h"
#include "server/protocol/RpcCall.h"

namespace velt {

namespace {

// Building the table walks every player: a client that asks more often gets no new one.
constexpr int32_t kScoresInterval = 2000;

// These reports reach the gamemode before the filterscripts.
constexpr CallbackRule kGameModeFirst{.gameModeFirst = true};

// The sender's Player while connected, its id in `id`; null otherwise.
Player* ConnectedSenderPlayer(GameServer& server, const RpcCallParams* params, uint16_t& id) {
    id = RpcConnectedSender(params, false);
    PlayerPool* pool = server.GetPlayerPool();
    return id != kNoPlayer && pool != nullptr ? pool->GetAt(id) : nullptr;
}

// Counted in one pass over the players: clients sharing an address count once.
uint16_t DistinctAddresses(NetServerInterface& net, const PlayerPool& pool) {
    std::unordered_set<uint32_t> seen;
    seen.reserve(static_cast<size_t>(pool.GetConnectedCount()));
    for (int32_t id = 0; id <= pool.GetUpperIndex(); ++id) {
        if (pool.IsConnected(static_cast<uint16_t>(id))) seen.insert(net.GetSlotPlayerID(id).binaryAddress);
    }
    return static_cast<uint16_t>(seen.size());
}

}  // namespace

void RpcScoresPings(RpcCallParams* params) {
    GameServer* server = TheGameServer;
    if (server == nullptr || server->GetNetServer() == nullptr || server->GetPlayerPool() == nullptr) return;
    const uint16_t sender = RpcConnectedSender(params, true);
    if (sender == kNoPlayer) return;
    PlayerPool& pool = *server->GetPlayerPool();
    const uint32_t now = server->GetTickMs();
    if (static_cast<int32_t>(now - pool.GetScoresSentAt(sender)) < kScoresInterval) return;
    pool.SetScoresSentAt(sender, now);

    NetServerInterface& net = *server->GetNetServer();
    BitStream bs;
    for (int32_t id = 0; id <= pool.GetUpperIndex(); ++id) {
        const auto player = static_cast<uint16_t>(id);
        if (!pool.IsConnected(player)) continue;
        bs.Write(player);
        bs.Write(pool.GetScore(player));
        bs.Write(static_cast<uint32_t>(net.GetLastPing(net.GetSlotPlayerID(id))));
    }
    bs.Write(DistinctAddresses(net, pool));
    SendRpcAnswer(*server, sender, RPC_ScoresPingsUpdate, bs);
}

void RpcNetStats(RpcCallParams* params) {
    GameServer* server = TheGameServer;
    if (server == nullptr || server->GetNetServer() == nullptr || server->GetPlayerPool() == nullptr) return;
    const uint16_t sender = RpcConnectedSender(params, false);
    if (sender == kNoPlayer || !server->GetPlayerPool()->IsAdmin(sender)) return;
    const NetworkStatistics* totals = server->GetNetServer()->GetStatistics(UNASSIGNED_PLAYER_ID);
    if (totals == nullptr) return;
    const std::array<uint8_t, kNetworkStatisticsWireSize> record = SerializeNetworkStatistics(*totals);
    BitStream bs;
    bs.WriteBytes(record.data(), static_cast<int32_t>(record.size()));
    SendRpcAnswer(*server, sender, RPC_NetStats, bs);
}

void RpcInteriorChange(RpcCallParams* params) {
    GameServer* server = TheGameServer;
    if (server == nullptr) return;
    uint16_t id = kNoPlayer;
    Player* player = ConnectedSenderPlayer(*server, params, id);
    BitStream bs;
    uint8_t interior = 0;
    if (player == nullptr || !OpenRpcPayload(params, bs) || !bs.Read(interior)) return;
    const uint8_t previous = player->GetInterior();
    player->SetInterior(interior);
    RaiseCallback(
        *server, kGameModeFirst, [&] { return StillConnected(*server, id); },
        [&](auto& side) { return side.OnPlayerInteriorChange(id, interior, previous); });
}

void RpcScriptCash(RpcCallParams* params) {
    GameServer* server = TheGameServer;
    if (server == nullptr) return;
    const uint16_t id = RpcConnectedSender(params, false);
    BitStream bs;
    int32_t amount = 0;
    int32_t source = 0;
    if (id == kNoPlayer || !OpenRpcPayload(params, bs) || !bs.Read(amount) || !bs.Read(source)) return;
    RaiseCallback(
        *server, kGameModeFirst, [&] { return StillConnected(*server, id); },
        [&](auto& side) { return side.OnScriptCash(id, amount, source); });
}

void RpcMapClick(RpcCallParams* params) {
    GameServer* server = TheGameServer;
    if (server == nullptr) return;
    uint16_t id = kNoPlayer;
    BitStream bs;
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    if (ConnectedSenderPlayer(*server, params, id) == nullptr || !OpenRpcPayload(params, bs) || !bs.Read(x) ||
        !bs.Read(y) || !bs.Read(z))
        return;
    RaiseCallback(
        *server, kGameModeFirst, [&] { return StillConnected(*server, id); },
        [&](auto& side) { return side.OnPlayerClickMap(id, x, y, z); });
}

// The server gives the value no meaning; every player, the sender too, hears it.
void RpcValueRelay(RpcCallParams* params) {
    GameServer* server = TheGameServer;
    if (server == nullptr || server->GetGameState() != GAME_STATE_RUNNING) return;
    NetServerInterface* net = server->GetNetServer();
    PlayerPool* pool = server->GetPlayerPool();
    const uint16_t id = RpcConnectedSender(params, false);
    BitStream in;
    uint16_t value = 0;
    if (net == nullptr || pool == nullptr || id == kNoPlayer || !OpenRpcPayload(params, in) ||
        !in.Read(value))
        return;
    std::vector<uint16_t> everyone;
    everyone.reserve(static_cast<size_t>(pool->GetConnectedCount()));
    for (int32_t player = 0; player <= pool->GetUpperIndex(); ++player)
        if (pool->IsConnected(static_cast<uint16_t>(player)))
            everyone.push_back(static_cast<uint16_t>(player));
    BitStream out;
    out.Write(value);
    net->Slots().RpcToSlots(
        RPC_ValueRelayBroadcast, &out, everyone,
        Delivery{HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, ChannelNumber(RpcChannel::Request)});
}

void RpcPlayerClick(RpcCallParams* params) {
    GameServer* server = TheGameServer;
    if (server == nullptr || server->GetPlayerPool() == nullptr) return;
    const uint16_t id = RpcConnectedSender(params, false);
    BitStream bs;
    uint16_t clicked = kNoPlayer;
    uint8_t source = 0;
    if (id == kNoPlayer || !OpenRpcPayload(params, bs) || !bs.Read(clicked) || !bs.Read(source)) return;
    if (clicked >= kMaxPlayers || !server->GetPlayerPool()->IsConnected(clicked)) return;
    // The first filterscript that handles the click ends the filterscripts' walk; the gamemode
    // hears it either way.
    RaiseCallback(
        *server, {}, [&] { return StillConnected(*server, id); },
        [&](auto& side) { return side.OnPlayerClickPlayer(id, clicked, source); });
}

void RpcCameraTarget(RpcCallParams* params) {
    GameServer* server = TheGameServer;
    if (server == nullptr || server->GetGameState() != GAME_STATE_RUNNING) return;
    uint16_t id = kNoPlayer;
    Player* player = ConnectedSenderPlayer(*server, params, id);
    BitStream bs;
    std::array<uint16_t, 4> targets{};  // object, vehicle, player, actor
    if (player == nullptr || !OpenRpcPayload(params, bs)) return;
    for (uint16_t& target : targets)
        if (!bs.Read(target)) return;
    player->StoreCameraTarget(targets[0], targets[1], targets[2], targets[3]);
}

void RpcPlayerDamage(RpcCallParams* params) {
    GameServer* server = TheGameServer;
    if (server == nullptr) return;
    const uint16_t id = RpcConnectedSender(params, false);
    if (id == kNoPlayer) return;
    BitStream bs;
    const bool hasPayload = OpenRpcPayload(params, bs);
    // A missing flag reads as damage given; the fields after it must all be there.
    bool taken = false;
    if (hasPayload && !bs.Read(taken)) taken = false;
    uint16_t other = kNoPlayer;
    float amount = 0.0f;
    int32_t weapon = 0;
    int32_t bodyPart = 0;
    if (!hasPayload || !bs.Read(other) || !bs.Read(amount) || !bs.Read(weapon) || !bs.Read(bodyPart)) return;
    // Both sides always hear it; the first filterscript that handles it only ends the
    // filterscripts' walk.
    const auto stillThere = [&] { return StillConnected(*server, id); };
    if (taken) {
        RaiseCallback(*server, {}, stillThere, [&](auto& side) {
            return side.OnPlayerTakeDamage(id, other, amount, weapon, bodyPart);
        });
    } else {
        RaiseCallback(*server, {}, stillThere, [&](auto& side) {
            return side.OnPlayerGiveDamage(id, other, amount, weapon, bodyPart);
        });
    }
}

}  // namespace velt
