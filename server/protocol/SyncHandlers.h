#pragma once

// The readers of the plain game packets a client sends: its synchronisation records and its
// in-game console lines. Each reader checks what it reads before a record reaches the Player, and
// a record that is short or fails a check is dropped whole.

#include <cstdint>

namespace velt {

class BitStream;
class GameServer;
struct Packet;

// A stream over a received packet whose read cursor sits on the message id: after the five bytes
// of a timestamp prefix, else on the first byte. False for a packet without data.
[[nodiscard]] bool OpenPacketStream(const Packet* packet, BitStream& bs);

// Routes one packet by its id to its reader. False when the id is not one of the game packets a
// client sends (the caller then frees it unread).
bool DispatchGamePacket(GameServer& server, Packet* packet, uint8_t packetId);

// The readers; each takes the whole packet.
void HandleOnFootSync(GameServer& server, Packet* packet);
void HandleAimSync(GameServer& server, Packet* packet);
void HandleSpectatorSync(GameServer& server, Packet* packet);
void HandleWeaponsUpdate(GameServer& server, Packet* packet);
void HandleStatsUpdate(GameServer& server, Packet* packet);

}  // namespace velt
