// The bot over the real transport against an in-process server peer that plays the server's part
// of the join: the bot's scrambled datagrams pass the server's descrambler, and the join runs in
// order to the spawn and the first idle sync.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "NpcTestUtil.h"
#include "net/NetServerInterface.h"
#include "net/NetworkFactory.h"
#include "server/shared/GameRpc.h"

namespace velt::test {
namespace {

struct ServerSide {
    NetServerInterface* server = nullptr;
    std::vector<uint8_t> join;
    std::vector<uint8_t> order;
    bool idleSyncSeen = false;
};
ServerSide g_side;

std::vector<uint8_t> PayloadOf(const RpcCallParams* p) {
    if (p->payload == nullptr) return {};
    return std::vector<uint8_t>(p->payload, p->payload + (p->payloadBits + 7) / 8);
}

void Reply(uint8_t id, const BitStream& bs, PlayerID to) {
    g_side.server->Rpc(&id, &bs, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE_ORDERED, 0, to, false, false);
}

void OnNpcJoin(RpcCallParams* p) {
    g_side.order.push_back(RPC_NpcJoin);
    g_side.join = PayloadOf(p);
    BitStream init;
    WriteGameInit(init, GameInitFields{});
    Reply(RPC_GameInit, init, p->sender);
}

void OnNpcJoinRefuse(RpcCallParams* p) {
    g_side.order.push_back(RPC_NpcJoin);
    BitStream reason;
    reason.Write(uint8_t(1));
    Reply(RPC_ConnectionRejected, reason, p->sender);
}

void OnClassRequest(RpcCallParams* p) {
    g_side.order.push_back(RPC_ClassRequest);
    BitStream reply;
    reply.Write(uint8_t(1));
    const std::vector<uint8_t> spawn = SpawnInfo(1.0f, 2.0f, 3.0f, 45.0f);
    reply.WriteBytes(spawn.data(), int32_t(spawn.size()));
    Reply(RPC_ClassRequest, reply, p->sender);
}

void OnSpawnRequest(RpcCallParams* p) {
    g_side.order.push_back(RPC_SpawnRequest);
    BitStream reply;
    reply.Write(uint8_t(1));
    Reply(RPC_SpawnRequest, reply, p->sender);
}

void OnPlayerSpawned(RpcCallParams*) { g_side.order.push_back(RPC_PlayerSpawned); }

// Runs the bot's frames and the server's receive side by side until `done` or 15 s.
template <class Done>
void Pump(NetGame& game, Done done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (!done() && !game.Ended() && std::chrono::steady_clock::now() < deadline) {
        game.ProcessFrame(0.005f);
        while (Packet* p = g_side.server->Receive()) {
            if (p->length == 1 + OnFootSyncRecord::kSize && p->data[0] == ID_PLAYER_SYNC)
                g_side.idleSyncSeen = true;
            g_side.server->FreePacket(p);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

TEST(NpcWire, JoinsThroughTheRealTransport) {
    NpcRunDir dir;
    ExitCatcher exits;
    g_side = ServerSide{};
    g_side.server = CreateNetServer();
    ASSERT_TRUE(g_side.server->Start(4, 0, 1, 0, "127.0.0.1"));
    const uint16_t port = g_side.server->GetInternalID().port;
    static const uint8_t ids[] = {RPC_NpcJoin, RPC_ClassRequest, RPC_SpawnRequest, RPC_PlayerSpawned};
    g_side.server->RegisterRpc(&ids[0], OnNpcJoin);
    g_side.server->RegisterRpc(&ids[1], OnClassRequest);
    g_side.server->RegisterRpc(&ids[2], OnSpawnRequest);
    g_side.server->RegisterRpc(&ids[3], OnPlayerSpawned);

    {
        NetGame game;
        ASSERT_TRUE(game.Start("127.0.0.1", port, "Bot", "", "npc_recorder"));
        Pump(game, [] { return g_side.idleSyncSeen; });
        EXPECT_TRUE(exits.Seen().empty());
        EXPECT_EQ(game.State(), NpcConnectionState::InGame);
        EXPECT_TRUE(game.Spawned());
        EXPECT_EQ(g_side.order,
                  (std::vector<uint8_t>{RPC_NpcJoin, RPC_ClassRequest, RPC_SpawnRequest, RPC_PlayerSpawned}));
        ASSERT_GE(g_side.join.size(), 13u);
        EXPECT_EQ(std::vector<uint8_t>(g_side.join.begin(), g_side.join.begin() + 9),
                  (std::vector<uint8_t>{0xDD, 0x0F, 0, 0, 1, 3, 'B', 'o', 't'}));
        EXPECT_TRUE(g_side.idleSyncSeen);
        EXPECT_EQ(CountCode(ScriptLog(game.Mode().Instance()), 4), 1) << "OnNPCSpawn";
    }
    g_side.server->Disconnect(0, 0);
    DestroyNetServer(g_side.server);
    g_side.server = nullptr;
}

// A refused join ends the bot from inside the transport's receive call: its disconnect there must
// neither hang nor upset the call it runs in.
TEST(NpcWire, RefusedJoinEndsTheBot) {
    NpcRunDir dir;
    ExitCatcher exits;
    g_side = ServerSide{};
    g_side.server = CreateNetServer();
    ASSERT_TRUE(g_side.server->Start(4, 0, 1, 0, "127.0.0.1"));
    static const uint8_t join = RPC_NpcJoin;
    g_side.server->RegisterRpc(&join, OnNpcJoinRefuse);
    {
        NetGame game;
        ASSERT_TRUE(game.Start("127.0.0.1", g_side.server->GetInternalID().port, "Bot", "", "npc_recorder"));
        Pump(game, [] { return false; });
        EXPECT_TRUE(game.Ended());
        EXPECT_EQ(exits.Seen(), std::vector<int>{1});
        EXPECT_EQ(g_side.order, std::vector<uint8_t>{RPC_NpcJoin});
        EXPECT_FALSE(game.Client()->IsConnected());
    }
    g_side.server->Disconnect(0, 0);
    DestroyNetServer(g_side.server);
    g_side.server = nullptr;
}

}  // namespace
}  // namespace velt::test
