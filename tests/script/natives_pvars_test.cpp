// Per-player variable natives, called from a real script on a game server with a fake transport:
// one table row per native over good, bad and wrapped ids (none of them sends anything), then the
// table's rules as scripts meet them: names in any case, the length limit, types, a full table,
// the upper index, read-only rows, and a table that is only made by a set and gone at reconnect.

#include <string>
#include <vector>

#include "server/game/Player.h"
#include "server/game/PlayerPool.h"
#include "tests/script/natives_rows.h"

namespace velt::scripttest {
namespace {

constexpr uint16_t kPlayer = 3;

class PlayerVarNatives : public NativesServerTest {
protected:
    void SetUp() override {
        NativesServerTest::SetUp();
        Join(kPlayer, "Alice");
        Join(7, "Bob");
        net_->sent.clear();
    }

    PlayerVars& Vars() { return game_->GetPlayerPool()->GetAt(kPlayer)->Variables(); }
    cell Call(const char* native, std::vector<cell> args) {
        return script.Call(native, std::move(args)).value;
    }
    // An array of 48 cells holding `text`.
    cell Array(const std::string& text = "untouched") {
        std::vector<cell> cells(48, 0);
        for (size_t i = 0; i < text.size() && i < 47; ++i) cells[i] = static_cast<unsigned char>(text[i]);
        return script.mem.Alloc(cells);
    }

