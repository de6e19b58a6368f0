#pragma once

// Actor natives: placing and removing actors (characters without a client), their position,
// facing angle, virtual world, health, invulnerability and animation. Changes of position, angle,
// health and animation reach the players who have the actor streamed in at once; the world and
// invulnerability reach them through streaming.
//
// Actor ids are the low 16 bits of their cell, taken unsigned. A bad id or a missing pool makes a
// native return its failure value at once (0, or 0xFFFF from CreateActor), without a log line.

#include "server/natives/ScriptNatives.h"

namespace velt {

ScriptNativeRows ActorNatives();

}  // namespace velt
