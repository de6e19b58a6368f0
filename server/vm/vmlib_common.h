#pragma once
// Helpers the native libraries share: argument access, range-checked views of script memory,
// and reading and writing script strings in either form. Everything a native reads or writes
// goes through here, so a hostile address, size or argument count is refused in one place.

#include "server/vm/vm.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace velt::vmlib {

// How many arguments the native may read: the one count every native checks, the server's, the
// bot's and the libraries'. params[0] is pushed by the script itself, so when the cells lie on
// the script's stack a claim reaching past the top of the stack counts as no arguments at all;
// natives then fail cleanly instead of reading beyond the block. A host calling a native with its
// own array (and no instance) vouches for it.
int ArgCount(VmInstance* vm, const cell* params);

// Host view of the script bytes [addr, addr + bytes), or nullptr when any of them lies outside
// the script's valid memory. Addresses and sizes are taken in 64 bits so that sums computed
// from script values cannot wrap into a valid range. A zero-byte span only checks addr.
unsigned char* ScriptSpan(VmInstance* vm, int64_t addr, int64_t bytes);

// Cells are read and written bytewise: a script may pass an address that is not a multiple of 4.
inline cell LoadCell(const unsigned char* p) {
    cell v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void StoreCell(unsigned char* p, cell v) { std::memcpy(p, &v, sizeof v); }

// A script string: its form and its characters (bytes 0-255 for a packed string, whole cells
// for an unpacked one), without the terminator.
struct ScriptText {
    bool packed = false;
    std::vector<cell> chars;
};

// Reads the string at addr. The scan never leaves the valid region the string starts in (the
// data and heap below the heap top, or the stack); a string left unterminated there ends at
// the region's end. False when addr itself is not valid.
bool ReadText(VmInstance* vm, int64_t addr, ScriptText& out);

// The same string as bytes (unpacked characters cut to their low byte, ending at the first
// zero byte), for names, numbers and file paths.
bool ReadBytes(VmInstance* vm, int64_t addr, std::string& out);
std::string ToBytes(const ScriptText& text);

// Cells a string of n characters occupies in the given form, terminator included.
int64_t TextCells(int64_t n, bool packed);

// Writes chars[0, n) at character offset `at` of the string at addr, then the terminator; a
// packed cell that already holds characters before `at` keeps them. Nothing is written unless
// every cell from the one holding `at` to the one holding the terminator is valid.
bool WriteText(VmInstance* vm, int64_t addr, int64_t at, const cell* chars, size_t n, bool packed);
bool WriteBytes(VmInstance* vm, int64_t addr, const std::string& text, bool packed);

// The libraries' idle hooks, chained through the script's user data under VM_IDLE_TAG: each hook
// calls the one it replaced first.
using IdleHook = int (*)(VmInstance*);
// Makes `hook` the script's idle hook and remembers the one it replaces in `previous` (attaching
// the same script twice keeps the earlier one, so a hook never calls itself).
void ChainIdleHook(VmInstance* vm, IdleHook hook, IdleHook& previous);

// Case mapping of the scripts: only A-Z and a-z change, whatever the host's locale says, and
// only for values a character can hold (-128 to 255).
cell AsciiLower(cell c);
cell AsciiUpper(cell c);

}  // namespace velt::vmlib
