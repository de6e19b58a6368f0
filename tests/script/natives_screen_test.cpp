// Text draw, menu and gang zone natives, called from a real script on a game server whose fake
// transport records every RPC: one table row per native with its main path, ids that name nothing
// (or no connected player), and ids that wrap (65536 + n, or 256 + n for menus) acting on n; the
// RPCs compared byte for byte. Then what the rows cannot show: creation, full pools, menu rows,
// and natives without their pools.

#include <functional>
#include <string>
#include <vector>

#include "server/world/GangZonePool.h"
#include "server/world/MenuPool.h"
#include "server/world/PlayerTextDrawPool.h"
#include "server/world/TextDrawPool.h"
#include "tests/script/natives_rows.h"
#include "tests/server/text_draw_bytes.h"

namespace velt::scripttest {
namespace {

constexpr uint16_t kPlayer = 3;  // the player the rows act on; 0 and 7 are also connected
constexpr cell kId = 3;          // the text draw, menu or zone the rows act on

cell F(float f) { return FloatToCell(f); }

// A payload that starts with one bit, so that every later byte straddles two.
Bytes AfterOneBit(bool bit, const Bytes& rest) {
    Bytes out(rest.size() + 1, 0);
    out[0] = bit ? 0x80 : 0;
    for (size_t i = 0; i < rest.size(); ++i) {
        out[i] |= uint8_t(rest[i] >> 1);
        out[i + 1] |= uint8_t(rest[i] << 7);
    }
    return out;
}

Bytes Field(const std::string& text) {
    Bytes out(32, 0);
    std::copy(text.begin(), text.end(), out.begin());
    return out;
}

// Where a row's argument list takes the id under test.
constexpr cell kIdHere = static_cast<cell>(0x7E57AB1Eu);

struct Row {
    std::string native;
    std::vector<cell> args;  // kIdHere stands for the id under test
    cell ok;                 // the result with a good id
    cell fail;               // the result with an id that names nothing
    std::vector<Rpc> rpcs;
    std::function<void()> reset = {};  // puts things back before each run with a good id
};

class ScreenNatives : public NativesServerTest {
protected:
    void SetUp() override {
        NativesServerTest::SetUp();
        for (uint16_t id : {uint16_t(0), kPlayer, uint16_t(7)}) Join(id, ("P" + std::to_string(id)).c_str());
        net_->sent.clear();
    }

    std::vector<Rpc> Sent() { return TakeRpcs(*net_); }
    std::vector<Rpc> ToAll(uint8_t id, const Bytes& payload) {
        return {{id, 0, payload}, {id, kPlayer, payload}, {id, 7, payload}};
    }

    // Every row with each good id, then with each bad one.
    void RunRows(const std::vector<Row>& rows, const std::vector<cell>& goodIds,
                 const std::vector<cell>& badIds) {
        std::vector<NativeRow> table;
        for (const Row& row : rows) {
            const auto args = [&row](cell id) {
                std::vector<cell> out = row.args;
                for (cell& arg : out)
                    if (arg == kIdHere) arg = id;
                return out;
            };
            table.push_back({row.native.c_str(), args, row.ok, row.fail, row.rpcs, row.reset});
        }
        RunNativeRows(script, *net_, table, goodIds, badIds);
    }