    NativeScript script{"natives_pvars", ScriptKind::GameMode, -1, nullptr};
};

TEST_F(PlayerVarNatives, EveryNativeOnGoodBadAndWrappedIds) {
    ScriptMemory& m = script.mem;
    const cell score = m.Str("score");
    const cell speed = m.Packed("Speed");
    const cell clan = m.Str("Clan");
    const cell dest = Array();
    const auto named = [](cell name) { return [=](cell id) { return std::vector<cell>{id, name}; }; };
    const auto with = [](cell name, cell value) {
        return [=](cell id) { return std::vector<cell>{id, name, value}; };
    };
    const std::vector<NativeRow> rows = {
        {"SetPVarInt", with(score, 0x7FFFFFFF), 1, 0, {}},
        {"GetPVarInt", named(m.Str("SCORE")), 0x7FFFFFFF, 0, {}},
        {"SetPVarFloat", with(speed, FloatToCell(2.5f)), 1, 0, {}},
        {"GetPVarFloat", named(m.Str("speed")), FloatToCell(2.5f), 0, {}},
        {"SetPVarString", with(clan, m.Str("abc")), 1, 0, {}},
        {"GetPVarString",
         [&](cell id) {
             return std::vector<cell>{id, m.Str("CLAN"), dest, 48};
         },
         3,
         0,
         {},
         {},
         [&] { EXPECT_EQ(m.Text(dest), "abc"); }},
        {"GetPVarType", named(clan), 2, 0, {}},
        {"GetPVarType", named(speed), 3, 0, {}},
        {"GetPVarNameAtIndex",
         [&](cell id) {
             return std::vector<cell>{id, 1, dest, 48};
         },
         5,
         0,
         {},
         {},
         [&] { EXPECT_EQ(m.Text(dest), "SPEED"); }},
        {"GetPVarsUpperIndex", [](cell id) { return std::vector<cell>{id}; }, 3, 0, {}},
        {"DeletePVar", named(speed), 1, 0, {}, [&] { ASSERT_EQ(Vars().SetFloat("SPEED", 2.5f, false), 1); }},
    };
    RunNativeRows(script, *net_, rows, {kPlayer, 65536 + kPlayer, static_cast<cell>(0xFFFF0000u) + kPlayer},
                  {5, 1000, 65535, 65536 + 5, -1});
    // The bad ids reached no other player's table.
    EXPECT_FALSE(game_->GetPlayerPool()->GetAt(7)->Variables().HoldsTable());
}

TEST_F(PlayerVarNatives, EmptyOrMissingNamesAreRefused) {
    const cell empty = script.mem.Str("");
    const cell dest = Array();
    for (cell name : {empty, cell{-4}}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Call("SetPVarInt", {kPlayer, name, 5}), 0);
        EXPECT_EQ(Call("SetPVarString", {kPlayer, name, script.mem.Str("x")}), 0);
        EXPECT_EQ(Call("SetPVarFloat", {kPlayer, name, FloatToCell(1.0f)}), 0);
        EXPECT_EQ(Call("GetPVarInt", {kPlayer, name}), 0);
        EXPECT_EQ(Call("GetPVarFloat", {kPlayer, name}), 0);
        EXPECT_EQ(Call("GetPVarString", {kPlayer, name, dest, 48}), 0);
        EXPECT_EQ(Call("GetPVarType", {kPlayer, name}), 0);
        EXPECT_EQ(Call("DeletePVar", {kPlayer, name}), 0);
    }
    EXPECT_EQ(script.mem.Text(dest), "untouched");
    EXPECT_FALSE(Vars().HoldsTable());
}

TEST_F(PlayerVarNatives, NamesTypesAndLimits) {
    ScriptMemory& m = script.mem;
    const cell dest = Array();
    // Any case reaches the same row, stored upper case.
    EXPECT_EQ(Call("SetPVarInt", {kPlayer, m.Str("money_Bag"), 7}), 1);
    EXPECT_EQ(Call("GetPVarInt", {kPlayer, m.Str("MONEY_BAG")}), 7);
    EXPECT_EQ(Call("SetPVarInt", {kPlayer, m.Str("MONEY_bag"), 8}), 1);
    EXPECT_EQ(Call("GetPVarsUpperIndex", {kPlayer}), 1);
    EXPECT_EQ(Call("GetPVarNameAtIndex", {kPlayer, 0, dest, 48}), 9);
    EXPECT_EQ(m.Text(dest), "MONEY_BAG");

    // A set replaces the type; a read of another type gives the empty answer.
    EXPECT_EQ(Call("SetPVarString", {kPlayer, m.Str("money_bag"), m.Str("")}), 1);
    EXPECT_EQ(Call("GetPVarType", {kPlayer, m.Str("money_bag")}), 2);
    EXPECT_EQ(Call("GetPVarInt", {kPlayer, m.Str("money_bag")}), 0);
    EXPECT_EQ(Call("GetPVarFloat", {kPlayer, m.Str("money_bag")}), 0);
    EXPECT_EQ(Call("GetPVarString", {kPlayer, m.Str("money_bag"), dest, 48}), 0);
    EXPECT_EQ(m.Text(dest), "");
    const cell kept = Array();
    EXPECT_EQ(Call("SetPVarInt", {kPlayer, m.Str("money_bag"), 1}), 1);
    EXPECT_EQ(Call("GetPVarString", {kPlayer, m.Str("money_bag"), kept, 48}), 0);
    EXPECT_EQ(m.Text(kept), "untouched");
    // The destination's size bounds the text.
    EXPECT_EQ(Call("SetPVarString", {kPlayer, m.Str("long"), m.Str("abcdefgh")}), 1);
    EXPECT_EQ(Call("GetPVarString", {kPlayer, m.Str("long"), dest, 4}), 3);
    EXPECT_EQ(m.Text(dest), "abc");

    // 40 characters fit, 41 do not.
    const cell forty = m.Str(std::string(40, 'n'));
    const cell fortyOne = m.Str(std::string(41, 'n'));
    EXPECT_EQ(Call("SetPVarFloat", {kPlayer, forty, FloatToCell(-1.5f)}), 1);
    EXPECT_EQ(Call("GetPVarFloat", {kPlayer, forty}), FloatToCell(-1.5f));
    EXPECT_EQ(Call("SetPVarInt", {kPlayer, fortyOne, 1}), 0);
    EXPECT_EQ(Call("GetPVarType", {kPlayer, fortyOne}), 0);

    // Rows a caller of the table marked read-only refuse the natives' sets.
    ASSERT_EQ(Vars().SetInt("LOCKED", 1, true), 1);
    EXPECT_EQ(Call("SetPVarInt", {kPlayer, m.Str("locked"), 2}), 0);
    EXPECT_EQ(Call("SetPVarString", {kPlayer, m.Str("locked"), m.Str("x")}), 0);
    EXPECT_EQ(Call("GetPVarInt", {kPlayer, m.Str("locked")}), 1);

    // No row at an index writes the empty text.
    const cell none = Array();
    EXPECT_EQ(Call("GetPVarNameAtIndex", {kPlayer, 799, none, 48}), 0);
    EXPECT_EQ(m.Text(none), "");
    EXPECT_EQ(Call("GetPVarNameAtIndex", {kPlayer, 800, none, 48}), 0);
    EXPECT_EQ(Call("GetPVarNameAtIndex", {kPlayer, -1, none, 48}), 0);
}

TEST_F(PlayerVarNatives, FullTableAndTheUpperIndex) {
    ScriptMemory& m = script.mem;
    std::vector<cell> names;
    for (int i = 0; i < 800; ++i) names.push_back(m.Packed("v" + std::to_string(i)));
    for (int i = 0; i < 800; ++i) ASSERT_EQ(Call("SetPVarInt", {kPlayer, names[i], i}), 1) << i;
    EXPECT_EQ(Call("SetPVarInt", {kPlayer, m.Str("one_more"), 1}), 0);
    EXPECT_EQ(Call("SetPVarInt", {kPlayer, names[799], -5}), 1);
    EXPECT_EQ(Call("GetPVarInt", {kPlayer, names[799]}), -5);
    EXPECT_EQ(Call("GetPVarsUpperIndex", {kPlayer}), 800);

    // Deleting the highest row lowers the index to one past the next used row below it.
    for (int i = 797; i <= 798; ++i) ASSERT_EQ(Call("DeletePVar", {kPlayer, names[i]}), 1);
    EXPECT_EQ(Call("GetPVarsUpperIndex", {kPlayer}), 800);
    EXPECT_EQ(Call("DeletePVar", {kPlayer, names[799]}), 1);
    EXPECT_EQ(Call("DeletePVar", {kPlayer, names[799]}), 0);
    EXPECT_EQ(Call("GetPVarsUpperIndex", {kPlayer}), 797);
    // A new name takes the lowest free row.
    ASSERT_EQ(Call("DeletePVar", {kPlayer, names[10]}), 1);
    EXPECT_EQ(Call("SetPVarInt", {kPlayer, m.Str("newcomer"), 1}), 1);
    const cell dest = Array();
    EXPECT_EQ(Call("GetPVarNameAtIndex", {kPlayer, 10, dest, 48}), 8);
    EXPECT_EQ(m.Text(dest), "NEWCOMER");
    for (int i = 0; i < 797; ++i) Vars().Delete("V" + std::to_string(i));
    Vars().Delete("NEWCOMER");
    EXPECT_EQ(Call("GetPVarsUpperIndex", {kPlayer}), 0);
}

TEST_F(PlayerVarNatives, TableIsMadeBySetsAndGoneAtReconnect) {
    ScriptMemory& m = script.mem;
    const cell name = m.Str("kills");
    // Reads before any set answer empty without making the table.
    EXPECT_EQ(Call("GetPVarInt", {kPlayer, name}), 0);
    EXPECT_EQ(Call("GetPVarType", {kPlayer, name}), 0);
    EXPECT_EQ(Call("DeletePVar", {kPlayer, name}), 0);
    EXPECT_EQ(Call("GetPVarsUpperIndex", {kPlayer}), 0);
    EXPECT_EQ(Call("GetPVarNameAtIndex", {kPlayer, 0, Array(), 48}), 0);
    EXPECT_FALSE(Vars().HoldsTable());
    EXPECT_EQ(Call("SetPVarInt", {kPlayer, name, 12}), 1);
    EXPECT_TRUE(Vars().HoldsTable());

    PlayerPool* pool = game_->GetPlayerPool();
    ASSERT_EQ(pool->Disconnect(kPlayer, DISCONNECT_QUIT), 1);
    EXPECT_EQ(Call("GetPVarInt", {kPlayer, name}), 0);
    pool->ReleaseRetired();
    Join(kPlayer, "Alice");
    EXPECT_EQ(Call("GetPVarType", {kPlayer, name}), 0);
    EXPECT_EQ(Call("GetPVarsUpperIndex", {kPlayer}), 0);
    EXPECT_FALSE(Vars().HoldsTable());
}

}  // namespace
}  // namespace velt::scripttest
