// The administration natives: kicking and banning players, blocking address patterns, the admin
// flag, a player's address and ping, and the server's tick rate. None sends anything of its own;
// a kick or a ban goes through the game server, which closes the connection and tells the others.

#include <string>

#include "net/NetServerInterface.h"
#include "server/game/GameServer.h"
#include "server/game/PlayerPool.h"
#include "server/natives/NativeIds.h"
#include "server/natives/ScriptNatives.h"

namespace velt {

namespace {

constexpr const char* kDefaultBanReason = "INGAME BAN";

NetServerInterface* Net() { return TheGameServer != nullptr ? TheGameServer->GetNetServer() : nullptr; }

std::string TextArg(VmInstance* vm, cell address) {
    std::string text;
    ReadScriptString(vm, address, text);
    return text;
}

// The slot's address in the ban file and the transport's ban list, then the kick. The ban file
// keeps every line on one line and within its reader's length, whatever the reason holds.
cell BanConnected(VmInstance* vm, const cell* params, int32_t count, const std::string* reason) {
    NetServerInterface* net = Net();
    if (net == nullptr || !HasNativeArgs(vm, params, count) || NativeConnectedPlayer(params[1]) == nullptr)
        return 0;
    const uint16_t id = NativeId(params[1]);
    const PlayerID address = net->GetSlotPlayerID(id);
    if (address != UNASSIGNED_PLAYER_ID) {
        char dotted[PlayerID::kStringSize];
        address.ToString(false, dotted, sizeof dotted);
        TheGameServer->AddBan(TheGameServer->GetPlayerPool()->GetName(id), dotted,
                              reason != nullptr ? reason->c_str() : kDefaultBanReason);
    }
    TheGameServer->KickPlayer(id);
    return 1;
}

// Kick(player): 1 whether or not anybody was there.
cell n_Kick(VmInstance* vm, const cell* params) {
    if (TheGameServer == nullptr || !HasNativeArgs(vm, params, 1)) return 0;
    TheGameServer->KickPlayer(NativeId(params[1]));
    return 1;
}

// Ban(player)
cell n_Ban(VmInstance* vm, const cell* params) { return BanConnected(vm, params, 1, nullptr); }

// BanEx(player, const reason[]): an empty reason leaves the line's reason empty.
cell n_BanEx(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 2)) return 0;
    const std::string reason = TextArg(vm, params[2]);
    return BanConnected(vm, params, 2, &reason);
}

// BlockIpAddress(const ip[], timeMs): 0 ms blocks until unblocked. Not written to the ban file.
cell n_BlockIpAddress(VmInstance* vm, const cell* params) {
    if (TheGameServer == nullptr || !HasNativeArgs(vm, params, 2)) return 0;
    const std::string pattern = TextArg(vm, params[1]);
    if (pattern.empty()) return 0;
    TheGameServer->BlockIpAddress(pattern.c_str(), static_cast<uint32_t>(params[2]));
    return 1;
}

// UnBlockIpAddress(const ip[])
cell n_UnBlockIpAddress(VmInstance* vm, const cell* params) {
    if (TheGameServer == nullptr || !HasNativeArgs(vm, params, 1)) return 0;
    const std::string pattern = TextArg(vm, params[1]);
    if (pattern.empty()) return 0;
    TheGameServer->UnBlockIpAddress(pattern.c_str());
    return 1;
}

cell n_IsPlayerAdmin(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 1) || NativeConnectedPlayer(params[1]) == nullptr) return 0;
    return TheGameServer->GetPlayerPool()->IsAdmin(NativeId(params[1])) ? 1 : 0;
}

// GetPlayerIp(player, ip[], size): the characters written, -1 for nobody.
cell n_GetPlayerIp(VmInstance* vm, const cell* params) {
    NetServerInterface* net = Net();
    if (net == nullptr || !HasNativeArgs(vm, params, 3) || NativeConnectedPlayer(params[1]) == nullptr)
        return -1;
    char dotted[PlayerID::kStringSize];
    net->GetPlayerIDFromIndex(NativeId(params[1])).ToString(false, dotted, sizeof dotted);
    return SetScriptString(vm, params[2], dotted, params[3]);
}

// GetPlayerPing(player): -1 for nobody.
cell n_GetPlayerPing(VmInstance* vm, const cell* params) {
    NetServerInterface* net = Net();
    if (net == nullptr || !HasNativeArgs(vm, params, 1) || NativeConnectedPlayer(params[1]) == nullptr)
        return -1;
    return net->GetLastPing(net->GetPlayerIDFromIndex(NativeId(params[1])));
}

cell n_GetServerTickRate(VmInstance*, const cell*) {
    return TheGameServer != nullptr ? static_cast<cell>(TheGameServer->GetTickRate()) : 0;
}

const VmNativeEntry kAdminNatives[] = {
    {"Kick", n_Kick},
    {"Ban", n_Ban},
    {"BanEx", n_BanEx},
    {"BlockIpAddress", n_BlockIpAddress},
    {"UnBlockIpAddress", n_UnBlockIpAddress},
    {"IsPlayerAdmin", n_IsPlayerAdmin},
    {"GetPlayerIp", n_GetPlayerIp},
    {"GetPlayerPing", n_GetPlayerPing},
    {"GetServerTickRate", n_GetServerTickRate},
};

}  // namespace

ScriptNativeRows AdminNatives() { return kAdminNatives; }

}  // namespace velt
