// The gamemode host: start-up order, main with sleep and resume, unload order, refused files.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "server/hosts/FilterScriptHost.h"
#include "server/hosts/GameModeHost.h"
#include "tests/script/HostTestUtil.h"

namespace velt::test {
namespace {

using Names = std::vector<std::string>;

class GameModeTest : public ::testing::Test {
protected:
    void SetUp() override {
        env.filterScripts = &fs;
        dir.FilterScript("actor", "actor");
        recorder = dir.Gamemode("recorder", "rec");
        sleeper = dir.Gamemode("sleeper", "sleeper");
    }
    void Clear() {
        env.recs.clear();
        env.events.clear();
    }

    ScriptDir dir;
    HostTestEnv env;
    VmFilterScripts fs{env};
    std::string recorder, sleeper;
};

TEST_F(GameModeTest, LoadBindsNativesThenRunsInitPublicsThenMain) {
    ASSERT_TRUE(fs.LoadFilterScript("actor"));
    Clear();
    VmGameMode gm(env);
    ASSERT_EQ(gm.Load(recorder.c_str()), 1);
    EXPECT_TRUE(gm.IsLoaded());
    // Server natives, then the database natives, then the plugins, before any script code.
    EXPECT_EQ(env.events, (Names{"db natives", "VmLoad"}));
    EXPECT_EQ(env.Names(), (Names{"gm:OnGameModeInit", "fs0:OnGameModeInit", "gm:main"}));
    EXPECT_STREQ(CurrentScriptPath(), recorder.c_str());
}

TEST_F(GameModeTest, UnloadRunsExitPublicsThenDropsTimersThenTellsPluginsWhileIntact) {
    ASSERT_TRUE(fs.LoadFilterScript("actor"));
    VmGameMode gm(env);
    ASSERT_EQ(gm.Load(recorder.c_str()), 1);
    const ScriptRef ref = gm.Ref();
    Clear();
    gm.Unload();
    EXPECT_EQ(env.Names(), (Names{"gm:OnGameModeExit", "fs0:OnGameModeExit"}));
    EXPECT_EQ(env.events, (Names{"timers gm", "VmUnload intact", "db cleanup"}));
    EXPECT_FALSE(gm.IsLoaded());
    EXPECT_FALSE(IsScriptAlive(ref));
    EXPECT_EQ(gm.Instance(), nullptr);

    // Nothing runs in an empty host.
    Clear();
    EXPECT_EQ(gm.OnPlayerConnect(0), 0);
    EXPECT_EQ(gm.OnPlayerUpdate(0), 0);
    EXPECT_EQ(gm.CallPublic("OnPlayerConnect"), 0);
    EXPECT_TRUE(env.recs.empty());

    // Unloading a host that holds nothing still tells the filterscripts, and only them.
    gm.Unload();
    EXPECT_EQ(env.Names(), (Names{"fs0:OnGameModeExit"}));
    EXPECT_TRUE(env.events.empty());
}

TEST_F(GameModeTest, LoadingOverALoadedGamemodeEndsTheOldOneFirst) {
    ASSERT_TRUE(fs.LoadFilterScript("actor"));
    VmGameMode gm(env);
    ASSERT_EQ(gm.Load(recorder.c_str()), 1);
    Clear();
    ASSERT_EQ(gm.Load(sleeper.c_str()), 1);
    EXPECT_EQ(env.Names(), (Names{"gm:OnGameModeExit", "fs0:OnGameModeExit", "gm:OnGameModeInit",
                                  "fs0:OnGameModeInit", "gm:main.start"}));
}

TEST_F(GameModeTest, CallPublicRunsANamedPublicWithoutArguments) {
    VmGameMode gm(env);
    EXPECT_EQ(gm.CallPublic("OnPlayerConnect"), 0);
    ASSERT_EQ(gm.Load(recorder.c_str()), 1);
    Clear();
    env.results["gm:OnPlayerConnect"] = 42;
    EXPECT_EQ(gm.CallPublic("OnPlayerConnect"), 42);
    ASSERT_EQ(env.recs.size(), 1u);
    EXPECT_TRUE(env.recs[0].args.empty());
    EXPECT_EQ(gm.CallPublic("NoSuchPublic"), 0);
}

// main sleeps 1000 ms; with passes of 0.25 s, four passes bring the time left to exactly 0 and the
// fifth resumes it. It then sleeps 500 ms: two passes, resumed on the third.
TEST_F(GameModeTest, SleepingMainResumesOnePassAfterItsTimeRunsOut) {
    VmGameMode gm(env);
    ASSERT_EQ(gm.Load(sleeper.c_str()), 1);
    EXPECT_TRUE(gm.IsSleeping());
    EXPECT_FLOAT_EQ(gm.SleepRemaining(), 1.0f);
    Clear();
    for (int pass = 1; pass <= 4; ++pass) {
        gm.Process(0.25f);
        EXPECT_TRUE(env.recs.empty()) << "pass " << pass;
    }
    EXPECT_EQ(gm.SleepRemaining(), 0.0f);
    gm.Process(0.25f);
    ASSERT_EQ(env.Names(), (Names{"gm:main.resumed"}));
    EXPECT_EQ(env.recs[0].args, (std::vector<cell>{12345}));
    EXPECT_TRUE(gm.IsSleeping());
    EXPECT_FLOAT_EQ(gm.SleepRemaining(), 0.5f);

    Clear();
    gm.Process(0.25f);
    gm.Process(0.25f);
    EXPECT_TRUE(env.recs.empty());
    gm.Process(0.25f);
    EXPECT_EQ(env.Names(), (Names{"gm:main.end"}));
    EXPECT_FALSE(gm.IsSleeping());
    EXPECT_TRUE(gm.IsLoaded());
    gm.Process(10.0f);  // a finished main is not run again
    EXPECT_EQ(env.recs.size(), 1u);
}

// Callbacks and sleeping callbacks run on the instance while main sleeps: they overwrite the
// machine's registers and restore points, and a callback that sleeps is abandoned. None of it
// may change where and how main resumes, nor leave stack or heap behind.
TEST_F(GameModeTest, CallbacksDuringTheSleepDoNotDisturbTheResume) {
    VmGameMode gm(env);
    ASSERT_EQ(gm.Load(sleeper.c_str()), 1);
    ASSERT_TRUE(gm.IsSleeping());
    VmInstance* inst = gm.Instance();
    const cell stack = inst->stack, heap = inst->heap;
    env.connected.insert(1);
    Clear();
    for (int i = 0; i < 3000; ++i) {
        gm.OnPlayerConnect(1);
        gm.OnPlayerSpawn(1);  // sleeps inside the callback
    }
    EXPECT_EQ(env.recs.size(), 6000u);
    EXPECT_EQ(inst->stack, stack);
    EXPECT_EQ(inst->heap, heap);

    Clear();
    for (int pass = 0; pass < 5; ++pass) gm.Process(0.25f);
    ASSERT_EQ(env.Names(), (Names{"gm:main.resumed"}));
    EXPECT_EQ(env.recs[0].args, (std::vector<cell>{12345}));
    EXPECT_FLOAT_EQ(gm.SleepRemaining(), 0.5f);
    gm.OnPlayerSpawn(1);
    Clear();
    for (int pass = 0; pass < 3; ++pass) gm.Process(0.25f);
    EXPECT_EQ(env.Names(), (Names{"gm:main.end"}));
}

TEST_F(GameModeTest, UnloadWhileSleepingForgetsTheSleep) {
    VmGameMode gm(env);
    ASSERT_EQ(gm.Load(sleeper.c_str()), 1);
    ASSERT_TRUE(gm.IsSleeping());
    gm.Unload();
    EXPECT_FALSE(gm.IsSleeping());
    Clear();
    for (int pass = 0; pass < 10; ++pass) gm.Process(0.25f);
    EXPECT_TRUE(env.recs.empty());
    ASSERT_EQ(gm.Load(recorder.c_str()), 1);
    EXPECT_FALSE(gm.IsSleeping());
}

// Files that cannot become a gamemode: each gives its own lines and leaves an empty host.
TEST_F(GameModeTest, UnloadableFilesAreReportedAndLeaveTheHostEmpty) {
    // Truncated: the header promises more bytes than the file holds.
    {
        std::filesystem::copy_file(ScriptDir::Fixture("host_recorder"), "gamemodes/trunc.vmb");
        std::filesystem::resize_file("gamemodes/trunc.vmb", 200);
    }
    {
        std::ofstream junk("gamemodes/junk.vmb", std::ios::binary);
        junk << std::string(80, 'J');
    }
    dir.Gamemode("newer_version", "newer");
    dir.Gamemode("oversize", "huge");
    struct Case {
        const char* path;
        Names lines;
    };
    const Case cases[] = {
        {"gamemodes/missing.vmb", {}},
        {"gamemodes/trunc.vmb",
         {"Script[gamemodes/trunc.vmb]: Run time error 17: \"Invalid/unsupported P-code file format\"",
          "Failed to load 'gamemodes/trunc.vmb' script."}},
        {"gamemodes/junk.vmb",
         {"Script[gamemodes/junk.vmb]: Run time error 17: \"Invalid/unsupported P-code file format\"",
          "Failed to load 'gamemodes/junk.vmb' script."}},
        {"gamemodes/newer.vmb",
         {"Script[gamemodes/newer.vmb]: Run time error 18: \"File is for a newer version of the VM\"",
          "Failed to load 'gamemodes/newer.vmb' script."}},
        {"gamemodes/huge.vmb",
         {"Script[gamemodes/huge.vmb]: Run time error 16: \"Out of memory\"",
          "Failed to load 'gamemodes/huge.vmb' script."}},
    };
    for (const Case& c : cases) {
        LogCapture log;
        VmGameMode gm(env);
        EXPECT_EQ(gm.Load(c.path), 0) << c.path;
        EXPECT_FALSE(gm.IsLoaded()) << c.path;
        EXPECT_EQ(LogCapture::Lines(), c.lines) << c.path;
        EXPECT_EQ(gm.OnPlayerConnect(0), 0);
    }
}

// A native nobody registers: the script loads, but none of its code can run. The load names the
// missing native, once per script; main's refusal has its own line, the callbacks' refusals none.
TEST_F(GameModeTest, UnboundNativesAreNamedAtLoadAndTheirRefusalsStayQuiet) {
    const std::string path = dir.Gamemode("unbound_native", "unbound");
    dir.FilterScript("unbound_native", "unboundfs");
    LogCapture log;
    VmGameMode gm(env);
    EXPECT_EQ(gm.Load(path.c_str()), 1);
    EXPECT_TRUE(gm.IsLoaded());
    ASSERT_TRUE(fs.LoadFilterScript("unboundfs"));
    EXPECT_EQ(gm.OnPlayerConnect(0), 0);
    fs.OnPlayerConnect(0);
    EXPECT_EQ(
        LogCapture::Lines(),
        (Names{"Script[gamemodes/unbound.vmb]: Natives not registered, so none of its code can run: "
               "no_such_native",
               "Script[gamemodes/unbound.vmb]: Run time error 19: \"File or function is not found\"",
               "Script[filterscripts/unboundfs.vmb]: Natives not registered, so none of its code can run: "
               "no_such_native"}));
}

// A public that ends in an error is logged with the script's file and the public's name, once per
// public and load: a callback failing on every sync packet must not flood the log.
TEST_F(GameModeTest, RunTimeErrorsInCallbacksAreLoggedOncePerPublic) {
    const std::string path = dir.Gamemode("faulty", "faulty");
    dir.FilterScript("faulty", "faultyfs");
    const std::string stack = "Run time error 3: \"Stack/heap collision (insufficient stack size)\"";
    const std::string divide = "Run time error 11: \"Divide by zero\"";
    LogCapture log;
    VmGameMode gm(env);
    ASSERT_EQ(gm.Load(path.c_str()), 1);  // its OnGameModeInit recurses without end
    ASSERT_TRUE(fs.LoadFilterScript("faultyfs"));
    for (int i = 0; i < 3; ++i) {
        gm.OnPlayerConnect(0);
        fs.OnPlayerConnect(0);
        EXPECT_EQ(gm.OnPlayerSpawn(0), 1);  // a sound public of the same script still runs
    }
    EXPECT_EQ(LogCapture::Lines(),
              (Names{"Script[gamemodes/faulty.vmb]: " + stack + " in OnGameModeInit",
                     "Script[filterscripts/faultyfs.vmb]: " + stack + " in OnFilterScriptInit",
                     "Script[gamemodes/faulty.vmb]: " + divide + " in OnPlayerConnect",
                     "Script[filterscripts/faultyfs.vmb]: " + divide + " in OnPlayerConnect"}));

    // A new load of the script is a new script: its errors are told again. The filterscript's
    // OnGameModeInit, which the new gamemode raises, is a public of its own.
    LogCapture::Lines().clear();
    ASSERT_EQ(gm.Load(path.c_str()), 1);
    gm.OnPlayerConnect(0);
    fs.OnPlayerConnect(0);
    EXPECT_EQ(LogCapture::Lines(),
              (Names{"Script[gamemodes/faulty.vmb]: " + stack + " in OnGameModeInit",
                     "Script[filterscripts/faultyfs.vmb]: " + stack + " in OnGameModeInit",
                     "Script[gamemodes/faulty.vmb]: " + divide + " in OnPlayerConnect"}));
}

}  // namespace
}  // namespace velt::test
