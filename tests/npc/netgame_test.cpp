// The bot's network game over a fake transport: start and its failures, the transport's notices,
// the join in its order, idle sync, the game reset, and the frame work (script sleep, timers).

#include <gtest/gtest.h>

#include <fstream>

#include "NetGameFixture.h"
#include "npc/net/netgame/NetGameRpc.h"

namespace velt::test {
namespace {

using NetGameTest = NetGameFixture;

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST_F(NetGameTest, StartRegistersTheCallsLoadsTheScriptAndConnects) {
    ASSERT_TRUE(Start("npc_recorder", "Bot", "pw"));
    EXPECT_TRUE(exits.Seen().empty());

    const std::vector<uint8_t> expected = {
        26,  154, 107, 37,  38,  39,  155, 102, 40,  130, 93,  94,  95,  63,  151, 96, 152, 29,  30,  137,
        138, 139, 101, 128, 129, 32,  166, 163, 164, 165, 68,  69,  153, 11,  12,  13, 14,  70,  71,  72,
        73,  156, 157, 158, 159, 160, 161, 162, 15,  16,  17,  18,  19,  20,  21,  22, 64,  65,  66,  55,
        56,  144, 145, 146, 147, 148, 149, 44,  45,  46,  47,  48,  49,  79,  80,  99, 122, 123, 124, 125,
        126, 127, 57,  74,  75,  76,  77,  78,  133, 134, 135, 108, 120, 121, 85,  86, 87,  88};
    EXPECT_EQ(fake.registrationOrder, expected);

    EXPECT_EQ(fake.connectCalls, 1);
    EXPECT_EQ(fake.connectHost, "127.0.0.1");
    EXPECT_EQ(fake.connectPort, 7777);
    EXPECT_EQ(fake.password, "pw");
    EXPECT_EQ(game->State(), NpcConnectionState::Connecting);
    EXPECT_STREQ(game->Settings().serverName, "Corvessa Multiplayer");
    // OnNPCModeInit, then main, which has gone to sleep.
    EXPECT_EQ(Log(), (std::vector<cell>{1, 20}));
    EXPECT_TRUE(game->Mode().IsSleeping());
}

TEST_F(NetGameTest, UnusableScriptEndsWithStatus1BeforeConnecting) {
    game.reset();
    {
        std::ofstream bad("npcmodes/broken.vmb", std::ios::binary);
        bad << "this is no script image, just some text long enough for a header";
    }
    for (const char* mode : {"missing", "broken"}) {
        SCOPED_TRACE(mode);
        FakeNetClient local;
        CurrentFake() = &local;
        ExitCatcher catcher;
        {
            NetGame g(FakeFactory());
            EXPECT_FALSE(g.Start("127.0.0.1", 7777, "Bot", "", mode));
            EXPECT_TRUE(g.Ended());
        }
        EXPECT_EQ(catcher.Seen(), std::vector<int>{1});
        EXPECT_EQ(local.connectCalls, 0);
    }
    CurrentFake() = &fake;
}

TEST_F(NetGameTest, ConnectionThatCannotStartEndsWithStatus1) {
    // An unusable address: waiting for an answer that cannot come would keep the bot forever.
    fake.connectResult = false;
    EXPECT_FALSE(Start());
    EXPECT_EQ(exits.Seen(), std::vector<int>{1});
}

TEST_F(NetGameTest, TransportNoticesEndTheBot) {
    struct Case {
        std::vector<uint8_t> packet;
        bool ends;
        bool disconnects;
    };
    const Case cases[] = {
        {{ID_CONN_ATTEMPT_FAILED}, true, false},
        {{ID_CONN_NO_FREE_SLOT}, true, false},
        {{ID_PUBLIC_KEY_MISMATCH}, true, false},
        {{ID_CONN_BANNED}, true, false},
        {{ID_CONN_CLOSED}, true, true},
        {{ID_CONN_LOST}, true, true},
        {{ID_CONN_BAD_PASSWORD}, true, true},
        {{ID_PACKET_MODIFIED}, false, false},
        {{ID_AIM_SYNC, 1, 2, 3}, false, false},
        {{ID_TRAILER_SYNC}, false, false},
        {{}, false, false},
        // Behind a time stamp the id is the sixth byte; a stamp without an id is dropped.
        {{ID_TIMESTAMPED, 1, 2, 3, 4, ID_CONN_LOST}, true, true},
        {{ID_TIMESTAMPED, 1, 2, 3, ID_CONN_LOST}, false, false},
    };
    game.reset();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.packet.empty() ? -1 : int(c.packet.back()));
        FakeNetClient local;
        CurrentFake() = &local;
        ExitCatcher catcher;
        {
            NetGame g(FakeFactory());
            ASSERT_TRUE(g.Start("127.0.0.1", 7777, "Bot", "", "npc_recorder"));
            local.QueuePacket(c.packet);
            // What follows a notice that ends the bot is not looked at any more.
            if (c.ends) local.QueuePacket(ConnAccepted(0));
            g.ProcessFrame(0.0f);
            EXPECT_EQ(g.Ended(), c.ends);
            EXPECT_EQ(g.State(), NpcConnectionState::Connecting);
            EXPECT_EQ(catcher.Seen(), c.ends ? std::vector<int>{1} : std::vector<int>{});
            if (c.disconnects) {
                ASSERT_FALSE(local.disconnects.empty());
                EXPECT_EQ(local.disconnects.front(), (std::pair<uint32_t, uint8_t>{0, 0}));
            } else {
                EXPECT_TRUE(local.disconnects.empty());
            }
            EXPECT_TRUE(local.rpcs.empty());
        }
    }
    CurrentFake() = &fake;
}

