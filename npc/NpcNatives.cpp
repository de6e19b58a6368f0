#include "npc/NpcNatives.h"

#include <cstdint>

#include "npc/NpcFormat.h"
#include "npc/NpcLog.h"
#include "npc/net/netgame/NetGame.h"
#include "server/runtime/ScriptMemory.h"
#include "server/vm/vmlib_common.h"

namespace velt {

namespace {

// The natives whose arguments must match exactly: a mismatch is reported and the call does nothing.
// (The server's natives check a range instead, and only where they take variable arguments.)
bool CheckCount(VmInstance* vm, const cell* params, int32_t expected) {
    const int32_t count = vmlib::ArgCount(vm, params);
    if (count == expected) return true;
    NpcLog("SCRIPT: Bad parameter count (Count is %d, Should be %d): ", count, expected);
    return false;
}

const VmNativeEntry kNatives[] = {
    {"format", NpcNative_format},
    {"SetTimer", NpcNative_SetTimer},
    {"KillTimer", NpcNative_KillTimer},
    {"", nullptr},
};

}  // namespace

const VmNativeEntry* NpcNatives() { return kNatives; }

int RegisterNpcNatives(VmInstance* inst) { return vm_Register(inst, kNatives, -1); }

// format(output[], length, const format[], {Float,_}:...)
cell NpcNative_format(VmInstance* vm, const cell* params) {
    if (vmlib::ArgCount(vm, params) < 3) return 0;
    // One buffer for every call: formatting allocates nothing.
    static char buffer[kNpcFormatBufferSize];
    const int32_t length = NpcFormat(vm, params, 3, buffer, sizeof buffer);
    // The bot stores characters as unsigned bytes, and keeps any zero byte "%c" produced.
    return StoreScriptText(vm, params[1], params[2], buffer, size_t(length), ScriptCharCells::ZeroExtend);
}

// SetTimer(const funcname[], interval, repeating)
cell NpcNative_SetTimer(VmInstance* vm, const cell* params) {
    if (!CheckCount(vm, params, 3)) return 0;
    NetGame* game = TheNetGame();
    if (game == nullptr) return 0;
    char name[kTimerNameMax + 1];
    ReadScriptString(vm, params[1], name, sizeof name);
    return game->Timers().SetTimer(name, params[2], params[3] != 0, vm);
}

// KillTimer(timerid)
cell NpcNative_KillTimer(VmInstance* vm, const cell* params) {
    if (vmlib::ArgCount(vm, params) < 1) return 0;
    if (NetGame* game = TheNetGame()) game->Timers().KillTimer(params[1]);
    return 1;
}

}  // namespace velt
