#include "server/protocol/JoinHandlers.h"

#include <arpa/inet.h>

#include <cstring>
#include <string>
#include <string_view>

#include "net/BitStream.h"
#include "net/ConnectedSystem.h"
#include "net/NetServerInterface.h"
#include "server/console/Log.h"
#include "server/game/ArtworkList.h"
#include "server/game/GameServer.h"
#include "server/game/PlayerPool.h"
#include "server/game/ServerStartup.h"
#include "server/protocol/RpcCall.h"
#include "server/shared/StringUtil.h"

namespace velt {

namespace {

// A declared length travels in one byte, so 255 characters and a terminator always fit.
constexpr size_t kTextBufferSize = 256;

// Every version text a join accepts must fit the pool's row: a client the join admits would
// otherwise be refused by the pool and lose its connection without a word.
static_assert(kMaxClientVersionLength <= kMaxPlayerVersion);

struct JoinRequest {
    uint32_t version = 0;
    uint8_t checkByte = 0;
    uint8_t nameLength = 0;
    char name[kTextBufferSize] = {};
    uint32_t challengeAnswer = 0;
};

// Reads one length-prefixed text of `length` bytes into a zero-filled buffer.
bool ReadText(BitStream& bs, char (&out)[kTextBufferSize], uint8_t length) {
    std::memset(out, 0, sizeof out);
    return bs.ReadBytes(out, int32_t(length));
}

// The part both join calls share: version, check byte, name, challenge answer. False when the
// payload ends before it does.
bool ReadJoinHead(BitStream& bs, JoinRequest& request) {
    return bs.Read(request.version) && bs.Read(request.checkByte) && bs.Read(request.nameLength) &&
           ReadText(bs, request.name, request.nameLength) && bs.Read(request.challengeAnswer);
}

bool AnswersChallenge(const JoinRequest& request) {
    return request.version == kProtocolVersion &&
           (request.challengeAnswer ^ kProtocolVersion) == ServerChallenge.load();
}

// The name rule of a join: allowed characters, a length within limits, and no connected player of
// that name whatever its letter case.
bool IsAcceptableName(const char* name, size_t maxLength, const PlayerPool* pool) {
    size_t length = std::strlen(name);
    if (length < kMinNameLength || length > maxLength) return false;
    if (HasInvalidNameChar(std::string_view(name, length))) return false;
    return pool == nullptr || !pool->IsNameInUse(name);
}

std::string Dotted(const PlayerID& address, bool withPort) {
    char text[PlayerID::kStringSize];
    return address.ToString(withPort, text, sizeof text);
}

// Bots are started by this server and connect from this machine: over loopback, or to the
// address it is bound to, from which the system then sends. A bot join from anywhere else is
// someone posing as one (bots skip the checks a player's spawn goes through).
bool IsLocalAddress(uint32_t binaryAddress, const std::string& bindAddress) {
    // The first octet is the first byte in memory (network order).
    if ((binaryAddress & 0xFFu) == 127u) return true;
    in_addr bound{};
    return !bindAddress.empty() && inet_pton(AF_INET, bindAddress.c_str(), &bound) == 1 &&
           bound.s_addr != 0 && bound.s_addr == binaryAddress;
}

void Kick(NetServerInterface& net, const PlayerID& address) {
    if (address != UNASSIGNED_PLAYER_ID) net.Kick(address);
}

// The refused client learns why, then loses its connection. The reason goes out at once, ahead of
// the disconnection notice that the kick sends at once: queued behind it, it would never arrive.
// Bots get it reliably, game clients as a single unreliable datagram.
void Reject(NetServerInterface& net, const PlayerID& sender, uint8_t reason, bool bot) {
    BitStream bs;
    bs.Write(reason);
    uint8_t id = RPC_ConnectionRejected;
    net.RpcNow(&id, &bs, HIGH_PRIORITY_LEVEL, bot ? RELIABILITY_RELIABLE : RELIABILITY_UNRELIABLE,
               ChannelNumber(RpcChannel::Request), sender, false, false, UNASSIGNED_NETWORK_ID, nullptr);
    net.Kick(sender);
}

// Puts the admitted connection into the pool and sends it the world; a connection the pool cannot
// take is dropped.
void Admit(GameServer& server, NetServerInterface& net, const PlayerID& sender, uint16_t slot,
           const char* name, const char* serial, const char* version, bool bot) {
    PlayerPool* pool = server.GetPlayerPool();
    if (pool == nullptr || pool->Connect(slot, name, serial, version, bot) == 0) {
        net.Kick(sender);
        return;
    }
    // The transport kicks connections that never log on; this one has.
    if (ConnectedSystem* system = net.GetConnectedSystem(sender)) system->loggedOn.store(1);
    // A script may have kicked the newcomer from its connect callback.
    if (pool->IsConnected(slot)) InitPlayerWorld(server, slot);
}

}  // namespace

void RpcPlayerJoin(RpcCallParams* params) {
    GameServer* server = TheGameServer;
    NetServerInterface* net = RpcServer();
    if (server == nullptr || net == nullptr || params == nullptr) return;
    const PlayerID sender = params->sender;
    const int32_t index = net->GetIndexFromPlayerID(sender);
    const PlayerID slotAddress = net->GetPlayerIDFromIndex(index);
    const std::string dotted = Dotted(sender, false);

    // A join that is cut short or lies about its lengths is no join: nothing of it is used.
    auto refuseInvalid = [&] {
        LogPrintf("Invalid client connecting from %s", dotted.c_str());
        net->Kick(sender);
    };
    BitStream bs;
    JoinRequest request;
    uint8_t serialLength = 0;
    if (!OpenRpcPayload(params, bs) || !ReadJoinHead(bs, request) || !bs.Read(serialLength))
        return refuseInvalid();
    if (serialLength == 0) {
        LogPrintf("(0) Invalid client connecting from %s", dotted.c_str());
        Kick(*net, slotAddress != UNASSIGNED_PLAYER_ID ? slotAddress : sender);
        return;
    }
    if (net->GetConnectedSystem(sender) == nullptr) {
        LogPrintf("(1) Invalid client connecting from %s", dotted.c_str());
        net->Kick(sender);
        return;
    }
    char serial[kTextBufferSize];
    if (!ReadText(bs, serial, serialLength)) return refuseInvalid();
    // The client version part is optional: a payload that ends after the serial has none.
    uint8_t versionLength = 0;
    if (bs.GetNumberOfUnreadBits() >= 8 && !bs.Read(versionLength)) return refuseInvalid();
    char version[kTextBufferSize];
    if (versionLength > kMaxClientVersionLength || !ReadText(bs, version, versionLength))
        return refuseInvalid();
    if (versionLength == 0) std::strcpy(version, "unknown");
    if (slotAddress == UNASSIGNED_PLAYER_ID) return refuseInvalid();
    PlayerPool* pool = server->GetPlayerPool();
    if (index >= 0 && index < kMaxPlayers && pool != nullptr && pool->IsConnected(uint16_t(index))) {
        LogPrintf("Player slot (%u) is taken. Kicking %s.", unsigned(index), Dotted(sender, true).c_str());
        server->KickPlayer(uint16_t(index));
        return;
    }

    uint8_t reason = 0;
    if (!net->IsActivePlayerID(sender) || index < 0 || index >= kMaxPlayers) {
        reason = JOIN_REJECT_NO_SLOT;
    } else if (!AnswersChallenge(request)) {
        reason = JOIN_REJECT_VERSION;
    } else if (request.checkByte != server->world.joinCheckByte) {
        reason = JOIN_REJECT_CHECK;
    } else if (std::strlen(request.name) != request.nameLength ||
               !IsAcceptableName(request.name, kMaxClientNameLength, pool)) {
        // A declared length that covers a zero byte hides part of the name: refused.
        reason = JOIN_REJECT_NAME;
    } else {
        Admit(*server, *net, sender, uint16_t(index), request.name, serial, version, false);
        return;
    }
    Reject(*net, sender, reason, false);
}

void RpcNpcJoin(RpcCallParams* params) {
    GameServer* server = TheGameServer;
    NetServerInterface* net = RpcServer();
    if (server == nullptr || net == nullptr || params == nullptr) return;
    const int32_t maxNpc = server->Settings().maxNpc;
    const PlayerID sender = params->sender;
    const int32_t index = net->GetIndexFromPlayerID(sender);
    const PlayerID slotAddress = net->GetPlayerIDFromIndex(index);

    BitStream bs;
    JoinRequest request;
    if (!OpenRpcPayload(params, bs) || !ReadJoinHead(bs, request)) {
        LogPrintf("Invalid client connecting from %s", Dotted(sender, false).c_str());
        net->Kick(sender);
        return;
    }
    if (slotAddress == UNASSIGNED_PLAYER_ID) {
        LogPrintf("[connection:npc:error] (0) bad player ID (%s)", Dotted(sender, true).c_str());
        return;
    }
    if (!net->IsActivePlayerID(sender) || index < 0 || index >= kMaxPlayers) {
        Reject(*net, sender, JOIN_REJECT_NO_SLOT, true);
        LogPrintf("[connection:npc:error] (1) bad player ID (%s)", Dotted(sender, true).c_str());
        return;
    }
    if (net->GetConnectedSystem(sender) == nullptr) {
        LogPrintf("[connection:npc:error] (2) invalid client connecting from %s",
                  Dotted(sender, false).c_str());
        net->Kick(sender);
        return;
    }
    if (!IsLocalAddress(sender.binaryAddress, server->BindAddress())) {
        LogPrintf("[connection:npc:error] bot join from a remote address refused (%s)",
                  Dotted(sender, true).c_str());
        Reject(*net, sender, JOIN_REJECT_NO_SLOT, true);
        return;
    }

    PlayerPool* pool = server->GetPlayerPool();
    uint8_t reason = 0;
    if (pool == nullptr || pool->GetNpcCount() >= maxNpc) {
        reason = JOIN_REJECT_NO_SLOT;
    } else if (!AnswersChallenge(request)) {
        reason = JOIN_REJECT_VERSION;
    } else if (request.checkByte != server->world.joinCheckByte) {
        reason = JOIN_REJECT_CHECK;
    } else if (!IsAcceptableName(request.name, kMaxBotNameLength, pool)) {
        reason = JOIN_REJECT_NAME;
    } else {
        Admit(*server, *net, sender, uint16_t(index), request.name, nullptr, nullptr, true);
        return;
    }
    Reject(*net, sender, reason, true);
}

void InitPlayerWorld(GameServer& server, uint16_t player) {
    PlayerPool* pool = server.GetPlayerPool();
    if (pool == nullptr) return;
    switch (server.GetGameState()) {
        case GAME_STATE_RUNNING: {
            // With custom models the global objects follow the client's download report, so that
            // objects of new models find them loaded.
            if (ArtworkList* artwork = server.GetArtworkList()) {
                artwork->SendModelsToPlayer(player);
            } else if (ObjectPool* objects = server.GetObjectPool()) {
                objects->SendAllToPlayer(player);
                if (Player* p = pool->GetAt(player)) p->SetGlobalObjectsSent(true);
            }
            server.SendGameInit(player);
            pool->SendExistingPlayers(player);
            break;
        }
        case GAME_STATE_ENDED: {
            if (ArtworkList* artwork = server.GetArtworkList()) artwork->SendModelsToPlayer(player);
            server.SendGameInit(player);
            pool->SendExistingPlayers(player);
            BitStream empty;
            SendRpcAnswer(server, player, RPC_GameModeRestart, empty);
            break;
        }
        default: break;
    }
}

}  // namespace velt