TEST_F(NetGameTest, JoinRequestCarriesVersionKindNameAndAnswer) {
    ASSERT_TRUE(Start());
    Deliver(ConnAccepted(0));
    EXPECT_EQ(game->State(), NpcConnectionState::Joining);
    ASSERT_EQ(fake.rpcs.size(), 1u);
    const SentRpc& join = fake.rpcs[0];
    EXPECT_EQ(join.id, RPC_NpcJoin);
    EXPECT_EQ(join.bytes,
              (std::vector<uint8_t>{0xDD, 0x0F, 0, 0, 0x01, 0x03, 'B', 'o', 't', 0xDD, 0x0F, 0, 0}));
    EXPECT_EQ(join.bits, 13u * 8);
    EXPECT_EQ(join.reliability, RELIABILITY_RELIABLE);
    EXPECT_EQ(join.priority, HIGH_PRIORITY_LEVEL);
    EXPECT_EQ(join.channel, 0);

    // The answer is the accepted message's value XOR 4061.
    Deliver(ConnAccepted(0x12345678));
    ASSERT_EQ(fake.rpcs.size(), 2u);
    const std::vector<uint8_t>& b = fake.rpcs[1].bytes;
    const uint32_t answer =
        uint32_t(b[9]) | uint32_t(b[10]) << 8 | uint32_t(b[11]) << 16 | uint32_t(b[12]) << 24;
    EXPECT_EQ(answer, 0x12345678u ^ 4061u);

    // A message too short to hold the value is dropped.
    Deliver({ID_CONN_ACCEPTED, 1, 2, 3});
    EXPECT_EQ(fake.rpcs.size(), 2u);
}

TEST_F(NetGameTest, LongBotNameJoinsCutTo24Characters) {
    const std::string name(40, 'N');
    ASSERT_TRUE(Start("npc_recorder", name.c_str()));
    Deliver(ConnAccepted(0));
    ASSERT_EQ(fake.rpcs.size(), 1u);
    EXPECT_EQ(fake.rpcs[0].bytes[5], 24);
    EXPECT_EQ(fake.rpcs[0].bytes.size(), 4u + 1 + 1 + 24 + 4);
    EXPECT_EQ(std::string(game->Players().OwnName()), std::string(24, 'N'));
}

