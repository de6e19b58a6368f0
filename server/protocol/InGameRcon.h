#pragma once

// The remote console from inside the game: a player who logged in with the remote-console
// password has every line he sends run as a console line, and sees the log lines it produces as
// client messages. The lines arrive as the plain packet ID_RCON_COMMAND: [201][u32 length][text].

#include <cstdint>

namespace velt {

class GameServer;
struct Packet;

inline constexpr uint8_t kRconCommandPacketId = 201;
inline constexpr uint32_t kMaxRconCommandLength = 256;

// Runs in every game state.
void HandleRconCommand(GameServer& server, Packet* packet);

// The log's echo sink for an in-game admin: one white client message per line.
void InGameRconLogEcho(uint16_t player, const char* line);

}  // namespace velt
