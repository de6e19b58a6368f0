// The core natives, called from real scripts through the server's native table: printing and
// formatting, timers, cross-script calls over three live scripts, console and gamemode control
// and the world settings.

#include "server/natives/CoreNatives.h"

#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "server/natives/ScriptFormat.h"
#include "tests/script/natives_server_fixture.h"

namespace velt::scripttest {
namespace {

// One run of a fixture public, as its Seen call saw it.
struct Seen {
    std::string script;                    // "gm", "fs<slot>"
    std::vector<cell> args;                // the public's argument cells
    std::vector<std::string> texts;        // the text at each argument's address ("" when none)
    std::vector<std::vector<cell>> cells;  // the first three cells at each argument's address
};

std::vector<Seen>* g_seen = nullptr;
std::function<void(VmInstance*)> g_onSeen;

std::string Label(const VmInstance* vm) {
    ScriptKind kind;
    int slot = -1;
    if (!LiveScriptInfo(vm, &kind, &slot)) return "?";
    return kind == ScriptKind::GameMode ? "gm" : "fs" + std::to_string(slot);
}

cell n_Seen(VmInstance* vm, const cell*) {
    Seen s;
    s.script = Label(vm);
    const cell* frame = ScriptCellAddress(vm, static_cast<ucell>(vm->frame), 3);
    const int32_t n = frame != nullptr ? LoadScriptCell(frame, 2) / 4 : 0;
    const cell* argv = ScriptCellAddress(vm, static_cast<ucell>(vm->frame + 12), n);
    for (int32_t i = 0; argv != nullptr && i < n; ++i) {
        const cell v = LoadScriptCell(argv, static_cast<size_t>(i));
        s.args.push_back(v);
        std::string text;
        if (v > 0) ReadScriptString(vm, v, text);
        s.texts.push_back(text);
        const cell* c = v > 0 ? ScriptCellAddress(vm, static_cast<ucell>(v), 3) : nullptr;
        s.cells.push_back(
            c != nullptr ? std::vector<cell>{LoadScriptCell(c, 0), LoadScriptCell(c, 1), LoadScriptCell(c, 2)}
                         : std::vector<cell>{});
    }
    if (g_seen != nullptr) g_seen->push_back(s);
    if (g_onSeen) g_onSeen(vm);
    return 0;
}

const VmNativeEntry kTestNatives[] = {{"Seen", n_Seen}, {"", nullptr}};

// What a host does to unload a script from inside a public.
void UnloadScript(VmInstance* vm) {
    if (VmScriptTimers* t = CurrentScriptTimers()) t->RemoveScriptTimers(vm);
    UnregisterLiveScript(vm);
    ReleaseScriptWhenIdle(vm, [vm] { vm_FreeImage(vm); });
}

class CoreNatives : public NativesServerTest {
protected:
    void SetUp() override {
        NativesServerTest::SetUp();
        g_seen = &seen;
        g_onSeen = nullptr;
    }
    void TearDown() override {
        g_seen = nullptr;
        g_onSeen = nullptr;
        NativesServerTest::TearDown();
    }
    std::vector<Seen> seen;
};

TEST_F(CoreNatives, PrintPrintfAndFormat) {
    NativeScript gm("natives_core", ScriptKind::GameMode, -1, kTestNatives);
    ScriptMemory& m = gm.mem;
    EXPECT_EQ(gm.Call("print", {m.Str("hello there")}), (Outcome{0, 0}));
    EXPECT_EQ(gm.Call("print", {m.Str("")}).value, 0);
    EXPECT_EQ(gm.Call("printf", {m.Str("%d-%s|%5.1f"), m.Value(5), m.Str("x"), m.Float(2.25f)}).value, 0);
    // A script text is never taken as a format by the log.
    EXPECT_EQ(gm.Call("print", {m.Str("100%s %n")}).value, 0);
    const std::vector<std::string> lines = LogLines();
    const auto at = std::find(lines.begin(), lines.end(), "hello there");
    ASSERT_NE(at, lines.end());
    ASSERT_GE(lines.end() - at, 4);
    EXPECT_EQ(at[1], "");
    EXPECT_EQ(at[2], "5-x|    2.2");
    EXPECT_EQ(at[3], "100%s %n");

    // format: cut to size - 1 characters and a terminator; cells past it untouched.
    const cell out = m.Alloc(std::vector<cell>(8, -1));
    EXPECT_EQ(gm.Call("format", {out, 5, m.Str("abc%s"), m.Str("defg")}).value, 1);
    EXPECT_EQ(m.Read(out, 6), (std::vector<cell>{'a', 'b', 'c', 'd', 0, -1}));
    // Bytes above 127 arrive as they are, zero-extended.
    EXPECT_EQ(gm.Call("format", {out, 8, m.Str("%c"), m.Value(0xE9)}).value, 1);
    EXPECT_EQ(m.Read(out, 2), (std::vector<cell>{0xE9, 0}));
    // A size below 1 writes nothing.
    const cell untouched = m.Alloc({-1, -1});
    EXPECT_EQ(gm.Call("format", {untouched, 0, m.Str("x")}).value, 1);
    EXPECT_EQ(gm.Call("format", {untouched, -5, m.Str("x")}).value, 1);
    EXPECT_EQ(m.Read(untouched, 2), (std::vector<cell>{-1, -1}));
    // The text may be its own argument.
    const cell self = m.Alloc({'a', 'b', 0, 0, 0, 0});
    EXPECT_EQ(gm.Call("format", {self, 6, m.Str("<%s>"), self}).value, 1);
    EXPECT_EQ(m.Text(self), "<ab>");
    // An output that would run past the script's memory is refused whole.
    const cell digits = m.Str("0123456789");
    EXPECT_EQ(gm.Call("format", {gm.vm()->heap - 8, 100, digits}).value, 0);
    EXPECT_EQ(gm.Call("format", {-4, 100, m.Str("x")}).value, 0);
}

TEST_F(CoreNatives, TimersFromScripts) {
    NativeScript gm("natives_core", ScriptKind::GameMode, -1, kTestNatives, 1);
    ScriptMemory& m = gm.mem;
    EXPECT_EQ(gm.Call("SetTimer", {m.Str("Remote"), 1000, 0}).value, 1);
    EXPECT_EQ(gm.Call("SetTimer", {m.Str("Remote"), 1000, 0}).value, 2);
    EXPECT_EQ(gm.Call("KillTimer", {1}).value, 1);
    EXPECT_EQ(gm.Call("KillTimer", {12345}).value, 1);
    EXPECT_EQ(gm.Call("SetTimer", {m.Str("Remote"), 1000, 0}).value, 3);

    // SetTimerEx: integer and text in format order; the caller's heap is reused before the run.
    const cell heapBefore = gm.vm()->heap;
    const int32_t id =
        gm.Call("SetTimerEx", {m.Str("Remote"), 250, 0, m.Str("dss"), m.Value(-7), m.Str("Hello"), m.Str("")})
            .value;
    EXPECT_EQ(id, 4);
    vm_Unallot(gm.vm(), heapBefore);
    m.Alloc(std::vector<cell>(100, 0x2A2A2A2A));
    for (int pass = 0; pass < 4; ++pass) game_->Process(0.25f);  // after GameMode::Process
    ASSERT_EQ(seen.size(), 3u);  // timer 4 at 250 ms, timers 2 and 3 at 1000 ms
    EXPECT_EQ(seen[0].args.size(), 3u);
    EXPECT_EQ(seen[0].args[0], -7);
    EXPECT_EQ(seen[0].texts[1], "Hello");
    EXPECT_EQ(seen[0].texts[2], "\x01");
    EXPECT_TRUE(seen[1].args.empty());
    EXPECT_TRUE(timers()->Count() == 0);

    // The parameter-count check: 3 and 261 arguments.
    EXPECT_EQ(gm.Call("SetTimerEx", {m.Str("Remote"), 1, 0}).value, 0);
    std::vector<cell> many{m.Str("Remote"), 1, 0, m.Str("")};
    many.resize(261, m.Value(0));
    EXPECT_EQ(gm.Call("SetTimerEx", many).value, 0);
    many.resize(260);
    EXPECT_EQ(gm.Call("SetTimerEx", many).value, 5);
    EXPECT_TRUE(Logged("SCRIPT: Bad parameter count (3 < 4): "));
    EXPECT_TRUE(Logged("SCRIPT: Bad parameter count (261 > 260): "));
}

TEST_F(CoreNatives, CallRemoteFunctionAcrossThreeScripts) {
    NativeScript gm("natives_core", ScriptKind::GameMode, -1, kTestNatives, 1);
    NativeScript fs0("natives_core", ScriptKind::FilterScript, 0, kTestNatives, 2);
    NativeScript fs1("natives_core_only", ScriptKind::FilterScript, 1, kTestNatives, 3);
    ScriptMemory& m = fs0.mem;

    // Every script with the public, gamemode first; the last result wins.
    EXPECT_EQ(fs0.Call("CallRemoteFunction", {m.Str("Remote"), m.Str("ds"), m.Value(-5), m.Str("hi")}).value,
              3);
    ASSERT_EQ(seen.size(), 3u);
    const char* order[] = {"gm", "fs0", "fs1"};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(seen[i].script, order[i]);
        ASSERT_EQ(seen[i].args.size(), 2u);
        EXPECT_EQ(seen[i].args[0], -5);
        EXPECT_EQ(seen[i].texts[1], "hi");
    }
    // Each target's heap is given back.
    for (NativeScript* s : {&gm, &fs1}) EXPECT_EQ(s->vm()->heap, s->vm()->heap_low);

