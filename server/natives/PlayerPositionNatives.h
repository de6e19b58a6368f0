#pragma once

// Player position, movement and vehicle-seat natives: placing and moving a player (position,
// ground-finding position, world bounds, facing angle, velocity, interior, special action,
// controllability), health and armour, putting a player into a vehicle and taking him out, a
// vehicle's velocity, and the queries of what the player's last records told the server (position,
// health, armour, velocity, keys, vehicle and seat, what he surfs on, distances, his last shot).
//
// The setters only send: what a client is told shows in the queries once it reports it back.
// Player ids are the low 16 bits of their cell; a bad id or a player who is not connected makes a
// native return its failure value at once, without a log line and without sending.

#include "server/natives/ScriptNatives.h"

namespace velt {

ScriptNativeRows PlayerPositionNatives();

}  // namespace velt
