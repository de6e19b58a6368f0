#pragma once

// Checked access to an npcmode script's memory for the bot's natives and its format engine. Every
// address comes from the script and is validated over the whole range it touches before the first
// byte is read or written; a bad address reads as nothing and writes nothing.

#include <cstddef>
#include <cstdint>

#include "server/vm/vm.h"

namespace velt {

// The cell at `address`; false (out untouched) when the address is bad.
bool NpcReadCell(VmInstance* vm, cell address, cell& out);
// Writes one cell; false when the address is bad.
bool NpcWriteCell(VmInstance* vm, cell address, cell value);

// Character `index` of an unpacked script text (the low byte of cell `index`); false when that
// cell cannot be read.
bool NpcReadTextChar(VmInstance* vm, cell address, int64_t index, char& out);

// A script text, packed or unpacked, into `out` (at most size - 1 characters, always
// terminated); reading stops where the script's memory ends. Returns the characters copied.
size_t NpcReadScriptText(VmInstance* vm, cell address, char* out, size_t size);

// Stores `length` characters one per cell, then a 0 cell, at `address`, within `cells` cells:
// at most cells - 1 characters. Returns the characters stored; 0 and nothing written when
// `cells` is 0 or less or the range is bad.
int32_t NpcStoreScriptText(VmInstance* vm, cell address, cell cells, const char* text, size_t length);

}  // namespace velt