    NativeScript script{"natives_screen", ScriptKind::GameMode, -1, nullptr};
};

const std::vector<cell> kGoodIds = {kId, 65536 + kId, static_cast<cell>(0xFFFF0000u) + kId};
const std::vector<cell> kGoodPlayers = {kPlayer, 65536 + kPlayer, static_cast<cell>(0xFFFF0000u) + kPlayer};

// The styling natives: each row's values, and the record they leave once all have run.
struct Style {
    const char* suffix;
    std::vector<cell> values;
};
const std::vector<Style> kStyles = {
    {"LetterSize", {F(2.0f), F(3.0f)}},
    {"TextSize", {F(4.0f), F(5.0f)}},
    {"Alignment", {257}},  // only the low byte counts: left
    {"Color", {0x11223344}},
    {"UseBox", {2}},
    {"BoxColor", {0x55667788}},
    {"SetShadow", {0x105}},
    {"SetOutline", {0x203}},
    {"BackgroundColor", {static_cast<cell>(0x99AABBCCu)}},
    {"Font", {0x104}},
    {"SetProportional", {0}},
    {"SetSelectable", {0x101}},
    {"SetPreviewModel", {0x10000 + 411}},
    {"SetPreviewRot", {F(1.0f), F(2.0f), F(3.0f), F(0.5f)}},
    {"SetPreviewVehCol", {0x10006, -2}},
};
Bytes StyledRecord(float x, float y) {
    return test::RecordBytes({.flags = 0x03,  // box, left aligned, not proportional
                              .letterWidth = 2.0f,
                              .letterHeight = 3.0f,
                              .letterColour = {0x11, 0x22, 0x33, 0x44},
                              .textSizeX = 4.0f,
                              .textSizeY = 5.0f,
                              .boxColour = {0x55, 0x66, 0x77, 0x88},
                              .shadow = 5,
                              .outline = 3,
                              .backgroundColour = {0x99, 0xAA, 0xBB, 0xCC},
                              .font = 4,
                              .selectable = 1,
                              .x = x,
                              .y = y,
                              .previewModel = 411,
                              .rotX = 1.0f,
                              .rotY = 2.0f,
                              .rotZ = 3.0f,
                              .zoom = 0.5f,
                              .colour1 = 6,
                              .colour2 = 0xFFFE});
}

std::vector<cell> With(std::vector<cell> head, const std::vector<cell>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

TEST_F(ScreenNatives, GlobalTextDrawNativesOnGoodBadAndWrappedIds) {
    TextDrawPool& draws = *game_->GetTextDrawPool();
    for (int i = 0; i < 4; ++i) draws.Create(10.0f * i, 20.0f, "Three");
    const cell newText = script.mem.Str("New text");
    const Bytes hide = U16(kId);
    const Bytes shown = Cat({U16(kId), StyledRecord(30.0f, 20.0f), U16(5), Text("Three")});
    const auto showTo3 = [&] { draws.ShowForPlayer(kPlayer, kId); };

    std::vector<Row> rows;
    for (const Style& s : kStyles)
        rows.push_back({"TextDraw" + std::string(s.suffix), With({kIdHere}, s.values), 1, 0, {}});
    const std::vector<Row> more = {
        {"TextDrawShowForPlayer", {kPlayer, kIdHere}, 1, 0, {{RPC_TextDrawShow, kPlayer, shown}}},
        {"TextDrawShowForPlayer", {kIdHere, kId}, 1, 0, {{RPC_TextDrawShow, kPlayer, shown}}},
        {"TextDrawHideForPlayer", {kPlayer, kIdHere}, 1, 0, {{RPC_TextDrawHide, kPlayer, hide}}, showTo3},
        {"TextDrawHideForPlayer", {kIdHere, kId}, 1, 0, {}},  // not shown
        {"TextDrawShowForAll", {kIdHere}, 1, 0, ToAll(RPC_TextDrawShow, shown)},
        {"TextDrawSetString",
         {kIdHere, newText},
         1,
         0,
         ToAll(RPC_TextDrawStringSet, Cat({U16(kId), U16(8), Text("New text")}))},
        {"TextDrawHideForAll",
         {kIdHere},
         1,
         0,
         ToAll(RPC_TextDrawHide, hide),
         [&] { draws.ShowForAll(kId); }},
        {"TextDrawSetString", {kIdHere, newText}, 1, 0, {}},  // shown to none
        {"SelectTextDraw",
         {kIdHere, 0x00FF00AA},
         1,
         0,
         {{RPC_TextDrawSelect, kPlayer, AfterOneBit(true, Bytes{0xAA, 0x00, 0xFF, 0x00})}}},
        {"CancelSelectTextDraw", {kIdHere}, 1, 0, {{RPC_TextDrawSelect, kPlayer, Bytes(5, 0)}}},
        {"TextDrawDestroy",
         {kIdHere},
         1,
         0,
         {{RPC_TextDrawHide, kPlayer, hide}},
         [&] {
             if (!draws.Exists(kId)) draws.Create(0, 0, "");
             showTo3();
         }},
    };
    rows.insert(rows.end(), more.begin(), more.end());
    // Text draw and player ids both wrap at 65536; 3 is the only connected player among the ids.
    RunRows(rows, kGoodIds, {5, 2048, 65535, 65536 + 5, -1});
}

TEST_F(ScreenNatives, PlayerTextDrawNativesOnGoodBadAndWrappedIds) {
    PlayerTextDrawPool& own = *game_->GetPlayerPool()->GetAt(kPlayer)->GetTextDrawPool();
    for (int i = 0; i < 4; ++i) own.Create(10.0f * i, 20.0f, "Mine");
    const cell newText = script.mem.Str("Changed");
    const uint16_t wire = 2048 + kId;
    const Bytes shown = Cat({U16(wire), StyledRecord(30.0f, 20.0f), U16(4), Text("Mine")});

    // Each native with the id as the index, and (where the player matters) as the player.
    std::vector<Row> rows;
    for (const Style& s : kStyles) {
        const std::string name = "PlayerTextDraw" + std::string(s.suffix);
        rows.push_back({name, With({kPlayer, kIdHere}, s.values), 1, 0, {}});
        rows.push_back({name, With({kIdHere, kId}, s.values), 1, 0, {}});
    }
    const std::vector<Row> more = {
        {"PlayerTextDrawShow", {kPlayer, kIdHere}, 1, 0, {{RPC_TextDrawShow, kPlayer, shown}}},
        {"PlayerTextDrawSetString",
         {kIdHere, kId, newText},
         1,
         0,
         {{RPC_TextDrawStringSet, kPlayer, Cat({U16(wire), U16(7), Text("Changed")})}}},
        {"PlayerTextDrawHide",
         {kPlayer, kIdHere},
         1,
         0,
         {{RPC_TextDrawHide, kPlayer, U16(wire)}},
         [&] { own.Show(kId); }},
        {"PlayerTextDrawHide", {kIdHere, kId}, 1, 0, {}},  // not shown
        {"PlayerTextDrawSetString", {kPlayer, kIdHere, newText}, 1, 0, {}},
        {"PlayerTextDrawShow",
         {kIdHere, kId},
         1,
         0,
         {{RPC_TextDrawShow, kPlayer,
           Cat({U16(wire), StyledRecord(30.0f, 20.0f), U16(7), Text("Changed")})}}},
        {"PlayerTextDrawDestroy",
         {kPlayer, kIdHere},
         1,
         0,
         {{RPC_TextDrawHide, kPlayer, U16(wire)}},
         [&] {
             if (!own.Exists(kId)) own.Create(0, 0, "");
             own.Show(kId);
         }},
    };
    rows.insert(rows.end(), more.begin(), more.end());
    RunRows(rows, kGoodIds, {5, 256, 1000, 65535, 65536 + 5, -1});
    // Another player's text draws are not this one's.
    EXPECT_EQ(script.Call("PlayerTextDrawShow", {7, 0}), (Outcome{0, 0}));
}

TEST_F(ScreenNatives, MenuNativesOnGoodBadAndWrappedIds) {
    MenuPool& menus = *game_->GetMenuPool();
    for (int i = 1; i <= 3; ++i) menus.Create("M", 1.0f, 2.0f, 1, 3.0f, 4.0f);
    const cell head = script.mem.Str("Head");
    // The one-column menu's description, with the menu's and row 11's enabled flags.
    const auto init = [](uint32_t enabled, uint32_t row11) {
        Bytes rows;
        for (int row = 0; row < 12; ++row) rows = Cat({rows, U32(row == 11 ? row11 : 1)});
        return Cat({U8(kId), U32(0), Field("M"), F32(1.0f), F32(2.0f), F32(3.0f), U32(enabled), rows,
                    Field(""), U8(0)});
    };
    const auto unsent = [&] { menus.Get(kId)->ResetPlayerInit(); };
    const Rpc show{RPC_MenuShow, kPlayer, U8(kId)};
    const Rpc hide{RPC_MenuHide, kPlayer, U8(kId)};
    // Menu ids are the low byte: 256 + 3 is menu 3; 128 and 255 lie beyond the menus.
    const std::vector<cell> goodMenus = {kId, 256 + kId, static_cast<cell>(0xFFFFFF00u) + kId};
    const std::vector<cell> badMenus = {5, 0, 128, 255, 256 + 5, -1};
    RunRows(
        {{"IsValidMenu", {kIdHere}, 1, 0, {}},
         {"ShowMenuForPlayer", {kIdHere, kPlayer}, 1, 0, {{RPC_MenuInit, kPlayer, init(1, 1)}, show}, unsent},
         {"HideMenuForPlayer", {kIdHere, kPlayer}, 1, 0, {hide}},
         // Headers of either column, or of none; whether or not that changes anything.
         {"SetMenuColumnHeader", {kIdHere, 1, head}, 1, 0, {}},
         {"SetMenuColumnHeader", {kIdHere, 9, head}, 1, 0, {}},
         {"DisableMenu", {kIdHere}, 1, 0, {}},
         {"DisableMenuRow", {kIdHere, 11}, 1, 0, {}},
         {"DisableMenuRow", {kIdHere, 12}, 0, 0, {}},
         {"ShowMenuForPlayer",
          {kIdHere, kPlayer},
          1,
          0,
          {{RPC_MenuInit, kPlayer, init(0, 0)}, show},
          unsent}},
        goodMenus, badMenus);

    // The natives with the id as the player: only 3 is a connected player among the ids.
    RunRows({{"GetPlayerMenu", {kIdHere}, kId, 255, {}},
             {"HideMenuForPlayer", {kId, kIdHere}, 1, 0, {hide}},
             {"GetPlayerMenu", {kIdHere}, kId, 255, {}},  // a hide keeps it
             {"ShowMenuForPlayer", {kId, kIdHere}, 1, 0, {show}}},
            kGoodPlayers, {5, 1000, 65535, 65536 + 5, -1});

    const auto recreate = [&] {
        if (!menus.Exists(kId)) menus.Create("M", 0, 0, 1, 0, 0);
    };
    RunRows({{"DestroyMenu", {kIdHere}, 1, 0, {}, recreate}}, goodMenus, badMenus);
    EXPECT_EQ(script.Call("GetPlayerMenu", {kPlayer}).value, kId);  // nobody is told of a destroyed menu
}

TEST_F(ScreenNatives, GangZoneNativesOnGoodBadAndWrappedIds) {
    GangZonePool& zones = *game_->GetGangZonePool();
    for (int i = 0; i < 4; ++i) zones.Create({float(i), 1.0f, 2.0f, 3.0f});
    const cell red = static_cast<cell>(0xFF000080u);
    const Bytes show =
        Cat({U16(kId), F32(3.0f), F32(1.0f), F32(2.0f), F32(3.0f), Bytes{0xFF, 0x00, 0x00, 0x80}});
    const Bytes flash = Cat({U16(kId), Bytes{0x01, 0x02, 0x03, 0x04}});
    const Bytes id16 = U16(kId);
    const auto recreate = [&] {
        if (!zones.Exists(kId)) zones.Create({3.0f, 1.0f, 2.0f, 3.0f});
    };
    const std::vector<Row> rows = {
        {"GangZoneShowForPlayer", {kPlayer, kIdHere, red}, 1, 0, {{RPC_GangZoneShow, kPlayer, show}}},
        {"GangZoneShowForPlayer", {kIdHere, kId, red}, 1, 0, {{RPC_GangZoneShow, kPlayer, show}}},
        {"GangZoneShowForAll", {kIdHere, red}, 1, 0, ToAll(RPC_GangZoneShow, show)},
        {"GangZoneFlashForPlayer",
         {kPlayer, kIdHere, 0x01020304},
         1,
         0,
         {{RPC_GangZoneFlash, kPlayer, flash}}},
        {"GangZoneFlashForPlayer", {kIdHere, kId, 0x01020304}, 1, 0, {{RPC_GangZoneFlash, kPlayer, flash}}},
        {"GangZoneFlashForAll", {kIdHere, 0x01020304}, 1, 0, ToAll(RPC_GangZoneFlash, flash)},
        {"GangZoneStopFlashForPlayer", {kPlayer, kIdHere}, 1, 0, {{RPC_GangZoneFlashStop, kPlayer, id16}}},
        {"GangZoneStopFlashForPlayer", {kIdHere, kId}, 1, 0, {{RPC_GangZoneFlashStop, kPlayer, id16}}},
        {"GangZoneStopFlashForAll", {kIdHere}, 1, 0, ToAll(RPC_GangZoneFlashStop, id16)},
        {"GangZoneHideForPlayer", {kPlayer, kIdHere}, 1, 0, {{RPC_GangZoneHide, kPlayer, id16}}},
        {"GangZoneHideForPlayer", {kIdHere, kId}, 1, 0, {{RPC_GangZoneHide, kPlayer, id16}}},
        {"GangZoneHideForAll", {kIdHere}, 1, 0, ToAll(RPC_GangZoneHide, id16)},
        {"GangZoneDestroy", {kIdHere}, 1, 0, ToAll(RPC_GangZoneHide, id16), recreate},
    };
    RunRows(rows, kGoodIds, {5, 1024, 65535, 65536 + 5, -1});
}

TEST_F(ScreenNatives, CreatingNativesGiveIdsUntilThePoolsAreFull) {
    const cell title = script.mem.Str(std::string(40, 'T'));
    const cell empty = script.mem.Str("");
    const cell longText = script.mem.Str(std::string(2000, 'x'));

    EXPECT_EQ(script.Call("TextDrawCreate", {F(1.0f), F(2.0f), empty}), (Outcome{0, 0}));
    EXPECT_EQ(game_->GetTextDrawPool()->Get(0)->text, "");
    EXPECT_EQ(script.Call("TextDrawCreate", {F(1.0f), F(2.0f), longText}).value, 1);
    EXPECT_EQ(game_->GetTextDrawPool()->Get(1)->text, std::string(1024, 'x'));
    for (int i = 2; i < 2048; ++i) game_->GetTextDrawPool()->Create(0, 0, "");
    EXPECT_EQ(script.Call("TextDrawCreate", {F(1.0f), F(2.0f), empty}).value, 0xFFFF);

    EXPECT_EQ(script.Call("CreatePlayerTextDraw", {kPlayer, F(1.0f), F(2.0f), longText}).value, 0);
    EXPECT_EQ(script.Call("CreatePlayerTextDraw", {65536 + kPlayer, F(1.0f), F(2.0f), empty}).value, 1);
    EXPECT_EQ(script.Call("CreatePlayerTextDraw", {5, F(1.0f), F(2.0f), empty}).value, 0);  // not connected
    for (int i = 2; i < 256; ++i) game_->GetPlayerPool()->GetAt(kPlayer)->GetTextDrawPool()->Create(0, 0, "");
    EXPECT_EQ(script.Call("CreatePlayerTextDraw", {kPlayer, F(1.0f), F(2.0f), empty}).value, 0xFFFF);

    EXPECT_EQ(script.Call("CreateMenu", {title, 2, F(1.0f), F(2.0f), F(3.0f), F(4.0f)}).value, 1);
    EXPECT_EQ(std::string(game_->GetMenuPool()->Get(1)->Title().data()), std::string(31, 'T'));
    EXPECT_EQ(game_->GetMenuPool()->Get(1)->Columns(), 2);
    EXPECT_EQ(script.Call("CreateMenu", {empty, 0x102, F(1.0f), F(2.0f), F(3.0f), F(4.0f)}).value, 2);
    EXPECT_EQ(game_->GetMenuPool()->Get(2)->Columns(), 2);  // the low byte is 2
    EXPECT_EQ(script.Call("CreateMenu", {empty, 3, F(1.0f), F(2.0f), F(3.0f), F(4.0f)}).value, 3);
    EXPECT_EQ(game_->GetMenuPool()->Get(3)->Columns(), 1);
    for (int i = 4; i < 128; ++i) game_->GetMenuPool()->Create("", 0, 0, 1, 0, 0);
    EXPECT_EQ(script.Call("CreateMenu", {empty, 1, F(1.0f), F(2.0f), F(3.0f), F(4.0f)}).value, -1);

    EXPECT_EQ(script.Call("GangZoneCreate", {F(5.0f), F(6.0f), F(-7.0f), F(8.0f)}).value, 0);
    const GangZoneRect* rect = game_->GetGangZonePool()->Get(0);
    EXPECT_EQ(rect->minX, 5.0f);
    EXPECT_EQ(rect->maxX, -7.0f);
    for (int i = 1; i < 1024; ++i) game_->GetGangZonePool()->Create({});
    EXPECT_EQ(script.Call("GangZoneCreate", {F(5.0f), F(6.0f), F(7.0f), F(8.0f)}).value, -1);
    EXPECT_TRUE(net_->sent.empty());
}

TEST_F(ScreenNatives, MenuItemsFillTwelveRowsPerColumnAndSendTheMenuAgain) {
    const cell item = script.mem.Str(std::string(50, 'i'));
    const cell menu = script.Call("CreateMenu", {item, 2, F(0), F(0), F(0), F(0)}).value;
    ASSERT_EQ(menu, 1);
    EXPECT_EQ(script.Call("ShowMenuForPlayer", {menu, kPlayer}).value, 1);
    for (cell row = 0; row < 12; ++row) EXPECT_EQ(script.Call("AddMenuItem", {menu, 1, item}).value, row);
    EXPECT_EQ(script.Call("AddMenuItem", {menu, 1, item}).value, -1);
    EXPECT_EQ(script.Call("AddMenuItem", {menu, 2, item}).value, -1);
    EXPECT_EQ(script.Call("AddMenuItem", {menu + 256, 0x100, item}).value, 0);  // row 0 of column 0 of menu 1
    EXPECT_EQ(script.Call("AddMenuItem", {menu, 0, item}).value, 1);
    EXPECT_EQ(script.Call("AddMenuItem", {2, 0, item}).value, 0);  // no menu 2
    EXPECT_EQ(std::string(game_->GetMenuPool()->Get(1)->Item(11, 1).data()), std::string(31, 'i'));
    net_->sent.clear();
    script.Call("ShowMenuForPlayer", {menu, kPlayer});
    script.Call("DisableMenuRow", {menu, 4});
    script.Call("ShowMenuForPlayer", {menu, kPlayer});
    std::vector<uint8_t> ids;
    for (const Rpc& r : Sent()) ids.push_back(r.id);
    EXPECT_EQ(ids, (std::vector<uint8_t>{RPC_MenuInit, RPC_MenuShow, RPC_MenuShow}));
}

TEST_F(ScreenNatives, WithoutTheirPoolsTheNativesFail) {
    const cell text = script.mem.Str("t");
    game_->EndGameMode();
    ASSERT_EQ(game_->GetMenuPool(), nullptr);
    net_->sent.clear();
    const struct {
        const char* native;
        std::vector<cell> args;
        cell result;
    } cases[] = {
        {"TextDrawCreate", {F(0), F(0), text}, 0xFFFF},
        {"TextDrawShowForAll", {0}, 0},
        {"TextDrawColor", {0, 1}, 0},
        {"CreateMenu", {text, 1, F(0), F(0), F(0), F(0)}, -1},
        {"AddMenuItem", {1, 0, text}, 0},
        {"IsValidMenu", {1}, 0},
        {"GetPlayerMenu", {kPlayer}, 255},
        {"GangZoneCreate", {F(0), F(0), F(0), F(0)}, -1},
        {"GangZoneShowForAll", {0, 1}, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(script.Call(c.native, c.args), (Outcome{0, c.result})) << c.native;
    EXPECT_TRUE(Sent().empty());
}

}  // namespace
}  // namespace velt::scripttest
