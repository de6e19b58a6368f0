// Script identity (instance plus load generation), the order of live scripts, and the bound on
// nested runs.

#include <gtest/gtest.h>

#include "server/hosts/FilterScriptHost.h"
#include "tests/script/HostTestUtil.h"

namespace velt::test {
namespace {

TEST(ScriptIdentityTest, AReusedInstanceIsANewScript) {
    VmInstance inst{};
    const ScriptRef first = RegisterLiveScript(&inst, ScriptKind::GameMode);
    EXPECT_TRUE(IsScriptAlive(first));
    UnregisterLiveScript(&inst);
    EXPECT_FALSE(IsScriptAlive(first));
    const ScriptRef second = RegisterLiveScript(&inst, ScriptKind::GameMode);
    EXPECT_EQ(second.instance, first.instance);
    EXPECT_NE(second.generation, first.generation);
    EXPECT_FALSE(IsScriptAlive(first));
    EXPECT_TRUE(IsScriptAlive(second));
    EXPECT_EQ(LiveScriptRef(&inst), second);
    UnregisterLiveScript(&inst);
    EXPECT_FALSE(LiveScriptRef(&inst));
    EXPECT_FALSE(IsScriptAlive(ScriptRef{}));
}

TEST(ScriptIdentityTest, LiveScriptsInCallOrder) {
    VmInstance fs3{}, other{}, gm{}, fs1{};
    const ScriptRef r3 = RegisterLiveScript(&fs3, ScriptKind::FilterScript, 3);
    const ScriptRef ro = RegisterLiveScript(&other, ScriptKind::Other);
    const ScriptRef rg = RegisterLiveScript(&gm, ScriptKind::GameMode);
    const ScriptRef r1 = RegisterLiveScript(&fs1, ScriptKind::FilterScript, 1);
    ScriptRef out[8];
    ASSERT_EQ(LiveScriptsInOrder(out, 8), 4u);
    EXPECT_EQ(out[0], rg);
    EXPECT_EQ(out[1], r1);
    EXPECT_EQ(out[2], r3);
    EXPECT_EQ(out[3], ro);
    EXPECT_EQ(LiveScriptsInOrder(out, 2), 2u);
    for (VmInstance* i : {&fs3, &other, &gm, &fs1}) UnregisterLiveScript(i);
    EXPECT_EQ(LiveScriptsInOrder(out, 8), 0u);
}

// A callback that raises itself again without end stops at the nesting bound instead of
// exhausting the host stack; every level unwinds cleanly.
TEST(ScriptIdentityTest, EndlessNestingIsBounded) {
    ScriptDir dir;
    dir.FilterScript("recorder", "r");
    HostTestEnv env;
    VmFilterScripts fs(env);
    ASSERT_TRUE(fs.LoadFilterScript("r"));
    VmInstance* inst = fs.SlotInstance(0);
    const cell stack = inst->stack, heap = inst->heap;
    env.recs.clear();
    env.onRec = [&](VmInstance*, const Rec&) { fs.OnPlayerConnect(1); };
    fs.OnPlayerConnect(1);
    EXPECT_GT(env.recs.size(), 10u);
    EXPECT_LE(env.recs.size(), static_cast<size_t>(kMaxScriptNesting));
    EXPECT_EQ(inst->stack, stack);
    EXPECT_EQ(inst->heap, heap);
    EXPECT_FALSE(IsScriptRunning(inst));
}

}  // namespace
}  // namespace velt::test
