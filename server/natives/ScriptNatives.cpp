#include "server/natives/ScriptNatives.h"

#include <vector>

#include "server/console/Log.h"
#include "server/vm/vmlib_common.h"

namespace velt {

#define VELT_NATIVE_FAMILY(family) ScriptNativeRows family();
#include "server/natives/NativeFamilies.def"
#undef VELT_NATIVE_FAMILY

namespace {

std::vector<VmNativeEntry> BuildTable() {
    std::vector<VmNativeEntry> table;
#define VELT_NATIVE_FAMILY(family)                                            \
    for (const VmNativeEntry& row : family()) {                               \
        if (row.name != nullptr && row.name[0] != '\0') table.push_back(row); \
    }
#include "server/natives/NativeFamilies.def"
#undef VELT_NATIVE_FAMILY
    table.push_back(VmNativeEntry{nullptr, nullptr});
    return table;
}

const std::vector<VmNativeEntry>& Table() {
    // Built on first use, on the main thread (the first script load).
    static const std::vector<VmNativeEntry> table = BuildTable();
    return table;
}

}  // namespace

const VmNativeEntry* ScriptNatives() { return Table().data(); }

size_t ScriptNativeCount() { return Table().size() - 1; }

int RegisterScriptNatives(VmInstance* inst) { return vm_Register(inst, ScriptNatives(), -1); }

bool HasNativeArgs(VmInstance* vm, const cell* params, int32_t count) {
    return vmlib::ArgCount(vm, params) >= count;
}

bool CheckScriptParamCount(VmInstance* vm, const cell* params, int32_t minArgs, int32_t maxArgs) {
    const int32_t count = vmlib::ArgCount(vm, params);
    if (count < minArgs) {
        LogPrintf("SCRIPT: Bad parameter count (%d < %d): ", count, minArgs);
        return false;
    }
    if (count > maxArgs) {
        LogPrintf("SCRIPT: Bad parameter count (%d > %d): ", count, maxArgs);
        return false;
    }
    return true;
}

}  // namespace velt
