// Time natives: wall clock, local date and time, a millisecond tick count and one interval
// timer that fires the public "@timer" from the idle hook.

#include "server/vm/vmlib.h"
#include "server/vm/vmlib_common.h"

#include <cstdint>
#include <ctime>

namespace velt {
namespace {

using namespace vmlib;

// Shared by every script of the process; scripts run on the main thread only.
int g_timerIndex = -1;
IdleHook g_previousIdle = nullptr;
uint32_t g_timerStart = 0;
int32_t g_timerInterval = 0;  // 0: off
bool g_timerRepeats = false;

// Processor time of the process in milliseconds, rounded, with bit 31 clear. Worked out in 64
// bits: the product in nanoseconds wraps a 32-bit value every 4.3 seconds.
uint32_t Tick() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    const uint64_t micros =
        static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
    return static_cast<uint32_t>((micros * 1000u + 500000000u) / 1000000u) & 0x7FFFFFFFu;
}

constexpr cell kTicksPerSecond = 1000;

void StoreIfValid(VmInstance* vm, cell addr, cell value) {
    if (unsigned char* p = ScriptSpan(vm, addr, 4)) StoreCell(p, value);
}

std::tm LocalNow(std::time_t now) {
    std::tm tm{};
    localtime_r(&now, &tm);
    return tm;
}

void SetClock(std::time_t t) {
    if (t == static_cast<std::time_t>(-1)) return;
    timespec ts{};
    ts.tv_sec = t;
    clock_settime(CLOCK_REALTIME, &ts);  // refused without the privilege: nothing changes
}

cell n_gettime(VmInstance* vm, const cell* params) {
    if (ArgCount(vm, params) != 3) return 0;
    const std::time_t now = std::time(nullptr);
    const std::tm tm = LocalNow(now);
    StoreIfValid(vm, params[1], tm.tm_hour);
    StoreIfValid(vm, params[2], tm.tm_min);
    StoreIfValid(vm, params[3], tm.tm_sec);
    return static_cast<cell>(now);
}

cell n_settime(VmInstance* vm, const cell* params) {
    if (ArgCount(vm, params) < 3) return 0;
    SetClock(vmlib::WithLocalTime(std::time(nullptr), params[1], params[2], params[3]));
    return 0;
}

cell n_getdate(VmInstance* vm, const cell* params) {
    if (ArgCount(vm, params) != 3) return 0;
    const std::tm tm = LocalNow(std::time(nullptr));
    StoreIfValid(vm, params[1], tm.tm_year + 1900);
    StoreIfValid(vm, params[2], tm.tm_mon + 1);
    StoreIfValid(vm, params[3], tm.tm_mday);
    return tm.tm_yday + 1;
}

cell n_setdate(VmInstance* vm, const cell* params) {
    if (ArgCount(vm, params) < 3) return 0;
    SetClock(vmlib::WithLocalDate(std::time(nullptr), params[1], params[2], params[3]));
    return 0;
}

cell n_tickcount(VmInstance* vm, const cell* params) {
    if (ArgCount(vm, params) != 1) return 0;
    StoreIfValid(vm, params[1], kTicksPerSecond);
    return static_cast<cell>(Tick());
}

cell n_settimer(VmInstance* vm, const cell* params) {
    if (ArgCount(vm, params) != 2) return 0;
    g_timerStart = Tick();
    g_timerInterval = params[1];
    g_timerRepeats = params[2] == 0;
    return 0;
}

const VmNativeEntry kTimeNatives[] = {
    {"gettime", n_gettime},     {"settime", n_settime},   {"getdate", n_getdate}, {"setdate", n_setdate},
    {"tickcount", n_tickcount}, {"settimer", n_settimer}, {nullptr, nullptr},
};

}  // namespace

namespace vmlib {

std::time_t WithLocalTime(std::time_t now, int hour, int minute, int second) {
    std::tm tm = LocalNow(now);
    if (hour >= 0) tm.tm_hour = hour;
    if (minute >= 0) tm.tm_min = minute;
    if (second >= 0) tm.tm_sec = second;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

std::time_t WithLocalDate(std::time_t now, int year, int month, int day) {
    std::tm tm = LocalNow(now);
    if (year != 0) tm.tm_year = year - 1900;
    if (month != 0) tm.tm_mon = month - 1;
    if (day != 0) tm.tm_mday = day;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

}  // namespace vmlib

int vm_AttachTimeLib(VmInstance* vm) {
    int index = -1;
    if (vm_LookupPublic(vm, "@timer", &index) == 0) {
        g_timerIndex = index;
        ChainIdleHook(vm, &vm_TimeIdle, g_previousIdle);
    }
    return vm_Register(vm, kTimeNatives, -1);
}

int vm_DetachTimeLib(VmInstance*) {
    g_previousIdle = nullptr;
    return 0;
}

int vm_TimeIdle(VmInstance* vm) {
    if (g_previousIdle != nullptr) g_previousIdle(vm);
    if (g_timerInterval == 0 || g_timerIndex < 0) return 0;
    const uint32_t now = Tick();
    if (static_cast<int32_t>(now - g_timerStart) < g_timerInterval) return 0;
    if (g_timerRepeats) {
        g_timerStart += static_cast<uint32_t>(g_timerInterval);
    } else {
        g_timerInterval = 0;
    }
    cell result = 0;
    int err = vm_Exec(vm, &result, g_timerIndex);
    while (err == VM_ERR_SLEEP) err = vm_Exec(vm, &result, VM_EXEC_CONTINUE);
    return err;
}

}  // namespace velt
