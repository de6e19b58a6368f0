// The natives that put text and sound in front of players: client messages, chat lines on behalf of
// a player, kill-list entries, game text, dialogs, audio streams, sounds, crime reports and the
// shop name. Only ShowPlayerDialog keeps anything (the dialog whose answer the scripts await).

#include <algorithm>
#include <cstring>
#include <string>

#include "net/BitStream.h"
#include "net/StringCompressor.h"
#include "server/game/GameServer.h"
#include "server/game/Player.h"
#include "server/game/PlayerPool.h"
#include "server/natives/NativeIds.h"
#include "server/natives/ScriptNatives.h"
#include "server/shared/GameRpc.h"
#include "server/world/WorldPools.h"

namespace velt {

namespace {

// The client-message writer's buffer: a longer text is cut to 1023 bytes.
constexpr size_t kClientMessageBuffer = 1024;
// Texts behind a one-byte length: a longer one is cut to 255 bytes, so that the length byte and
// the bytes that follow it always agree.
constexpr size_t kShortTextBuffer = 256;
// A dialog's body travels compressed behind a 16-bit bit count; 4095 characters always fit.
constexpr size_t kDialogInfoBuffer = 4096;
constexpr size_t kShopNameField = 32;

// The suspect's state decides what a crime report describes.
constexpr uint32_t kCrimeInVehicle = 1;

// A text argument cut to the buffer; a bad address reads as the empty text.
template <size_t N>
size_t TextArg(VmInstance* vm, cell address, char (&buffer)[N]) {
    return ReadScriptString(vm, address, buffer, N);
}

// A text argument of any length; a bad address reads as the empty text.
std::string LongTextArg(VmInstance* vm, cell address) {
    std::string text;
    if (!ReadScriptString(vm, address, text)) text.clear();
    return text;
}

void WriteShortText(BitStream& bs, const char* text, size_t length) {
    length = std::min<size_t>(length, 255);
    bs.Write(static_cast<uint8_t>(length));
    if (length > 0) bs.WriteBytes(text, static_cast<int32_t>(length));
}

void WritePosition(BitStream& bs, const Vector3& where) {
    bs.Write(where.x);
    bs.Write(where.y);
    bs.Write(where.z);
}

void WriteLongText(BitStream& bs, const char* text, size_t length) {
    bs.Write(static_cast<uint32_t>(length));
    if (length > 0) bs.WriteBytes(text, static_cast<int32_t>(length));
}

// ---- client messages and chat lines ---------------------------------------------------------

// SendClientMessage(player, colour, const message[]): the text goes as it stands. It is often
// what a player typed, so it must never be read as a format.
cell n_SendClientMessage(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 3) || NativeConnectedPlayer(params[1]) == nullptr) return 0;
    char text[kClientMessageBuffer];
    TextArg(vm, params[3], text);
    TheGameServer->SendClientMessageText(NativeId(params[1]), static_cast<uint32_t>(params[2]), text);
    return 1;
}

// SendClientMessageToAll(colour, const message[])
cell n_SendClientMessageToAll(VmInstance* vm, const cell* params) {
    if (TheGameServer == nullptr || !HasNativeArgs(vm, params, 2)) return 0;
    char text[kClientMessageBuffer];
    const size_t length = TextArg(vm, params[2], text);
    BitStream bs;
    bs.Write(static_cast<uint32_t>(params[1]));
    WriteLongText(bs, text, length);
    TheGameServer->SendRpcToAll(RPC_ClientMessage, &bs, kNoPlayer, RpcChannel::ClientMessage);
    return 1;
}

void WriteChatLine(BitStream& bs, uint16_t sender, VmInstance* vm, cell address) {
    char text[kShortTextBuffer];
    const size_t length = TextArg(vm, address, text);
    bs.Write(sender);
    WriteShortText(bs, text, length);
}

// SendPlayerMessageToPlayer(player, sender, const message[])
cell n_SendPlayerMessageToPlayer(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 3) || NativeConnectedPlayer(params[1]) == nullptr ||
        NativeConnectedPlayer(params[2]) == nullptr)
        return 0;
    BitStream bs;
    WriteChatLine(bs, NativeId(params[2]), vm, params[3]);
    TheGameServer->SendRpcToPlayer(RPC_ChatText, &bs, NativeId(params[1]), RpcChannel::ClientMessage);
    return 1;
}

// SendPlayerMessageToAll(sender, const message[]): the sender sees his own line too.
cell n_SendPlayerMessageToAll(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 2) || NativeConnectedPlayer(params[1]) == nullptr) return 0;
    BitStream bs;
    WriteChatLine(bs, NativeId(params[1]), vm, params[2]);
    TheGameServer->SendRpcToAll(RPC_ChatText, &bs, kNoPlayer, RpcChannel::ClientMessage);
    return 1;
}