    // Only one script defines the public; nobody defines it.
    seen.clear();
    EXPECT_EQ(gm.Call("CallRemoteFunction", {gm.mem.Str("Only"), gm.mem.Str("")}).value, 3);
    EXPECT_EQ(gm.Call("CallRemoteFunction", {gm.mem.Str("Nobody"), gm.mem.Str("")}).value, 0);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].script, "fs1");

    // An empty text arrives as the text of code 1; arrays are copies the target cannot change
    // for the caller or for the next target.
    seen.clear();
    const cell array = m.Alloc({1, 2, 3});
    EXPECT_EQ(fs0.Call("CallRemoteFunction", {m.Str("Mutate"), m.Str("ai"), array, m.Value(3)}).value, 2);
    ASSERT_EQ(seen.size(), 2u);
    for (const Seen& s : seen) EXPECT_EQ(s.cells[0], (std::vector<cell>{1, 2, 3})) << s.script;
    EXPECT_EQ(m.Read(array, 3), (std::vector<cell>{1, 2, 3}));
    seen.clear();
    fs0.Call("CallRemoteFunction", {m.Str("Remote"), m.Str("s"), m.Str("")});
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[2].texts[0], "\x01");

    // CallLocalFunction: the calling script only.
    seen.clear();
    EXPECT_EQ(fs0.Call("CallLocalFunction", {m.Str("Remote"), m.Str("d"), m.Value(-9)}).value, 2);
    EXPECT_EQ(gm.Call("CallLocalFunction", {gm.mem.Str("Only"), gm.mem.Str("")}).value, 0);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].script, "fs0");
    EXPECT_EQ(seen[0].args, std::vector<cell>{-9});

    // The parameter-count check.
    EXPECT_EQ(gm.Call("CallRemoteFunction", {gm.mem.Str("Remote")}).value, 0);
    std::vector<cell> many{gm.mem.Str("Remote"), gm.mem.Str("")};
    many.resize(259, gm.mem.Value(0));
    EXPECT_EQ(gm.Call("CallLocalFunction", many).value, 0);
    EXPECT_TRUE(Logged("SCRIPT: Bad parameter count (1 < 2): "));
    EXPECT_TRUE(Logged("SCRIPT: Bad parameter count (259 > 258): "));
}

