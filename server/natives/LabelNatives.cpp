#include "server/natives/LabelNatives.h"

#include <string>

#include "net/BitStream.h"
#include "server/natives/NativeIds.h"
#include "server/shared/GameRpc.h"
#include "server/world/WorldPools.h"

namespace velt {

namespace {

// A chat bubble's text travels behind a one-byte length; longer ones are refused, not cut.
constexpr int32_t kMaxChatBubbleText = 144;

TextLabelPool* Labels() { return TheGameServer != nullptr ? TheGameServer->GetTextLabelPool() : nullptr; }

// The pool when the id argument names a label in use, else null.
TextLabelPool* LabelsWith(cell value) {
    TextLabelPool* labels = Labels();
    return labels != nullptr && labels->IsUsed(NativeId(value)) ? labels : nullptr;
}

// A text argument of any length; a bad address reads as the empty text.
std::string TextArg(VmInstance* vm, cell address) {
    std::string text;
    if (!ReadScriptString(vm, address, text)) text.clear();
    return text;
}

Vector3 VectorArgs(const cell* params, int first) {
    return {CellToFloat(params[first]), CellToFloat(params[first + 1]), CellToFloat(params[first + 2])};
}

// Create3DTextLabel(text[], colour, Float:x, Float:y, Float:z, Float:drawDistance, virtualWorld,
//                   testLOS)
cell n_Create3DTextLabel(VmInstance* vm, const cell* params) {
    TextLabelPool* labels = Labels();
    if (labels == nullptr || !HasNativeArgs(vm, params, 8)) return kNoLabel;
    const std::string text = TextArg(vm, params[1]);
    return labels->Create(text.c_str(), static_cast<uint32_t>(params[2]), VectorArgs(params, 3),
                          CellToFloat(params[6]), params[7], static_cast<uint8_t>(params[8] & 0xFF));
}

// Delete3DTextLabel(label)
cell n_Delete3DTextLabel(VmInstance* vm, const cell* params) {
    TextLabelPool* labels = HasNativeArgs(vm, params, 1) ? LabelsWith(params[1]) : nullptr;
    return labels != nullptr ? labels->Delete(NativeId(params[1])) : 0;
}

// Attach3DTextLabelToPlayer(label, player, Float:offsetX, Float:offsetY, Float:offsetZ)
cell n_Attach3DTextLabelToPlayer(VmInstance* vm, const cell* params) {
    TextLabelPool* labels = HasNativeArgs(vm, params, 5) ? LabelsWith(params[1]) : nullptr;
    if (labels == nullptr) return 0;
    return labels->AttachToPlayer(NativeId(params[1]), NativeId(params[2]), VectorArgs(params, 3));
}

// Attach3DTextLabelToVehicle(label, vehicle, Float:offsetX, Float:offsetY, Float:offsetZ)
cell n_Attach3DTextLabelToVehicle(VmInstance* vm, const cell* params) {
    TextLabelPool* labels = HasNativeArgs(vm, params, 5) ? LabelsWith(params[1]) : nullptr;
    if (labels == nullptr) return 0;
    return labels->AttachToVehicle(NativeId(params[1]), NativeId(params[2]), VectorArgs(params, 3));
}

// Update3DTextLabelText(label, colour, text[])
cell n_Update3DTextLabelText(VmInstance* vm, const cell* params) {
    TextLabelPool* labels = HasNativeArgs(vm, params, 3) ? LabelsWith(params[1]) : nullptr;
    if (labels == nullptr) return 0;
    const std::string text = TextArg(vm, params[3]);
    labels->UpdateText(NativeId(params[1]), static_cast<uint32_t>(params[2]), text.c_str());
    return 1;
}

// CreatePlayer3DTextLabel(player, text[], colour, Float:x, Float:y, Float:z, Float:drawDistance,
//                         attachedPlayer, attachedVehicle, testLOS): the attached ids are the
// client's concern and go as given.
cell n_CreatePlayer3DTextLabel(VmInstance* vm, const cell* params) {
    PlayerLabelPool* labels =
        HasNativeArgs(vm, params, 10) ? NativePlayerPool(params[1], &Player::GetLabelPool) : nullptr;
    if (labels == nullptr) return kNoLabel;
    const std::string text = TextArg(vm, params[2]);
    return labels->Create(text, static_cast<uint32_t>(params[3]), VectorArgs(params, 4),
                          CellToFloat(params[7]), NativeId(params[8]), NativeId(params[9]),
                          static_cast<uint8_t>(params[10] & 0xFF));
}

// DeletePlayer3DTextLabel(player, label)
cell n_DeletePlayer3DTextLabel(VmInstance* vm, const cell* params) {
    PlayerLabelPool* labels = HasNativeArgs(vm, params, 2)
                                  ? NativePlayerPoolWith(params[1], &Player::GetLabelPool, params[2])
                                  : nullptr;
    return labels != nullptr && labels->Delete(NativeId(params[2])) ? 1 : 0;
}

// UpdatePlayer3DTextLabelText(player, label, colour, text[])
cell n_UpdatePlayer3DTextLabelText(VmInstance* vm, const cell* params) {
    PlayerLabelPool* labels = HasNativeArgs(vm, params, 4)
                                  ? NativePlayerPoolWith(params[1], &Player::GetLabelPool, params[2])
                                  : nullptr;
    if (labels == nullptr) return 0;
    const std::string text = TextArg(vm, params[4]);
    return labels->UpdateText(NativeId(params[2]), static_cast<uint32_t>(params[3]), text) ? 1 : 0;
}

// SetPlayerChatBubble(player, text[], colour, Float:drawDistance, expireTime): to the players who
// have him streamed in, not to himself; nothing is kept.
cell n_SetPlayerChatBubble(VmInstance* vm, const cell* params) {
    Player* player = HasNativeArgs(vm, params, 5) ? NativeConnectedPlayer(params[1]) : nullptr;
    if (player == nullptr) return 0;
    const uint8_t state = player->GetState();
    if (state == PLAYER_STATE_NONE || state == PLAYER_STATE_SPECTATING) return 0;
    const int32_t length = ScriptStringLength(vm, params[2]);
    if (length > kMaxChatBubbleText) return 0;
    char text[kMaxChatBubbleText + 1] = {};
    const size_t read = length > 0 ? ReadScriptString(vm, params[2], text, sizeof text) : 0;
    BitStream bs;
    bs.Write(NativeId(params[1]));
    bs.Write(static_cast<uint32_t>(params[3]));
    bs.Write(CellToFloat(params[4]));
    bs.Write(static_cast<uint32_t>(params[5]));
    bs.Write(static_cast<uint8_t>(read));
    bs.WriteBytes(text, static_cast<int32_t>(read));
    TheGameServer->SendRpcToPlayersStreamingPlayer(RPC_ChatBubbleSet, &bs, NativeId(params[1]),
                                                   RpcChannel::World);
    return 1;
}

const VmNativeEntry kLabelNatives[] = {
    {"Create3DTextLabel", n_Create3DTextLabel},
    {"Delete3DTextLabel", n_Delete3DTextLabel},
    {"Attach3DTextLabelToPlayer", n_Attach3DTextLabelToPlayer},
    {"Attach3DTextLabelToVehicle", n_Attach3DTextLabelToVehicle},
    {"Update3DTextLabelText", n_Update3DTextLabelText},
    {"CreatePlayer3DTextLabel", n_CreatePlayer3DTextLabel},
    {"DeletePlayer3DTextLabel", n_DeletePlayer3DTextLabel},
    {"UpdatePlayer3DTextLabelText", n_UpdatePlayer3DTextLabelText},
    {"SetPlayerChatBubble", n_SetPlayerChatBubble},
};

}  // namespace

ScriptNativeRows LabelNatives() { return kLabelNatives; }

}  // namespace velt
