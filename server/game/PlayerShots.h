#pragma once

// A player's shots: which bullet records are believable, and passing the accepted ones on to the
// players who see the shooter.

#include <cstdint>

namespace velt {

class GameServer;
class Player;
struct BulletSyncRecord;

// 1 to accept the shot, 0 to refuse it; the refusals that point at a cheat or a broken client log
// a warning line.
int ValidateShot(GameServer& server, const Player& shooter, const BulletSyncRecord& record);

// Notes the shot on the shooter and, when it is valid, relays it to every player who has the
// shooter streamed in, near or far: a shot seen late or not at all is worse than a thinned
// position.
void HandleShot(GameServer& server, Player& shooter, const BulletSyncRecord& record);

}  // namespace velt
