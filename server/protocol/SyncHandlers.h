#pragma once

// The readers of the plain game packets a client sends: its synchronisation records and its
// in-game console lines. Each reader checks what it reads before a record reaches the Player, and
// a record that is short or fails a check is dropped whole.

#include <cstdint>

#include "net/BitStream.h"
#include "server/shared/SyncRecords.h"

namespace velt {

class GameServer;
class Player;
struct Packet;

// A stream over a received packet whose read cursor sits on the message id: after the five bytes
// of a timestamp prefix, else on the first byte. False for a packet without data.
[[nodiscard]] bool OpenPacketStream(const Packet* packet, BitStream& bs);

// The sender's Player while the game runs, with the stream's cursor past the id byte; null for a
// packet that is to be dropped.
Player* OpenRecord(GameServer& server, const Packet* packet, BitStream& bs);

// The sender's Player with the packet's record read into `record`; null (record unspecified) for
// a packet that is to be dropped, among them one too short for its record.
template <class Record>
Player* ReadRecord(GameServer& server, const Packet* packet, Record& record) {
    BitStream bs;
    Player* player = OpenRecord(server, packet, bs);
    return player != nullptr && ReadSyncRecord(bs, record) ? player : nullptr;
}

// The scripts may keep a stored record from being passed on: a 0 from OnPlayerUpdate in the
// filterscripts (the gamemode is then not asked) or in the gamemode cancels the relay.
void ApplyRelayVeto(GameServer& server, Player& player);

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
