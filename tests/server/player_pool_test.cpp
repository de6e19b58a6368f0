// The player pool: joins and leaves with their messages, log lines and callback order, refusals,
// bots, names, virtual worlds, and scripts that kick a player from inside its own callbacks.

#include "server/shared/GameRpc.h"
#include "tests/server/game_server_fixture.h"

namespace velt::test {
namespace {

using ::testing::ElementsAre;

class PlayerPoolTest : public GameServerTest {
protected:
    void SetUp() override {
        GameServerTest::SetUp();
        scripts_.gameModePublics = {{"OnPlayerConnect", 1},
                                    {"OnPlayerDisconnect", 1},
                                    {"OnPlayerKeyStateChange", 1},
                                    {"OnPlayerStateChange", 1}};
        scripts_.filterScriptFiles = {"admin"};
        scripts_.filterScriptPublics["admin"] = scripts_.gameModePublics;
        console_->SetStringVariable("filterscripts", "admin");
        Start();
    }

    std::string Dotted(uint16_t id) { return FakeNetServer::AddressOf(id).ToString(false); }
};

TEST_F(PlayerPoolTest, JoinTellsTheOthersLogsAndCallsFilterScriptsFirst) {
    Join(0, "Alice");
    net_->sent.clear();
    scripts_.Clear();
    Join(7, "Bob");

    std::vector<FakeNetServer::Message> joined = net_->Rpcs(RPC_PlayerJoined);
    ASSERT_EQ(joined.size(), 1u);
    EXPECT_EQ(joined[0].target, FakeNetServer::AddressOf(0));
    EXPECT_EQ(joined[0].channel, 2);
    EXPECT_EQ(joined[0].reliability, RELIABILITY_RELIABLE_ORDERED);
    Reader r(joined[0]);
    EXPECT_EQ(r.Get<uint16_t>(), 7);
    EXPECT_EQ(r.Get<int32_t>(), 0);
    EXPECT_EQ(r.Get<uint8_t>(), 0);
    EXPECT_EQ(r.Get<uint8_t>(), 3);
    EXPECT_EQ(r.Text(3), "Bob");
    EXPECT_EQ(r.Left(), 0);

    std::vector<FakeNetServer::Message> tick = net_->Rpcs(RPC_ServerTick);
    ASSERT_EQ(tick.size(), 1u);
    EXPECT_EQ(tick[0].target, FakeNetServer::AddressOf(7));
    EXPECT_EQ(tick[0].bits, 32);

    EXPECT_TRUE(Logged("[join] Bob has joined the server (7:" + Dotted(7) + ")"));
    EXPECT_THAT(Calls(), ElementsAre("fs:OnPlayerConnect(7)", "gm:OnPlayerConnect(7)"));
    EXPECT_EQ(pool()->GetUpperIndex(), 7);
    EXPECT_EQ(pool()->GetConnectedCount(), 2);

    // A later joiner hears of everyone already there, with their colours.
    player(0)->SetColor(0x11223344);
    net_->sent.clear();
    Join(3, "Carl");
    pool()->SendExistingPlayers(3);
    std::vector<FakeNetServer::Message> toCarl;
    for (const auto& m : net_->To(FakeNetServer::AddressOf(3)))
        if (m.rpcId == RPC_PlayerJoined) toCarl.push_back(m);
    ASSERT_EQ(toCarl.size(), 2u);
    Reader alice(toCarl[0]);
    EXPECT_EQ(alice.Get<uint16_t>(), 0);
    EXPECT_EQ(alice.Get<uint32_t>(), 0x11223344u);
}

TEST_F(PlayerPoolTest, LeaveTellsTheOthersLogsAndFreesTheSlot) {
    Join(0, "Alice");
    Join(7, "Bob");
    net_->sent.clear();
    scripts_.Clear();

    EXPECT_EQ(pool()->Disconnect(7, DISCONNECT_QUIT), 1);
    EXPECT_THAT(Calls(), ElementsAre("fs:OnPlayerDisconnect(7,1)", "gm:OnPlayerDisconnect(7,1)"));
    std::vector<FakeNetServer::Message> left = net_->Rpcs(RPC_PlayerLeft);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].target, FakeNetServer::AddressOf(0));
    EXPECT_EQ(left[0].bytes, (std::vector<uint8_t>{7, 0, 1}));
    EXPECT_TRUE(Logged("[part] Bob has left the server (7:1)"));
    EXPECT_FALSE(pool()->IsConnected(7));
    EXPECT_EQ(pool()->GetUpperIndex(), 0);
    EXPECT_EQ(pool()->GetConnectedCount(), 1);

