// A client's reports about its own player: the score table and its rate gate on the server's
// clock, the distinct-address count, the totals for admins only, the callbacks of interior, cash,
// map, player clicks and damage in their order, the relayed value, and hostile payloads (short,
// empty, from a connection that never joined, naming nobody) that must reach nothing.

#include <string>
#include <vector>

#include "net/Clock.h"
#include "tests/server/dispatch_fixture.h"
#include "tests/server/stats_fake_net.h"

namespace velt::test {
namespace {

template <class... T>
Payload Build(T... values) {
    BitStream bs;
    (bs.Write(values), ...);
    return PayloadOf(bs);
}

class PlayerReportsTest : public ProtocolTest {
protected:
    void SetUp() override {
        ProtocolTest::SetUp();
        scripts_.filterScriptFiles = {"fs"};
        console_->SetStringVariable("filterscripts", "fs");
        const std::map<std::string, int32_t> publics = {
            {"OnPlayerInteriorChange", 1}, {"OnScriptCash", 1},       {"OnPlayerClickMap", 1},
            {"OnPlayerClickPlayer", 1},    {"OnPlayerTakeDamage", 1}, {"OnPlayerGiveDamage", 1}};
        scripts_.filterScriptPublics["fs"] = publics;
        scripts_.gameModePublics = publics;
        // The pool stamps every slot with its creation on the real clock; the test's clock runs
        // well past that, so the first request is answered.
        now_ = GetTimeMs() + 100000;
        game_ = std::make_unique<GameServer>(*console_, settings_, StatsFakeNet::Factory(), hosts_);
        net_ = FakeNetServer::last;
        TheGameServer = game_.get();
        game_->Init(true);
        game_->SetClock([this] { return now_; });
        Join(2, "Ann");
        Join(4, "Cid");
        fake()->AddSlot(5, FakeNetServer::AddressOf(5));  // connected to the transport, never joined
        net_->sent.clear();
        scripts_.Clear();
    }
    StatsFakeNet& stats() { return *static_cast<StatsFakeNet*>(net_); }

