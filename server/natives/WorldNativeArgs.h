#pragma once

// How the natives of the world's entities read their arguments: ids are the low 16 bits of their
// cell (menu ids the low 8 bits), taken unsigned, so id 65536 + n acts on n; a player argument
// names a player only while he is connected.

#include <cstddef>
#include <cstdint>
#include <string>

#include "server/game/GameServer.h"
#include "server/game/Player.h"
#include "server/game/PlayerPool.h"
#include "server/natives/ScriptNatives.h"

namespace velt {

inline uint16_t IdArg(cell value) { return static_cast<uint16_t>(static_cast<ucell>(value) & 0xFFFFu); }
inline uint8_t ByteArg(cell value) { return static_cast<uint8_t>(static_cast<ucell>(value) & 0xFFu); }

// The player of the id argument when connected, else null.
inline Player* ConnectedPlayerArg(cell value) {
    PlayerPool* pool = TheGameServer != nullptr ? TheGameServer->GetPlayerPool() : nullptr;
    const uint16_t id = IdArg(value);
    if (pool == nullptr || id >= kMaxPlayers || !pool->IsConnected(id)) return nullptr;
    return pool->GetAt(id);
}

// The text argument, cut to `limit` characters; a bad address or an unterminated text reads as
// the empty text. Only the part kept is read from the script.
inline std::string TextArg(VmInstance* vm, cell address, size_t limit) {
    std::string text(limit + 1, '\0');
    text.resize(ReadScriptString(vm, address, text.data(), text.size()));
    return text;
}

}  // namespace velt
