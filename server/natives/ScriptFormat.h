#pragma once

// The scripts' printf-like format engine (used by the format and printf natives).
//
// The format string is a script string of cells, one character per cell (the cell's low byte);
// every value argument is passed by address. Conversions: d i (signed decimal), x h (upper-case
// hex), b (binary), f (float), s (script string), q (SQL-quoted text), c (character), % (itself);
// any other conversion character is written as it is. Flags "0" (zero padding) and "-" (accepted,
// no effect), a width and a "." precision, each either digits or "*" taken from the next argument.
//
// Padding rules are this engine's own: decimal width counts digits only (the sign comes in
// addition), float width counts the integer part with its sign only (and zero padding goes before
// the sign), and texts are always left-aligned. Numbers never round: fractions are truncated.
//
// Hostile input is bounded: the output never exceeds its maximum, one numeric conversion yields
// at most kFormatScratchSize characters whatever its width, every script address is range-checked,
// and a conversion whose argument is missing writes nothing.

#include <cstddef>
#include <cstdint>

#include "server/vm/vm.h"

namespace velt {

// The shared output of FormatScriptString: 4095 characters and the terminator.
inline constexpr size_t kFormatBufferSize = 4096;
inline constexpr int32_t kFormatMaxChars = static_cast<int32_t>(kFormatBufferSize) - 1;
// Room for one numeric conversion, padding included.
inline constexpr size_t kFormatScratchSize = 64;
// A width or precision is read from at most this many digits.
inline constexpr int kFormatNumberDigits = 11;

// Formats the script string at `formatAddress` into `out`, which must hold maxChars + 1 bytes.
// Value arguments are params[argIndex], params[argIndex + 1], ... up to the argument count of the
// call (vmlib::ArgCount); argIndex is advanced past every argument taken. Returns the characters
// written; out[result] is always 0. A bad or unterminated format string formats as empty.
int32_t ScriptFormatter(char* out, int32_t maxChars, VmInstance* vm, cell formatAddress, const cell* params,
                        int32_t& argIndex);

// The natives' entry: formats from the format argument params[formatIndex] (values follow it) into
// one static buffer of kFormatBufferSize bytes, stores the length in *outLength (when non-null) and
// returns the buffer. The text stays valid until the next call (main thread only).
const char* FormatScriptString(VmInstance* vm, const cell* params, int32_t formatIndex, int32_t* outLength);

// The numeric conversions, exposed for tests: each writes at most `size` characters into buf (no
// terminator) and returns how many it wrote.
size_t FormatDecimal(char* buf, size_t size, int32_t value, int32_t width, bool zero);
size_t FormatHex(char* buf, size_t size, uint32_t value, int32_t width, bool zero);
size_t FormatBinary(char* buf, size_t size, uint32_t value, int32_t width, bool zero);
size_t FormatFloat(char* buf, size_t size, float value, int32_t width, int32_t precision, bool zero);

}  // namespace velt
