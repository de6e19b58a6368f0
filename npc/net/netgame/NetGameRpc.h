#pragma once

// The calls the bot accepts from the server, in two sets registered in a fixed order: the core set
// (join, world and chat) and the scripting set (what the server's natives send). Most ids are
// accepted and dropped; those that matter read their payload with checked reads and drop a call
// that is short or malformed as a whole, never half-applied.

#include <cstddef>
#include <cstdint>

#include "net/NetworkTypes.h"

namespace velt {

class NetClientInterface;

struct NpcRpcEntry {
    uint8_t id;
    RpcHandler handler;
};

inline constexpr size_t kNpcCoreRpcCount = 30;
inline constexpr size_t kNpcScriptingRpcCount = 68;
extern const NpcRpcEntry kNpcCoreRpcs[kNpcCoreRpcCount];
extern const NpcRpcEntry kNpcScriptingRpcs[kNpcScriptingRpcCount];

void RegisterNpcCoreRpcs(NetClientInterface* client);
void RegisterNpcScriptingRpcs(NetClientInterface* client);
void UnregisterNpcCoreRpcs(NetClientInterface* client);
void UnregisterNpcScriptingRpcs(NetClientInterface* client);

// Longest ClientMessage text the bot takes; a longer one is dropped.
inline constexpr uint32_t kNpcMaxClientMessage = 4096;
// GameTextShow texts up to this length are read (and dropped).
inline constexpr uint32_t kNpcMaxGameText = 512;

}  // namespace velt
