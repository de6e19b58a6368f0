#pragma once

// Natives of the objects a player wears (ten slots on his body, kept in the Player record so that
// players who stream him in later see them too), of the editor for one of them, and of removing a
// map building for one player (nothing is kept: the client forgets it when it reconnects).
//
// Player ids are the low 16 bits of their cell, taken unsigned; a player who is not connected
// makes a native return 0 at once, without a log line.

#include "server/natives/ScriptNatives.h"

namespace velt {

ScriptNativeRows AttachedObjectNatives();

}  // namespace velt
