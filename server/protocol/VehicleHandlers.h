#pragma once

// What clients report about the vehicles around them: damage to the one they drive, getting in
// and out, purchases in a modification shop, and a vehicle blowing up. Each handler checks that
// the report is plausible for its sender before the vehicle or the player acts on it.

#include "net/NetworkTypes.h"

namespace velt {

// RPC VehicleDamageStatus: u16 vehicle, u32 panels, u32 doors, u8 lights, u8 tyres.
void RpcVehicleDamageStatus(RpcCallParams* params);
// RPC VehicleEnter: u16 vehicle, u8 passenger flag.
void RpcVehicleEnter(RpcCallParams* params);
// RPC VehicleExit: u16 vehicle.
void RpcVehicleExit(RpcCallParams* params);
// RPC VehicleModEvent: i32 vehicle, i32 value 1, i32 value 2, i32 event type.
void RpcVehicleModEvent(RpcCallParams* params);
// RPC VehicleDestroyed: u16 vehicle.
void RpcVehicleDestroyed(RpcCallParams* params);

}  // namespace velt