    scripts_.Clear();
    EXPECT_EQ(pool()->Disconnect(7, DISCONNECT_QUIT), 0);
    EXPECT_EQ(pool()->Disconnect(1000, DISCONNECT_QUIT), 0);
    EXPECT_TRUE(scripts_.calls.empty());
    // The slot takes a new player at once, whom nobody has streamed in yet.
    Join(7, "Bob");
    player(0)->StreamInPlayer(7);
    ASSERT_EQ(player(0)->StreamedPlayerCount(), 1);
    pool()->Disconnect(7, DISCONNECT_TIMEOUT);
    EXPECT_EQ(player(0)->StreamedPlayerCount(), 0);
    Join(7, "Dave");
    EXPECT_STREQ(pool()->GetName(7), "Dave");
    EXPECT_FALSE(player(0)->IsPlayerStreamedIn(7));
}

// The variable table is made by the first set that stores, kept through the disconnect callbacks
// and freed as the player leaves; the next player of the slot starts without one.
TEST_F(PlayerPoolTest, VariableTableLivesFromFirstSetUntilLeave) {
    Join(7, "Bob");
    PlayerVars& vars = player(7)->Variables();
    EXPECT_EQ(vars.GetInt("score"), 0);
    EXPECT_EQ(vars.GetString("score"), nullptr);
    EXPECT_EQ(vars.GetType("score"), PLAYER_VARTYPE_NONE);
    EXPECT_EQ(vars.Delete("score"), 0);
    EXPECT_EQ(vars.GetAt(0), nullptr);
    EXPECT_EQ(vars.SetInt(std::string(41, 'n'), 1, false), 0);
    EXPECT_FALSE(vars.HoldsTable());

    ASSERT_EQ(vars.SetInt("score", 5, false), 1);
    EXPECT_TRUE(vars.HoldsTable());
    ASSERT_EQ(vars.SetString("name", "x", true), 1);
    EXPECT_EQ(vars.SetString("NAME", "y", false), 0);  // refused on a table it did not make
    EXPECT_TRUE(vars.HoldsTable());
    player(7)->Reset();
    EXPECT_FALSE(vars.HoldsTable());
    ASSERT_EQ(vars.SetInt("score", 5, false), 1);

    int32_t seenInCallback = -1;
    scripts_.onRun = [&](ScriptCall& call) {
        if (call.name == "OnPlayerDisconnect") seenInCallback = player(7)->Variables().GetInt("SCORE");
    };
    Player* leaving = player(7);
    ASSERT_EQ(pool()->Disconnect(7, DISCONNECT_QUIT), 1);
    EXPECT_EQ(seenInCallback, 5);
    EXPECT_FALSE(leaving->Variables().HoldsTable());  // before the record itself is freed
    Join(7, "Dave");
    EXPECT_EQ(player(7)->Variables().GetInt("score"), 0);
    EXPECT_FALSE(player(7)->Variables().HoldsTable());
}

TEST_F(PlayerPoolTest, RefusedJoinsLeaveTheSlotFreeAndSayNothing) {
    const std::string name24(24, 'n');
    struct Case {
        uint16_t id;
        std::string name;
        std::string serial;
        std::string version;
        int expected;
    } cases[] = {
        {1000, "Zed", "", "", 0},
        {5, name24 + "x", "", "", 0},
        {5, "Zed", std::string(100, 's'), "", 0},
        {5, "Zed", "", std::string(25, 'v'), 0},
        {999, name24, std::string(99, 's'), std::string(24, 'v'), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.size());
        net_->sent.clear();
        net_->AddSlot(c.id, FakeNetServer::AddressOf(c.id));
        EXPECT_EQ(pool()->Connect(c.id, c.name.c_str(), c.serial.c_str(), c.version.c_str(), false),
                  c.expected);
        EXPECT_EQ(pool()->IsConnected(c.id), c.expected == 1);
        if (c.expected == 0) {
            EXPECT_TRUE(net_->sent.empty());
            EXPECT_EQ(pool()->GetAt(c.id < kMaxPlayers ? c.id : 0), nullptr);
        }
    }
    EXPECT_EQ(pool()->GetUpperIndex(), 999);
    EXPECT_EQ(pool()->GetConnectedCount(), 1);
    EXPECT_EQ(std::string(pool()->GetSerial(999)), std::string(99, 's'));
    EXPECT_EQ(std::string(pool()->GetVersion(999)), std::string(24, 'v'));
    EXPECT_EQ(Only(LogLines(), {"[join]"}).size(), 1u);
    EXPECT_EQ(pool()->Connect(999, "Again", nullptr, nullptr, false), 0);  // slot taken
}

