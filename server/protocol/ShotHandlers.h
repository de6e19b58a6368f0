#pragma once

// The reader of a player's bullet records.

namespace velt {

class GameServer;
struct BulletSyncRecord;
struct Packet;

// Whether a bullet record holds nothing a script or another client should never see: a weapon
// id, hit type or hit id no shot can have, or a coordinate that is not a finite number.
bool IsSaneBulletRecord(const BulletSyncRecord& record);

// Stores the shot as the sender's last one, asks the scripts (filterscripts, then the gamemode,
// each able to refuse it), then validates and relays it.
void HandleBulletSync(GameServer& server, Packet* packet);

}  // namespace velt
