#pragma once

// What the natives about one player read and write the same way: the player argument, the float
// variables a script hands in by reference, and the message that goes to that player alone.

#include <cstdint>

#include "net/BitStream.h"
#include "server/game/GameServer.h"
#include "server/natives/NativeIds.h"
#include "server/natives/ScriptNatives.h"
#include "server/runtime/ScriptMemory.h"
#include "server/shared/GameRpc.h"
#include "server/shared/VectorMath.h"
#include "server/vm/vm.h"

namespace velt {

// The connected player named by params[1] when the call has `args` arguments, else null.
inline Player* PlayerArg(VmInstance* vm, const cell* params, int32_t args) {
    return HasNativeArgs(vm, params, args) ? NativeConnectedPlayer(params[1]) : nullptr;
}

inline void SetFloatRef(VmInstance* vm, cell address, float value) {
    SetScriptCell(vm, address, FloatToCell(value));
}

inline void SetVectorRefs(VmInstance* vm, const cell* refs, const Vector3& v) {
    SetFloatRef(vm, refs[0], v.x);
    SetFloatRef(vm, refs[1], v.y);
    SetFloatRef(vm, refs[2], v.z);
}

inline void WriteFloats(BitStream& bs, const Vector3& v) {
    bs.Write(v.x);
    bs.Write(v.y);
    bs.Write(v.z);
}

// Only after the player argument was found: then the game server exists.
inline void SendToPlayer(uint8_t rpcId, const BitStream& bs, cell player) {
    TheGameServer->SendRpcToPlayer(rpcId, &bs, NativeId(player), RpcChannel::World);
}

}  // namespace velt
