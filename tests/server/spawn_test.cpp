// Class selection, spawn requests, spawning (with the ban for a spawn nobody allowed) and death
// reports.

#include "server/protocol/ClassSpawnDeath.h"
#include "tests/server/dispatch_fixture.h"

namespace velt::test {
namespace {

SpawnInfo ClassOf(int32_t skin) {
    SpawnInfo s;
    s.team = 255;
    s.skin = skin;
    s.position = {1958.3f, 1343.1f, 15.4f};
    s.facingAngle = 270.0f;
    s.weapons = {24, 31, 0};
    s.ammo = {100, 500, 0};
    return s;
}

Payload ClassRequest(int32_t index) {
    BitStream bs;
    bs.Write(index);
    return PayloadOf(bs);
}

class SpawnTest : public ProtocolTest {
protected:
    void SetUp() override {
        ProtocolTest::SetUp();
        scripts_.gameModePublics = {{"OnPlayerRequestClass", 1},
                                    {"OnPlayerRequestSpawn", 1},
                                    {"OnPlayerSpawn", 1},
                                    {"OnPlayerDeath", 1}};
        StartProtocol();
        Join(0, "Alice");
        Join(1, "Bob");
        net_->sent.clear();
        scripts_.Clear();
    }
    // The one answer of an RPC id the slot got since the last clear.
    std::vector<uint8_t> Answer(uint16_t slot, uint8_t rpcId) {
        auto answers = RpcsTo(slot, rpcId);
        EXPECT_EQ(answers.size(), 1u);
        if (answers.size() != 1) return {};
        EXPECT_EQ(answers[0].reliability, RELIABILITY_RELIABLE);
        EXPECT_EQ(answers[0].channel, 0);
        return answers[0].bytes;
    }
};

TEST_F(SpawnTest, ClassRequestIsAnsweredWithTheSpawnRecordAsItStands) {
    // No class added yet: the answer carries the player's own, empty record.
    CallRpc(RPC_ClassRequest, 0, ClassRequest(0));
    std::vector<uint8_t> answer = Answer(0, RPC_ClassRequest);
    ASSERT_EQ(answer.size(), 1u + SpawnInfo::kSize);
    EXPECT_EQ(answer[0], 1);
    EXPECT_EQ(std::vector<uint8_t>(answer.begin() + 1, answer.end()),
              std::vector<uint8_t>(SpawnInfo::kSize, 0));

    game_->AddPlayerClass(ClassOf(0));
    game_->AddPlayerClass(ClassOf(294));
    scripts_.gameModePublics["OnPlayerRequestClass"] = 0;
    scripts_.Clear();
    net_->sent.clear();
    CallRpc(RPC_ClassRequest, 0, ClassRequest(1));
    answer = Answer(0, RPC_ClassRequest);
    ASSERT_EQ(answer.size(), 1u + SpawnInfo::kSize);
    EXPECT_EQ(answer[0], 0);  // the gamemode's word
    uint8_t expected[SpawnInfo::kSize];
    EncodeSpawnInfo(ClassOf(294), expected);
    EXPECT_EQ(std::vector<uint8_t>(answer.begin() + 1, answer.end()),
              std::vector<uint8_t>(expected, expected + SpawnInfo::kSize));
    EXPECT_EQ(CallsNamed("OnPlayerRequestClass"), (std::vector<std::string>{"gm:OnPlayerRequestClass(0,1)"}));

    // Out of range (unsigned), cut short, or during the intermission: no answer at all.
    net_->sent.clear();
    CallRpc(RPC_ClassRequest, 0, ClassRequest(319));
    CallRpc(RPC_ClassRequest, 0, ClassRequest(-1));
    BitStream cut;
    cut.Write(uint16_t(1));
    CallRpc(RPC_ClassRequest, 0, PayloadOf(cut));
    CallEmptyRpc(RPC_ClassRequest, 0);
    game_->EndGameMode();
    CallRpc(RPC_ClassRequest, 0, ClassRequest(0));
    EXPECT_TRUE(RpcsTo(0, RPC_ClassRequest).empty());
}

TEST_F(SpawnTest, SpawnRequestAnswerFollowsTheScripts) {
    scripts_.filterScriptFiles = {"fs"};
    game_->GetFilterScripts()->LoadFilterScript("fs");
    struct Case {
        int32_t fs;  // -1: no filterscript public
        int32_t gm;
        uint8_t answer;
        bool gmAsked;
    };
    const Case cases[] = {{-1, 1, 1, true}, {-1, 0, 0, true}, {0, 1, 0, false}, {1, 7, 1, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.fs << "/" << c.gm);
        scripts_.filterScriptPublics["fs"].clear();
        if (c.fs >= 0) scripts_.filterScriptPublics["fs"]["OnPlayerRequestSpawn"] = c.fs;
        scripts_.gameModePublics["OnPlayerRequestSpawn"] = c.gm;
        scripts_.Clear();
        net_->sent.clear();
        CallEmptyRpc(RPC_SpawnRequest, 1);
        EXPECT_EQ(Answer(1, RPC_SpawnRequest), std::vector<uint8_t>{c.answer});
        EXPECT_EQ(CallsNamed("OnPlayerRequestSpawn").size(), (c.fs >= 0 ? 1u : 0u) + (c.gmAsked ? 1u : 0u));
        EXPECT_EQ(player(1)->IsSpawnAllowed(), c.answer == 1);
        player(1)->SetSpawnAllowed(false);
    }
}

TEST_F(SpawnTest, SpawnWithoutLeaveBansAndKicksAClientButNotABot) {
    Join(2, "Bot_1", true);
    for (uint16_t id : {0, 2}) player(id)->SetSpawnInfo(ClassOf(1));
    scripts_.Clear();

    CallEmptyRpc(RPC_PlayerSpawned, 0);
    const std::string ban =
        "AddToBanList " + std::string(FakeNetServer::AddressOf(0).ToString(false)) + " 600000";
    EXPECT_NE(std::find(net_->calls.begin(), net_->calls.end(), ban), net_->calls.end());
    EXPECT_TRUE(Kicked(0));
    EXPECT_FALSE(pool()->IsConnected(0));
    EXPECT_TRUE(CallsNamed("OnPlayerSpawn").empty());

    CallEmptyRpc(RPC_PlayerSpawned, 2);
    EXPECT_TRUE(pool()->IsConnected(2));
    EXPECT_EQ(player(2)->GetState(), PLAYER_STATE_SPAWNED);
}

TEST_F(SpawnTest, AllowedSpawnPlacesThePlayerAndTellsTheScripts) {
    // Without spawn information there is nothing to spawn into, allowed or not.
    CallEmptyRpc(RPC_SpawnRequest, 1);
    CallEmptyRpc(RPC_PlayerSpawned, 1);
    EXPECT_EQ(player(1)->GetState(), PLAYER_STATE_NONE);
    EXPECT_TRUE(pool()->IsConnected(1));

    game_->AddPlayerClass(ClassOf(7));
    CallRpc(RPC_ClassRequest, 1, ClassRequest(0));
    scripts_.Clear();
    CallEmptyRpc(RPC_PlayerSpawned, 1);
    EXPECT_EQ(player(1)->GetState(), PLAYER_STATE_SPAWNED);
    EXPECT_EQ(player(1)->GetPosition().x, 1958.3f);
    EXPECT_EQ(CallsNamed("OnPlayerSpawn"), (std::vector<std::string>{"gm:OnPlayerSpawn(1)"}));
    // Dying and spawning again needs no new request.
    CallEmptyRpc(RPC_PlayerSpawned, 1);
    EXPECT_TRUE(pool()->IsConnected(1));
}

TEST_F(SpawnTest, DeathReportWithAKillerWhoIsNoPlayerCountsAsNoKiller) {
    auto report = [](uint8_t reason, uint16_t killer) {
        BitStream bs;
        bs.Write(reason);
        bs.Write(killer);
        return PayloadOf(bs);
    };
    struct Case {
        uint16_t killer;
        const char* call;
        const char* log;
    };
    const Case cases[] = {
        {5000, "gm:OnPlayerDeath(0,65535,31)", "[death] Alice died 31"},
        {9, "gm:OnPlayerDeath(0,65535,31)", "[death] Alice died 31"},  // a free slot
        {1, "gm:OnPlayerDeath(0,1,31)", "[kill] Bob killed Alice M4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.killer);
        scripts_.Clear();
        player(0)->SetState(PLAYER_STATE_ONFOOT);
        CallRpc(RPC_DeathReport, 0, report(31, c.killer));
        EXPECT_EQ(player(0)->GetState(), PLAYER_STATE_WASTED);
        EXPECT_EQ(CallsNamed("OnPlayerDeath"), (std::vector<std::string>{c.call}));
        EXPECT_TRUE(Logged(c.log));
        EXPECT_EQ(RpcsTo(1, RPC_PlayerDeath).size(), 1u);
        net_->sent.clear();
    }
    // A report cut short changes nothing.
    player(0)->SetState(PLAYER_STATE_ONFOOT);
    BitStream cut;
    cut.Write(uint8_t(31));
    CallRpc(RPC_DeathReport, 0, PayloadOf(cut));
    EXPECT_EQ(player(0)->GetState(), PLAYER_STATE_ONFOOT);
}

}  // namespace
}  // namespace velt::test