TEST_F(PlayerPoolTest, BotsAreTaggedAndCountedApart) {
    Join(0, "Alice");
    Join(2, "npc1", true);
    EXPECT_TRUE(Logged("[npc:join] npc1 has joined the server (2:" + Dotted(2) + ")"));
    EXPECT_EQ(pool()->GetHumanCount(), 1);
    EXPECT_EQ(pool()->GetNpcCount(), 1);
    EXPECT_TRUE(pool()->IsReady(2));
    EXPECT_TRUE(pool()->IsReady(0));
    net_->slots.erase(0);  // the transport no longer holds Alice's connection
    EXPECT_FALSE(pool()->IsReady(0));

    pool()->Disconnect(2, DISCONNECT_TIMEOUT);
    EXPECT_TRUE(Logged("[npc:part] npc1 has left the server (2:0)"));
    EXPECT_FALSE(pool()->IsBot(2));
    EXPECT_EQ(pool()->GetNpcCount(), 0);
}

TEST_F(PlayerPoolTest, NamesCompareWithoutCase) {
    Join(4, "Alice");
    EXPECT_TRUE(pool()->IsNameInUse("aLiCe"));
    EXPECT_FALSE(pool()->IsNameInUse("Alicia"));
    EXPECT_FALSE(pool()->IsNameInUse("Alic"));
}

TEST_F(PlayerPoolTest, VirtualWorldIsSentOnlyWhenItChanges) {
    Join(1, "Alice");
    net_->sent.clear();
    pool()->SetVirtualWorld(1, 5);
    pool()->SetVirtualWorld(1, 5);
    pool()->SetVirtualWorld(2, 5);  // nobody there
    std::vector<FakeNetServer::Message> sent = net_->Rpcs(RPC_PlayerVirtualWorldSet);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].bytes, (std::vector<uint8_t>{5, 0, 0, 0}));
    EXPECT_EQ(pool()->GetVirtualWorld(1), 5);
}

// A script may kick the player whose disconnect it is being told about.
TEST_F(PlayerPoolTest, KickInsideTheDisconnectCallbackLeavesOnce) {
    Join(4, "Alice");
    scripts_.Clear();
    scripts_.onRun = [&](ScriptCall& call) {
        if (call.name == "OnPlayerDisconnect") game_->KickPlayer(4);
    };
    EXPECT_EQ(pool()->Disconnect(4, DISCONNECT_QUIT), 1);
    EXPECT_THAT(Calls(), ElementsAre("fs:OnPlayerDisconnect(4,1)", "gm:OnPlayerDisconnect(4,1)"));
    EXPECT_EQ(Only(LogLines(), {"[part]"}).size(), 1u);
    EXPECT_EQ(pool()->GetConnectedCount(), 0);
}

// ... or kick a player from a callback raised while that player's own record is being stored:
// the record must outlive the store, and nothing more may be raised for the player who left.
TEST_F(PlayerPoolTest, KickInsideAStoreCallbackIsSafe) {
    Join(4, "Alice");
    scripts_.Clear();
    scripts_.onRun = [&](ScriptCall& call) {
        if (call.name == "OnPlayerKeyStateChange") game_->KickPlayer(4);
    };
    OnFootSyncRecord record;
    record.keys = 8;
    record.health = 100;
    player(4)->StoreOnFootSync(record);

    EXPECT_FALSE(pool()->IsConnected(4));
    EXPECT_THAT(Calls(), ElementsAre("gm:OnPlayerKeyStateChange(4,8,0)", "fs:OnPlayerDisconnect(4,2)",
                                     "gm:OnPlayerDisconnect(4,2)"));
    game_->Process(0.0f);  // frees the record between passes
    EXPECT_EQ(pool()->GetAt(4), nullptr);
}

}  // namespace
}  // namespace velt::test
