#pragma once

// The server's natives: one table built from the rows of every natives file, and the helpers every
// native uses to read its arguments and to write into script memory.
//
// Adding a family of natives (one natives file, one concern):
//   1. In the natives file, define the rows and expose them as a span:
//          namespace velt {
//          static const VmNativeEntry kTimerNatives[] = {{"SetTimer", n_SetTimer}, ...};
//          ScriptNativeRows ScriptTimerNatives() { return kTimerNatives; }
//          }
//      (no closing empty row: the table adds the one closing row itself).
//   2. Add one line X(ScriptTimerNatives) to VELT_SCRIPT_NATIVE_FAMILIES in ScriptNatives.cpp.
// The table is the concatenation of the families in that list's order, built once on first use.
// A native is in a family only when it does what its script contract says: no stubs.
//
// Script memory is untrusted: every address a native writes through, or reads more than one cell
// from, goes through ScriptCellAddress (or vm_GetAddrRange) with the whole size first.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "server/vm/vm.h"

namespace velt {

using ScriptNativeRows = std::span<const VmNativeEntry>;

// The combined table, closed by a row whose name is null (the end mark vm_Register looks for with
// count -1).
const VmNativeEntry* ScriptNatives();
// Rows before the closing row.
size_t ScriptNativeCount();

// Binds the script's natives from the table (vm_Register with count -1). Returns vm_Register's
// result; hosts do not test it: a script calling a native nobody registered fails at that call.
int RegisterScriptNatives(VmInstance* inst);

// Host pointer of `cells` cells starting at script data address `address` (taken as unsigned, so a
// "negative" address is simply out of range), or nullptr when any byte of the range lies outside
// the script's data area or in the free space between heap and stack. cells <= 0 checks the single
// cell at the address. The pointer may be unaligned for byte-addressed data: use it through
// memcpy or the Load/Store helpers below when the address is not a multiple of 4.
cell* ScriptCellAddress(VmInstance* inst, ucell address, int32_t cells = 1);

// Copies a zero-terminated host text into the script array at `address`, one character per cell,
// each byte sign-extended (bytes 128..255 become negative cells). At most size - 1 characters and
// always the terminating 0 cell within size. size <= 0, a null text or an address whose written
// range is not inside the script's data writes nothing and returns 0. Returns the characters
// written (not counting the terminator).
int32_t SetScriptString(VmInstance* inst, cell address, const char* text, cell size);

// Argument count of a native call (params[0] holds the argument bytes).
inline int32_t ScriptArgCount(const cell* params) { return params[0] / 4; }
// True when the call carries at least `count` arguments. A script built by a normal compiler always
// does; a hand-made image may not, and then params[count] would lie past the pushed arguments.
inline bool HasScriptArgs(const cell* params, int32_t count) {
    return params[0] >= 0 && params[0] / 4 >= count;
}

// The parameter-count check of the natives that take variable arguments: true when the call has
// minArgs to maxArgs arguments; otherwise logs "SCRIPT: Bad parameter count (%d < min): " or
// "SCRIPT: Bad parameter count (%d > max): " with the number of arguments and returns false (the
// native then returns 0).
bool CheckScriptParamCount(const cell* params, int32_t minArgs, int32_t maxArgs);

// Reads the text at script address `address` (packed or unpacked) into `buffer` of `size` bytes,
// cut to fit and always terminated; returns the length written. A bad address, or a text the
// script's memory ends before terminating, reads as the empty text (returns 0).
size_t ReadScriptString(VmInstance* inst, cell address, char* buffer, size_t size);
// The same into a std::string, the whole text (bounded by the script's memory). An empty text
// leaves `out` empty without allocating. Returns false for a bad address.
bool ReadScriptString(VmInstance* inst, cell address, std::string& out);

// Length in characters of the text at `address`, scanning no further than the script's memory;
// -1 for a bad address or a text that does not end inside the script's memory.
int32_t ScriptStringLength(VmInstance* inst, cell address);

// Floats travel in cells as their IEEE-754 single-precision bits.
inline float CellToFloat(cell c) {
    float f;
    std::memcpy(&f, &c, sizeof f);
    return f;
}
inline cell FloatToCell(float f) {
    cell c;
    std::memcpy(&c, &f, sizeof c);
    return c;
}

// Unaligned-safe access through a pointer from ScriptCellAddress.
inline cell LoadScriptCell(const cell* p, size_t index = 0) {
    cell c;
    std::memcpy(&c, reinterpret_cast<const unsigned char*>(p) + index * sizeof(cell), sizeof c);
    return c;
}
inline void StoreScriptCell(cell* p, size_t index, cell value) {
    std::memcpy(reinterpret_cast<unsigned char*>(p) + index * sizeof(cell), &value, sizeof value);
}

// Writes one cell through a reference argument (an out value); false when the address is bad.
inline bool SetScriptCell(VmInstance* inst, cell address, cell value) {
    cell* p = ScriptCellAddress(inst, static_cast<ucell>(address), 1);
    if (p == nullptr) return false;
    StoreScriptCell(p, 0, value);
    return true;
}

}  // namespace velt
