#pragma once

// The world pools the game server owns besides the player pool, and the per-player pools a Player
// owns: one header per pool, each filled in by the work that brings its entries and messages.

#include "server/world/ActorPool.h"
#include "server/world/GangZonePool.h"
#include "server/world/MenuPool.h"
#include "server/world/ObjectPool.h"
#include "server/world/PickupPool.h"
#include "server/world/PlayerLabelPool.h"
#include "server/world/PlayerTextDrawPool.h"
#include "server/world/TextDrawPool.h"
#include "server/world/TextLabelPool.h"
#include "server/world/VehiclePool.h"
