#pragma once

// The table of RPC ids the server answers, with their handlers, in registration order.

#include <cstddef>
#include <cstdint>

#include "net/NetworkTypes.h"
#include "server/shared/GameRpc.h"

namespace velt {

class NetServerInterface;

// One RPC the server answers. A handler whose work has not landed yet is null: its id is listed
// (so the order and the count stay fixed) but not registered, and such calls are dropped by the
// transport as calls to an unregistered id.
struct ServerRpcEntry {
    uint8_t id;
    RpcHandler handler;
};

inline constexpr size_t kServerRpcCount = 34;
// In registration order.
extern const ServerRpcEntry kServerRpcs[kServerRpcCount];

// Stores the transport in the handlers' global, then registers every entry with a handler.
void RegisterServerRpcs(NetServerInterface* server);
// Unregisters every id of the table, then clears the global.
void UnregisterServerRpcs(NetServerInterface* server);

}  // namespace velt
