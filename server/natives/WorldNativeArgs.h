#pragma once

// How the natives of the world's entities read their byte and text arguments (ids: NativeIds.h):
// a menu id is the low 8 bits of its cell, taken unsigned, so id 256 + n acts on n.

#include <cstddef>
#include <cstdint>
#include <string>

#include "server/natives/NativeIds.h"
#include "server/natives/ScriptNatives.h"

namespace velt {

inline uint8_t ByteArg(cell value) { return static_cast<uint8_t>(static_cast<ucell>(value) & 0xFFu); }

// The text argument, cut to `limit` characters; a bad address or an unterminated text reads as
// the empty text. Only the part kept is read from the script.
inline std::string TextArg(VmInstance* vm, cell address, size_t limit) {
    std::string text(limit + 1, '\0');
    text.resize(ReadScriptString(vm, address, text.data(), text.size()));
    return text;
}

}  // namespace velt