TEST_F(NetGameTest, JoinRunsInOrderToTheSpawnAndIdleSync) {
    ASSERT_TRUE(Start());
    GameInitFields fields;
    fields.ownId = 42;
    EnterGame(fields);
    EXPECT_EQ(game->State(), NpcConnectionState::InGame);
    EXPECT_EQ(game->Players().OwnId(), 42);
    EXPECT_STREQ(game->Players().GetName(42), "Bot");
    EXPECT_EQ(game->Settings().worldHour, 15);
    EXPECT_EQ(game->Settings().weather, 3);
    EXPECT_FLOAT_EQ(game->Settings().gravity, 0.01f);
    EXPECT_STREQ(game->Settings().serverName, "Test Server");
    EXPECT_EQ(LogFrom(Log(), 3), (std::vector<cell>{3, 42}));
    ASSERT_EQ(RpcIds(), (std::vector<uint8_t>{RPC_NpcJoin, RPC_ClassRequest}));
    EXPECT_EQ(fake.rpcs[1].bytes, (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(fake.rpcs[1].reliability, RELIABILITY_RELIABLE);

    // Before the spawn is allowed nothing is synced, however long the bot waits.
    clock.Advance(5000);
    Frame();
    EXPECT_TRUE(fake.sends.empty());

    Rpc(RPC_ClassRequest, Concat({{1}, SpawnInfo(10.0f, 20.0f, 3.0f, 90.0f)}));
    ASSERT_EQ(RpcIds().back(), RPC_SpawnRequest);
    EXPECT_TRUE(fake.rpcs.back().bytes.empty());
    EXPECT_EQ(fake.rpcs.back().reliability, RELIABILITY_RELIABLE);
    const OnFootSyncRecord& own = game->Self().onFoot;
    EXPECT_EQ(own.health, 100);
    EXPECT_EQ(own.armour, 100);
    EXPECT_FLOAT_EQ(own.position.x, 10.0f);
    EXPECT_FLOAT_EQ(own.position.y, 20.0f);
    EXPECT_FLOAT_EQ(own.position.z, 3.0f);
    EXPECT_FALSE(game->Spawned());

    Rpc(RPC_SpawnRequest, std::vector<uint8_t>{1});
    EXPECT_TRUE(game->Spawned());
    EXPECT_EQ(CountCode(LogFrom(Log(), 3), 4), 1);  // OnNPCSpawn
    ASSERT_EQ(RpcIds(),
              (std::vector<uint8_t>{RPC_NpcJoin, RPC_ClassRequest, RPC_SpawnRequest, RPC_PlayerSpawned}));
    EXPECT_TRUE(fake.rpcs.back().bytes.empty());
    EXPECT_EQ(fake.rpcs.back().reliability, RELIABILITY_RELIABLE_SEQUENCED);

    // The spawn frame itself already sends: the last send lies more than 500 ms back.
    ASSERT_EQ(fake.sends.size(), 1u);
    const SentMessage& sync = fake.sends[0];
    ASSERT_EQ(sync.bytes.size(), 69u);
    EXPECT_EQ(sync.bytes[0], ID_PLAYER_SYNC);
    EXPECT_EQ(sync.reliability, RELIABILITY_UNRELIABLE_SEQUENCED);
    EXPECT_EQ(sync.priority, HIGH_PRIORITY_LEVEL);
    EXPECT_EQ(sync.channel, 0);
    OnFootSyncRecord sent;
    Decode(sync.bytes.data() + 1, sent);
    EXPECT_FLOAT_EQ(sent.position.x, 10.0f);
    EXPECT_EQ(sent.health, 100);
    EXPECT_EQ(game->Self().kind, NpcOwnSyncKind::OnFoot);
    EXPECT_NEAR(game->Self().GetFacing(), 90.0f, 0.01f);
}

TEST_F(NetGameTest, IdleSyncEveryHalfSecondOnlyOnFoot) {
    ASSERT_TRUE(Start());
    clock.Advance(1000);
    EnterAndSpawn();
    ASSERT_EQ(fake.sends.size(), 1u);

    clock.Advance(500);
    Frame();
    EXPECT_EQ(fake.sends.size(), 1u) << "exactly 500 ms is not more than 500 ms";
    clock.Advance(1);
    Frame();
    EXPECT_EQ(fake.sends.size(), 2u);

    BitStream put;
    put.Write(uint16_t(12));
    put.Write(uint8_t(0));
    Rpc(RPC_PutInVehicle, put);
    clock.Advance(2000);
    Frame();
    EXPECT_EQ(fake.sends.size(), 2u) << "no on-foot sync while in a vehicle";

    Rpc(RPC_RemoveFromVehicle, std::vector<uint8_t>{});
    EXPECT_EQ(fake.sends.size(), 3u);
    EXPECT_EQ(LogFrom(Log(), 5), (std::vector<cell>{5, 12, 0, 6}));
}

TEST_F(NetGameTest, ClassRefusedSetsTheSpawnPointButAsksNoSpawn) {
    ASSERT_TRUE(Start());
    EnterGame();
    Rpc(RPC_ClassRequest, Concat({{0}, SpawnInfo(1.0f, 2.0f, 3.0f, -90.0f)}));
    EXPECT_EQ(RpcIds().back(), RPC_ClassRequest);
    EXPECT_FLOAT_EQ(game->Self().onFoot.position.y, 2.0f);
    game->Self().kind = NpcOwnSyncKind::OnFoot;
    EXPECT_NEAR(game->Self().GetFacing(), 270.0f, 0.01f);
}

TEST_F(NetGameTest, GameModeRestartResetsAndTheNextGameInitRejoins) {
    ASSERT_TRUE(Start());
    EnterAndSpawn();
    AddPlayer(5, "Alice", true);
    BitStream vehicle;
    vehicle.Write(uint16_t(33));
    const std::vector<uint8_t> rest(38, 0);
    vehicle.WriteBytes(rest.data(), 38);
    Rpc(RPC_VehicleStreamIn, vehicle);
    ASSERT_TRUE(game->Vehicles().IsStreamedIn(33));
    ASSERT_TRUE(game->Players().IsStreamedIn(5));
    const size_t sendsBefore = fake.sends.size();

    Rpc(RPC_GameModeRestart, std::vector<uint8_t>{});
    EXPECT_EQ(game->State(), NpcConnectionState::Restarting);
    EXPECT_FALSE(game->Vehicles().IsPresent(33));
    EXPECT_FALSE(game->Players().IsStreamedIn(5));
    EXPECT_TRUE(game->Players().IsConnected(5));
    EXPECT_STREQ(game->Players().GetName(5), "Alice");
    EXPECT_FLOAT_EQ(game->Self().onFoot.position.x, 0.0f);

    // Nothing runs while restarting: no sync, no script sleep.
    clock.Advance(5000);
    Frame(5.0f);
    EXPECT_EQ(fake.sends.size(), sendsBefore);
    EXPECT_EQ(CountCode(Log(), 21), 0);

    const size_t connects = size_t(CountCode(Log(), 3));
    BitStream init;
    WriteGameInit(init, GameInitFields{});
    Rpc(RPC_GameInit, init);
    EXPECT_EQ(size_t(CountCode(Log(), 3)), connects + 1);
    EXPECT_EQ(RpcIds().back(), RPC_ClassRequest);
    // The spawned flag survives the restart: idle sync is back before any new spawn reply.
    EXPECT_EQ(fake.sends.size(), sendsBefore + 1);
}

TEST_F(NetGameTest, MainSleepsAndContinuesOnFrameTimeOnlyInGame) {
    ASSERT_TRUE(Start());
    // Not in game yet: sleeping main does not move, whatever time passes.
    for (int i = 0; i < 8; ++i) Frame(0.25f);
    EXPECT_EQ(CountCode(Log(), 21), 0);

    EnterGame();
    for (int i = 0; i < 4; ++i) Frame(0.25f);
    EXPECT_EQ(CountCode(Log(), 21), 0);
    Frame(0.25f);
    EXPECT_EQ(CountCode(Log(), 21), 1);
    for (int i = 0; i < 2; ++i) Frame(0.25f);
    EXPECT_EQ(CountCode(Log(), 22), 0);
    Frame(0.25f);
    EXPECT_EQ(CountCode(Log(), 22), 1);
    EXPECT_FALSE(game->Mode().IsSleeping());
}

TEST_F(NetGameTest, CallbacksWhileMainSleepsLeaveItsStateIntact) {
    ASSERT_TRUE(Start());
    EnterGame();
    // Callbacks run on the stack below sleeping main; main must still continue where it slept.
    AddPlayer(3, "Carl", true);
    BitStream chat;
    chat.Write(uint16_t(3));
    chat.Write(uint8_t(2));
    chat.WriteBytes("hi", 2);
    Rpc(RPC_ChatText, chat);
    for (int i = 0; i < 6; ++i) Frame(0.25f);
    EXPECT_EQ(CountCode(Log(), 21), 1);
    EXPECT_TRUE(exits.Seen().empty());
}

TEST_F(NetGameTest, ScriptWithoutMainStillJoinsAndHearsCallbacks) {
    ASSERT_TRUE(Start("npc_nomain"));
    EXPECT_FALSE(game->Mode().IsSleeping());
    EnterAndSpawn();
    EXPECT_TRUE(game->Spawned());
    const std::vector<cell> log = Log();
    EXPECT_EQ(CountCode(log, 3), 1);
    EXPECT_EQ(CountCode(log, 4), 1);
}

TEST_F(NetGameTest, TimersRunOnlyInGameOnFrameTime) {
    ASSERT_TRUE(Start());
    VmInstance* vm = game->Mode().Instance();
    const int32_t id = game->Timers().SetTimer("Tick", 125, true, vm);
    EXPECT_EQ(id, 1);
    Frame(1.0f);
    EXPECT_EQ(CountCode(Log(), 30), 0) << "no timers before the game runs";

    // Frame times in binary fractions, so the truncation to whole milliseconds is exact.
    EnterGame();
    Frame(0.0625f);  // 62 ms
    Frame(0.0625f);  // 124 ms
    EXPECT_EQ(CountCode(Log(), 30), 0);
    Frame(0.001953125f);  // 125 ms
    EXPECT_EQ(CountCode(Log(), 30), 1);
    // A late frame fires once, and the period restarts from the full interval.
    Frame(0.5f);
    EXPECT_EQ(CountCode(Log(), 30), 2);
    Frame(0.0625f);
    Frame(0.0625f);
    EXPECT_EQ(CountCode(Log(), 30), 2);
    Frame(0.001953125f);
    EXPECT_EQ(CountCode(Log(), 30), 3);
    game->Timers().KillTimer(id);
    Frame(1.0f);
    EXPECT_EQ(CountCode(Log(), 30), 3);
    EXPECT_EQ(game->Timers().Count(), 0u);
}

TEST_F(NetGameTest, TimerNativesAndKillFromInsideTheTimer) {
    ASSERT_TRUE(Start());
    EnterGame();
    VmInstance* vm = game->Mode().Instance();
    auto runPublic = [&](const char* name) {
        int index = -1;
        ASSERT_EQ(vm_LookupPublic(vm, name, &index), VM_ERR_NONE);
        cell ret = 0;
        vm_Exec(vm, &ret, index);
    };

    // SetTimer from the script: ids count up from 1; a wrong argument count starts nothing.
    runPublic("StartTick");
    EXPECT_EQ(LogFrom(Log(), 32), (std::vector<cell>{32, 1}));
    runPublic("BadSetTimer");
    EXPECT_EQ(LogFrom(Log(), 33), (std::vector<cell>{33, 0}));
    EXPECT_EQ(game->Timers().Count(), 1u);

    // A repeating timer of interval 0 runs once per frame; it kills itself on the first run.
    const int32_t self = game->Timers().SetTimer("KillSelf", 0, true, vm);
    EXPECT_EQ(self, 2);
    SetScriptVar(vm, "selfid", self);
    Frame(0.0f);
    Frame(0.0f);
    Frame(0.0f);
    EXPECT_EQ(CountCode(Log(), 31), 1);
    EXPECT_EQ(game->Timers().Count(), 1u);

    // Two timers due in the same frame run in ascending id order.
    const int32_t a = game->Timers().SetTimer("KillSelf", 50, false, vm);
    const int32_t b = game->Timers().SetTimer("Tick", 50, false, vm);
    ASSERT_LT(a, b);
    SetScriptVar(vm, "selfid", 999);
    const size_t before = Log().size();
    Frame(0.0625f);
    const std::vector<cell> log = Log();
    const std::vector<cell> fresh(log.begin() + long(before), log.end());
    ASSERT_GE(fresh.size(), 2u);
    EXPECT_EQ(fresh[0], 31);
    EXPECT_EQ(fresh[1], 30);
}

TEST_F(NetGameTest, FormatNativeFromTheScript) {
    ASSERT_TRUE(Start());
    VmInstance* vm = game->Mode().Instance();
    int index = -1;
    ASSERT_EQ(vm_LookupPublic(vm, "FormatTest", &index), VM_ERR_NONE);
    cell ret = 0;
    ASSERT_EQ(vm_Exec(vm, &ret, index), VM_ERR_NONE);
    std::vector<cell> expected{34};
    const std::vector<cell> text = TextCells("v=42 ab|    1.99");
    expected.insert(expected.end(), text.begin(), text.end());
    EXPECT_EQ(LogFrom(Log(), 34), expected);
}

TEST_F(NetGameTest, ChatAndCommandPayloads) {
    ASSERT_TRUE(Start());
    game->SendChat("hello");
    game->SendCommand("/go");
    ASSERT_EQ(fake.rpcs.size(), 2u);
    EXPECT_EQ(fake.rpcs[0].id, RPC_ChatText);
    EXPECT_EQ(fake.rpcs[0].bytes, (std::vector<uint8_t>{5, 'h', 'e', 'l', 'l', 'o'}));
    EXPECT_EQ(fake.rpcs[0].reliability, RELIABILITY_RELIABLE);
    EXPECT_EQ(fake.rpcs[1].id, RPC_CommandText);
    EXPECT_EQ(fake.rpcs[1].bytes, (std::vector<uint8_t>{3, 0, 0, 0, '/', 'g', 'o'}));

    // The chat length travels in one byte: a longer line keeps its first 255 bytes rather than a
    // length that wrapped around.
    const std::string longLine(300, 'x');
    game->SendChat(longLine.c_str());
    EXPECT_EQ(fake.rpcs[2].bytes[0], 255);
    EXPECT_EQ(fake.rpcs[2].bytes.size(), 256u);
}

TEST_F(NetGameTest, ConnectionRejectedDisconnectsSlowlyAndEnds) {
    ASSERT_TRUE(Start());
    Deliver(ConnAccepted(0));
    Rpc(RPC_ConnectionRejected, std::vector<uint8_t>{2});
    ASSERT_FALSE(fake.disconnects.empty());
    EXPECT_EQ(fake.disconnects.front(), (std::pair<uint32_t, uint8_t>{500, 0}));
    EXPECT_EQ(exits.Seen(), std::vector<int>{1});
    EXPECT_TRUE(game->Ended());
}

}  // namespace
}  // namespace velt::test
