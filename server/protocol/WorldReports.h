#pragma once

// What clients report of the world's entities: a pickup their player walked into, and damage
// their player did to an actor. Both only raise the scripts' callbacks, and only for entities
// that exist: scripts index their own tables with these ids.

#include "net/NetworkTypes.h"

namespace velt {

// RPC PickupPickedUp: i32 pickup. Needs a running game; the gamemode hears it first.
void RpcPickupPickedUp(RpcCallParams* params);
// RPC ActorDamage: one bit (no meaning here), u16 actor, f32 amount, i32 weapon, i32 body part.
void RpcActorDamage(RpcCallParams* params);

}  // namespace velt