void WriteDeathMessage(BitStream& bs, cell killer, cell killee, cell weapon) {
    bs.Write(NativeId(killer));
    bs.Write(NativeId(killee));
    bs.Write(static_cast<uint8_t>(weapon & 0xFF));
}

// SendDeathMessage(killer, killee, weapon): the ids are the client's to resolve (0xFFFF none).
cell n_SendDeathMessage(VmInstance* vm, const cell* params) {
    if (TheGameServer == nullptr || !HasNativeArgs(vm, params, 3)) return 0;
    BitStream bs;
    WriteDeathMessage(bs, params[1], params[2], params[3]);
    TheGameServer->SendRpcToAll(RPC_DeathMessage, &bs, kNoPlayer, RpcChannel::ClientMessage);
    return 1;
}

// SendDeathMessageToPlayer(player, killer, killee, weapon): 1 whoever the player is; the send
// itself drops a message to nobody.
cell n_SendDeathMessageToPlayer(VmInstance* vm, const cell* params) {
    if (TheGameServer == nullptr || !HasNativeArgs(vm, params, 4)) return 0;
    BitStream bs;
    WriteDeathMessage(bs, params[2], params[3], params[4]);
    TheGameServer->SendRpcToPlayer(RPC_DeathMessage, &bs, NativeId(params[1]), RpcChannel::ClientMessage);
    return 1;
}

// ---- game text ------------------------------------------------------------------------------

// Empty when there is nothing to show.
bool WriteGameText(BitStream& bs, VmInstance* vm, cell text, cell time, cell style) {
    const std::string shown = LongTextArg(vm, text);
    if (shown.empty()) return false;
    bs.Write(static_cast<uint32_t>(style));
    bs.Write(static_cast<uint32_t>(time));
    WriteLongText(bs, shown.data(), shown.size());
    return true;
}

// GameTextForAll(const text[], time, style)
cell n_GameTextForAll(VmInstance* vm, const cell* params) {
    if (TheGameServer == nullptr || !HasNativeArgs(vm, params, 3)) return 0;
    BitStream bs;
    if (!WriteGameText(bs, vm, params[1], params[2], params[3])) return 0;
    TheGameServer->SendRpcToAll(RPC_GameTextShow, &bs, kNoPlayer, RpcChannel::ClientMessage);
    return 1;
}

// GameTextForPlayer(player, const text[], time, style)
cell n_GameTextForPlayer(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 4) || NativeConnectedPlayer(params[1]) == nullptr) return 0;
    BitStream bs;
    if (!WriteGameText(bs, vm, params[2], params[3], params[4])) return 0;
    TheGameServer->SendRpcToPlayer(RPC_GameTextShow, &bs, NativeId(params[1]), RpcChannel::ClientMessage);
    return 1;
}

// ---- dialogs --------------------------------------------------------------------------------

// ShowPlayerDialog(player, dialog, style, const caption[], const info[], const button1[],
//                  const button2[]): only an answer to this dialog reaches the scripts later.
cell n_ShowPlayerDialog(VmInstance* vm, const cell* params) {
    Player* player = HasNativeArgs(vm, params, 7) ? NativeConnectedPlayer(params[1]) : nullptr;
    if (player == nullptr) return 0;
    const uint16_t dialog = NativeId(params[2]);
    BitStream bs;
    bs.Write(dialog);
    bs.Write(static_cast<uint8_t>(params[3] & 0xFF));
    for (int arg : {4, 6, 7}) {
        char text[kShortTextBuffer];
        const size_t length = TextArg(vm, params[arg], text);
        WriteShortText(bs, text, length);
    }
    char info[kDialogInfoBuffer];
    const size_t length = TextArg(vm, params[5], info);
    StringCompressor::Instance()->EncodeString(info, static_cast<int32_t>(length + 1), bs);
    TheGameServer->SendRpcToPlayer(RPC_DialogShow, &bs, NativeId(params[1]), RpcChannel::World);
    player->SetDialogId(dialog);
    return 1;
}

// ---- sound ----------------------------------------------------------------------------------

// PlayAudioStreamForPlayer(player, const url[], Float:x, Float:y, Float:z, Float:distance,
//                          usepos)
cell n_PlayAudioStreamForPlayer(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 7) || NativeConnectedPlayer(params[1]) == nullptr) return 0;
    char url[kShortTextBuffer];
    const size_t length = TextArg(vm, params[2], url);
    BitStream bs;
    WriteShortText(bs, url, length);
    for (int arg = 3; arg <= 6; ++arg) bs.Write(CellToFloat(params[arg]));
    bs.Write(static_cast<uint8_t>(params[7] & 0xFF));
    TheGameServer->SendRpcToPlayer(RPC_AudioStreamPlay, &bs, NativeId(params[1]), RpcChannel::World);
    return 1;
}

