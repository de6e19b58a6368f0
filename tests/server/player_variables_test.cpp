#include "server/game/PlayerVariables.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace velt {
namespace {

enum class Op { SetInt, SetFloat, SetString, GetInt, GetFloat, GetString, GetType, Delete, Find, Upper };

struct Step {
    Op op;
    std::string name;
    int32_t i = 0;            // value to set, or expected integer / type / row / return
    float f = 0.0f;           // value to set, or expected float
    const char* s = nullptr;  // value to set, or expected text (null: expect null)
    bool readOnly = false;
    int32_t ret = 0;  // expected return of a set
};

Step SetI(std::string n, int32_t v, bool ro, int32_t ret) {
    return {Op::SetInt, std::move(n), v, 0, nullptr, ro, ret};
}
Step SetF(std::string n, float v, bool ro, int32_t ret) {
    return {Op::SetFloat, std::move(n), 0, v, nullptr, ro, ret};
}
Step SetS(std::string n, const char* v, bool ro, int32_t ret) {
    return {Op::SetString, std::move(n), 0, 0, v, ro, ret};
}
Step GetI(std::string n, int32_t want) { return {Op::GetInt, std::move(n), want}; }
Step GetF(std::string n, float want) { return {Op::GetFloat, std::move(n), 0, want}; }
Step GetS(std::string n, const char* want) { return {Op::GetString, std::move(n), 0, 0, want}; }
Step Type(std::string n, int32_t want) { return {Op::GetType, std::move(n), want}; }
Step Del(std::string n, int32_t ret) { return {Op::Delete, std::move(n), ret}; }
Step Row(std::string n, int32_t want) { return {Op::Find, std::move(n), want}; }
Step Upper(int32_t want) { return {Op::Upper, "", want}; }

TEST(PlayerVariables, SetGetDeleteLimitsNamesAndTypes) {
    const std::string name40(40, 'n');
    const std::string name41(41, 'n');
    const Step steps[] = {
        // Names are case-insensitive: one row whatever the spelling.
        SetI("score", 5, false, 1),
        GetI("SCORE", 5),
        Type("Score", PLAYER_VARTYPE_INT),
        Row("sCoRe", 0),
        Upper(1),
        // Changing type: the getter of another type gives the empty answer.
        SetS("score", "hi", false, 1),
        Type("score", PLAYER_VARTYPE_STRING),
        GetS("SCORE", "hi"),
        GetI("score", 0),
        GetF("score", 0.0f),
        SetI("score", 7, false, 1),
        GetS("score", nullptr),
        GetI("score", 7),
        Row("score", 0),
        // Read-only: a plain set is refused and keeps the value; a read-only set goes through;
        // deleting works either way and the name is writable afterwards.
        SetF("speed", 1.5f, true, 1),
        SetF("SPEED", 2.0f, false, 0),
        GetF("speed", 1.5f),
        SetI("speed", 3, false, 0),
        SetS("speed", "x", false, 0),
        Type("speed", PLAYER_VARTYPE_FLOAT),
        SetF("speed", 2.5f, true, 1),
        GetF("speed", 2.5f),
        Del("Speed", 1),
        Type("speed", PLAYER_VARTYPE_NONE),
        SetI("speed", 3, false, 1),
        GetI("speed", 3),
        // Name length: 40 characters fit, 41 never create anything.
        SetI(name40, 40, false, 1),
        GetI(name40, 40),
        SetI(name41, 1, false, 0),
        SetF(name41, 1.0f, true, 0),
        SetS(name41, "x", false, 0),
        Type(name41, PLAYER_VARTYPE_NONE),
        Del(name41, 0),
        Row(name41, -1),
        // Missing names.
        Del("missing", 0),
        GetS("missing", nullptr),
        GetF("missing", 0.0f),
        GetI("missing", 0),
        Type("missing", PLAYER_VARTYPE_NONE),
        // Only ASCII letters fold; other characters compare as they are.
        SetI("my_var[1]", 11, false, 1),
        GetI("MY_VAR[1]", 11),
        SetI("\xC3\xA4", 1, false, 1),
        SetI("\xC3\x84", 2, false, 1),
        GetI("\xC3\xA4", 1),
        GetI("\xC3\x84", 2),
        // An empty text is a text, not a missing one.
        SetS("empty", "", false, 1),
        GetS("EMPTY", ""),
        Type("empty", PLAYER_VARTYPE_STRING),
    };

    PlayerVarTable t;
    int index = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE(testing::Message() << "step " << index++ << " '" << s.name << "'");
        switch (s.op) {
            case Op::SetInt: EXPECT_EQ(t.SetInt(s.name, s.i, s.readOnly), s.ret); break;
            case Op::SetFloat: EXPECT_EQ(t.SetFloat(s.name, s.f, s.readOnly), s.ret); break;
            case Op::SetString: EXPECT_EQ(t.SetString(s.name, s.s, s.readOnly), s.ret); break;
            case Op::GetInt: EXPECT_EQ(t.GetInt(s.name), s.i); break;
            case Op::GetFloat: EXPECT_EQ(t.GetFloat(s.name), s.f); break;
            case Op::GetString:
                if (s.s == nullptr)
                    EXPECT_EQ(t.GetString(s.name), nullptr);
                else
                    EXPECT_STREQ(t.GetString(s.name), s.s);
                break;
            case Op::GetType: EXPECT_EQ(t.GetType(s.name), s.i); break;
            case Op::Delete: EXPECT_EQ(t.Delete(s.name), s.i); break;
            case Op::Find: EXPECT_EQ(t.Find(s.name), s.i); break;
            case Op::Upper: EXPECT_EQ(t.UpperIndex(), s.i); break;
        }
    }
    // The row keeps its old text after turning into an integer, and lists under its stored name.
    const PlayerVarEntry* row = t.GetAt(0);
    ASSERT_NE(row, nullptr);
    EXPECT_STREQ(row->name, "SCORE");
    ASSERT_NE(row->stringValue, nullptr);
    EXPECT_STREQ(row->stringValue.get(), "hi");
    EXPECT_EQ(t.GetAt(-1), nullptr);
    EXPECT_EQ(t.GetAt(PlayerVarTable::kRows), nullptr);
}

