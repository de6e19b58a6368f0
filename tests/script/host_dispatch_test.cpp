// Callback dispatch through the real hosts: every row of the callback table, run into assembled
// recorder scripts (three filterscripts around a script without publics, and a gamemode), checked
// against the rules written out below independently of the production table.

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "server/hosts/FilterScriptHost.h"
#include "server/hosts/GameModeHost.h"
#include "tests/script/HostTestUtil.h"

namespace velt::test {
namespace {

// ---- Expected rules, one row per callback ---------------------------------------------------
// fs rule: z stop at 0, n stop at non-0, l all/last, v all/veto, a all/always 1.
// gm kind: - run by the gamemode host itself, p plain, t player test, i result ignored, c chat.
struct ExpectedRow {
    const char* name;
    int32_t fsInitial;
    char fsRule;
    int32_t gmInitial;
    char gmKind;
};

const ExpectedRow kExpected[] = {
    {"OnGameModeInit", 0, 'z', 0, '-'},
    {"OnGameModeExit", 0, 'z', 0, '-'},
    {"OnPlayerConnect", 0, 'z', 0, 'p'},
    {"OnPlayerDisconnect", 0, 'z', 0, 'p'},
    {"OnPlayerSpawn", 0, 'z', 0, 'p'},
    {"OnPlayerDeath", 0, 'z', 0, 'p'},
    {"OnVehicleSpawn", 0, 'z', 0, 'p'},
    {"OnVehicleDeath", 0, 'l', 0, 'p'},
    {"OnPlayerText", 1, 'z', 1, 'c'},
    {"OnPlayerCommandText", 0, 'n', 0, 't'},
    {"OnPlayerRequestClass", 1, 'l', 1, 't'},
    {"OnPlayerRequestSpawn", 1, 'z', 1, 't'},
    {"OnPlayerEnterVehicle", 0, 'l', 0, 't'},
    {"OnPlayerExitVehicle", 0, 'l', 0, 't'},
    {"OnPlayerStateChange", 0, 'l', 0, 't'},
    {"OnPlayerInteriorChange", 0, 'l', 0, 't'},
    {"OnPlayerEnterCheckpoint", 0, 'l', 0, 't'},
    {"OnPlayerLeaveCheckpoint", 0, 'l', 0, 'p'},
    {"OnPlayerEnterRaceCheckpoint", 0, 'l', 0, 'p'},
    {"OnPlayerLeaveRaceCheckpoint", 0, 'l', 0, 'p'},
    {"OnPlayerKeyStateChange", 0, 'l', 0, 'p'},
    // Starts at 0 on the filterscript side so an unhandled line still reaches the gamemode and
    // then the console's "Unknown command" line (a deliberate fix of the shared table).
    {"OnRconCommand", 0, 'l', 0, 'p'},
    {"OnObjectMoved", 0, 'l', 0, 'p'},
    {"OnPlayerObjectMoved", 0, 'l', 0, 'p'},
    {"OnPlayerPickUpPickup", 0, 'l', 0, 'p'},
    {"OnPlayerExitedMenu", 0, 'l', 0, 'p'},
    {"OnPlayerSelectedMenuRow", 0, 'l', 0, 'p'},
    {"OnVehicleRespray", 1, 'l', 1, 'p'},
    {"OnVehicleMod", 1, 'v', 1, 'p'},
    {"OnEnterExitModShop", 1, 'v', 1, 'p'},
    {"OnVehiclePaintjob", 1, 'l', 1, 'p'},
    {"OnScriptCash", 1, 'l', 1, 'p'},
    {"OnRconLoginAttempt", 1, 'a', 1, 'i'},
    {"OnPlayerUpdate", 1, 'l', 1, 'p'},
    {"OnPlayerStreamIn", 1, 'l', 1, 'p'},
    {"OnPlayerStreamOut", 1, 'l', 1, 'p'},
    {"OnVehicleStreamIn", 1, 'l', 1, 'p'},
    {"OnVehicleStreamOut", 1, 'l', 1, 'p'},
    {"OnActorStreamIn", 1, 'l', 1, 'p'},
    {"OnActorStreamOut", 1, 'l', 1, 'p'},
    {"OnDialogResponse", 0, 'n', 0, 't'},
    {"OnPlayerClickPlayer", 0, 'n', 0, 't'},
    {"OnPlayerTakeDamage", 0, 'n', 0, 'p'},
    {"OnPlayerGiveDamage", 0, 'n', 0, 'p'},
    {"OnPlayerGiveDamageActor", 0, 'n', 0, 'p'},
    {"OnVehicleDamageStatusUpdate", 0, 'n', 0, 'p'},
    {"OnUnoccupiedVehicleUpdate", 1, 'z', 1, 'p'},
    {"OnPlayerClickMap", 0, 'n', 0, 'p'},
    {"OnPlayerEditAttachedObject", 0, 'n', 0, 'p'},
    {"OnPlayerEditObject", 0, 'n', 0, 'p'},
    {"OnPlayerSelectObject", 0, 'n', 0, 'p'},
    {"OnPlayerClickTextDraw", 0, 'n', 0, 'p'},
    {"OnPlayerClickPlayerTextDraw", 0, 'n', 0, 'p'},
    {"OnPlayerWeaponShot", 1, 'z', 1, 'p'},
    {"OnIncomingConnection", 0, 'n', 0, 'p'},
    {"OnTrailerUpdate", 1, 'l', 1, 'p'},
    {"OnVehicleSirenStateChange", 0, 'l', 1, 'p'},
    {"OnPlayerFinishedDownloading", 0, 'l', 1, 'p'},
    {"OnPlayerRequestDownload", 1, 'z', 1, 'p'},
};
static_assert(sizeof kExpected / sizeof kExpected[0] == 59);

// ---- Calling a dispatcher with generated arguments -------------------------------------------
// Argument i: ids and integers 5 (the first, a player id) or 100 + i, floats 0.5 + i, texts
// "text<i>", writable texts "hello world".
enum class ArgKind { Int, Float, Text };

struct CallArgs {
    std::vector<ArgKind> kinds;
    std::array<std::string, 16> texts;
    std::array<std::array<char, 64>, 16> writable{};
    std::string WritableText(size_t i) const { return writable[i].data(); }

