// Text draws, global and a player's own: the 63-byte record byte for byte, texts cut to 1024, the
// alignment bits, and who hears of a show, a hide or a text change.

#include <string>
#include <vector>

#include "server/world/PlayerTextDrawPool.h"
#include "server/world/TextDrawPool.h"
#include "tests/server/game_server_fixture.h"
#include "tests/server/sent_rpcs.h"
#include "tests/server/text_draw_bytes.h"

namespace velt::test {
namespace {

// The record a new text draw at (x, y) carries.
Bytes DefaultRecord(float x, float y) { return RecordBytes({.x = x, .y = y}); }

Bytes ShowPayload(uint16_t wireId, const Bytes& record, const std::string& text) {
    return Cat({U16(wireId), record, U16(uint32_t(text.size())), Text(text)});
}

class TextDrawTest : public GameServerTest {
protected:
    void SetUp() override {
        GameServerTest::SetUp();
        Start();
        for (uint16_t id : {0, 1, 2}) Join(id, ("P" + std::to_string(id)).c_str());
        net_->sent.clear();
    }
    TextDrawPool& draws() { return *game_->GetTextDrawPool(); }
    PlayerTextDrawPool& own(uint16_t player) { return *this->player(player)->GetTextDrawPool(); }
    std::vector<SentRpc> Sent() { return TakeWorldRpcs(*net_); }
};

TEST_F(TextDrawTest, NewTextDrawShowsTheDefaultRecordByteForByte) {
    ASSERT_EQ(DefaultRecord(0, 0).size(), TextDrawAttributes::kSize);
    const uint16_t id = draws().Create(100.5f, -200.25f, "Hello");
    EXPECT_EQ(id, 0);
    EXPECT_TRUE(Sent().empty());  // a new text draw is on nobody's screen
    draws().ShowForPlayer(1, id);
    EXPECT_EQ(Sent(), (std::vector<SentRpc>{
                          {RPC_TextDrawShow, 1, ShowPayload(0, DefaultRecord(100.5f, -200.25f), "Hello")}}));

    // Every field at its own offset: each value distinct, the colours in R, G, B, A order.
    TextDrawAttributes& a = *draws().Attributes(id);
    a.SetFlag(TEXTDRAW_BOX, true);
    a.letterWidth = 1.5f;
    a.letterHeight = 2.5f;
    a.letterColour = ReverseColourBytes(0x11223344);
    a.textSizeX = 3.5f;
    a.textSizeY = 4.5f;
    a.boxColour = ReverseColourBytes(0x55667788);
    a.shadow = 9;
    a.outline = 10;
    a.backgroundColour = ReverseColourBytes(0x99AABBCC);
    a.font = 5;
    a.selectable = 1;
    a.previewModel = -2;
    a.previewRotX = 6.5f;
    a.previewRotY = 7.5f;
    a.previewRotZ = 8.5f;
    a.previewZoom = 0.25f;
    a.previewColour1 = 3;
    a.previewColour2 = 300;
    EXPECT_TRUE(Sent().empty());  // styling waits for the next show
    draws().ShowForPlayer(1, id);
    const Bytes record = RecordBytes({.flags = 0x11,
                                      .letterWidth = 1.5f,
                                      .letterHeight = 2.5f,
                                      .letterColour = {0x11, 0x22, 0x33, 0x44},
                                      .textSizeX = 3.5f,
                                      .textSizeY = 4.5f,
                                      .boxColour = {0x55, 0x66, 0x77, 0x88},
                                      .shadow = 9,
                                      .outline = 10,
                                      .backgroundColour = {0x99, 0xAA, 0xBB, 0xCC},
                                      .font = 5,
                                      .selectable = 1,
                                      .x = 100.5f,
                                      .y = -200.25f,
                                      .previewModel = 0xFFFE,
                                      .rotX = 6.5f,
                                      .rotY = 7.5f,
                                      .rotZ = 8.5f,
                                      .zoom = 0.25f,
                                      .colour1 = 3,
                                      .colour2 = 300});
    EXPECT_EQ(Sent(), (std::vector<SentRpc>{{RPC_TextDrawShow, 1, ShowPayload(0, record, "Hello")}}));
}

TEST_F(TextDrawTest, TextsAreCutTo1024Characters) {
    const std::string longText(2000, 'x');
    const std::string cut(1024, 'x');
    const uint16_t id = draws().Create(0, 0, longText);
    EXPECT_EQ(draws().Get(id)->text, cut);
    draws().ShowForPlayer(0, id);
    const uint16_t own0 = own(0).Create(0, 0, longText);
    own(0).Show(own0);
    EXPECT_EQ(Sent(),
              (std::vector<SentRpc>{{RPC_TextDrawShow, 0, ShowPayload(0, DefaultRecord(0, 0), cut)},
                                    {RPC_TextDrawShow, 0, ShowPayload(2048, DefaultRecord(0, 0), cut)}}));
    draws().SetString(id, longText + "y");
    own(0).SetString(own0, longText);
    EXPECT_EQ(Sent(),
              (std::vector<SentRpc>{{RPC_TextDrawStringSet, 0, Cat({U16(0), U16(1024), Text(cut)})},
                                    {RPC_TextDrawStringSet, 0, Cat({U16(2048), U16(1024), Text(cut)})}}));
}

TEST_F(TextDrawTest, AlignmentSetsOneBitAndAnyOtherValueClearsAll) {
    const struct {
        uint8_t alignment;
        uint8_t flags;
    } cases[] = {{1, 0x12}, {2, 0x18}, {3, 0x14}, {0, 0x10}, {4, 0x10}, {255, 0x10}};
    for (const auto& c : cases) {
        TextDrawAttributes a;
        a.SetFlag(TEXTDRAW_BOX, true);
        a.SetAlignment(3);
        a.SetAlignment(c.alignment);
        EXPECT_EQ(a.flags, c.flags | TEXTDRAW_BOX) << int(c.alignment);
    }
}

TEST_F(TextDrawTest, HidesAndTextChangesReachOnlyThePlayersShownTheTextDraw) {
    const uint16_t id = draws().Create(1, 2, "a");
    const Bytes hide = U16(id);
    draws().HideForPlayer(1, id);  // never shown
    EXPECT_TRUE(Sent().empty());
    draws().ShowForPlayer(1, id);
    Sent();
    draws().SetString(id, "bc");
    draws().HideForPlayer(0, id);
    draws().HideForPlayer(1, id);
    draws().HideForPlayer(1, id);
    draws().SetString(id, "de");  // shown to nobody
    EXPECT_EQ(Sent(), (std::vector<SentRpc>{{RPC_TextDrawStringSet, 1, Cat({U16(id), U16(2), Text("bc")})},
                                            {RPC_TextDrawHide, 1, hide}}));

    // For all: one show to each connected player, and every id marked, joined or not.
    draws().ShowForAll(id);
    const Bytes show = ShowPayload(id, DefaultRecord(1, 2), "de");
    EXPECT_EQ(Sent(),
              (std::vector<SentRpc>{
                  {RPC_TextDrawShow, 0, show}, {RPC_TextDrawShow, 1, show}, {RPC_TextDrawShow, 2, show}}));
    EXPECT_TRUE(draws().IsShownFor(id, 999));
    draws().HideForPlayer(2, id);
    draws().HideForAll(id);
    EXPECT_EQ(Sent(),
              (std::vector<SentRpc>{
                  {RPC_TextDrawHide, 2, hide}, {RPC_TextDrawHide, 0, hide}, {RPC_TextDrawHide, 1, hide}}));
    EXPECT_FALSE(draws().IsShownFor(id, 999));

    // Destroy hides it from those who have it; the id comes back unshown.
    draws().ShowForPlayer(2, id);
    Sent();
    draws().Destroy(id);
    EXPECT_EQ(Sent(), (std::vector<SentRpc>{{RPC_TextDrawHide, 2, hide}}));
    EXPECT_FALSE(draws().Exists(id));
    EXPECT_EQ(draws().Create(0, 0, ""), id);
    EXPECT_FALSE(draws().IsShownFor(id, 2));
}

TEST_F(TextDrawTest, IdsThatNameNoTextDrawAreIgnored) {
    for (uint16_t id : {uint16_t(0), uint16_t(2047), uint16_t(2048), uint16_t(0xFFFF)}) {
        draws().ShowForPlayer(0, id);
        draws().ShowForAll(id);
        draws().HideForPlayer(0, id);
        draws().HideForAll(id);
        draws().SetString(id, "x");
        draws().Destroy(id);
        EXPECT_EQ(draws().Attributes(id), nullptr);
        own(0).Show(id);
        own(0).Hide(id);
        own(0).SetString(id, "x");
        own(0).Destroy(id);
        EXPECT_EQ(own(0).Attributes(id), nullptr);
    }
    const uint16_t id = draws().Create(0, 0, "");
    draws().ShowForPlayer(kMaxPlayers, id);  // a player id beyond the players'
    draws().HideForPlayer(kMaxPlayers, id);
    EXPECT_TRUE(Sent().empty());
}

TEST_F(TextDrawTest, FullPoolsGiveNoId) {
    for (uint16_t i = 0; i < kMaxTextDraws; ++i) ASSERT_EQ(draws().Create(0, 0, ""), i);
    EXPECT_EQ(draws().Create(0, 0, ""), kNoTextDraw);
    draws().Destroy(700);
    EXPECT_EQ(draws().Create(0, 0, ""), 700);

    for (uint16_t i = 0; i < kMaxPlayerTextDraws; ++i) ASSERT_EQ(own(1).Create(0, 0, ""), i);
    EXPECT_EQ(own(1).Create(0, 0, ""), 0xFFFF);
    EXPECT_EQ(own(2).Create(0, 0, ""), 0);  // another player's are his own
}

TEST_F(TextDrawTest, APlayersOwnTextDrawsTravelAbove2047ToHimAlone) {
    const uint16_t first = own(1).Create(5, 6, "mine");
    const uint16_t second = own(1).Create(7, 8, "too");
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 1);
    own(1).Hide(second);                // never shown
    own(1).SetString(second, "later");  // kept for the next show
    EXPECT_TRUE(Sent().empty());
    own(1).Show(second);
    own(1).SetString(second, "now");
    own(1).Destroy(second);
    own(1).Destroy(first);  // never shown: nothing to hide
    EXPECT_EQ(Sent(),
              (std::vector<SentRpc>{{RPC_TextDrawShow, 1, ShowPayload(2049, DefaultRecord(7, 8), "later")},
                                    {RPC_TextDrawStringSet, 1, Cat({U16(2049), U16(3), Text("now")})},
                                    {RPC_TextDrawHide, 1, U16(2049)}}));
    EXPECT_FALSE(own(1).Exists(second));
}

TEST_F(TextDrawTest, APlayersOwnTextDrawsSayNothingOnceHeHasLeft) {
    PlayerTextDrawPool& pool = own(1);
    const uint16_t index = pool.Create(0, 0, "bye");
    pool.Show(index);
    ASSERT_EQ(game_->GetPlayerPool()->Disconnect(1, 0), 1);
    Join(1, "Next");  // the slot's next player
    net_->sent.clear();
    pool.SetString(index, "stale");
    pool.Hide(index);
    EXPECT_TRUE(net_->sent.empty());
}

}  // namespace
}  // namespace velt::test