// StopAudioStreamForPlayer(player)
cell n_StopAudioStreamForPlayer(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 1) || NativeConnectedPlayer(params[1]) == nullptr) return 0;
    BitStream bs;
    TheGameServer->SendRpcToPlayer(RPC_AudioStreamStop, &bs, NativeId(params[1]), RpcChannel::World);
    return 1;
}

// PlayerPlaySound(player, sound, Float:x, Float:y, Float:z)
cell n_PlayerPlaySound(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 5) || NativeConnectedPlayer(params[1]) == nullptr) return 0;
    BitStream bs;
    bs.Write(static_cast<uint32_t>(params[2]));
    for (int arg = 3; arg <= 5; ++arg) bs.Write(CellToFloat(params[arg]));
    TheGameServer->SendRpcToPlayer(RPC_PlayerSoundPlay, &bs, NativeId(params[1]), RpcChannel::World);
    return 1;
}

// PlayCrimeReportForPlayer(player, suspect, crime): the report names the suspect's vehicle when he
// drives or rides, else the suspect on foot; a suspect in any other state cannot be reported.
cell n_PlayCrimeReportForPlayer(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 3) || NativeConnectedPlayer(params[1]) == nullptr) return 0;
    const Player* suspect = NativeConnectedPlayer(params[2]);
    if (suspect == nullptr) return 0;
    BitStream bs;
    bs.Write(NativeId(params[2]));
    const uint8_t state = suspect->GetState();
    if (state == PLAYER_STATE_DRIVER || state == PLAYER_STATE_PASSENGER) {
        VehiclePool* vehicles = TheGameServer->GetVehiclePool();
        const Vehicle* vehicle = vehicles != nullptr ? vehicles->Get(suspect->GetVehicleId()) : nullptr;
        if (vehicle == nullptr) return 0;
        const int32_t colour =
            vehicle->GetResprayColour1() != -1 ? vehicle->GetResprayColour1() : vehicle->GetSpawnColour1();
        bs.Write(kCrimeInVehicle);
        bs.Write(vehicle->GetModel());
        bs.Write(colour);
        bs.Write(static_cast<uint32_t>(params[3]));
        WritePosition(bs, vehicle->GetPosition());
    } else if (state == PLAYER_STATE_ONFOOT) {
        bs.Write(uint32_t(0));
        bs.Write(uint32_t(0));
        bs.Write(uint32_t(0));
        bs.Write(static_cast<uint32_t>(params[3]));
        WritePosition(bs, suspect->GetPosition());
    } else {
        return 0;
    }
    TheGameServer->SendRpcToPlayer(RPC_CrimeReportPlay, &bs, NativeId(params[1]), RpcChannel::World);
    return 1;
}

// SetPlayerShopName(player, const name[]): the name fills a fixed field with room for its end.
cell n_SetPlayerShopName(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 2) || NativeConnectedPlayer(params[1]) == nullptr) return 0;
    const int32_t length = ScriptStringLength(vm, params[2]);
    if (length < 0 || size_t(length) >= kShopNameField) return 0;
    char name[kShopNameField] = {};
    TextArg(vm, params[2], name);
    BitStream bs;
    bs.WriteBytes(name, static_cast<int32_t>(kShopNameField));
    TheGameServer->SendRpcToPlayer(RPC_ShopNameSet, &bs, NativeId(params[1]), RpcChannel::World);
    return 1;
}

}  // namespace

static const VmNativeEntry kPlayerMessageNatives[] = {
    {"SendClientMessage", n_SendClientMessage},
    {"SendClientMessageToAll", n_SendClientMessageToAll},
    {"SendPlayerMessageToPlayer", n_SendPlayerMessageToPlayer},
    {"SendPlayerMessageToAll", n_SendPlayerMessageToAll},
    {"SendDeathMessage", n_SendDeathMessage},
    {"SendDeathMessageToPlayer", n_SendDeathMessageToPlayer},
    {"GameTextForAll", n_GameTextForAll},
    {"GameTextForPlayer", n_GameTextForPlayer},
    {"ShowPlayerDialog", n_ShowPlayerDialog},
    {"PlayAudioStreamForPlayer", n_PlayAudioStreamForPlayer},
    {"StopAudioStreamForPlayer", n_StopAudioStreamForPlayer},
    {"PlayerPlaySound", n_PlayerPlaySound},
    {"PlayCrimeReportForPlayer", n_PlayCrimeReportForPlayer},
    {"SetPlayerShopName", n_SetPlayerShopName},
};

ScriptNativeRows PlayerMessageNatives() { return kPlayerMessageNatives; }

}  // namespace velt