    template <class T>
    T Get(size_t i);
};

template <>
int32_t CallArgs::Get<int32_t>(size_t i) {
    return i == 0 ? 5 : static_cast<int32_t>(100 + i);
}
template <>
float CallArgs::Get<float>(size_t i) {
    return 0.5f + static_cast<float>(i);
}
template <>
const char* CallArgs::Get<const char*>(size_t i) {
    texts[i] = "text" + std::to_string(i);
    return texts[i].c_str();
}
template <>
char* CallArgs::Get<char*>(size_t i) {
    std::snprintf(writable[i].data(), writable[i].size(), "hello world");
    return writable[i].data();
}

template <class T>
constexpr ArgKind KindOf() {
    if constexpr (std::is_same_v<T, float>)
        return ArgKind::Float;
    else if constexpr (std::is_same_v<T, int32_t>)
        return ArgKind::Int;
    else
        return ArgKind::Text;
}

template <class Host, class... P, size_t... I>
int32_t InvokeImpl(Host& host, int32_t (Host::*method)(P...), CallArgs& a, std::index_sequence<I...>) {
    a.kinds = {KindOf<P>()...};
    return (host.*method)(a.Get<P>(I)...);
}
template <class Host, class... P>
int32_t Invoke(Host& host, int32_t (Host::*method)(P...), CallArgs& a) {
    return InvokeImpl(host, method, a, std::index_sequence_for<P...>{});
}

using FsCall = int32_t (*)(FilterScripts&, CallArgs&);
using GmCall = int32_t (*)(GameMode&, CallArgs&);

struct Row {
    const char* name;
    FsCall fs;
    GmCall gm;  // null: the gamemode host runs this public itself
};

#define HT_GM_None(name) nullptr
#define HT_GM_ANY(name) [](GameMode& g, CallArgs& a) { return Invoke(g, &GameMode::name, a); }
#define HT_GM_Plain(name) HT_GM_ANY(name)
#define HT_GM_PlayerTest(name) HT_GM_ANY(name)
#define HT_GM_IgnoreResult(name) HT_GM_ANY(name)
#define HT_GM_Chat(name) HT_GM_ANY(name)

const Row kRows[] = {
#define VELT_X(name, params, args, fsInit, fsRule, gmInit, gmKind)                            \
    {#name, [](FilterScripts& f, CallArgs& a) { return Invoke(f, &FilterScripts::name, a); }, \
     HT_GM_##gmKind(name)},
    VELT_SCRIPT_CALLBACKS(VELT_X)
#undef VELT_X
};
static_assert(sizeof kRows / sizeof kRows[0] == 59);

const ExpectedRow& ExpectedFor(const char* name) {
    for (const ExpectedRow& e : kExpected)
        if (std::strcmp(e.name, name) == 0) return e;
    ADD_FAILURE() << "no expected row for " << name;
    return kExpected[0];
}

// What the filterscript side gives for results of three scripts, per rule: scripts that ran and
// the result. Written from the rule table, not from the code.
struct FsPattern {
    std::array<cell, 3> results;
    std::array<std::pair<int, int32_t>, 5> expected;  // per rule z n l v a: (scripts run, result)
};
const FsPattern kPatterns[] = {
    {{1, 0, 1}, {{{2, 0}, {1, 1}, {3, 1}, {3, 0}, {3, 1}}}},
    {{0, 1, 0}, {{{1, 0}, {2, 1}, {3, 0}, {3, 0}, {3, 1}}}},
    {{2, 3, 4}, {{{3, 4}, {1, 1}, {3, 4}, {3, 1}, {3, 1}}}},
    {{0, 0, 0}, {{{1, 0}, {3, 0}, {3, 0}, {3, 0}, {3, 1}}}},
};
int RuleColumn(char rule) {
    switch (rule) {
        case 'z': return 0;
        case 'n': return 1;
        case 'l': return 2;
        case 'v': return 3;
        default: return 4;
    }
}

void ExpectArgs(const Rec& r, const CallArgs& a, const std::string& where) {
    ASSERT_EQ(r.args.size(), a.kinds.size()) << where;
    for (size_t i = 0; i < a.kinds.size(); ++i) {
        switch (a.kinds[i]) {
            case ArgKind::Int:
                EXPECT_EQ(r.args[i], (i == 0 ? 5 : static_cast<cell>(100 + i))) << where << " arg " << i;
                break;
            case ArgKind::Float:
                EXPECT_EQ(r.args[i], FloatToCell(0.5f + static_cast<float>(i))) << where << " arg " << i;
                break;
            case ArgKind::Text: {
                const std::string want = a.texts[i].empty() ? std::string("hello world") : a.texts[i];
                EXPECT_EQ(r.texts[i], want) << where << " arg " << i;
                break;
            }
        }
    }
}

class CallbackRowTest : public ::testing::TestWithParam<Row> {
protected:
    void SetUp() override {
        dir.FilterScript("recorder", "a");
        dir.FilterScript("empty", "none");
        dir.FilterScript("recorder", "b");
        dir.FilterScript("recorder", "c");
        gmRecorder = dir.Gamemode("recorder", "rec");
        gmEmpty = dir.Gamemode("empty", "empty");
        env.filterScripts = &fs;
    }

    ScriptDir dir;
    HostTestEnv env;
    VmFilterScripts fs{env};
    std::string gmRecorder, gmEmpty;
};

TEST_P(CallbackRowTest, FilterScriptSideFollowsItsRule) {
    const Row& row = GetParam();
    const ExpectedRow& exp = ExpectedFor(row.name);
    CallArgs args;

    EXPECT_EQ(row.fs(fs, args), exp.fsInitial) << "no filterscripts";
    ASSERT_TRUE(fs.LoadFilterScript("a"));
    ASSERT_TRUE(fs.LoadFilterScript("none"));
    ASSERT_TRUE(fs.LoadFilterScript("b"));
    ASSERT_TRUE(fs.LoadFilterScript("c"));
    const char* labels[] = {"fs0", "fs2", "fs3"};  // slot 1 holds the script without publics

    for (const FsPattern& p : kPatterns) {
        env.recs.clear();
        for (int i = 0; i < 3; ++i) env.results[std::string(labels[i]) + ":" + row.name] = p.results[i];
        const auto [ran, result] = p.expected[RuleColumn(exp.fsRule)];
        const std::string where = std::string(row.name) + " pattern " + std::to_string(p.results[0]) +
                                  std::to_string(p.results[1]) + std::to_string(p.results[2]);
        EXPECT_EQ(row.fs(fs, args), result) << where;
        ASSERT_EQ(env.recs.size(), static_cast<size_t>(ran)) << where;
        for (int i = 0; i < ran; ++i) {
            EXPECT_EQ(env.recs[i].script, labels[i]) << where;
            EXPECT_EQ(env.recs[i].name, row.name) << where;
            ExpectArgs(env.recs[i], args, where);
        }
    }

    // Only the script without publics left: it is skipped and the initial value stands.
    fs.UnloadFilterScript("a");
    fs.UnloadFilterScript("b");
    fs.UnloadFilterScript("c");
    env.recs.clear();
    EXPECT_EQ(row.fs(fs, args), exp.fsInitial);
    EXPECT_TRUE(env.recs.empty());
}

TEST_P(CallbackRowTest, GameModeSideFollowsItsKind) {
    const Row& row = GetParam();
    const ExpectedRow& exp = ExpectedFor(row.name);
    if (row.gm == nullptr) {
        EXPECT_EQ(exp.gmKind, '-') << row.name;
        return;
    }
    CallArgs args;
    VmGameMode gm(env);

    EXPECT_EQ(row.gm(gm, args), 0) << "nothing loaded";

    ASSERT_EQ(gm.Load(gmEmpty.c_str()), 1);
    EXPECT_EQ(row.gm(gm, args), exp.gmInitial) << "gamemode without the public";

    ASSERT_EQ(gm.Load(gmRecorder.c_str()), 1);
    for (cell scriptResult : {7, 0}) {
        for (bool connected : {true, false}) {
            env.recs.clear();
            env.broadcasts.clear();
            env.connected.clear();
            if (connected) env.connected.insert(5);
            env.results[std::string("gm:") + row.name] = scriptResult;
            const std::string where = std::string(row.name) + " returns " + std::to_string(scriptResult) +
                                      (connected ? " connected" : " not connected");

            const bool runs = exp.gmKind != 't' || connected;
            int32_t want = runs ? scriptResult : exp.gmInitial;
            if (exp.gmKind == 'i') want = exp.gmInitial;
            EXPECT_EQ(row.gm(gm, args), want) << where;
            ASSERT_EQ(env.recs.size(), runs ? 1u : 0u) << where;
            if (runs) {
                EXPECT_EQ(env.recs[0].script, "gm");
                ExpectArgs(env.recs[0], args, where);
            }
            const bool broadcast = exp.gmKind == 'c' && want != 0 && connected;
            EXPECT_EQ(env.broadcasts.size(), broadcast ? 1u : 0u) << where;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllCallbacks, CallbackRowTest, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) {
                             return std::string(info.param.name);
                         });

// ---- Cases that need a particular script or argument -----------------------------------------

class DispatchTest : public ::testing::Test {
protected:
    void SetUp() override { env.filterScripts = &fs; }
    ScriptDir dir;
    HostTestEnv env;
    VmFilterScripts fs{env};
};

// A script that shortens the text changes what the later scripts receive and what is broadcast;
// a script that writes a longer text into its copy cannot lengthen the caller's buffer.
TEST_F(DispatchTest, PlayerTextMayBeShortenedNeverLengthened) {
    dir.FilterScript("recorder", "a");
    dir.FilterScript("recorder", "b");
    const std::string gmPath = dir.Gamemode("recorder", "rec");
    ASSERT_TRUE(fs.LoadFilterScript("a"));
    ASSERT_TRUE(fs.LoadFilterScript("b"));
    VmGameMode gm(env);
    ASSERT_EQ(gm.Load(gmPath.c_str()), 1);
    env.connected.insert(3);
    env.recs.clear();

    // fs0 cuts the text after 5 characters; the gamemode writes a longer text over its copy.
    env.onRec = [](VmInstance* inst, const Rec& r) {
        if (r.name != "OnPlayerText" || r.args.size() != 2) return;
        const std::string label = ScriptLabel(inst);
        if (label == "fs0") {
            cell* p = ScriptCellAddress(inst, static_cast<ucell>(r.args[1]), 6);
            ASSERT_NE(p, nullptr);
            StoreScriptCell(p, 5, 0);
        } else if (label == "gm") {
            cell* p = ScriptCellAddress(inst, static_cast<ucell>(r.args[1]), 6);
            ASSERT_NE(p, nullptr);
            const char* longer = "HELLOXXXXXXXXXXXXXXXXXXXXX";  // runs on over the copy's end
            for (int i = 0; i < 6; ++i) StoreScriptCell(p, static_cast<size_t>(i), longer[i]);
        }
    };
    char text[64] = "hello world";
    EXPECT_EQ(fs.OnPlayerText(3, text), 1);
    EXPECT_STREQ(text, "hello");
    ASSERT_EQ(env.recs.size(), 2u);
    EXPECT_EQ(env.recs[1].texts[1], "hello");
    EXPECT_EQ(gm.OnPlayerText(3, text), 1);
    EXPECT_STREQ(text, "HELLO");  // at most the length it had when the dispatch began
    ASSERT_EQ(env.broadcasts.size(), 1u);
    EXPECT_EQ(env.broadcasts[0], "3:HELLO");
}

// A text that cannot be pushed (the script's heap is full) skips that script cleanly: the others
// still run, the script's stack and heap are as before, and it still works afterwards.
TEST_F(DispatchTest, FailedPushSkipsThePublic) {
    dir.FilterScript("tinyheap", "tiny");
    dir.FilterScript("recorder", "a");
    ASSERT_TRUE(fs.LoadFilterScript("tiny"));
    ASSERT_TRUE(fs.LoadFilterScript("a"));
    VmInstance* tiny = fs.SlotInstance(0);
    const cell stack = tiny->stack, heap = tiny->heap;
    env.recs.clear();

    std::string longText(400, 'x');
    env.results["fs1:OnPlayerText"] = 0;
    EXPECT_EQ(fs.OnPlayerText(1, longText.data()), 0);
    EXPECT_EQ(env.Names(), std::vector<std::string>{"fs1:OnPlayerText"});
    EXPECT_EQ(tiny->stack, stack);
    EXPECT_EQ(tiny->heap, heap);
    EXPECT_EQ(tiny->pushed_args, 0);

    env.recs.clear();
    char shortText[] = "hi";
    env.results["fs1:OnPlayerText"] = 1;
    EXPECT_EQ(fs.OnPlayerText(1, shortText), 1);
    EXPECT_EQ(env.Names(), (std::vector<std::string>{"fs0:OnPlayerText", "fs1:OnPlayerText"}));
}

// The per-packet path: repeated dispatch leaves every script's stack and heap where they were.
TEST_F(DispatchTest, RepeatedDispatchLeavesNoResidue) {
    for (const char* name : {"a", "b"}) dir.FilterScript("recorder", name);
    ASSERT_TRUE(fs.LoadFilterScript("a"));
    ASSERT_TRUE(fs.LoadFilterScript("b"));
    VmInstance* a = fs.SlotInstance(0);
    const cell stack = a->stack, heap = a->heap;
    env.recs.clear();
    for (int i = 0; i < 2000; ++i) {
        fs.OnPlayerUpdate(i % 1000);
        char t[] = "some chat";
        fs.OnPlayerText(1, t);
        fs.OnRconLoginAttempt("127.0.0.1", "pw", 0);
    }
    EXPECT_EQ(a->stack, stack);
    EXPECT_EQ(a->heap, heap);
    EXPECT_EQ(env.recs.size(), 2000u * 3u * 2u);
}

}  // namespace
}  // namespace velt::test
