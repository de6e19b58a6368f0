#pragma once

// Player class, spawn and identity natives: the classes a gamemode offers at class selection,
// a player's spawn record and leave to spawn, sending a player back to class selection, the
// queries and setters of a player's team, skin, colour, virtual world, name, client version,
// serial and state, spectating a vehicle or a player, a vehicle's virtual world, the pool sizes
// and what is streamed in for whom.
//
// Player ids are the low 16 bits of their cell, taken unsigned: id 65536 + n acts on player n. A
// bad id or a player that is not connected makes a native return its failure value at once,
// without a log line.

#include "server/natives/ScriptNatives.h"

namespace velt {

ScriptNativeRows PlayerSpawnNatives();

}  // namespace velt
