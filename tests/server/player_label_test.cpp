// A player's own 3D text labels: sent to him alone at once under row + 1024 with the whole text,
// deleted and re-created on a text change, refused past 1024 for that player only, and deleted on
// his client when his pools are made anew, never on the next player's of his slot.

#include <string>
#include <vector>

#include "net/BitStream.h"
#include "net/StringCompressor.h"
#include "server/world/PlayerLabelPool.h"
#include "tests/server/game_server_fixture.h"
#include "tests/server/sent_rpcs.h"

namespace velt::test {
namespace {

// A label-create message read back: the fixed fields and the decoded text.
struct Created {
    Bytes fixed;
    std::string text;
};

Created ReadCreate(const FakeNetServer::Message& m) {
    constexpr int kFixedBytes = 2 + 4 + 4 * 4 + 1 + 2 + 2;
    Created out;
    out.fixed.assign(m.bytes.begin(), m.bytes.begin() + std::min<size_t>(kFixedBytes, m.bytes.size()));
    BitStream bs(m.bytes.data(), uint32_t(m.bytes.size()), false);
    bs.SetWriteCursor(m.bits);
    bs.SkipBits(kFixedBytes * 8);
    std::string text(70000, '\0');
    EXPECT_TRUE(StringCompressor::Instance()->DecodeString(text.data(), int32_t(text.size()), bs));
    out.text = text.c_str();
    return out;
}

class PlayerLabelTest : public GameServerTest {
protected:
    void SetUp() override {
        GameServerTest::SetUp();
        Start();
        Join(0, "Ann");
        Join(3, "Ben");
        net_->sent.clear();
    }
    PlayerLabelPool& labels(uint16_t id) { return *player(id)->GetLabelPool(); }
};

TEST_F(PlayerLabelTest, ALabelGoesToItsOwnerAtOnceUnderItsRowPlus1024) {
    const std::string text = "Shop {FF0000}open " + std::string(3000, 'z');
    EXPECT_EQ(labels(3).Create(text, 0x11223344, {1.5f, -2.5f, 3.0f}, 40.0f, 0, 7, 1), 0);
    EXPECT_EQ(labels(3).Create("second", 0xAABBCCDD, {}, 10.0f, 0xFFFF, 0xFFFF, 0), 1);
    ASSERT_EQ(net_->sent.size(), 2u);
    for (const FakeNetServer::Message& m : net_->sent) {
        EXPECT_EQ(m.rpcId, RPC_TextLabelCreate);
        EXPECT_EQ(net_->GetIndexFromPlayerID(m.target), 3);
        EXPECT_EQ(m.channel, 2);
        EXPECT_EQ(m.reliability, RELIABILITY_RELIABLE_ORDERED);
    }
    const Created first = ReadCreate(net_->sent[0]);
    EXPECT_EQ(first.fixed, Cat({U16(1024), U32(0x11223344), F32(1.5f), F32(-2.5f), F32(3.0f), F32(40.0f),
                                U8(1), U16(0), U16(7)}));
    EXPECT_EQ(first.text, text);  // any length, whole
    const Created second = ReadCreate(net_->sent[1]);
    EXPECT_EQ(second.fixed, Cat({U16(1025), U32(0xAABBCCDD), F32(0), F32(0), F32(0), F32(10.0f), U8(0),
                                 U16(0xFFFF), U16(0xFFFF)}));
    EXPECT_EQ(second.text, "second");
    EXPECT_EQ(labels(3).Get(0)->virtualWorld, -1);
}

TEST_F(PlayerLabelTest, UpdateDeletesAndCreatesAgainAndDeleteFreesTheRow) {
    labels(0).Create("old", 1, {}, 5.0f, 0xFFFF, 0xFFFF, 0);
    net_->sent.clear();
    EXPECT_TRUE(labels(0).UpdateText(0, 0x55, "new"));
    ASSERT_EQ(net_->sent.size(), 2u);
    EXPECT_EQ(net_->sent[0].rpcId, RPC_TextLabelDelete);
    EXPECT_EQ(net_->sent[0].bytes, U16(1024));
    EXPECT_EQ(net_->sent[1].rpcId, RPC_TextLabelCreate);
    const Created again = ReadCreate(net_->sent[1]);
    EXPECT_EQ(Bytes(again.fixed.begin() + 2, again.fixed.begin() + 6), U32(0x55));
    EXPECT_EQ(again.text, "new");
    net_->sent.clear();

    EXPECT_TRUE(labels(0).Delete(0));
    EXPECT_EQ(TakeWorldRpcs(*net_), (std::vector<SentRpc>{{RPC_TextLabelDelete, 0, U16(1024)}}));
    for (uint16_t row : {uint16_t(0), uint16_t(1), uint16_t(1023), uint16_t(1024), uint16_t(0xFFFF)}) {
        EXPECT_FALSE(labels(0).Delete(row)) << row;
        EXPECT_FALSE(labels(0).UpdateText(row, 0, "x")) << row;
    }
    EXPECT_TRUE(net_->sent.empty());
    EXPECT_EQ(labels(0).Create("", 0, {}, 0, 0, 0, 0), 0);  // the row comes back
}

TEST_F(PlayerLabelTest, The1025thLabelIsRefusedForThatPlayerOnly) {
    for (uint16_t row = 0; row < kMaxPlayerLabels; ++row)
        ASSERT_EQ(labels(0).Create("a", 0, {}, 0, 0xFFFF, 0xFFFF, 0), row);
    net_->sent.clear();
    EXPECT_EQ(labels(0).Create("a", 0, {}, 0, 0xFFFF, 0xFFFF, 0), 0xFFFF);
    EXPECT_TRUE(net_->sent.empty());
    for (uint16_t row = 0; row < kMaxPlayerLabels; ++row)
        ASSERT_EQ(labels(3).Create("b", 0, {}, 0, 0xFFFF, 0xFFFF, 0), row);
}

TEST_F(PlayerLabelTest, NewPoolsDeleteTheOldLabelsOnTheOwnersClientOnly) {
    labels(3).Create("a", 0, {}, 0, 0xFFFF, 0xFFFF, 0);
    labels(3).Create("b", 0, {}, 0, 0xFFFF, 0xFFFF, 0);
    labels(3).Delete(0);
    net_->sent.clear();
    player(3)->Reset();  // as at the end of a gamemode
    EXPECT_EQ(TakeWorldRpcs(*net_), (std::vector<SentRpc>{{RPC_TextLabelDelete, 3, U16(1025)}}));
    EXPECT_FALSE(labels(3).Exists(1));

    // A player who left: the next player of his slot hears nothing of his labels.
    labels(3).Create("c", 0, {}, 0, 0xFFFF, 0xFFFF, 0);
    ASSERT_EQ(pool()->Disconnect(3, 0), 1);
    Join(3, "Cid");
    net_->sent.clear();
    pool()->ReleaseRetired();
    EXPECT_TRUE(net_->sent.empty());
}

}  // namespace
}  // namespace velt::test
