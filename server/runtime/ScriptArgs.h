#pragma once

// Arguments that one script hands to a public of another script, or of itself later: SetTimerEx,
// CallRemoteFunction and CallLocalFunction describe them with a format text ("a" an array whose
// size in cells is the argument after it, "s" a text, any other character a plain cell) and pass
// each one by address.
//
// They are copied out of the calling script once, into host memory, and placed on the target's
// heap only right before its public runs. Nothing the caller's or the target's code does in
// between (a public returning gives its heap back; the caller may even be unloaded) can change or
// invalidate what the public receives.

#include <cstdint>
#include <vector>

#include "server/vm/vm.h"

namespace velt {

// One copied argument: a plain cell, or cells (an array, or an unpacked text with its terminator)
// that go onto the target's heap, where the public receives their address.
struct ScriptArgCopy {
    bool onHeap = false;
    cell value = 0;
    std::vector<cell> cells;
};
// In push order: the last argument first, so the public receives them in format order.
using ScriptArgList = std::vector<ScriptArgCopy>;

inline constexpr char kScriptArgArray = 'a';
inline constexpr char kScriptArgText = 's';

// Copies the arguments described by the format text at params[formatIndex], whose values are
// params[formatIndex + 1] on (each a script address in `vm`). An argument that was not passed, or
// an array whose address or size is bad, contributes nothing (as a failed heap reservation does);
// a text that cannot be read is an empty text; an empty text is passed as the one-character text
// of code 1; a plain value whose address is bad passes 0.
ScriptArgList CopyScriptArgs(VmInstance* vm, const cell* params, int32_t formatIndex);

// Where the target's stack and heap stood before the arguments went on.
struct ScriptArgFrame {
    cell heap = 0;
    cell stack = 0;
    int32_t pushed = 0;
};

// Reserves the heap copies on `vm` and pushes every argument for its next run. A copy the heap has
// no room for is passed as nothing. When the stack is full, everything is undone and the result is
// false: the public must then not run.
bool PushScriptArgs(VmInstance* vm, const ScriptArgList& args, ScriptArgFrame& frame);

// Gives the heap reserved by PushScriptArgs back, after the public has run. Only for a script that
// is still alive.
void ReleaseScriptArgs(VmInstance* vm, const ScriptArgFrame& frame);

}  // namespace velt
