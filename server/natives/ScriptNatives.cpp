#include "server/natives/ScriptNatives.h"

#include <vector>

#include "server/console/Log.h"
#include "server/vm/vmlib_common.h"

namespace velt {

// The natives files, in table order: one line X(FamilyFunction) per file. Each family function is
// defined in its natives file and returns that file's rows.
#define VELT_SCRIPT_NATIVE_FAMILIES(X) \
    X(PlayerSpawnNatives)              \
    X(CoreNatives)

#define VELT_X(family) ScriptNativeRows family();
VELT_SCRIPT_NATIVE_FAMILIES(VELT_X)
#undef VELT_X

namespace {

std::vector<VmNativeEntry> BuildTable() {
    std::vector<VmNativeEntry> table;
#define VELT_X(family)                                                        \
    for (const VmNativeEntry& row : family()) {                               \
        if (row.name != nullptr && row.name[0] != '\0') table.push_back(row); \
    }
    VELT_SCRIPT_NATIVE_FAMILIES(VELT_X)
#undef VELT_X
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
    return vmlib::argCount(vm, params) >= count;
}

bool CheckScriptParamCount(VmInstance* vm, const cell* params, int32_t minArgs, int32_t maxArgs) {
    const int32_t count = vmlib::argCount(vm, params);
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
