// Script timers on a simulated clock: ids, countdown and drift, killing from inside, arguments
// that outlive the creator's heap, timers made during a pass, and scripts that go away (removed,
// unloaded from inside their own timer, or never alive).

#include "server/runtime/ScriptTimers.h"

#include <limits>
#include <string>
#include <vector>

#include "server/runtime/ScriptIdentity.h"
#include "tests/script/natives_test_util.h"

namespace velt::scripttest {
namespace {

class TestTimers : public VmScriptTimers {
public:
    using VmScriptTimers::VmScriptTimers;
    void StartIdsAfter(int32_t id) { lastId_ = id; }
};

// One loaded, live script with the test natives bound.
struct TimerScript {
    explicit TimerScript(const VmNativeEntry* natives) : mem("timers_script") {
        EXPECT_EQ(mem.loadError, VM_ERR_NONE);
        EXPECT_EQ(vm_Register(&mem.vm, natives, -1), VM_ERR_NONE);
        ref = RegisterLiveScript(&mem.vm, ScriptKind::FilterScript, 0);
    }
    ~TimerScript() { UnregisterLiveScript(&mem.vm); }
    VmInstance* vm() { return &mem.vm; }

    ScriptMemory mem;
    ScriptRef ref;
};

// What the test natives saw and do; one test runs at a time.
struct Recorder {
    TestTimers* timers = nullptr;
    int ticks = 0;
    std::vector<std::vector<std::string>> captured;  // per run: each argument described
    int32_t killId = 0;
    int spawned = 0;
    // Heap addresses from here up are copies placed for the run; below it, arguments are values.
    cell copyFloor = std::numeric_limits<cell>::max();
};
Recorder* g = nullptr;

cell NoteTick(VmInstance*, const cell*) {
    ++g->ticks;
    return 0;
}

// Describes the calling public's arguments: a number, or "'text'" when it points at a text, or
// "[a,b,...]" for the three cells it points at.
cell CaptureArgs(VmInstance* vm, const cell*) {
    const cell* frame = ScriptCellAddress(vm, static_cast<ucell>(vm->frame), 3);
    std::vector<std::string> args;
    if (frame != nullptr) {
        const int32_t n = LoadScriptCell(frame, 2) / 4;
        const cell* argv = ScriptCellAddress(vm, static_cast<ucell>(vm->frame + 12), n);
        for (int32_t i = 0; argv != nullptr && i < n; ++i) {
            const cell v = LoadScriptCell(argv, static_cast<size_t>(i));
            std::string text;
            if (v >= g->copyFloor && v < vm->heap && ReadScriptString(vm, v, text)) {
                const cell* cells = ScriptCellAddress(vm, static_cast<ucell>(v), 3);
                if (text.size() == 1 && text[0] == 1) {
                    args.push_back("'\\1'");
                } else if (!text.empty() && text[0] >= 'A') {
                    args.push_back("'" + text + "'");
                } else {
                    args.push_back("[" + std::to_string(LoadScriptCell(cells, 0)) + "," +
                                   std::to_string(LoadScriptCell(cells, 1)) + "," +
                                   std::to_string(LoadScriptCell(cells, 2)) + "]");
                }
            } else {
                args.push_back(std::to_string(v));
            }
        }
    }
    g->captured.push_back(args);
    return 0;
}

cell KillCurrent(VmInstance*, const cell*) {
    g->timers->KillTimer(g->killId);
    return 0;
}

cell SpawnAgain(VmInstance* vm, const cell*) {
    ++g->spawned;
    g->timers->CreateTimer("Spawn", 0, false, vm);
    return 0;
}

// What a host does when a script is unloaded: timers first, then the identity, then the memory
// once no run of the script is in progress.
cell UnloadSelf(VmInstance* vm, const cell*) {
    g->timers->RemoveScriptTimers(vm);
    UnregisterLiveScript(vm);
    ReleaseScriptWhenIdle(vm, [vm] { vm_FreeImage(vm); });
    return 0;
}

const VmNativeEntry kNatives[] = {
    {"NoteTick", NoteTick},     {"CaptureArgs", CaptureArgs}, {"KillCurrent", KillCurrent},
    {"SpawnAgain", SpawnAgain}, {"UnloadSelf", UnloadSelf},   {"", nullptr},
};

class Timers : public ::testing::Test {
protected:
    void SetUp() override {
        rec.timers = &timers;
        g = &rec;
    }
    void TearDown() override { g = nullptr; }