    // The payloads of the answers of one kind to a slot, each checked reliable on channel 0.
    std::vector<std::vector<uint8_t>> Answers(uint16_t slot, uint8_t rpcId) const {
        std::vector<std::vector<uint8_t>> out;
        for (const FakeNetServer::Message& m : RpcsTo(slot, rpcId)) {
            EXPECT_EQ(m.reliability, RELIABILITY_RELIABLE);
            EXPECT_EQ(m.channel, 0);
            out.push_back(m.bytes);
        }
        return out;
    }
};

std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
std::vector<uint8_t> Le(uint64_t v, int bytes) {
    std::vector<uint8_t> out;
    for (int i = 0; i < bytes; ++i) out.push_back(i < 8 ? uint8_t(v >> (8 * i)) : 0);
    return out;
}

TEST_F(PlayerReportsTest, ScoreTableAtMostEvery2000MsWithDistinctAddresses) {
    pool()->SetScore(2, 17);
    pool()->SetScore(4, -3);
    // A third player from Ann's address on another port: two addresses among three players.
    const PlayerID annAddress = FakeNetServer::AddressOf(2);
    fake()->AddSlot(6, PlayerID{annAddress.binaryAddress, uint16_t(annAddress.port + 1)});
    ASSERT_EQ(pool()->Connect(6, "Eve", nullptr, nullptr, false), 1);
    net_->sent.clear();

    CallEmptyRpc(RPC_ScoresPingsUpdate, 2);
    now_ += 1500;
    CallEmptyRpc(RPC_ScoresPingsUpdate, 2);
    const std::vector<uint8_t> table = Cat({Le(2, 2), Le(17, 4), Le(42, 4), Le(4, 2), Le(uint32_t(-3), 4),
                                            Le(42, 4), Le(6, 2), Le(0, 4), Le(42, 4), Le(2, 2)});
    EXPECT_EQ(Answers(2, RPC_ScoresPingsUpdate), (std::vector<std::vector<uint8_t>>{table}));
    // The gate is per player: Cid's first request is answered in between.
    CallEmptyRpc(RPC_ScoresPingsUpdate, 4);
    EXPECT_EQ(Answers(4, RPC_ScoresPingsUpdate).size(), 1u);
    now_ += 500;  // 2000 ms after the first answer
    CallEmptyRpc(RPC_ScoresPingsUpdate, 2);
    EXPECT_EQ(Answers(2, RPC_ScoresPingsUpdate).size(), 2u);

    // Not a player, or one whose connection the transport no longer holds: no table.
    now_ += 5000;
    net_->sent.clear();
    CallEmptyRpc(RPC_ScoresPingsUpdate, 5);
    fake()->withoutSystem.insert(4);
    CallEmptyRpc(RPC_ScoresPingsUpdate, 4);
    EXPECT_TRUE(net_->sent.empty());
}

TEST_F(PlayerReportsTest, StatisticsGoToAdminsOnlyAsTheWireRecord) {
    NetworkStatistics totals;
    totals.messagesSent[1] = 0x01020304;
    totals.totalBitsSent = 0x1122334455667788ull;
    stats().totals = totals;
    CallEmptyRpc(RPC_NetStats, 2);
    CallEmptyRpc(RPC_NetStats, 5);
    EXPECT_TRUE(net_->sent.empty());

    pool()->SetAdmin(2, true);
    CallEmptyRpc(RPC_NetStats, 2);
    const auto record = SerializeNetworkStatistics(totals);
    EXPECT_EQ(Answers(2, RPC_NetStats),
              (std::vector<std::vector<uint8_t>>{std::vector<uint8_t>(record.begin(), record.end())}));
    ASSERT_EQ(record.size(), 296u);
    EXPECT_EQ(Answers(2, RPC_NetStats)[0][20], 0x04);  // messagesSent[1], little-endian
    // Without counters to report there is no answer.
    net_->sent.clear();
    stats().totals.reset();
    CallEmptyRpc(RPC_NetStats, 2);
    EXPECT_TRUE(net_->sent.empty());
}

TEST_F(PlayerReportsTest, ReportsReachTheScriptsInTheirOrder) {
    CallRpc(RPC_InteriorChange, 2, Build(uint8_t(5)));
    CallRpc(RPC_InteriorChange, 2, Build(uint8_t(7)));
    EXPECT_EQ(player(2)->GetInterior(), 7);
    CallRpc(RPC_ScriptCash, 2, Build(int32_t(-250), int32_t(3)));
    CallRpc(RPC_MapClick, 2, Build(1.5f, -2.0f, 3.0f));
    CallRpc(RPC_PlayerClick, 2, Build(uint16_t(4), uint8_t(0)));
    CallRpc(RPC_PlayerDamage, 2, Payload{{0x80}, 1});  // taken flag only: not enough
    EXPECT_EQ(Calls(), (std::vector<std::string>{
                           "gm:OnPlayerInteriorChange(2,5,0)", "fs:OnPlayerInteriorChange(2,5,0)",
                           "gm:OnPlayerInteriorChange(2,7,5)", "fs:OnPlayerInteriorChange(2,7,5)",
                           "gm:OnScriptCash(2,-250,3)", "fs:OnScriptCash(2,-250,3)",
                           "gm:OnPlayerClickMap(2,f,f,f)", "fs:OnPlayerClickMap(2,f,f,f)",
                           "fs:OnPlayerClickPlayer(2,4,0)", "gm:OnPlayerClickPlayer(2,4,0)"}));
    scripts_.Clear();

    // Damage: the flag picks the callback; the filterscripts first, the gamemode always.
    BitStream taken;
    taken.Write(true);
    taken.Write(uint16_t(4));
    taken.Write(12.5f);
    taken.Write(int32_t(24));
    taken.Write(int32_t(9));
    CallRpc(RPC_PlayerDamage, 2, taken);
    BitStream given;
    given.Write(false);
    given.Write(uint16_t(0xFFFF));
    given.Write(1.0f);
    given.Write(int32_t(0));
    given.Write(int32_t(3));
    CallRpc(RPC_PlayerDamage, 2, given);
    EXPECT_EQ(Calls(), (std::vector<std::string>{
                           "fs:OnPlayerTakeDamage(2,4,f,24,9)", "gm:OnPlayerTakeDamage(2,4,f,24,9)",
                           "fs:OnPlayerGiveDamage(2,65535,f,0,3)", "gm:OnPlayerGiveDamage(2,65535,f,0,3)"}));
    EXPECT_TRUE(net_->sent.empty());
}

TEST_F(PlayerReportsTest, ValueRelayReachesEveryPlayerTheSenderIncluded) {
    CallRpc(RPC_ValueRelayRequest, 2, Build(uint16_t(1234)));
    for (uint16_t slot : {2, 4})
        EXPECT_EQ(Answers(slot, RPC_ValueRelayBroadcast), (std::vector<std::vector<uint8_t>>{Le(1234, 2)}))
            << slot;
    EXPECT_TRUE(RpcsTo(5, RPC_ValueRelayBroadcast).empty());
    net_->sent.clear();
    CallRpc(RPC_ValueRelayRequest, 5, Build(uint16_t(1)));
    CallRpc(RPC_ValueRelayRequest, 2, Build(uint8_t(1)));
    EXPECT_TRUE(net_->sent.empty());
}

TEST_F(PlayerReportsTest, HostileReportsReachNothing) {
    const uint8_t reports[] = {RPC_InteriorChange,    RPC_ScriptCash,   RPC_MapClick,
                               RPC_PlayerClick,       RPC_PlayerDamage, RPC_ValueRelayRequest,
                               RPC_CameraTargetUpdate};
    for (uint8_t id : reports) {
        CallEmptyRpc(id, 2);                                                    // nothing at all
        CallRpc(id, 2, Payload{{0xFF}, 7});                                     // less than any field
        CallRpc(id, 5, Build(uint8_t(1), int32_t(1), 1.0f, 1.0f, 1.0f, 1.0f));  // never joined
        CallRpcFrom(id, PlayerID{0x0A000001, 1}, Build(int32_t(1), int32_t(1), int32_t(1), int32_t(1)));
    }
    // Each field short by one byte.
    CallRpc(RPC_ScriptCash, 2, Payload{Le(0, 7), 56});
    CallRpc(RPC_MapClick, 2, Payload{Le(0, 11), 88});
    CallRpc(RPC_PlayerClick, 2, Build(uint16_t(4)));
    CallRpc(RPC_CameraTargetUpdate, 2, Payload{Le(0, 7), 56});
    BitStream damage;
    damage.Write(true);
    damage.Write(uint16_t(4));
    damage.Write(1.0f);
    damage.Write(int32_t(1));
    damage.Write(int16_t(1));
    CallRpc(RPC_PlayerDamage, 2, damage);
    // Clicks on nobody, on a connection that never joined and past the player ids.
    for (uint16_t clicked : {uint16_t(3), uint16_t(5), uint16_t(1000), uint16_t(0xFFFF)})
        CallRpc(RPC_PlayerClick, 2, Build(clicked, uint8_t(0)));
    EXPECT_EQ(Calls(), (std::vector<std::string>{}));
    EXPECT_TRUE(net_->sent.empty());
    EXPECT_EQ(player(2)->GetInterior(), 0);
}

}  // namespace
}  // namespace velt::test
