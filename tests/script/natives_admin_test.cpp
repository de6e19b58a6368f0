// Administration, network statistics, world, math, console-variable and removed natives, called
// from a real script on a game server whose fake transport records every RPC, kick and ban and
// reports the counters the test gives it. One table of player-id natives with the payload bytes
// and the bad-id sweep; then kicks and bans (the ban file's one line), the statistics, the
// natives without a player id, the math and the console variables.

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "net/Clock.h"
#include "net/NetworkStatistics.h"
#include "server/shared/GameRpc.h"
#include "tests/script/natives_rows.h"
#include "tests/server/stats_fake_net.h"

namespace velt::scripttest {
namespace {

constexpr uint16_t kPlayer = 3;  // the player the rows act on; player 7 is connected too
constexpr uint16_t kNobody = 5;  // a slot nobody holds
const std::vector<cell> kGoodIds = {kPlayer, 65536 + kPlayer};
const std::vector<cell> kBadIds = {1000, 65535, -1, kNobody, 65536 + kNobody};

using test::StatsFakeNet;

class AdminNatives : public NativesServerTest {
protected:
    void SetUp() override {
        NativesServerTest::SetUp();
        TheGameServer = nullptr;
        game_.reset();
        game_ = std::make_unique<GameServer>(*console_, settings_, StatsFakeNet::Factory(), hosts_);
        net_ = test::FakeNetServer::last;
        TheGameServer = game_.get();
        ASSERT_EQ(game_->StartFailed(), StartFailure::None);
        game_->Init(true);
        Join(kPlayer, "Alice");
        Join(7, "Bob");
        net_->sent.clear();
    }

    StatsFakeNet& fake() { return *static_cast<StatsFakeNet*>(net_); }
    std::vector<Rpc> TakeRpcs() { return scripttest::TakeRpcs(*net_); }
    static std::vector<Rpc> ToAll(uint8_t id, const Bytes& payload) {
        return {{id, kPlayer, payload}, {id, 7, payload}};
    }
    cell Call(const char* native, std::vector<cell> args) {
        const Outcome out = script.Call(native, std::move(args));
        EXPECT_EQ(out.err, 0) << native;
        return out.value;
    }
    float CallFloat(const char* native, std::vector<cell> args) {
        return CellToFloat(Call(native, std::move(args)));
    }
    bool KickedOrBanned() const {
        for (const std::string& c : net_->calls)
            if (c.rfind("Kick", 0) == 0 || c.rfind("AddToBanList", 0) == 0) return true;
        return false;
    }

