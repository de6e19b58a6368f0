#pragma once

// The bot's printf-like format engine, behind its format native. It is the bot's own, not the
// server's: a '-' flag left-justifies, decimal padding counts the sign unless zeros pad, "%f"
// pads only with blanks, and there is no "%q".
//
// The format is read from the script as an unpacked text (the low byte of each cell). Every value
// argument is passed by reference: its cell is a script address, and the value is read there.
// Conversions: d i (decimal), x h (upper-case hexadecimal of the 32 bits), b (binary), c (the
// low byte), s (a script text, one character per cell), f (a float, decimals truncated, never
// rounded). Flags '-' and '0', a width and a '.' precision, each either digits or '*' (taken from
// the next argument). Any other character after '%' ('%' itself among them) is written as it is.
//
// Hostile input is bounded: output never passes its room, every script address is checked over
// the cells it reads, and a conversion with no argument left writes nothing and consumes nothing.

#include <cstddef>
#include <cstdint>

#include "server/vm/vm.h"

namespace velt {

// The format native's buffer: 4095 characters and the terminator.
inline constexpr size_t kNpcFormatBufferSize = 4096;

// Formats the text at params[formatIndex] with the values params[formatIndex + 1] up to the
// native's argument count (vmlib::ArgCount) into `out` (outSize bytes, at least 1). Returns the
// characters written; out[result] is 0. A format that cannot be read formats as empty.
int32_t NpcFormat(VmInstance* vm, const cell* params, int32_t formatIndex, char* out, size_t outSize);

}  // namespace velt
