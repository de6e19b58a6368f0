// Time library: clock and date fields, the tick count, the clock arithmetic of settime/setdate
// (without touching the machine's clock) and the interval timer run from the idle hook.

#include "tests/vm/lib_fixture.h"

#include <chrono>
#include <cstdlib>
#include <ctime>

namespace velt::libtest {
namespace {

class TimeLib : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(s.loadError, VM_ERR_NONE);
        ASSERT_EQ(s.attach({vm_AttachTimeLib}), VM_ERR_NONE);
    }
    void TearDown() override {
        s.call("settimer", {0, 1});  // the timer is shared by the whole process
        vm_DetachTimeLib(&s.vm);
    }
    // Runs the idle hook until the script's @timer has run `runs` times in all (bounded).
    bool idleUntilFired(cell runs) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (s.run("fired", {}).value < runs) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            EXPECT_EQ(vm_TimeIdle(&s.vm), VM_ERR_NONE);
        }
        return true;
    }
    Script s{"lib_time"};
};

std::tm local(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm;
}

TEST_F(TimeLib, ClockAndDateFields) {
    const cell out = s.alloc({-1, -1, -1});
    const std::time_t before = std::time(nullptr);
    const cell now = s.call("gettime", {out, out + 4, out + 8}).value;
    EXPECT_GE(now, before);
    EXPECT_LE(now, std::time(nullptr));
    const std::tm tm = local(now);
    EXPECT_EQ(s.read(out, 3), (std::vector<cell>{tm.tm_hour, tm.tm_min, tm.tm_sec}));

    const cell yday = s.call("getdate", {out, out + 4, out + 8}).value;
    const std::tm today = local(std::time(nullptr));  // (a test run across midnight may flake once)
    EXPECT_EQ(yday, today.tm_yday + 1);
    EXPECT_EQ(s.read(out, 3), (std::vector<cell>{today.tm_year + 1900, today.tm_mon + 1, today.tm_mday}));

    // Fields whose address is not valid are skipped; the others are still written.
    const cell one = s.alloc({-1});
    EXPECT_GE(s.call("gettime", {-4, s.vm.heap, one}).value, before);
    EXPECT_NE(s.read(one, 1)[0], -1);
    // These natives take a fixed number of arguments; any other count writes nothing.
    const cell untouched = s.alloc({-1, -1, -1});
    EXPECT_EQ(s.call("gettime", {untouched, untouched + 4}), (Outcome{VM_ERR_NONE, 0}));
    EXPECT_EQ(s.call("getdate", {untouched, untouched + 4, untouched + 8, 0}), (Outcome{VM_ERR_NONE, 0}));
    EXPECT_EQ(s.call("tickcount", {}), (Outcome{VM_ERR_NONE, 0}));
    EXPECT_EQ(s.read(untouched, 3), (std::vector<cell>{-1, -1, -1}));
}

TEST_F(TimeLib, TickCountInMilliseconds) {
    const cell granularity = s.alloc({0});
    const cell t1 = s.call("tickcount", {granularity}).value;
    EXPECT_EQ(s.read(granularity, 1)[0], 1000);
    // Processor time: burn some and watch the count move forward, well past where a 32-bit
    // nanosecond product would have wrapped it back.
    const std::clock_t start = std::clock();
    volatile uint64_t sink = 0;
    while (std::clock() - start < CLOCKS_PER_SEC / 20) sink = sink + 1;
    const cell t2 = s.call("tickcount", {granularity}).value;
    EXPECT_GE(t2 - t1, 40);
    EXPECT_LE(t2 - t1, 5000);
    EXPECT_GE(t1, 0);
}

TEST_F(TimeLib, ClockArithmeticKeepsTheOtherFields) {
    const std::time_t now = 1700000000;  // a fixed instant; results are compared in local time
    const std::tm base = local(now);

    std::tm t = local(vmlib::WithLocalTime(now, -1, -1, 30));
    EXPECT_EQ(std::tuple(t.tm_year, t.tm_yday, t.tm_hour, t.tm_min, t.tm_sec),
              std::tuple(base.tm_year, base.tm_yday, base.tm_hour, base.tm_min, 30));
    t = local(vmlib::WithLocalTime(now, 7, 5, -1));
    EXPECT_EQ(std::tuple(t.tm_yday, t.tm_hour, t.tm_min, t.tm_sec),
              std::tuple(base.tm_yday, 7, 5, base.tm_sec));

    t = local(vmlib::WithLocalDate(now, 0, 0, 15));
    EXPECT_EQ(std::tuple(t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min),
              std::tuple(base.tm_year, base.tm_mon, 15, base.tm_hour, base.tm_min));
    t = local(vmlib::WithLocalDate(now, 2024, 2, 1));
    EXPECT_EQ(std::tuple(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_yday + 1),
              std::tuple(2024, 2, 1, 32));
}

TEST_F(TimeLib, TimerFiresFromTheIdleHook) {
    void* hook = nullptr;
    ASSERT_EQ(vm_GetUserData(&s.vm, VM_IDLE_TAG, &hook), VM_ERR_NONE);
    EXPECT_EQ(hook, reinterpret_cast<void*>(&vm_TimeIdle));

    EXPECT_EQ(vm_TimeIdle(&s.vm), VM_ERR_NONE);  // no timer set: nothing runs
    EXPECT_EQ(s.run("fired", {}).value, 0);

    EXPECT_EQ(s.call("settimer", {1, 1}).value, 0);  // single shot
    ASSERT_TRUE(idleUntilFired(1));
    for (int i = 0; i < 50; ++i) vm_TimeIdle(&s.vm);
    EXPECT_EQ(s.run("fired", {}).value, 1);

    EXPECT_EQ(s.call("settimer", {1, 0}).value, 0);  // repeating
    EXPECT_TRUE(idleUntilFired(4));
}

int g_previousRuns = 0;
int previousHook(VmInstance*) {
    ++g_previousRuns;
    return VM_ERR_NONE;
}

TEST(TimeLibHooks, ChainsToThePreviousIdleHook) {
    Script s("lib_time");
    ASSERT_EQ(vm_SetUserData(&s.vm, VM_IDLE_TAG, reinterpret_cast<void*>(&previousHook)), VM_ERR_NONE);
    ASSERT_EQ(s.attach({vm_AttachTimeLib}), VM_ERR_NONE);
    // Attaching the same script again must not make the hook its own predecessor.
    ASSERT_EQ(s.attach({vm_AttachTimeLib}), VM_ERR_NONE);
    g_previousRuns = 0;
    EXPECT_EQ(vm_TimeIdle(&s.vm), VM_ERR_NONE);
    EXPECT_EQ(g_previousRuns, 1);
    vm_DetachTimeLib(&s.vm);  // forgets the previous hook
    EXPECT_EQ(vm_TimeIdle(&s.vm), VM_ERR_NONE);
    EXPECT_EQ(g_previousRuns, 1);
}

TEST(TimeLibHooks, ScriptWithoutTimerGetsNoHook) {
    Script s("lib_float");
    vm_AttachTimeLib(&s.vm);
    void* hook = nullptr;
    EXPECT_EQ(vm_GetUserData(&s.vm, VM_IDLE_TAG, &hook), VM_ERR_USERDATA);
}

}  // namespace
}  // namespace velt::libtest
