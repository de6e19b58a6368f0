// The natives of a player's animations: playing and stopping one on his client and on the
// clients that see him, the number of the one he plays, and the names behind such numbers.
//
// Player ids are the low 16 bits of their cell. ApplyAnimation and ClearAnimations answer 1 even
// for a player who is not there (nothing is sent then); the other two give 0.

#include <cstring>

#include "net/BitStream.h"
#include "server/game/AnimationNames.h"
#include "server/game/GameServer.h"
#include "server/game/Player.h"
#include "server/game/PlayerPool.h"
#include "server/natives/NativeIds.h"
#include "server/natives/ScriptNatives.h"
#include "server/shared/GameRpc.h"

namespace velt {

namespace {

// Library and animation names go out behind one length byte: longer texts are cut so that the
// byte always tells the client how many follow.
constexpr size_t kMaxAnimationText = 255;

void WriteAnimationText(BitStream& bs, VmInstance* vm, cell address) {
    char text[kMaxAnimationText + 1];
    const size_t length = ReadScriptString(vm, address, text, sizeof text);
    bs.Write(static_cast<uint8_t>(length));
    bs.WriteBytes(text, static_cast<int32_t>(length));
}

// Who sees an animation change: a human player's own client alone when the script does not ask
// for the others to be told; otherwise the players who see him, and he himself unless `toSelf`
// says no.
void SendAnimationRpc(uint8_t rpcId, const BitStream& bs, uint16_t id, bool toOthers, bool toSelf) {
    if (toOthers) TheGameServer->SendRpcToPlayersStreamingPlayer(rpcId, &bs, id, RpcChannel::World);
    if (toSelf) TheGameServer->SendRpcToPlayer(rpcId, &bs, id, RpcChannel::World);
}

bool IsBot(uint16_t id) { return TheGameServer->GetPlayerPool()->IsBot(id); }

// ApplyAnimation(player, library[], name[], Float:delta, loop, lockX, lockY, freeze, time,
//                forceSync): forceSync 1 reaches him and the players who see him, 2 or more
// those players alone. A bot's own client never runs the animation, so it is always passed on.
cell n_ApplyAnimation(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 10) || NativeConnectedPlayer(params[1]) == nullptr) return 1;
    const uint16_t id = NativeId(params[1]);
    BitStream bs;
    bs.Write(id);
    WriteAnimationText(bs, vm, params[2]);
    WriteAnimationText(bs, vm, params[3]);
    bs.Write(CellToFloat(params[4]));
    bs.Write(params[5] != 0);
    bs.Write(params[6] != 0);
    bs.Write(params[7] != 0);
    bs.Write(params[8] != 0);
    bs.Write(static_cast<uint32_t>(params[9]));
    const cell forceSync = params[10];
    const bool toOthers = forceSync != 0 || IsBot(id);
    SendAnimationRpc(RPC_AnimationApply, bs, id, toOthers, !toOthers || forceSync < 2);
    return 1;
}

// ClearAnimations(player, forceSync): any forceSync but 0 reaches the players who see him and
// him too.
cell n_ClearAnimations(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 2) || NativeConnectedPlayer(params[1]) == nullptr) return 1;
    const uint16_t id = NativeId(params[1]);
    BitStream bs;
    bs.Write(id);
    SendAnimationRpc(RPC_AnimationClear, bs, id, params[2] != 0 || IsBot(id), true);
    return 1;
}

// GetPlayerAnimationIndex(player): the number in his last on-foot record, while he is on foot.
cell n_GetPlayerAnimationIndex(VmInstance* vm, const cell* params) {
    Player* player = HasNativeArgs(vm, params, 1) ? NativeConnectedPlayer(params[1]) : nullptr;
    if (player == nullptr || player->GetState() != PLAYER_STATE_ONFOOT) return 0;
    return static_cast<int16_t>(static_cast<uint16_t>(player->GetOnFootSync().animation));
}

// GetAnimationName(index, library[], librarySize, name[], nameSize): 0, with nothing written, for
// a number outside the table or one whose name the table does not know.
cell n_GetAnimationName(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 5)) return 0;
    const char* row = AnimationNameByIndex(params[1]);
    if (row == nullptr) return 0;
    const char* colon = std::strchr(row, ':');
    const size_t libraryLength = static_cast<size_t>(colon - row);
    StoreScriptText(vm, params[2], params[3], row, libraryLength, ScriptCharCells::SignExtend);
    StoreScriptText(vm, params[4], params[5], colon + 1, std::strlen(colon + 1), ScriptCharCells::SignExtend);
    return 1;
}

const VmNativeEntry kAnimationNatives[] = {
    {"ApplyAnimation", n_ApplyAnimation},
    {"ClearAnimations", n_ClearAnimations},
    {"GetPlayerAnimationIndex", n_GetPlayerAnimationIndex},
    {"GetAnimationName", n_GetAnimationName},
};

}  // namespace

ScriptNativeRows AnimationNatives() { return kAnimationNatives; }

}  // namespace velt
