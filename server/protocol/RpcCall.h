#pragma once

// The few helpers every RPC handler uses to read its call safely, to find its sender and to answer.

#include <cstdint>

#include "net/BitStream.h"
#include "net/NetworkTypes.h"
#include "server/shared/GameRpc.h"

namespace velt {

class NetServerInterface;

// The transport the handlers answer through; null outside the game server's lifetime. Set by
// the table's registration.
NetServerInterface* RpcServer();
void SetRpcServer(NetServerInterface* server);

// A handler's view of its call: a stream over the payload that reads in place and holds exactly
// the payload's bits, so a read past the arguments fails instead of reading the padding of the
// last byte. False (stream untouched) when the call carries no payload.
[[nodiscard]] bool OpenRpcPayload(const RpcCallParams* params, BitStream& out);

// The sender's player id (its connection slot), or 0xFFFF when the sender holds none or the slot
// is beyond the player ids.
uint16_t RpcSenderId(const RpcCallParams* params);

class GameServer;
class Player;

// The sender's player id when that slot is connected in the player pool, else 0xFFFF. With
// requireValid the slot must also be a valid sender: a bot, or a client whose connection the
// transport still holds.
uint16_t RpcConnectedSender(const RpcCallParams* params, bool requireValid);

// The connected sender's Player while the game runs, its id in `id`; null otherwise (requireValid
// as for RpcConnectedSender).
Player* RpcRunningSender(const RpcCallParams* params, bool requireValid, uint16_t& id);
// The same with a stream over the call's payload in `bs`; null when there is no payload either.
Player* OpenSenderCall(const RpcCallParams* params, bool requireValid, uint16_t& id, BitStream& bs);

// The answer to a client's own request (class and spawn requests, the restart a late joiner is
// told): reliable on the request channel, to one connected player.
void SendRpcAnswer(GameServer& server, uint16_t player, uint8_t rpcId, const BitStream& bs);

// Whether the player is still connected: any callback a handler raises may kick the player it
// was raised for.
bool StillConnected(GameServer& server, uint16_t player);

}  // namespace velt
