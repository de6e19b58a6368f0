#pragma once

// 3D text label and chat bubble natives: placing a label in the world, attaching it to a player or
// a vehicle, changing its text and deleting it; a player's own labels, which he alone sees; a
// short text shown above a player's head to the players who have him streamed in.
//
// Ids are the low 16 bits of their cell, taken unsigned. A bad id, a label not in use, a player
// who is not connected or a missing pool makes a native return its failure value at once (0, or
// 0xFFFF from the creating natives), without a log line.

#include "server/natives/ScriptNatives.h"

namespace velt {

ScriptNativeRows LabelNatives();

}  // namespace velt
