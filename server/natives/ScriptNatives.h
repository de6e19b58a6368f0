#pragma once

// The server's natives: one table built from the rows of every natives file. The helpers every
// native uses to read its arguments and to write into script memory come with it (ScriptMemory.h,
// shared with the bot program).
//
// Adding a family of natives (one natives file, one concern):
//   1. In the natives file, define the rows and expose them as a span:
//          namespace velt {
//          static const VmNativeEntry kTimerNatives[] = {{"SetTimer", n_SetTimer}, ...};
//          ScriptNativeRows ScriptTimerNatives() { return kTimerNatives; }
//          }
//      (no closing empty row: the table adds the one closing row itself).
//   2. Add one line VELT_NATIVE_FAMILY(ScriptTimerNatives) to NativeFamilies.def, anywhere.
// The table is the concatenation of the families, built once on first use; no two families
// define the same native.
// A native is in a family only when it does what its script contract says: no stubs.

#include <cstddef>
#include <cstdint>
#include <span>

#include "server/runtime/ScriptMemory.h"
#include "server/vm/vm.h"

namespace velt {

using ScriptNativeRows = std::span<const VmNativeEntry>;

// The combined table, closed by a row whose name is null (the end mark vm_Register looks for with
// count -1).
const VmNativeEntry* ScriptNatives();
// Rows before the closing row.
size_t ScriptNativeCount();

// Binds the script's natives from the table (vm_Register with count -1). Returns vm_Register's
// result; hosts do not test it: a script with a native nobody registered stays loaded, but the
// machine refuses every run of it (its main and each public) with 19 before its first instruction.
int RegisterScriptNatives(VmInstance* inst);

// True when the call carries at least `count` arguments that lie where the script pushed them
// (vmlib::ArgCount). A script built by a normal compiler always does; a hand-made image may not,
// and then params[count] would lie past the pushed arguments.
bool HasNativeArgs(VmInstance* vm, const cell* params, int32_t count);

// The parameter-count check of the natives that take variable arguments: true when the call has
// minArgs to maxArgs arguments (counted as HasNativeArgs does); otherwise logs "SCRIPT: Bad
// parameter count (%d < min): " or "SCRIPT: Bad parameter count (%d > max): " with the number of
// arguments and returns false (the native then returns 0). The server's own: it writes to the
// server log, and the bot's natives check an exact count with a message of their own.
bool CheckScriptParamCount(VmInstance* vm, const cell* params, int32_t minArgs, int32_t maxArgs);

}  // namespace velt
