// Scripts that unload, reload or replace scripts (themselves included) while a dispatch into them
// is running. Run under ASan: any touch of a freed or reused script shows up here.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/hosts/FilterScriptHost.h"
#include "server/hosts/GameModeHost.h"
#include "tests/script/HostTestUtil.h"

namespace velt::test {
namespace {

using Names = std::vector<std::string>;

class ReentryTest : public ::testing::Test {
protected:
    void SetUp() override {
        env.filterScripts = &fs;
        dir.FilterScript("actor", "actor");
        for (const char* name : {"b", "c"}) dir.FilterScript("recorder", name);
        recorder = dir.Gamemode("recorder", "rec");
        sleeper = dir.Gamemode("sleeper", "sleeper");
        actorGm = dir.Gamemode("actor", "actor");
    }
    void LoadActorThenB() {
        ASSERT_TRUE(fs.LoadFilterScript("actor"));
        ASSERT_TRUE(fs.LoadFilterScript("b"));
        env.recs.clear();
        env.events.clear();
    }

    ScriptDir dir;
    HostTestEnv env;
    VmFilterScripts fs{env};
    std::string recorder, sleeper, actorGm;
};

// The script unloads itself from its own callback: its exit public runs (once: the nested unload
// from inside it is refused), nothing after the command runs in it, the dispatch goes on with
// the next slot, and the script's memory is released once its run has ended.
TEST_F(ReentryTest, SelfUnloadFromInsideACallback) {
    LoadActorThenB();
    std::vector<int> nestedResults;
    env.onCmd = [&](const std::string& word, VmInstance*) {
        if (word == "connect") fs.UnloadFilterScript("actor");
        if (word == "exit") nestedResults.push_back(fs.UnloadFilterScript("actor"));
    };
    EXPECT_EQ(fs.OnPlayerConnect(1), 1);
    EXPECT_EQ(env.Names(), (Names{"fs0:OnPlayerConnect", "fs0:OnFilterScriptExit", "fs1:OnPlayerConnect"}));
    EXPECT_EQ(nestedResults, (std::vector<int>{0}));
    EXPECT_EQ(env.events, (Names{"timers fs0", "VmUnload intact", "db cleanup"}));
    EXPECT_EQ(fs.SlotInstance(0), nullptr);
    EXPECT_EQ(fs.Count(), 1);
    EXPECT_FALSE(IsScriptRunning(nullptr));
}

// Reloaded from its own callback: the new copy takes the same slot; the walk, already past that
// slot, continues with the next one and never touches the old copy again.
TEST_F(ReentryTest, SelfReloadFromInsideACallback) {
    LoadActorThenB();
    VmInstance* old = fs.SlotInstance(0);
    const ScriptRef oldRef = LiveScriptRef(old);
    env.onCmd = [&](const std::string& word, VmInstance*) {
        if (word != "connect") return;
        EXPECT_EQ(fs.UnloadFilterScript("actor"), 1);
        EXPECT_TRUE(fs.LoadFilterScript("actor"));
    };
    fs.OnPlayerConnect(1);
    EXPECT_EQ(env.Names(), (Names{"fs0:OnPlayerConnect", "fs0:OnFilterScriptExit", "fs0:OnFilterScriptInit",
                                  "fs1:OnPlayerConnect"}));
    EXPECT_FALSE(IsScriptAlive(oldRef));
    ASSERT_NE(fs.SlotInstance(0), nullptr);
    EXPECT_TRUE(IsScriptAlive(LiveScriptRef(fs.SlotInstance(0))));

    // The new copy works like any other.
    env.onCmd = nullptr;
    env.recs.clear();
    fs.OnPlayerConnect(1);
    EXPECT_EQ(env.Names(),
              (Names{"fs0:OnPlayerConnect", "fs0:OnPlayerConnect.after", "fs1:OnPlayerConnect"}));
}

// A script unloads a later script, then everything: the walk sees the emptied slots as free.
TEST_F(ReentryTest, UnloadingOthersDuringTheWalk) {
    LoadActorThenB();
    ASSERT_TRUE(fs.LoadFilterScript("c"));
    env.recs.clear();
    env.onCmd = [&](const std::string& word, VmInstance*) {
        if (word == "connect") fs.UnloadFilterScript("b");
    };
    fs.OnPlayerConnect(1);
    EXPECT_EQ(env.Names(), (Names{"fs0:OnPlayerConnect", "fs1:OnFilterScriptExit",
                                  "fs0:OnPlayerConnect.after", "fs2:OnPlayerConnect"}));

    env.recs.clear();
    env.onCmd = [&](const std::string& word, VmInstance*) {
        if (word == "connect") fs.UnloadAll();
    };
    fs.OnPlayerConnect(1);
    EXPECT_EQ(env.Names(),
              (Names{"fs0:OnPlayerConnect", "fs0:OnFilterScriptExit", "fs2:OnFilterScriptExit"}));
    EXPECT_EQ(fs.Count(), 0);
}

// A filterscript's callback replaces the gamemode; the gamemode side of the same event then runs
// in the new gamemode.
TEST_F(ReentryTest, GamemodeChangeFromInsideAFilterScriptCallback) {
    LoadActorThenB();
    VmGameMode gm(env);
    ASSERT_EQ(gm.Load(recorder.c_str()), 1);
    const ScriptRef first = gm.Ref();
    env.recs.clear();
    env.onCmd = [&](const std::string& word, VmInstance*) {
        if (word == "connect") {
            EXPECT_EQ(gm.Load(sleeper.c_str()), 1);
        }
    };
    env.connected.insert(1);
    fs.OnPlayerConnect(1);
    gm.OnPlayerConnect(1);
    EXPECT_EQ(env.Names(),
              (Names{"fs0:OnPlayerConnect", "gm:OnGameModeExit", "fs0:OnGameModeExit", "fs1:OnGameModeExit",
                     "gm:OnGameModeInit", "fs0:OnGameModeInit", "fs1:OnGameModeInit", "gm:main.start",
                     "fs0:OnPlayerConnect.after", "fs1:OnPlayerConnect", "gm:OnPlayerConnect"}));
    EXPECT_FALSE(IsScriptAlive(first));
    EXPECT_TRUE(gm.IsSleeping());
}

// The gamemode replaces itself from inside its own callback: the old script stops at once, is
// released after its run ends (plugins told while it is intact), and the new one takes over.
TEST_F(ReentryTest, GamemodeReplacesItselfFromItsOwnCallback) {
    VmGameMode gm(env);
    ASSERT_EQ(gm.Load(actorGm.c_str()), 1);
    env.recs.clear();
    env.events.clear();
    env.onCmd = [&](const std::string& word, VmInstance*) {
        if (word == "connect") {
            EXPECT_EQ(gm.Load(recorder.c_str()), 1);
        }
    };
    // The old script was stopped inside the public: it gives no result, the initial value stands.
    env.results["gm:OnPlayerConnect"] = 5;
    EXPECT_EQ(gm.OnPlayerConnect(1), 0);
    EXPECT_EQ(env.Names(),
              (Names{"gm:OnPlayerConnect", "gm:OnGameModeExit", "gm:OnGameModeInit", "gm:main"}));
    EXPECT_EQ(env.events, (Names{"timers gm", "db natives", "VmLoad", "VmUnload intact", "db cleanup"}));
    env.recs.clear();
    env.onCmd = nullptr;
    env.results["gm:OnPlayerConnect"] = 9;
    EXPECT_EQ(gm.OnPlayerConnect(1), 9);
    EXPECT_EQ(env.Names(), (Names{"gm:OnPlayerConnect"}));
}

// A filterscript that unloads itself from its own OnFilterScriptInit: the load reports success
// (the script did load), and the slot is free again afterwards.
TEST_F(ReentryTest, UnloadFromInsideInit) {
    env.onCmd = [&](const std::string& word, VmInstance*) {
        if (word == "init") {
            EXPECT_EQ(fs.UnloadFilterScript("actor"), 1);
        }
    };
    EXPECT_TRUE(fs.LoadFilterScript("actor"));
    EXPECT_EQ(env.Names(), (Names{"fs0:OnFilterScriptInit", "fs0:OnFilterScriptExit"}));
    EXPECT_EQ(fs.Count(), 0);
    EXPECT_EQ(fs.SlotInstance(0), nullptr);
}

// A callback raised from inside a public of the same script pushes onto the running script's
// stack and leaves it as it found it.
TEST_F(ReentryTest, NestedDispatchIntoTheRunningScript) {
    ASSERT_TRUE(fs.LoadFilterScript("b"));
    VmInstance* b = fs.SlotInstance(0);
    const cell stack = b->stack, heap = b->heap;
    env.recs.clear();
    int depth = 0;
    env.onRec = [&](VmInstance*, const Rec& r) {
        if (r.name == "OnPlayerText" && depth++ < 20) {
            char text[] = "nested text";
            fs.OnPlayerText(2, text);
        }
    };
    char text[] = "outer";
    EXPECT_EQ(fs.OnPlayerText(1, text), 1);
    EXPECT_EQ(env.recs.size(), 21u);
    EXPECT_EQ(env.recs.back().texts[1], "nested text");
    EXPECT_EQ(b->stack, stack);
    EXPECT_EQ(b->heap, heap);
}

}  // namespace
}  // namespace velt::test
