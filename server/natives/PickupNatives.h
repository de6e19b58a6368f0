#pragma once

// Pickup natives: creating and destroying the pickups players see through streaming.
//
// Pickup ids are 32 bits wide, as on the wire: only 0..4095 name a pickup, and a negative id or
// one of 4096 or more names none (it does not wrap to a lower one).

#include "server/natives/ScriptNatives.h"

namespace velt {

ScriptNativeRows PickupNatives();

}  // namespace velt
