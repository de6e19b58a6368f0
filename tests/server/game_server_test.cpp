// The game server object on a fake transport and the stand-in script hosts: construction and its
// failures, the gamemode rotation and intermission, shutdown order, world settings, kicks, bans,
// the console's reach into the game, the main-loop helpers and the packet loop.

#include <signal.h>
#include <stdlib.h>

#include <algorithm>

#include "net/MessageIdentifiers.h"
#include "server/game/Signals.h"
#include "server/protocol/RpcCall.h"
#include "tests/server/game_server_fixture.h"

namespace velt::test {
namespace {

using ::testing::ElementsAre;

size_t IndexOf(const std::vector<std::string>& v, const std::string& item) {
    return size_t(std::find(v.begin(), v.end(), item) - v.begin());
}

TEST_F(GameServerTest, ConstructionStartsTheTransportInOrderWithClampedSettings) {
    settings_.maxPlayers = 1500;  // set behind the console's back: the constructor clamps again
    settings_.port = 7777;
    console_->SetStringVariable("password", "secret");
    Start(false);

    EXPECT_EQ(game_->StartFailed(), StartFailure::None);
    EXPECT_THAT(net_->calls, ElementsAre("SetMTUSize 576", "Start 1000 5 7777 (none)", "ClearBanList",
                                         "StartOccasionalPing", "SetPassword secret"));
    EXPECT_EQ(settings_.maxPlayers, 1000);
    EXPECT_STREQ(console_->GetStringVariable("worldtime"), "12:00");
    EXPECT_EQ(std::string(getenv("VMFILE")), dir_.string() + "/scriptfiles/");
    EXPECT_EQ(game_->NextGameModePath(), "gamemodes/a.vmb");
    EXPECT_EQ(game_->GetGameState(), GAME_STATE_STARTING);
    EXPECT_EQ(game_->GetPlayerPool(), nullptr);

    game_->Init(true);
    EXPECT_EQ(game_->GetGameState(), GAME_STATE_RUNNING);
    EXPECT_NE(game_->GetActorPool(), nullptr);
    EXPECT_EQ(scripts_.events.back(), "GameMode::Load gamemodes/a.vmb");
    EXPECT_TRUE(Logged("Number of vehicle models: 0"));
}

// A password starting with '0' has always meant none; at start too, not only when changed later.
TEST_F(GameServerTest, PasswordStartingWithZeroMeansNoneAtStart) {
    console_->SetStringVariable("password", "0pen");
    Start(false);
    for (const std::string& call : net_->calls) EXPECT_EQ(call.rfind("SetPassword", 0), std::string::npos);
    EXPECT_STREQ(console_->GetStringVariable("password"), "");
}

TEST_F(GameServerTest, FailedStartStopsConstructionAndEndsQuietly) {
    struct Case {
        int32_t port;
        const char* bind;
        bool portFree;
        const char* gamemode0;
        StartFailure failure;
        std::vector<std::string> lines;
    } cases[] = {
        {7777,
         "",
         false,
         "a",
         StartFailure::PortInUse,
         {"Unable to start server on port: 7777. Port in use?"}},
        {7777,
         "127.0.0.1",
         false,
         "a",
         StartFailure::PortInUse,
         {"Unable to start server on 127.0.0.1:7777. Port in use?"}},
        // Outside the range no port is tried: neither wrapped round to another one nor reported
        // as one in use.
        {70000,
         "",
         true,
         "a",
         StartFailure::BadPort,
         {"Unable to start server: port 70000 is not a port number (1 to 65535)."}},
        {-1,
         "",
         true,
         "a",
         StartFailure::BadPort,
         {"Unable to start server: port -1 is not a port number (1 to 65535)."}},
        {0,
         "",
         true,
         "a",
         StartFailure::BadPort,
         {"Unable to start server: port 0 is not a port number (1 to 65535)."}},
        {7777,
         "",
         true,
         "missing",
         StartFailure::NoGameMode,
         {"I couldn't load any gamemode scripts. Please verify your server.cfg",
          "It needs a gamemode0 line at the very least."}},
        {7777,
         "",
         true,
         "",
         StartFailure::NoGameMode,
         {"I couldn't load any gamemode scripts. Please verify your server.cfg",
          "It needs a gamemode0 line at the very least."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lines[0]);
        std::remove("server_log.txt");
        OpenLogFile();
        settings_.port = c.port;
        console_->SetStringVariable("bind", c.bind);
        console_->SetStringVariable("gamemode0", c.gamemode0);
        FakeNetServer::nextStartSucceeds = c.portFree;
        FakeNetServer::destroyedCalls.clear();
        // A refused start reaches an operator who has console output off: standard error.
        testing::internal::CaptureStderr();
        Start(false);
        const std::string stderrText = testing::internal::GetCapturedStderr();
        EXPECT_EQ(game_->StartFailed(), c.failure);
        EXPECT_EQ(console_->Host(), nullptr);
        game_.reset();
        std::vector<std::string> log = LogLines();
        for (const std::string& line : c.lines) {
            EXPECT_TRUE(Logged(line)) << line;
            EXPECT_NE(stderrText.find(line + "\n"), std::string::npos) << line;
        }
        EXPECT_FALSE(Logged("--- Server Shutting Down."));
        const bool tried =
            std::any_of(FakeNetServer::destroyedCalls.begin(), FakeNetServer::destroyedCalls.end(),
                        [](const std::string& call) { return call.rfind("Start ", 0) == 0; });
        EXPECT_EQ(tried, c.failure != StartFailure::BadPort);
        EXPECT_EQ(FakeNetServer::destroyedCalls.back(), "Disconnect 100 0");
    }
}

// Drives the rotation the way GameModeExit does and returns the chosen scripts, the first of
// which the constructor picked.
std::vector<std::string> RunRotation(GameServer& game, int choices) {
    std::vector<std::string> out;
    auto name = [](const std::string& path) { return path.substr(10, path.size() - 14); };
    out.push_back(name(game.NextGameModePath()));
    for (int i = 1; i < choices; ++i) {
        if (game.SetNextGameMode(nullptr) == 0) {
            out.push_back("(none)");
            break;
        }
        out.push_back(name(game.NextGameModePath()));
    }
    return out;
}

TEST_F(GameServerTest, RotationRunsEachEntryItsCountThenMovesOn) {
    struct Case {
        std::vector<std::pair<int, const char*>> entries;
        int choices;
        std::vector<std::string> expected;
    } cases[] = {
        {{{0, "a 2"}, {1, "b 1"}}, 6, {"a", "a", "b", "a", "a", "b"}},
        // Without a count an entry runs once, instead of for ever.
        {{{0, "a"}, {1, "b"}}, 4, {"a", "b", "a", "b"}},
        {{{0, "a 0"}, {1, "b -4"}}, 4, {"a", "b", "a", "b"}},
        // An empty entry sends the rotation back to the first.
        {{{0, "a 1"}, {1, ""}, {2, "b 1"}}, 3, {"a", "a", "a"}},
        {{{0, "a 1"}, {1, "zzz 1"}}, 3, {"a", "(none)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected.size());
        for (int i = 0; i < kGameModeRotationSize; ++i)
            console_->SetStringVariable(("gamemode" + std::to_string(i)).c_str(), "");
        for (auto [index, entry] : c.entries)
            console_->SetStringVariable(("gamemode" + std::to_string(index)).c_str(), entry);
        Start(false);
        EXPECT_EQ(RunRotation(*game_, c.choices), c.expected);
        game_.reset();
    }
}

TEST_F(GameServerTest, RotationWrapsAfterTheSixteenthEntry) {
    for (int i = 0; i < kGameModeRotationSize; ++i)
        console_->SetStringVariable(("gamemode" + std::to_string(i)).c_str(), i == 15 ? "b" : "a");
    Start(false);
    std::vector<std::string> order = RunRotation(*game_, 18);
    EXPECT_EQ(order[15], "b");
    EXPECT_EQ(order[16], "a");
    EXPECT_EQ(game_->RotationIndex(), 1);
}

TEST_F(GameServerTest, ConsoleRotationCommandsMoveOnOrRefuse) {
    console_->SetStringVariable("gamemode0", "a 3");
    console_->SetStringVariable("gamemode1", "b 1");
    Start();
    ASSERT_EQ(game_->RotationRepeatsLeft(), 2);

    console_->Execute("changemode nope");
    EXPECT_EQ(GameModeChangePending.load(), 0);
    EXPECT_EQ(game_->NextGameModePath(), "gamemodes/a.vmb");

    // "gmx" moves on although the current entry has runs left.
    console_->Execute("gmx");
    EXPECT_EQ(GameModeChangePending.load(), 1);
    EXPECT_EQ(game_->NextGameModePath(), "gamemodes/b.vmb");

    GameModeChangePending.store(0);
    console_->Execute("changemode c");
    EXPECT_EQ(GameModeChangePending.load(), 1);
    EXPECT_EQ(game_->NextGameModePath(), "gamemodes/c.vmb");
}

TEST_F(GameServerTest, GameModeExitRunsTheIntermissionThenTheNextGameMode) {
    console_->SetStringVariable("gamemode0", "a 1");
    console_->SetStringVariable("gamemode1", "b 1");
    console_->SetStringVariable("filterscripts", "admin");
    scripts_.filterScriptFiles = {"admin"};
    scripts_.filterScriptPublics["admin"] = {{"OnPlayerConnect", 1}, {"OnPlayerDisconnect", 1}};
    scripts_.gameModePublics = {{"OnPlayerConnect", 1}, {"OnPlayerDisconnect", 1}};
    Start();
    Join(0, "Alice");
    Join(1, "Bob");
    scripts_.Clear();
    net_->sent.clear();

    // What GameModeExit does: choose the next gamemode, then ask the main loop to end this one.
    ASSERT_EQ(game_->SetNextGameMode(nullptr), 1);
    GameModeChangePending.store(1);
    RunMainLoopPass(*game_, settings_);

    EXPECT_EQ(GameModeChangePending.load(), 0);
    EXPECT_EQ(game_->GetGameState(), GAME_STATE_ENDED);
    std::vector<FakeNetServer::Message> restart = net_->Rpcs(RPC_GameModeRestart);
    ASSERT_EQ(restart.size(), 2u);
    for (const auto& m : restart) {
        EXPECT_EQ(m.bits, 0);
        EXPECT_EQ(m.channel, 2);
        EXPECT_EQ(m.reliability, RELIABILITY_RELIABLE_ORDERED);
        EXPECT_EQ(m.priority, HIGH_PRIORITY_LEVEL);
    }
    EXPECT_THAT(Calls(), ElementsAre("gm:OnPlayerDisconnect(0,1)", "fs:OnPlayerDisconnect(0,1)",
                                     "gm:OnPlayerDisconnect(1,1)", "fs:OnPlayerDisconnect(1,1)"));
    EXPECT_EQ(game_->GetGameMode(), nullptr);
    EXPECT_EQ(game_->GetVehiclePool(), nullptr);
    EXPECT_EQ(game_->GetActorPool(), nullptr);
    EXPECT_NE(game_->GetPlayerPool(), nullptr);
    EXPECT_NE(game_->GetFilterScripts(), nullptr);

    // Between gamemodes players still come and go: no gamemode, no pools but the player pool.
    scripts_.Clear();
    net_->QueuePacket(1, {ID_CONN_LOST});
    game_->Process(6.0f);
    EXPECT_THAT(Calls(), ElementsAre("fs:OnPlayerDisconnect(1,0)"));
    EXPECT_TRUE(Logged("[part] Bob has left the server (1:0)"));
    game_->Process(6.0f);
    EXPECT_EQ(game_->GetGameState(), GAME_STATE_ENDED);  // 12 s exactly is not yet over

    scripts_.Clear();
    net_->sent.clear();
    game_->Process(0.01f);
    EXPECT_EQ(game_->GetGameState(), GAME_STATE_RUNNING);
    EXPECT_THAT(scripts_.events, ElementsAre("GameMode::Load gamemodes/b.vmb"));
    EXPECT_THAT(Calls(), ElementsAre("fs:OnPlayerConnect(0)", "gm:OnPlayerConnect(0)"));
    std::vector<FakeNetServer::Message> init = net_->Rpcs(RPC_GameInit);
    ASSERT_EQ(init.size(), 1u);
    EXPECT_EQ(init[0].target, FakeNetServer::AddressOf(0));
}

TEST_F(GameServerTest, ClassTableHolds319AndEmptiesAtEveryGameModeStart) {
    Start();
    SpawnInfo spawn;
    for (uint32_t i = 0; i < kMaxPlayerClasses; ++i) {
        spawn.skin = int32_t(i);
        ASSERT_EQ(game_->AddPlayerClass(spawn), i);
    }
    spawn.skin = 999;
    EXPECT_EQ(game_->AddPlayerClass(spawn), kMaxPlayerClasses);
    EXPECT_EQ(game_->GetPlayerClass(318)->skin, 318);

    game_->EndGameMode();
    game_->RestartGameMode();
    EXPECT_EQ(game_->AddPlayerClass(spawn), 0u);
}

TEST_F(GameServerTest, ShutdownDeletesHostsFirstAndRaisesNothingIntoThem) {
    console_->SetStringVariable("filterscripts", "admin");
    scripts_.filterScriptFiles = {"admin"};
    scripts_.filterScriptPublics["admin"] = {{"OnPlayerDisconnect", 1}};
    scripts_.gameModePublics = {{"OnPlayerDisconnect", 1}};
    Start();
    Join(4, "Alice");
    scripts_.Clear();

    TheGameServer = nullptr;
    game_.reset();

    EXPECT_THAT(scripts_.events, ElementsAre("GameMode::~GameMode", "UnloadFilterScript admin"));
    EXPECT_TRUE(scripts_.calls.empty());
    std::vector<std::string> log = Only(LogLines(), {"--- Server", "[part]"});
    EXPECT_THAT(log, ElementsAre("--- Server Shutting Down.", "[part] Alice has left the server (4:0)"));
    EXPECT_EQ(FakeNetServer::destroyedCalls.back(), "Disconnect 100 0");
}

TEST_F(GameServerTest, WorldSettersTellEveryPlayerAndMirrorTheConsole) {
    Start();
    Join(0, "Alice");
    Join(2, "Bob");
    struct Case {
        std::function<void()> set;
        uint8_t rpc;
        std::vector<uint8_t> payload;
        const char* variable;
        const char* text;
    } cases[] = {
        {[&] { game_->SetWorldTime(7); }, RPC_WorldTimeSet, {7}, "worldtime", "07:00"},
        {[&] { game_->SetWeather(23); }, RPC_WeatherSet, {23}, "weather", "23"},
        {[&] { game_->SetGravity(0.5f); }, RPC_GravitySet, {0x00, 0x00, 0x00, 0x3F}, "gravity", "0.500000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.variable);
        net_->sent.clear();
        c.set();
        std::vector<FakeNetServer::Message> sent = net_->Rpcs(c.rpc);
        ASSERT_EQ(sent.size(), 2u);
        EXPECT_EQ(sent[0].target, FakeNetServer::AddressOf(0));
        EXPECT_EQ(sent[1].target, FakeNetServer::AddressOf(2));
        for (const auto& m : sent) {
            EXPECT_EQ(m.bytes, c.payload);
            EXPECT_EQ(m.channel, 2);
            EXPECT_EQ(m.reliability, RELIABILITY_RELIABLE_ORDERED);
        }
        EXPECT_STREQ(console_->GetStringVariable(c.variable), c.text);
    }
    EXPECT_EQ(game_->world.worldTimeHour, 7);
    EXPECT_EQ(game_->world.weather, 23);
    EXPECT_EQ(game_->world.gravity, 0.5f);
}

TEST_F(GameServerTest, KickClosesTheConnectionThenTheSlot) {
    Start();
    Join(3, "Bob");
    EXPECT_EQ(game_->KickPlayer(1000), 0);
    EXPECT_EQ(game_->KickPlayer(3), 1);
    EXPECT_EQ(net_->calls.back(), "Kick " + std::string(FakeNetServer::AddressOf(3).ToString(true)));
    EXPECT_FALSE(pool()->IsConnected(3));
    EXPECT_TRUE(Logged("[part] Bob has left the server (3:2)"));

    // The console reaches the same operation through the game server.
    Join(5, "Carl");
    console_->Execute("kick 5");
    EXPECT_FALSE(pool()->IsConnected(5));
}

TEST_F(GameServerTest, BanFileFollowsTheTransportAndSigusr2ReloadsItInTheMainLoop) {
    WriteFile("velt.ban", "1.2.3.4 [01/01/24 | 10:00:00] Eve - spam\r\n#5.6.7.8\n");
    Start();
    EXPECT_EQ(IndexOf(net_->calls, "ClearBanList") + 1, IndexOf(net_->calls, "AddToBanList 1.2.3.4 0"));

    game_->AddBan("Mallory", "9.9.9.9", "flood\n* injected");
    EXPECT_EQ(net_->calls.back(), "AddToBanList 9.9.9.9 0");
    std::string file = ReadFile("velt.ban");
    EXPECT_NE(file.find("9.9.9.9 ["), std::string::npos);
    EXPECT_NE(file.find("Mallory - flood * injected\n"), std::string::npos);

    WriteFile("velt.ban", "7.7.7.7\n");
    net_->calls.clear();
    OnSignal(SIGUSR2);
    RunMainLoopPass(*game_, settings_);
    EXPECT_THAT(net_->calls, ElementsAre("ClearBanList", "AddToBanList 7.7.7.7 0"));
    net_->calls.clear();
    RunMainLoopPass(*game_, settings_);
    EXPECT_TRUE(net_->calls.empty());

    game_->RemoveBan("7.7.7.7");
    EXPECT_EQ(net_->calls.back(), "RemoveFromBanList 7.7.7.7");
    EXPECT_EQ(ReadFile("velt.ban"), "");
}

TEST_F(GameServerTest, ConsoleVariablesAreClampedAndThePasswordReachesTheTransport) {
    struct Case {
        const char* line;
        std::function<double()> read;
        double expected;
    } cases[] = {
        {"maxplayers 5000", [&] { return settings_.maxPlayers; }, 1000},
        {"maxplayers -3", [&] { return settings_.maxPlayers; }, 0},
        {"stream_rate 10000", [&] { return settings_.streamRate; }, 5000},
        {"stream_rate 10", [&] { return settings_.streamRate; }, 500},
        {"stream_distance 10", [&] { return settings_.streamDistance; }, 50.0},
        {"stream_distance 1000", [&] { return settings_.streamDistance; }, 400.0},
        {"stream_distance nan", [&] { return settings_.streamDistance; }, 50.0},
    };
    for (const Case& c : cases) {
        console_->Execute(c.line);
        EXPECT_EQ(c.read(), c.expected) << c.line;
    }

    console_->Execute("maxplayers 50");
    Start();
    console_->Execute("maxplayers 64");
    EXPECT_EQ(net_->calls.back(), "SetMaxPlayers 64");
    console_->Execute("password hunter2");
    EXPECT_EQ(net_->calls.back(), "SetPassword hunter2");
    EXPECT_TRUE(Logged("Setting server password to: \"hunter2\""));
    console_->Execute("password 0");
    EXPECT_EQ(net_->calls.back(), "SetPassword (null)");
    EXPECT_TRUE(Logged("Server password has been removed."));
    EXPECT_STREQ(console_->GetStringVariable("password"), "");

    LockStartupVariables(*console_);
    console_->Execute("maxplayers 20");
    EXPECT_EQ(settings_.maxPlayers, 64);
}

TEST_F(GameServerTest, StartupChecksAndSignalFlags) {
    EXPECT_TRUE(RefuseDefaultPassword(*console_));
    EXPECT_TRUE(Logged("Error: Your password must be changed from the default password, please change it."));
    console_->SetStringVariable("rcon_password", "Lanterns");
    EXPECT_FALSE(RefuseDefaultPassword(*console_));

    // connseedtime 0: a new cookie seed whenever at least one millisecond passed.
    DrawConnectionSecrets(1000);
    uint32_t seed = CookieSeed.load();
    EXPECT_FALSE(ReseedCookieIfDue(0, 1000));
    EXPECT_EQ(CookieSeed.load(), seed);
    EXPECT_TRUE(ReseedCookieIfDue(0, 1001));
    EXPECT_FALSE(ReseedCookieIfDue(300000, 1001 + 300000));
    EXPECT_TRUE(ReseedCookieIfDue(300000, 1001 + 300001));

    OnSignal(SIGQUIT);
    EXPECT_EQ(ExitRequested.load(), 0);
    EXPECT_FALSE(TakeBanReloadRequest());
    OnSignal(SIGUSR2);
    OnSignal(SIGUSR2);
    EXPECT_TRUE(TakeBanReloadRequest());
    EXPECT_FALSE(TakeBanReloadRequest());
    OnSignal(SIGTERM);
    EXPECT_EQ(ExitRequested.load(), 1);
    ExitRequested.store(0);
    OnSignal(SIGINT);
    EXPECT_EQ(ExitRequested.load(), 1);
    ExitRequested.store(0);
}

// A stop request while the first is still pending (a script holds the main loop for ever) ends
// the process at once: status 1, a notice on standard error and at the end of the log, every
// line logged before it still there.
TEST_F(GameServerTest, SecondStopSignalWhileTheFirstIsPendingEndsAtOnce) {
    // Forked where it stands (no threads run here), so the child logs into this test's directory.
    GTEST_FLAG_SET(death_test_style, "fast");
    const std::string notice = "Forced exit: a second stop signal came before the server could shut down.";
    for (int second : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(second);
        CloseLogFile();
        std::remove("server_log.txt");
        EXPECT_EXIT(
            {
                OpenLogFile();
                LogPrintf("logged before");
                ExitRequested.store(0);
                OnSignal(SIGINT);
                OnSignal(second);
            },
            testing::ExitedWithCode(1), notice);
        std::vector<std::string> log = LogLines();
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(log[log.size() - 2], "logged before");
        EXPECT_EQ(log.back(), notice);
    }
    // The console's "exit" is a pending request too.
    EXPECT_EXIT(
        {
            console_->Execute("exit");
            OnSignal(SIGTERM);
        },
        testing::ExitedWithCode(1), notice);
}

TEST_F(GameServerTest, TickRateCountsPassesOfTheLastWholeSecond) {
    Start();
    uint32_t now = GetTimeMs() + 5000;
    game_->SetClock([&] { return now; });
    game_->CountTick();  // opens a window
    for (int i = 0; i < 4; ++i) game_->CountTick();
    now += 999;
    game_->CountTick();
    EXPECT_EQ(game_->GetTickRate(), 0u);
    now += 1;
    game_->CountTick();
    EXPECT_EQ(game_->GetTickRate(), 6u);
}

TEST_F(GameServerTest, PacketLoopHandsConnectionEventsOnAndFreesEveryPacket) {
    scripts_.filterScriptFiles = {"admin"};
    console_->SetStringVariable("filterscripts", "admin");
    scripts_.filterScriptPublics["admin"] = {{"OnIncomingConnection", 0}};
    scripts_.gameModePublics = {{"OnIncomingConnection", 0}};
    Start();
    Join(1, "Alice");
    Join(2, "Bob");
    net_->AddSlot(3, FakeNetServer::AddressOf(3));
    scripts_.Clear();
    net_->QueuePacket(3, {ID_CONN_INCOMING});
    net_->QueuePacket(1, {ID_CONN_CLOSED});
    net_->QueuePacket(2, {ID_CONN_LOST});
    net_->QueuePacket(3, {ID_PACKET_MODIFIED});
    net_->QueuePacket(3, {ID_TIMESTAMPED, 0, 0, 0, 0, ID_PLAYER_SYNC});
    net_->QueuePacket(3, {});
    game_->ProcessPackets();

    std::string address = FakeNetServer::AddressOf(3).ToString(true);
    std::string ip = FakeNetServer::AddressOf(3).ToString(false);
    EXPECT_TRUE(Logged("[connection] incoming connection: " + address + " id: 3"));
    EXPECT_THAT(Calls(), ElementsAre("fs:OnIncomingConnection(3," + ip + ",20003)",
                                     "gm:OnIncomingConnection(3," + ip + ",20003)"));
    EXPECT_TRUE(Logged("[part] Alice has left the server (1:1)"));
    EXPECT_TRUE(Logged("[part] Bob has left the server (2:0)"));
    EXPECT_TRUE(Logged("Packet was modified, sent by id: 3, ip: " + address));
    EXPECT_EQ(net_->freedPackets, 6);
}

TEST_F(GameServerTest, RpcPayloadStreamHoldsExactlyTheArgumentBits) {
    Start();
    uint8_t payload[2] = {0xAB, 0xC0};  // 10 argument bits, the last byte padded with zeros
    RpcCallParams params{payload, 10, FakeNetServer::AddressOf(0), nullptr};
    BitStream bs;
    ASSERT_TRUE(OpenRpcPayload(&params, bs));
    uint8_t first = 0;
    ASSERT_TRUE(bs.Read(first));
    EXPECT_EQ(first, 0xAB);
    EXPECT_EQ(bs.GetNumberOfUnreadBits(), 2);
    uint8_t tooMuch = 0;
    EXPECT_FALSE(bs.Read(tooMuch));

    RpcCallParams empty{nullptr, 0, FakeNetServer::AddressOf(0), nullptr};
    EXPECT_FALSE(OpenRpcPayload(&empty, bs));

    net_->AddSlot(7, FakeNetServer::AddressOf(7));
    RpcCallParams fromSlot{payload, 8, FakeNetServer::AddressOf(7), nullptr};
    EXPECT_EQ(RpcSenderId(&fromSlot), 7);
    RpcCallParams unknown{payload, 8, PlayerID{1, 1}, nullptr};
    EXPECT_EQ(RpcSenderId(&unknown), 0xFFFF);
}

}  // namespace
}  // namespace velt::test
