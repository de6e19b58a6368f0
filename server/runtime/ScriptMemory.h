#pragma once

// Checked access to a script's memory from host code: natives, timers, callback dispatch, the
// format engines. The server and the bot program use the same helpers; they need nothing but the
// machine.
//
// Script memory is untrusted: every address host code writes through, or reads more than one
// cell from, goes through ScriptCellAddress (or vm_GetAddrRange) with the whole size first.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "server/vm/vm.h"

namespace velt {

// Host pointer of `cells` cells starting at script data address `address` (taken as unsigned, so a
// "negative" address is simply out of range), or nullptr when any byte of the range lies outside
// the script's data area or in the free space between heap and stack. cells <= 0 checks the single
// cell at the address. The pointer may be unaligned for byte-addressed data: use it through
// memcpy or the Load/Store helpers below when the address is not a multiple of 4.
cell* ScriptCellAddress(VmInstance* inst, ucell address, int32_t cells = 1);

// Unaligned-safe access through a pointer from ScriptCellAddress.
inline cell LoadScriptCell(const cell* p, size_t index = 0) {
    cell c;
    std::memcpy(&c, reinterpret_cast<const unsigned char*>(p) + index * sizeof(cell), sizeof c);
    return c;
}
inline void StoreScriptCell(cell* p, size_t index, cell value) {
    std::memcpy(reinterpret_cast<unsigned char*>(p) + index * sizeof(cell), &value, sizeof value);
}

// Reads one cell through a reference argument (an in value passed by address); false, with `out`
// untouched, when the address is bad.
inline bool GetScriptCell(VmInstance* inst, cell address, cell& out) {
    const cell* p = ScriptCellAddress(inst, static_cast<ucell>(address), 1);
    if (p == nullptr) return false;
    out = LoadScriptCell(p);
    return true;
}

// Writes one cell through a reference argument (an out value); false when the address is bad.
inline bool SetScriptCell(VmInstance* inst, cell address, cell value) {
    cell* p = ScriptCellAddress(inst, static_cast<ucell>(address), 1);
    if (p == nullptr) return false;
    StoreScriptCell(p, 0, value);
    return true;
}

// How a text byte becomes a cell when host text is copied into a script array.
enum class ScriptCharCells : uint8_t {
    SignExtend,  // bytes 128..255 become negative cells (the server's natives)
    ZeroExtend,  // bytes 128..255 stay 128..255 (the bot's natives)
};

// Copies `length` bytes of `text` (a null text is empty; zero bytes are copied like any other)
// into the script array at `address`, one character per cell, then a terminating 0 cell, all
// within `size` cells: at most size - 1 characters. size <= 0, or an address whose written range
// is not inside the script's data, writes nothing and returns 0. Returns the characters written
// (not counting the terminator).
int32_t StoreScriptText(VmInstance* inst, cell address, cell size, const char* text, size_t length,
                        ScriptCharCells chars);

// Copies a zero-terminated host text into the script array at `address`, one character per cell,
// each byte sign-extended (bytes 128..255 become negative cells). At most size - 1 characters and
// always the terminating 0 cell within size. size <= 0, a null text or an address whose written
// range is not inside the script's data writes nothing and returns 0. Returns the characters
// written (not counting the terminator).
int32_t SetScriptString(VmInstance* inst, cell address, const char* text, cell size);

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

}  // namespace velt