    NativeScript script{"natives_admin", ScriptKind::GameMode, -1, nullptr};
};

TEST_F(AdminNatives, PlayerNativesOnGoodAndBadIds) {
    ScriptMemory& m = script.mem;
    const cell text = m.Alloc(std::vector<cell>(32, -1));
    game_->GetPlayerPool()->SetAdmin(kPlayer, true);
    game_->GetPlayerPool()->GetAt(7)->StreamInPlayer(kPlayer);
    net_->sent.clear();

    NetworkStatistics s;
    s.messagesSent[0] = 1;
    s.messagesSent[3] = 9;
    s.totalBitsSent = 801;  // 101 bytes, rounded up
    s.messageTotalBitsResent = 200;
    s.messagesReceived = 5;
    s.invalidMessagesReceived = 1;
    s.duplicateMessagesReceived = 2;
    s.bitsReceived = 1000;
    s.bitsReceivedBad = 9;  // 127 bytes together
    s.messagesLastSecond = 7;
    fake().stats[kPlayer] = s;
    fake().SystemOf(kPlayer).connectMode.store(CM_CONNECTED);
    const auto id = [](cell v) { return std::vector<cell>{v}; };
    const auto idText = [&](cell v) { return std::vector<cell>{v, text, 32}; };
    const auto textIs = [&](const std::string& expected) {
        return [&, expected] { EXPECT_EQ(m.Text(text), expected); };
    };
    Player* alice = game_->GetPlayerPool()->GetAt(kPlayer);

    const std::vector<NativeRow> rows = {
        {"IsPlayerAdmin", id, 1, 0, {}},
        {"GetPlayerIp", idText, 9, -1, {}, {}, textIs("127.0.0.5")},
        {"GetPlayerPing", id, 42, -1, {}},
        {"NetStats_MessagesSent", id, 10, 0, {}},
        {"NetStats_BytesSent", id, 101, 0, {}},
        {"NetStats_MessagesReceived", id, 8, 0, {}},
        {"NetStats_BytesReceived", id, 127, 0, {}},
        {"NetStats_MessagesRecvPerSecond", id, 7, 0, {}},
        {"NetStats_PacketLossPercent", id, FloatToCell(200.0f * 100.0f / 801.0f), FloatToCell(0.0f), {}},
        {"NetStats_ConnectionStatus", id, CM_CONNECTED, -1, {}},
        {"NetStats_GetIpPort", idText, 15, 0, {}, {}, textIs("127.0.0.5:20003")},
        {"SetPlayerWeather",
         [](cell v) {
             return std::vector<cell>{v, 300};
         },
         1,
         0,
         {{RPC_WeatherSet, kPlayer, U8(44)}}},
        {"SetPlayerWantedLevel",
         [](cell v) {
             return std::vector<cell>{v, 0x106};
         },
         1,
         0,
         {{RPC_WantedLevelSet, kPlayer, U8(6)}}},
        {"GetPlayerWantedLevel", id, 6, 0, {}},
        // Any other id still counts as done, but nothing is sent for it.
        {"SetPlayerFightingStyle",
         [](cell v) {
             return std::vector<cell>{v, 0x10F};
         },
         1,
         1,
         {{RPC_FightingStyleSet, 7, Cat({U16(kPlayer), U8(15)})},
          {RPC_FightingStyleSet, kPlayer, Cat({U16(kPlayer), U8(15)})}},
         [&] { alice->SetFightingStyle(4); }},
        {"GetPlayerFightingStyle", id, 15, 4, {}},
        {"CreateExplosionForPlayer",
         [](cell v) {
             return std::vector<cell>{v, FloatToCell(1.0f), FloatToCell(2.0f), FloatToCell(3.0f),
                                      7, FloatToCell(5.0f)};
         },
         1,
         1,
         {{RPC_ExplosionCreate, kPlayer, Cat({F32(1.0f), F32(2.0f), F32(3.0f), U32(7), F32(5.0f)})}}},
    };
    RunNativeRows(script, *net_, rows, kGoodIds, kBadIds);
    EXPECT_FALSE(KickedOrBanned());
}

TEST_F(AdminNatives, KickAndBanCloseTheConnectionAndBanWritesOneLine) {
    ScriptMemory& m = script.mem;
    // Any id is kicked or not without complaint; only a player's own slot goes.
    for (cell bad : kBadIds) EXPECT_EQ(Call("Kick", {bad}), 1);
    for (cell bad : kBadIds) {
        EXPECT_EQ(Call("Ban", {bad}), 0);
        EXPECT_EQ(Call("BanEx", {bad, m.Str("x")}), 0);
    }
    EXPECT_FALSE(KickedOrBanned());
    EXPECT_FALSE(std::filesystem::exists("velt.ban"));

    EXPECT_EQ(Call("Kick", {7}), 1);
    EXPECT_FALSE(game_->GetPlayerPool()->IsConnected(7));
    EXPECT_EQ(net_->calls.back(), "Kick 127.0.0.9:20007");

    // A reason with line breaks and tabs stays on its own line, and a long one within the length
    // the ban file's reader reads back.
    EXPECT_EQ(Call("BanEx", {65536 + kPlayer, m.Str("spam\r\n* [x] y - z\t" + std::string(400, 'r'))}), 1);
    EXPECT_FALSE(game_->GetPlayerPool()->IsConnected(kPlayer));
    const std::vector<std::string> expectedCalls = {"AddToBanList 127.0.0.5 0", "Kick 127.0.0.5:20003"};
    EXPECT_EQ(std::vector<std::string>(net_->calls.end() - 2, net_->calls.end()), expectedCalls);
    std::ifstream in("velt.ban", std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].size(), kBanLineMax);
    EXPECT_EQ(lines[0].rfind("127.0.0.5 [", 0), 0u);
    EXPECT_NE(lines[0].find("] Alice - spam  * [x] y - z rrr"), std::string::npos) << lines[0];