TEST_F(CoreNatives, CallerUnloadedByATargetPublic) {
    NativeScript gm("natives_core", ScriptKind::GameMode, -1, kTestNatives, 1);
    auto fs0 = std::make_unique<NativeScript>("natives_core", ScriptKind::FilterScript, 0, kTestNatives, 2);
    NativeScript fs1("natives_core_only", ScriptKind::FilterScript, 1, kTestNatives, 3);
    VmInstance* caller = fs0->vm();
    // The gamemode's public unloads the filterscript that called it; the call goes on to the
    // scripts after it with what it had read, and the caller stops once the native returns.
    g_onSeen = [caller](VmInstance* vm) {
        if (Label(vm) == "gm") UnloadScript(caller);
    };
    ScriptMemory& m = fs0->mem;
    const Outcome r = fs0->Call("CallRemoteFunction", {m.Str("Remote"), m.Str("s"), m.Str("still here")});
    EXPECT_EQ(r.err, VM_ERR_EXIT);
    EXPECT_EQ(caller->image, nullptr);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].script, "gm");
    EXPECT_EQ(seen[1].script, "fs1");
    EXPECT_EQ(seen[1].texts[0], "still here");
}

TEST_F(CoreNatives, ConsoleClockAndWorldSettings) {
    NativeScript gm("natives_core", ScriptKind::GameMode, -1, kTestNatives);
    ScriptMemory& m = gm.mem;
    console_->SetIntVariable("maxplayers", 77);
    EXPECT_EQ(gm.Call("GetMaxPlayers", {}).value, 77);
    game_->SetClock([] { return 0xFFFFFFF0u; });
    EXPECT_EQ(gm.Call("GetTickCount", {}).value, -16);

    EXPECT_EQ(gm.Call("SetGameModeText", {m.Str("Deathmatch")}).value, 0);
    EXPECT_STREQ(console_->GetStringVariable("gamemodetext"), "Deathmatch");
    EXPECT_EQ(gm.Call("SendRconCommand", {m.Str("gamemodetext Racing")}).value, 1);
    EXPECT_STREQ(console_->GetStringVariable("gamemodetext"), "Racing");
    EXPECT_EQ(gm.Call("SendRconCommand", {m.Str("")}).value, 1);
    EXPECT_EQ(gm.Call("SetGameModeText", {m.Str("")}).value, 0);
    EXPECT_STREQ(console_->GetStringVariable("gamemodetext"), "");

    EXPECT_EQ(gm.Call("SetTeamCount", {4}).value, 0);
    EXPECT_EQ(gm.Call("LimitGlobalChatRadius", {FloatToCell(50.0f)}).value, 1);
    EXPECT_EQ(game_->world.limitGlobalChatRadius, 1);
    EXPECT_EQ(game_->world.globalChatRadius, 50.0f);
    EXPECT_EQ(gm.Call("LimitPlayerMarkerRadius", {FloatToCell(25.5f)}).value, 1);
    EXPECT_EQ(game_->world.limitPlayerMarkerRadius, 1);
    EXPECT_EQ(game_->world.playerMarkerRadius, 25.5f);
    EXPECT_EQ(gm.Call("SetDeathDropAmount", {300}).value, 1);
    EXPECT_EQ(game_->world.deathDropAmount, 300);
    EXPECT_EQ(gm.Call("GetGravity", {}).value, FloatToCell(0.008f));
    game_->world.gravity = -1.5f;
    EXPECT_EQ(gm.Call("GetGravity", {}).value, FloatToCell(-1.5f));
}

TEST_F(CoreNatives, GameModeExitEndsAfterThePass) {
    NativeScript gm("natives_core", ScriptKind::GameMode, -1, kTestNatives);
    EXPECT_EQ(gm.Call("GameModeExit", {}).value, 0);
    // Nothing ends inside the call: the main loop ends the gamemode after its pass.
    EXPECT_EQ(game_->GetGameState(), GAME_STATE_RUNNING);
    EXPECT_EQ(GameModeChangePending.load(), 1);
    RunMainLoopPass(*game_, settings_);
    EXPECT_EQ(game_->GetGameState(), GAME_STATE_ENDED);
}

TEST_F(CoreNatives, GameModeExitWithoutSuccessorEndsTheProcess) {
    NativeScript gm("natives_core", ScriptKind::GameMode, -1, kTestNatives);
    std::filesystem::remove("gamemodes/a.vmb");
    EXPECT_EXIT(gm.Call("GameModeExit", {}), ::testing::ExitedWithCode(1), "");
    // The child's log line is in the shared log file.
    OpenLogFile();
    EXPECT_TRUE(Logged("The gamemode finished and I couldn't start another script."));
}

}  // namespace
}  // namespace velt::scripttest
