// The network statistics natives: what the transport counts for one player's connection, or for
// all of them, as single numbers or as text. They take any id: the address the slot holds, in
// whatever state, and the transport's record of that address; no record is their failure.

#include <cstdio>
#include <cstring>

#include "net/Clock.h"
#include "net/ConnectedSystem.h"
#include "net/NetServerInterface.h"
#include "net/NetworkStatistics.h"
#include "server/game/GameServer.h"
#include "server/natives/NativeIds.h"
#include "server/natives/ScriptNatives.h"

namespace velt {

namespace {

// What the text natives write at most, the terminator included.
constexpr size_t kStatsTextSize = 4097;

NetServerInterface* Net() { return TheGameServer != nullptr ? TheGameServer->GetNetServer() : nullptr; }

PlayerID SlotAddress(NetServerInterface& net, cell player) { return net.GetSlotPlayerID(NativeId(player)); }

// The counters of the player's connection, or null when the transport holds no record of it.
const NetworkStatistics* PlayerStats(VmInstance* vm, const cell* params) {
    NetServerInterface* net = Net();
    if (net == nullptr || !HasNativeArgs(vm, params, 1)) return nullptr;
    const PlayerID address = SlotAddress(*net, params[1]);
    if (net->GetConnectedSystem(address) == nullptr) return nullptr;
    return net->GetStatistics(address);
}

cell n_NetStats_GetConnectedTime(VmInstance* vm, const cell* params) {
    const NetworkStatistics* s = PlayerStats(vm, params);
    return s != nullptr ? static_cast<cell>(GetTimeMs() - s->connectionStartTime) : 0;
}

cell n_NetStats_MessagesReceived(VmInstance* vm, const cell* params) {
    const NetworkStatistics* s = PlayerStats(vm, params);
    if (s == nullptr) return 0;
    return static_cast<cell>(s->messagesReceived + s->invalidMessagesReceived + s->duplicateMessagesReceived);
}

cell n_NetStats_BytesReceived(VmInstance* vm, const cell* params) {
    const NetworkStatistics* s = PlayerStats(vm, params);
    if (s == nullptr) return 0;
    return static_cast<cell>(static_cast<uint32_t>((s->bitsReceived + s->bitsReceivedBad + 7) / 8));
}

cell n_NetStats_MessagesSent(VmInstance* vm, const cell* params) {
    const NetworkStatistics* s = PlayerStats(vm, params);
    if (s == nullptr) return 0;
    uint32_t sum = 0;
    for (uint32_t count : s->messagesSent) sum += count;
    return static_cast<cell>(sum);
}

cell n_NetStats_BytesSent(VmInstance* vm, const cell* params) {
    const NetworkStatistics* s = PlayerStats(vm, params);
    return s != nullptr ? static_cast<cell>(static_cast<uint32_t>((s->totalBitsSent + 7) / 8)) : 0;
}

cell n_NetStats_MessagesRecvPerSecond(VmInstance* vm, const cell* params) {
    const NetworkStatistics* s = PlayerStats(vm, params);
    return s != nullptr ? static_cast<cell>(s->messagesLastSecond) : 0;
}

// A connection that has sent nothing has lost nothing: 0.0, not the 0 / 0 of the quotient.
cell n_NetStats_PacketLossPercent(VmInstance* vm, const cell* params) {
    const NetworkStatistics* s = PlayerStats(vm, params);
    if (s == nullptr || s->totalBitsSent == 0) return FloatToCell(0.0f);
    const float resent = static_cast<float>(s->messageTotalBitsResent);
    const float sent = static_cast<float>(s->totalBitsSent);
    return FloatToCell(resent * 100.0f / sent);
}

cell n_NetStats_ConnectionStatus(VmInstance* vm, const cell* params) {
    NetServerInterface* net = Net();
    if (net == nullptr || !HasNativeArgs(vm, params, 1)) return -1;
    const ConnectedSystem* system = net->GetConnectedSystem(SlotAddress(*net, params[1]));
    return system != nullptr ? system->connectMode.load() : -1;
}

// NetStats_GetIpPort(player, text[], size): "a.b.c.d:port"; the characters written.
cell n_NetStats_GetIpPort(VmInstance* vm, const cell* params) {
    NetServerInterface* net = Net();
    if (net == nullptr || !HasNativeArgs(vm, params, 3)) return 0;
    const PlayerID address = SlotAddress(*net, params[1]);
    if (net->GetConnectedSystem(address) == nullptr) return 0;
    char text[PlayerID::kStringSize];
    address.ToString(true, text, sizeof text);
    return SetScriptString(vm, params[2], text, params[3]);
}

// GetPlayerNetworkStats(player, text[], size): the record's state, then the connection's
// counters (the totals over every connection for an id the transport has no address for).
cell n_GetPlayerNetworkStats(VmInstance* vm, const cell* params) {
    NetServerInterface* net = Net();
    if (net == nullptr || !HasNativeArgs(vm, params, 3)) return 0;
    const PlayerID address = SlotAddress(*net, params[1]);
    char text[kStatsTextSize] = {};
    if (const ConnectedSystem* system = net->GetConnectedSystem(address)) {
        std::snprintf(text, sizeof text, "Network Active: %d\nNetwork State: %d\n",
                      int(system->isActive.load()), int(system->connectMode.load()));
    } else {
        std::snprintf(text, sizeof text, "%s", "Network Active: 0\nNetwork State: 0\n");
    }
    if (const NetworkStatistics* stats = net->GetStatistics(address)) {
        const size_t used = std::strlen(text);
        statsToString(stats, text + used, sizeof text - used, 1);
    }
    SetScriptString(vm, params[2], text, params[3]);
    return 1;
}

// GetNetworkStats(text[], size): the tick rate and the totals; 0, nothing written, without them.
cell n_GetNetworkStats(VmInstance* vm, const cell* params) {
    NetServerInterface* net = Net();
    if (net == nullptr || !HasNativeArgs(vm, params, 2)) return 0;
    const NetworkStatistics* stats = net->GetStatistics(UNASSIGNED_PLAYER_ID);
    if (stats == nullptr) return 0;
    char text[kStatsTextSize] = {};
    std::snprintf(text, sizeof text, "Server Ticks: %u\n", TheGameServer->GetTickRate());
    const size_t used = std::strlen(text);
    statsToString(stats, text + used, sizeof text - used, 1);
    SetScriptString(vm, params[1], text, params[2]);
    return 1;
}

const VmNativeEntry kNetStatsNatives[] = {
    {"GetPlayerNetworkStats", n_GetPlayerNetworkStats},
    {"GetNetworkStats", n_GetNetworkStats},
    {"NetStats_GetConnectedTime", n_NetStats_GetConnectedTime},
    {"NetStats_MessagesReceived", n_NetStats_MessagesReceived},
    {"NetStats_BytesReceived", n_NetStats_BytesReceived},
    {"NetStats_MessagesSent", n_NetStats_MessagesSent},
    {"NetStats_BytesSent", n_NetStats_BytesSent},
    {"NetStats_MessagesRecvPerSecond", n_NetStats_MessagesRecvPerSecond},
    {"NetStats_PacketLossPercent", n_NetStats_PacketLossPercent},
    {"NetStats_ConnectionStatus", n_NetStats_ConnectionStatus},
    {"NetStats_GetIpPort", n_NetStats_GetIpPort},
};

}  // namespace

ScriptNativeRows NetStatsNatives() { return kNetStatsNatives; }

}  // namespace velt
