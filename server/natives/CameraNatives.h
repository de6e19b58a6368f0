#pragma once

// Camera natives: taking over a player's camera (a fixed place, a point to look at, back behind
// him, fixed to an object, a move from one place or view to another) and reading what his client
// reports of it: position, front vector, mode, zoom, aspect ratio, and what it points at while
// camera targeting is on.
//
// Player ids are the low 16 bits of their cell; a bad id or a player who is not connected makes a
// native return its failure value at once, without a log line and without sending.

#include "server/natives/ScriptNatives.h"

namespace velt {

ScriptNativeRows CameraNatives();

}  // namespace velt
