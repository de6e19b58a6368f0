#pragma once

// The readers of the vehicle synchronisation packets: a driver's record (200), a passenger's
// (211), a towed trailer's (210) and an unoccupied vehicle pushed or ridden by its sender (209).
// Each drops a record that is short, names a vehicle the sender cannot be reporting on, or carries
// a number no vehicle can have (a position outside the world, a wild velocity, a non-finite
// rotation or health) before anything of it is stored or passed on.

namespace velt {

class GameServer;
struct Packet;

// Vehicle ids above this in a driver's or passenger's record (or a vehicle exit) get the sender
// kicked: no client of the game sends them.
inline constexpr unsigned kMaxReportedVehicleId = 2000;

void HandleDriverSync(GameServer& server, Packet* packet);
void HandlePassengerSync(GameServer& server, Packet* packet);
void HandleTrailerSync(GameServer& server, Packet* packet);
void HandleUnoccupiedSync(GameServer& server, Packet* packet);

}  // namespace velt
