#pragma once

// Object natives: global objects (every player has them) and per-player objects (one player has
// them) created, destroyed, placed, turned, moved and stopped, given materials and material
// texts, attached to vehicles, objects and players, and handed to a player's editor or object
// selection. The stored object is kept in step and the clients are told: a change only the create
// message carries re-creates a global object for every player.
//
// Object and player ids are the low 16 bits of their cell, taken unsigned. A bad id, a missing
// object, a player who is not connected or a missing pool makes a native return its failure value
// at once, without a log line. Beyond that, a native refuses (returns 0, stores and sends nothing)
// what clients could not use: a move that would never arrive (a speed that is not a positive
// finite number, a target at no finite distance), a material index above 15, an attachment to a
// vehicle or object that does not exist, to the object itself or in a ring of objects, and a
// material once all 16 slots of the object are taken.

#include "server/natives/ScriptNatives.h"

namespace velt {

ScriptNativeRows ObjectNatives();

}  // namespace velt
