#include "server/protocol/VehicleHandlers.h"

#include "net/BitStream.h"
#include "server/game/GameServer.h"
#include "server/game/PlayerPool.h"
#include "server/protocol/RpcCall.h"
#include "server/protocol/VehicleSyncHandlers.h"

namespace velt {

namespace {

// The vehicle id every client uses for "no vehicle"; entering or leaving it makes no sense.
constexpr uint16_t kNoVehicleReport = 0xFFFF;
// A paint job the record could not keep: it stores the paint job + 1 in a byte.
constexpr uint8_t kUnstorablePaintjob = 0xFF;

VehiclePool* Vehicles() { return TheGameServer != nullptr ? TheGameServer->GetVehiclePool() : nullptr; }

// The vehicle of a client's id, or null when there is no such vehicle.
Vehicle* ReportedVehicle(int64_t id) {
    VehiclePool* vehicles = Vehicles();
    if (vehicles == nullptr || id < 0 || id >= kMaxVehicles) return nullptr;
    return vehicles->Get(uint16_t(id));
}

}  // namespace

void RpcVehicleDamageStatus(RpcCallParams* params) {
    uint16_t sender = kNoPlayer;
    BitStream bs;
    Player* player = OpenSenderCall(params, false, sender, bs);
    if (player == nullptr) return;
    uint16_t id = 0;
    VehicleDamage damage;
    if (!bs.Read(id) || !bs.Read(damage.panels) || !bs.Read(damage.doors) || !bs.Read(damage.lights) ||
        !bs.Read(damage.tyres))
        return;
    Vehicle* vehicle = ReportedVehicle(id);
    // Only the driver reports damage: he must be at its wheel now, and be the one it last heard.
    if (vehicle == nullptr || vehicle->GetDriver() != sender || player->GetState() != PLAYER_STATE_DRIVER ||
        player->GetVehicleId() != id)
        return;
    vehicle->UpdateDamageStatus(sender, damage);
}

void RpcVehicleEnter(RpcCallParams* params) {
    uint16_t sender = kNoPlayer;
    BitStream bs;
    Player* player = OpenSenderCall(params, false, sender, bs);
    if (player == nullptr) return;
    uint16_t id = 0;
    uint8_t passenger = 0;
    if (!bs.Read(id) || !bs.Read(passenger)) return;
    if (id == kNoVehicleReport) {
        TheGameServer->KickPlayer(sender);
        return;
    }
    if (ReportedVehicle(id) != nullptr) player->EnterVehicle(id, passenger);
}

void RpcVehicleExit(RpcCallParams* params) {
    uint16_t sender = kNoPlayer;
    BitStream bs;
    Player* player = OpenSenderCall(params, false, sender, bs);
    if (player == nullptr) return;
    uint16_t id = 0;
    if (!bs.Read(id)) return;
    // Ids no client has (0xFFFF among them) are a forged report, as in the sync records.
    if (id > kMaxReportedVehicleId) {
        TheGameServer->KickPlayer(sender);
        return;
    }
    // Leaving a vehicle that is not there would tell the others of a vehicle they never saw.
    if (ReportedVehicle(id) != nullptr) player->ExitVehicle(id);
}

void RpcVehicleModEvent(RpcCallParams* params) {
    uint16_t sender = kNoPlayer;
    BitStream bs;
    Player* player = OpenSenderCall(params, true, sender, bs);
    int32_t id = 0, value1 = 0, value2 = 0, type = 0;
    if (player == nullptr || !bs.Read(id) || !bs.Read(value1) || !bs.Read(value2) || !bs.Read(type)) return;
    Vehicle* vehicle = ReportedVehicle(id);
    // Only the vehicle the sender sits in, and that he can see, is his to modify.
    if (vehicle == nullptr || !player->IsVehicleStreamedIn(uint16_t(id)) || player->GetVehicleId() != id)
        return;
    switch (type) {
        case VEHICLE_MOD_PAINTJOB:
            if (uint8_t(value1) != kUnstorablePaintjob) vehicle->ChangePaintjob(sender, uint8_t(value1));
            break;
        case VEHICLE_MOD_COMPONENT: vehicle->AddComponent(sender, int16_t(value1)); break;
        case VEHICLE_MOD_RESPRAY: vehicle->ChangeColor(sender, value1, value2); break;
        case VEHICLE_MOD_SHOP: player->EnterExitModShop(value1, value2); break;
        default: break;
    }
}

void RpcVehicleDestroyed(RpcCallParams* params) {
    uint16_t sender = kNoPlayer;
    BitStream bs;
    Player* player = OpenSenderCall(params, false, sender, bs);
    if (player == nullptr) return;
    uint16_t id = 0;
    if (!bs.Read(id)) return;
    Vehicle* vehicle = ReportedVehicle(id);
    // Its death and respawn follow in the vehicle pool's pass.
    if (vehicle != nullptr && player->IsVehicleStreamedIn(id)) vehicle->MarkDestroyed(sender);
}

}  // namespace velt