    Join(kPlayer, "Alice");
    EXPECT_EQ(Call("Ban", {kPlayer}), 1);
    std::ifstream again("velt.ban", std::ios::binary);
    std::string first, second;
    std::getline(again, first);
    std::getline(again, second);
    EXPECT_NE(second.find("] Alice - INGAME BAN"), std::string::npos) << second;
}

TEST_F(AdminNatives, AddressBlocksNeedAPattern) {
    ScriptMemory& m = script.mem;
    EXPECT_EQ(Call("BlockIpAddress", {m.Str("10.0.*.*"), 60000}), 1);
    EXPECT_EQ(Call("UnBlockIpAddress", {m.Str("10.0.*.*")}), 1);
    EXPECT_EQ(Call("BlockIpAddress", {m.Str(""), 0}), 0);
    EXPECT_EQ(Call("UnBlockIpAddress", {m.Str("")}), 0);
    const std::vector<std::string> expected = {"AddToBanList 10.0.*.* 60000", "RemoveFromBanList 10.0.*.*"};
    EXPECT_EQ(std::vector<std::string>(net_->calls.end() - 2, net_->calls.end()), expected);
    EXPECT_FALSE(std::filesystem::exists("velt.ban"));
    EXPECT_EQ(Call("GetServerTickRate", {}), static_cast<cell>(game_->GetTickRate()));
}

TEST_F(AdminNatives, StatisticsTextsAndTimes) {
    ScriptMemory& m = script.mem;
    const cell text = m.Alloc(std::vector<cell>(4097, -1));
    NetworkStatistics s;
    s.connectionStartTime = GetTimeMs() - 5000;
    fake().stats[kPlayer] = s;
    ConnectedSystem& record = fake().SystemOf(kPlayer);
    record.isActive.store(1);
    record.connectMode.store(CM_CONNECTED);

    const cell connected = Call("NetStats_GetConnectedTime", {kPlayer});
    EXPECT_GE(connected, 5000);
    EXPECT_LT(connected, 65000);
    // Nothing sent yet: nothing lost either, not the 0 / 0 of the quotient.
    EXPECT_EQ(CallFloat("NetStats_PacketLossPercent", {kPlayer}), 0.0f);

    EXPECT_EQ(Call("GetPlayerNetworkStats", {kPlayer, text, 4097}), 1);
    const std::string own = m.Text(text);
    EXPECT_EQ(own.rfind("Network Active: 1\nNetwork State: 8\n", 0), 0u) << own;
    EXPECT_GT(own.size(), 40u);
    // No address and no totals: the two zero lines alone; with totals, they follow.
    EXPECT_EQ(Call("GetPlayerNetworkStats", {kNobody, text, 4097}), 1);
    EXPECT_EQ(m.Text(text), "Network Active: 0\nNetwork State: 0\n");
    fake().totals = NetworkStatistics{};
    EXPECT_EQ(Call("GetPlayerNetworkStats", {1000, text, 4097}), 1);
    EXPECT_GT(m.Text(text).size(), std::strlen("Network Active: 0\nNetwork State: 0\n"));
    // The script's size bounds what is written.
    EXPECT_EQ(Call("GetPlayerNetworkStats", {kNobody, text, 8}), 1);
    EXPECT_EQ(m.Text(text), "Network");

    const cell small = m.Alloc(std::vector<cell>(4, -1));
    fake().totals.reset();
    EXPECT_EQ(Call("GetNetworkStats", {small, 4}), 0);
    EXPECT_EQ(m.Read(small, 4), std::vector<cell>(4, -1));
    fake().totals = NetworkStatistics{};
    EXPECT_EQ(Call("GetNetworkStats", {text, 4097}), 1);
    EXPECT_EQ(m.Text(text).rfind("Server Ticks: " + std::to_string(game_->GetTickRate()) + "\n", 0), 0u);
    EXPECT_TRUE(net_->sent.empty());
}

TEST_F(AdminNatives, WorldNativesWithoutAPlayer) {
    EXPECT_EQ(Call("SetWeather", {300}), 1);
    EXPECT_EQ(TakeRpcs(), ToAll(RPC_WeatherSet, U8(44)));
    EXPECT_STREQ(console_->GetStringVariable("weather"), "44");
    EXPECT_EQ(game_->world.weather, 44);

    EXPECT_EQ(Call("SetGravity", {FloatToCell(0.01f)}), 1);
    EXPECT_EQ(TakeRpcs(), ToAll(RPC_GravitySet, F32(0.01f)));
    EXPECT_EQ(game_->world.gravity, 0.01f);

    EXPECT_EQ(Call("CreateExplosion",
                   {FloatToCell(1.0f), FloatToCell(2.0f), FloatToCell(3.0f), 12, FloatToCell(9.5f)}),
              1);
    EXPECT_EQ(TakeRpcs(),
              ToAll(RPC_ExplosionCreate, Cat({F32(1.0f), F32(2.0f), F32(3.0f), U32(12), F32(9.5f)})));

    EXPECT_EQ(Call("EnableVehicleFriendlyFire", {}), 1);
    EXPECT_EQ(game_->world.vehicleFriendlyFire, 1);

    // Only the game's styles; the low byte counts, taken signed.
    for (cell style : {8, 0, 3, 17, -4, 0x108})
        EXPECT_EQ(Call("SetPlayerFightingStyle", {kPlayer, style}), 0) << style;
    for (cell style : {4, 5, 6, 7, 15, 16, 0x210})
        EXPECT_EQ(Call("SetPlayerFightingStyle", {kPlayer, style}), 1) << style;
    EXPECT_EQ(Call("GetPlayerFightingStyle", {kPlayer}), 16);
    net_->sent.clear();
    EXPECT_EQ(Call("SetPlayerFightingStyle", {kNobody, 15}), 1);
    EXPECT_TRUE(net_->sent.empty());

    // A player who leaves and another who joins on the slot starts unwanted.
    EXPECT_EQ(Call("SetPlayerWantedLevel", {7, 4}), 1);
    game_->GetPlayerPool()->Disconnect(7, 0);
    game_->GetPlayerPool()->ReleaseRetired();
    EXPECT_EQ(Call("GetPlayerWantedLevel", {7}), 0);
    Join(7, "Bob");
    EXPECT_EQ(Call("GetPlayerWantedLevel", {7}), 0);
}

TEST_F(AdminNatives, MathInDegrees) {
    const struct {
        const char* native;
        std::vector<float> args;
        float result;
    } cases[] = {
        {"asin", {1.0f}, 90.0f},
        {"asin", {-0.5f}, -30.0f},
        {"acos", {1.0f}, 0.0f},
        {"acos", {0.5f}, 60.0f},
        {"atan", {1.0f}, 45.0f},
        {"atan2", {1.0f, 0.0f}, 90.0f},
        {"atan2", {0.0f, -1.0f}, 180.0f},
        {"atan2", {-1.0f, -1.0f}, -135.0f},
        {"VectorSize", {3.0f, 4.0f, 12.0f}, 13.0f},
        {"VectorSize", {0.0f, 0.0f, 0.0f}, 0.0f},
    };
    for (const auto& c : cases) {
        std::vector<cell> args;
        for (float a : c.args) args.push_back(FloatToCell(a));
        EXPECT_NEAR(CallFloat(c.native, args), c.result, 1e-4f) << c.native << " " << c.args[0];
    }
    EXPECT_TRUE(std::isnan(CallFloat("acos", {FloatToCell(2.0f)})));
    EXPECT_TRUE(std::isnan(CallFloat("asin", {FloatToCell(-1.5f)})));
}

TEST_F(AdminNatives, ConsoleVariablesByTypeUnderBothNames) {
    ScriptMemory& m = script.mem;
    console_->SetStringVariable("hostname", "Velt test host");
    console_->SetIntVariable("maxplayers", 37);
    console_->SetBoolVariable("announce", true);
    const cell out = m.Alloc(std::vector<cell>(64, -1));
    for (const char* native : {"GetConsoleVarAsString", "GetServerVarAsString"}) {
        EXPECT_EQ(Call(native, {m.Str("hostname"), out, 64}), 14);
        EXPECT_EQ(m.Text(out), "Velt test host");
        EXPECT_EQ(Call(native, {m.Str("hostname"), out, 5}), 4);
        EXPECT_EQ(m.Text(out), "Velt");
        for (const char* other : {"maxplayers", "no_such_var", ""}) {
            EXPECT_EQ(Call(native, {m.Str(other), out, 64}), 0) << other;
            EXPECT_EQ(m.Text(out), "") << other;
        }
    }
    for (const char* native : {"GetConsoleVarAsInt", "GetServerVarAsInt"}) {
        EXPECT_EQ(Call(native, {m.Str("maxplayers")}), 37);
        for (const char* other : {"hostname", "announce", "no_such_var", ""})
            EXPECT_EQ(Call(native, {m.Str(other)}), 0) << other;
    }
    for (const char* native : {"GetConsoleVarAsBool", "GetServerVarAsBool"}) {
        EXPECT_EQ(Call(native, {m.Str("announce")}), 1);
        for (const char* other : {"hostname", "maxplayers", "no_such_var", ""})
            EXPECT_EQ(Call(native, {m.Str(other)}), 0) << other;
    }
}

TEST_F(AdminNatives, RemovedNativesOnlyLog) {
    EXPECT_EQ(Call("EnableTirePopping", {1}), 1);
    EXPECT_EQ(Call("SetDisabledWeapons", {}), 1);
    EXPECT_EQ(Call("EnableZoneNames", {1}), 1);
    EXPECT_TRUE(Logged("EnableTirePopping() function is removed."));
    EXPECT_TRUE(
        Logged("[warning] SetDisabledWeapons() : function is deprecated. Check weapon in OnPlayerUpdate."));
    EXPECT_TRUE(Logged("[warning] EnableZoneNames() is removed since 0.3"));
    EXPECT_TRUE(net_->sent.empty());
}

}  // namespace
}  // namespace velt::scripttest
