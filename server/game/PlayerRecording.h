#pragma once

// Starting and stopping the recording of a player's own driver or on-foot records into
// "scriptfiles/<name>.rec" (the player's stores append while it is open).

#include <cstdint>

namespace velt {

class Player;

// Ends any recording under way, then creates "scriptfiles/<name>.rec" with the name cleaned as
// recording names are (every '.', '/' and '\' removed, at most 255 characters) and starts
// recording there from `now`. False, with nothing recording, for an empty name, a name with
// nothing left after cleaning, a type other than 1 (driver) or 2 (on foot), or a file that cannot
// be created.
bool StartPlayerRecording(Player& player, int32_t type, const char* name, uint32_t now);
void StopPlayerRecording(Player& player);

}  // namespace velt