TEST(PlayerVariables, RowsUpperIndexAndCapacity) {
    auto t = std::make_unique<PlayerVarTable>();
    for (int i = 0; i <= 5; ++i) ASSERT_EQ(t->SetInt("v" + std::to_string(i), i, false), 1);
    for (int i = 1; i <= 4; ++i) ASSERT_EQ(t->Delete("v" + std::to_string(i)), 1);
    EXPECT_EQ(t->UpperIndex(), 6);  // rows 0 and 5 used
    EXPECT_EQ(t->GetAt(3), nullptr);
    ASSERT_EQ(t->Delete("v5"), 1);
    EXPECT_EQ(t->UpperIndex(), 1);
    ASSERT_EQ(t->SetInt("new", 1, false), 1);
    EXPECT_EQ(t->Find("new"), 1);  // the lowest free row
    ASSERT_EQ(t->Delete("v0"), 1);
    EXPECT_EQ(t->UpperIndex(), 2);
    EXPECT_EQ(t->Find("new"), 1);  // rows below the upper index are still scanned

    // 800 distinct names fit; the 801st is refused until a row is freed.
    t = std::make_unique<PlayerVarTable>();
    for (int i = 0; i < PlayerVarTable::kRows; ++i)
        ASSERT_EQ(t->SetString("k" + std::to_string(i), "x", false), 1) << i;
    EXPECT_EQ(t->UpperIndex(), PlayerVarTable::kRows);
    EXPECT_EQ(t->SetInt("one too many", 1, false), 0);
    EXPECT_EQ(t->Add("one too many"), -1);
    EXPECT_EQ(t->SetInt("k799", 2, false), 1);  // existing names still update
    ASSERT_EQ(t->Delete("k400"), 1);
    EXPECT_EQ(t->SetInt("one too many", 1, false), 1);
    EXPECT_EQ(t->Find("ONE TOO MANY"), 400);
}

}  // namespace
}  // namespace velt