    // SetTimerEx's argument cells as the native receives them: name, interval, repeat, format,
    // then the values' addresses.
    int32_t CreateEx(TimerScript& s, const char* name, const std::string& format, std::vector<cell> values,
                     bool repeat = false, int32_t interval = 0) {
        std::vector<cell> args{s.mem.Str(name), interval, repeat, s.mem.Str(format)};
        args.insert(args.end(), values.begin(), values.end());
        const std::vector<cell> params = Params(args);
        return timers.CreateTimerEx(name, interval, repeat, params.data(), s.vm());
    }

    TestTimers timers;
    Recorder rec;
    TimerScript script{kNatives};
};

TEST_F(Timers, IdsStartAtOneNeverRepeatAndWrapPastLiveOnes) {
    EXPECT_EQ(timers.CreateTimer("Tick", 1000, false, script.vm()), 1);
    EXPECT_EQ(timers.CreateTimer("Tick", 1000, false, script.vm()), 2);
    timers.KillTimer(1);
    EXPECT_EQ(timers.CreateTimer("Tick", 1000, false, script.vm()), 3);
    timers.KillTimer(99);  // no such timer: nothing happens
    EXPECT_EQ(timers.Count(), 3u);

    // At the end of the id range the count wraps to 1 and skips the ids still pending (1 is
    // killed but not yet dropped, 2 and 3 are live).
    timers.StartIdsAfter(std::numeric_limits<int32_t>::max() - 1);
    EXPECT_EQ(timers.CreateTimer("Tick", 1000, false, script.vm()), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(timers.CreateTimer("Tick", 1000, false, script.vm()), 4);
    timers.Process(0);  // drops the killed one
    timers.StartIdsAfter(std::numeric_limits<int32_t>::max());
    EXPECT_EQ(timers.CreateTimer("Tick", 1000, false, script.vm()), 1);

    // Names are cut to 254 characters.
    const int32_t id = timers.CreateTimer(std::string(300, 'n').c_str(), 5, false, script.vm());
    EXPECT_EQ(timers.Find(id)->functionName.size(), kTimerNameMax);
}

TEST_F(Timers, CountdownRepeatAndDrift) {
    struct Case {
        const char* what;
        int32_t interval;
        bool repeat;
        std::vector<uint32_t> passes;
        std::vector<int> ticksAfterPass;  // cumulative runs after each pass
        size_t pendingAtEnd;
    };
    const std::vector<Case> cases = {
        {"1000 ms once, 250 ms passes", 1000, false, {250, 250, 250, 250, 250}, {0, 0, 0, 1, 1}, 0},
        {"0 ms once runs on the next pass", 0, false, {0, 16}, {1, 1}, 0},
        {"0 ms repeating runs every pass", 0, true, {0, 5, 5}, {1, 2, 3}, 1},
        // 300 ms passes: due at 1200 (4th pass), restarted from 1000 there, so due again after
        // four more passes instead of at 2000: the overshoot is not carried over.
        {"repeating drifts later",
         1000,
         true,
         {300, 300, 300, 300, 300, 300, 300, 300},
         {0, 0, 0, 1, 1, 1, 1, 2},
         1},
        {"negative interval runs on the next pass", -50, false, {1}, {1}, 0},
        {"one huge pass", 1000, false, {std::numeric_limits<uint32_t>::max()}, {1}, 0},
        {"pass longer than the whole range",
         std::numeric_limits<int32_t>::min(),
         true,
         {std::numeric_limits<uint32_t>::max(), std::numeric_limits<uint32_t>::max()},
         {1, 2},
         1},
    };
    for (const Case& c : cases) {
        TestTimers local;
        rec.ticks = 0;
        local.CreateTimer("Tick", c.interval, c.repeat, script.vm());
        for (size_t p = 0; p < c.passes.size(); ++p) {
            local.Process(c.passes[p]);
            EXPECT_EQ(rec.ticks, c.ticksAfterPass[p]) << c.what << ", pass " << p + 1;
        }
        EXPECT_EQ(local.Count(), c.pendingAtEnd) << c.what;
    }
}

TEST_F(Timers, KilledTimersNeverRunAgain) {
    // A repeating timer that kills itself in its public.
    rec.killId = timers.CreateTimer("KillSelf", 100, true, script.vm());
    timers.Process(100);
    EXPECT_EQ(timers.Count(), 0u);
    // Killed before it was due: dropped on the next pass without running.
    const int32_t id = timers.CreateTimer("Tick", 1000, true, script.vm());
    timers.KillTimer(id);
    timers.Process(5000);
    EXPECT_EQ(rec.ticks, 0);
    EXPECT_EQ(timers.Count(), 0u);
    // A public the script does not define: the timer still ends as usual.
    timers.CreateTimer("NoSuchPublic", 0, false, script.vm());
    timers.Process(1);
    EXPECT_EQ(timers.Count(), 0u);
}

TEST_F(Timers, ExArgumentsArriveInFormatOrderAndSurviveHeapReuse) {
    const cell heapAtStart = script.vm()->heap;
    const cell number = script.mem.Value(42);
    const cell flt = script.mem.Float(1.0f);
    const cell text = script.mem.Str("Hello");
    const cell empty = script.mem.Str("");
    const cell array = script.mem.Alloc({7, 8, 9});
    const cell size = script.mem.Value(3);
    CreateEx(script, "Args", "dfssa", {number, flt, text, empty, array, size});
    CreateEx(script, "Args", "", {number});            // no format: no arguments
    CreateEx(script, "Args", "ddd", {number});         // values that were never passed
    CreateEx(script, "Args", "dad", {number, array});  // an array without its size
    CreateEx(script, "Args", "a", {array, script.mem.Value(-1)});
    CreateEx(script, "Args", "da", {number, array, script.mem.Value(1 << 28)});  // past the memory
    CreateEx(script, "Args", "ds", {-4, -4});  // bad addresses: 0 and the empty text

    // The creator's heap is given back and reused before the timers run.
    vm_Unallot(script.vm(), heapAtStart);
    script.mem.Alloc(std::vector<cell>(64, 0x11111111));
    const cell heapBefore = script.vm()->heap;
    rec.copyFloor = heapBefore;
    timers.Process(0);
    EXPECT_EQ(script.vm()->heap, heapBefore);  // the copies are given back after each run

    const std::vector<std::vector<std::string>> expected = {
        {"42", "1065353216", "'Hello'", "'\\1'", "[7,8,9]"}, {}, {"42"}, {"42"}, {}, {"42"}, {"0", "'\\1'"},
    };
    EXPECT_EQ(rec.captured, expected);
}

TEST_F(Timers, TimersMadeDuringAPass) {
    // A timer made by a running public is visited in the same pass when its id comes later, with
    // that pass's time taken off.
    rec.killId = 0;
    timers.CreateTimer("Spawn", 0, false, script.vm());  // id 1 makes id 2 ("Spawn" again)
    timers.Process(250);
    // id 2 ran in the same pass and made id 3, which waits for the next pass: a chain of short
    // timers cannot keep one pass going for ever.
    EXPECT_EQ(rec.spawned, 2);
    EXPECT_EQ(timers.Count(), 1u);
    timers.Process(250);
    EXPECT_EQ(rec.spawned, 4);
    EXPECT_EQ(timers.Count(), 1u);
}

TEST_F(Timers, WaitForNextPassHoldsEveryTimerMadeInAPass) {
    // The bot's frames: a timer made during a pass starts with the next one, also when the timer
    // that made it is older than the pass.
    TestTimers frames({}, TimersMadeInPass::WaitForNextPass);
    rec.timers = &frames;
    frames.CreateTimer("Spawn", 0, false, script.vm());
    for (int pass = 1; pass <= 3; ++pass) {
        frames.Process(250);
        EXPECT_EQ(rec.spawned, pass);
        EXPECT_EQ(frames.Count(), 1u);
    }
}

TEST_F(Timers, RemovingOneScriptsTimersLeavesTheOthers) {
    TimerScript other{kNatives};
    const int32_t mine = timers.CreateTimer("Tick", 1000, true, script.vm());
    timers.CreateTimer("Tick", 1000, true, other.vm());
    timers.Process(400);
    timers.RemoveScriptTimers(other.vm());
    ASSERT_EQ(timers.Count(), 1u);
    EXPECT_EQ(timers.Find(mine)->remaining, 600);
    EXPECT_EQ(timers.CreateTimer("Tick", 1, false, script.vm()), 3);
}

TEST_F(Timers, ScriptUnloadedByItsOwnTimer) {
    auto doomed = std::make_unique<TimerScript>(kNatives);
    timers.CreateTimer("Unload", 100, true, doomed->vm());
    timers.CreateTimer("Tick", 100, true, doomed->vm());  // due in the same pass, after it
    timers.CreateTimer("Tick", 100, true, script.vm());   // another script's timer goes on
    timers.Process(100);
    EXPECT_EQ(doomed->vm()->image, nullptr);  // released once its public returned
    EXPECT_EQ(rec.ticks, 1);                  // only the other script's timer
    EXPECT_EQ(timers.Count(), 1u);
    timers.Process(100);
    EXPECT_EQ(rec.ticks, 2);
}

TEST_F(Timers, ScriptsThatAreNotAliveNeverRun) {
    // Created for an instance that was never a live script, or whose script went away without
    // its timers being removed (the record reused by the next load): dropped unrun.
    ScriptMemory stray("timers_script");
    ASSERT_EQ(vm_Register(&stray.vm, kNatives, -1), VM_ERR_NONE);
    timers.CreateTimer("Tick", 0, true, &stray.vm);
    const ScriptRef before = LiveScriptRef(script.vm());
    timers.CreateTimer("Tick", 0, true, script.vm());
    UnregisterLiveScript(script.vm());
    RegisterLiveScript(script.vm(), ScriptKind::FilterScript, 0);  // a new load, same record
    ASSERT_FALSE(IsScriptAlive(before));
    timers.Process(10);
    EXPECT_EQ(rec.ticks, 0);
    EXPECT_EQ(timers.Count(), 0u);

    // While the game has no gamemode the timers count down and end, but run nothing.
    bool gameMode = false;
    TestTimers gated([&] { return gameMode; });
    rec.timers = &gated;
    gated.CreateTimer("Tick", 0, false, script.vm());
    gated.CreateTimer("Tick", 0, true, script.vm());
    gated.Process(1);
    EXPECT_EQ(rec.ticks, 0);
    EXPECT_EQ(gated.Count(), 1u);
    gameMode = true;
    gated.Process(1);
    EXPECT_EQ(rec.ticks, 1);
}

TEST_F(Timers, FullHeapPassesWhatFits) {
    // An array bigger than the script's free heap: its reservation fails when the timer runs, and
    // the public receives the other arguments.
    const cell big = script.mem.Alloc(std::vector<cell>(3000, 1));
    CreateEx(script, "Args", "aid", {big, script.mem.Value(3000), script.mem.Value(5)});
    script.mem.Alloc(std::vector<cell>(500, 0));  // less room left than the copy needs
    rec.copyFloor = script.vm()->heap;
    timers.Process(0);
    ASSERT_EQ(rec.captured.size(), 1u);
    EXPECT_EQ(rec.captured[0], (std::vector<std::string>{"3000", "5"}));
}

}  // namespace
}  // namespace velt::scripttest
