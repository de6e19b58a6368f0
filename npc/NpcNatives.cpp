#include "npc/NpcNatives.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>

#include "npc/NpcClock.h"
#include "npc/NpcFormat.h"
#include "npc/NpcLog.h"
#include "npc/net/netgame/NetGame.h"
#include "server/runtime/ScriptMemory.h"
#include "server/vm/vmlib_common.h"

namespace velt {

namespace {

// The natives whose arguments must match exactly: a mismatch is reported and the call does nothing.
// (The server's natives check a range instead, and only where they take variable arguments.)
bool CheckCount(VmInstance* vm, const cell* params, int32_t expected) {
    const int32_t count = vmlib::ArgCount(vm, params);
    if (count == expected) return true;
    NpcLog("SCRIPT: Bad parameter count (Count is %d, Should be %d): ", count, expected);
    return false;
}

uint16_t IdArg(cell value) { return uint16_t(ucell(value) & 0xFFFFu); }

constexpr float kDegreesPerRadian = 180.0f / 3.1415927f;

// Writes through several reference arguments, or through none when any of them is bad.
bool SetCells(VmInstance* vm, std::initializer_list<cell> addresses, std::initializer_list<cell> values) {
    for (cell address : addresses)
        if (ScriptCellAddress(vm, ucell(address), 1) == nullptr) return false;
    auto value = values.begin();
    for (cell address : addresses) SetScriptCell(vm, address, *value++);
    return true;
}

std::string TextArg(VmInstance* vm, cell address) {
    std::string text;
    ReadScriptString(vm, address, text);
    return text;
}

NpcPlayerPool* Players() {
    NetGame* game = TheNetGame();
    return game != nullptr ? &game->Players() : nullptr;
}

// The player an id argument names when he is connected, else null.
NpcPlayerPool* ConnectedPlayers(cell id) {
    NpcPlayerPool* players = Players();
    return players != nullptr && players->IsConnected(IdArg(id)) ? players : nullptr;
}

cell n_print(VmInstance* vm, const cell* params) {
    if (vmlib::ArgCount(vm, params) >= 1) TextArg(vm, params[1]);
    return 0;
}

cell n_printf(VmInstance*, const cell*) { return 0; }

cell n_GetTickCount(VmInstance* vm, const cell* params) {
    if (!CheckCount(vm, params, 0)) return 0;
    return cell(NpcTickMs());
}

template <float (*Fn)(float)>
cell DegreesOf(VmInstance* vm, const cell* params) {
    if (!CheckCount(vm, params, 1)) return 0;
    return FloatToCell(Fn(CellToFloat(params[1])) * kDegreesPerRadian);
}

float Asin(float v) { return std::asin(v); }
float Acos(float v) { return std::acos(v); }
float Atan(float v) { return std::atan(v); }

cell n_atan2(VmInstance* vm, const cell* params) {
    if (!CheckCount(vm, params, 2)) return 0;
    return FloatToCell(std::atan2(CellToFloat(params[1]), CellToFloat(params[2])) * kDegreesPerRadian);
}

// StartRecordingPlayback(playbacktype, const recordname[])
cell n_StartRecordingPlayback(VmInstance* vm, const cell* params) {
    NetGame* game = TheNetGame();
    if (game == nullptr || vmlib::ArgCount(vm, params) < 2) return 1;
    game->StartPlayback(params[1], TextArg(vm, params[2]).c_str());
    return 1;
}

cell n_StopRecordingPlayback(VmInstance*, const cell*) {
    if (NetGame* game = TheNetGame()) game->Playback().Stop();
    return 1;
}

cell n_PauseRecordingPlayback(VmInstance*, const cell*) {
    if (NetGame* game = TheNetGame()) game->Playback().Pause();
    return 1;
}

cell n_ResumeRecordingPlayback(VmInstance*, const cell*) {
    if (NetGame* game = TheNetGame()) game->Playback().Resume(NpcTickMs());
    return 1;
}

cell n_SendChat(VmInstance* vm, const cell* params) {
    NetGame* game = TheNetGame();
    if (game != nullptr && vmlib::ArgCount(vm, params) >= 1) game->SendChat(TextArg(vm, params[1]).c_str());
    return 1;
}

cell n_SendCommand(VmInstance* vm, const cell* params) {
    NetGame* game = TheNetGame();
    if (game != nullptr && vmlib::ArgCount(vm, params) >= 1)
        game->SendCommand(TextArg(vm, params[1]).c_str());
    return 1;
}

// The getters that answer one number about a connected player, 0 otherwise.
template <int32_t (NpcPlayerPool::*Get)(uint16_t) const>
cell PlayerNumber(VmInstance* vm, const cell* params) {
    NpcPlayerPool* players = vmlib::ArgCount(vm, params) >= 1 ? ConnectedPlayers(params[1]) : nullptr;
    return players != nullptr ? (players->*Get)(IdArg(params[1])) : 0;
}

cell n_GetPlayerVehicleID(VmInstance* vm, const cell* params) {
    NpcPlayerPool* players = vmlib::ArgCount(vm, params) >= 1 ? ConnectedPlayers(params[1]) : nullptr;
    return players != nullptr ? cell(uint16_t(players->GetVehicleId(IdArg(params[1])))) : 0;
}

// GetPlayerPos(playerid, &Float:x, &Float:y, &Float:z)
cell n_GetPlayerPos(VmInstance* vm, const cell* params) {
    NpcPlayerPool* players = vmlib::ArgCount(vm, params) >= 4 ? ConnectedPlayers(params[1]) : nullptr;
    Vector3 p;
    if (players == nullptr || !players->GetPosition(IdArg(params[1]), p)) return 0;
    return SetCells(vm, {params[2], params[3], params[4]},
                    {FloatToCell(p.x), FloatToCell(p.y), FloatToCell(p.z)})
               ? 1
               : 0;
}

cell n_IsPlayerStreamedIn(VmInstance* vm, const cell* params) {
    NpcPlayerPool* players = vmlib::ArgCount(vm, params) >= 1 ? ConnectedPlayers(params[1]) : nullptr;
    return players != nullptr && players->IsStreamedIn(IdArg(params[1])) ? 1 : 0;
}

cell n_IsVehicleStreamedIn(VmInstance* vm, const cell* params) {
    NetGame* game = TheNetGame();
    if (game == nullptr || vmlib::ArgCount(vm, params) < 1) return 0;
    const uint16_t id = IdArg(params[1]);
    return game->Vehicles().IsPresent(id) && game->Vehicles().IsStreamedIn(id) ? 1 : 0;
}

// GetPlayerKeys(playerid, &keys, &updown, &leftright)
cell n_GetPlayerKeys(VmInstance* vm, const cell* params) {
    NpcPlayerPool* players = vmlib::ArgCount(vm, params) >= 4 ? ConnectedPlayers(params[1]) : nullptr;
    NpcPlayerKeys keys;
    if (players == nullptr || !players->GetKeys(IdArg(params[1]), keys)) return 0;
    return SetCells(vm, {params[2], params[3], params[4]},
                    {cell(keys.keys), cell(keys.upDown), cell(keys.leftRight)})
               ? 1
               : 0;
}

// GetMyPos(&Float:x, &Float:y, &Float:z): the origin before the bot has a position of its own.
cell n_GetMyPos(VmInstance* vm, const cell* params) {
    NetGame* game = TheNetGame();
    if (game == nullptr || vmlib::ArgCount(vm, params) < 3) return 0;
    Vector3 p;
    game->Self().GetPosition(p);
    SetCells(vm, {params[1], params[2], params[3]}, {FloatToCell(p.x), FloatToCell(p.y), FloatToCell(p.z)});
    return 1;
}

cell n_SetMyPos(VmInstance* vm, const cell* params) {
    NetGame* game = TheNetGame();
    if (game == nullptr || vmlib::ArgCount(vm, params) < 3) return 0;
    game->Self().SetPosition({CellToFloat(params[1]), CellToFloat(params[2]), CellToFloat(params[3])});
    return 1;
}

cell n_GetMyFacingAngle(VmInstance* vm, const cell* params) {
    NetGame* game = TheNetGame();
    if (game == nullptr || vmlib::ArgCount(vm, params) < 1) return 0;
    SetScriptCell(vm, params[1], FloatToCell(game->Self().GetFacing()));
    return 1;
}

cell n_SetMyFacingAngle(VmInstance* vm, const cell* params) {
    NetGame* game = TheNetGame();
    if (game == nullptr || vmlib::ArgCount(vm, params) < 1) return 0;
    game->Self().SetFacing(CellToFloat(params[1]));
    return 1;
}

// GetDistanceFromMeToPoint(Float:x, Float:y, Float:z, &Float:distance)
cell n_GetDistanceFromMeToPoint(VmInstance* vm, const cell* params) {
    NetGame* game = TheNetGame();
    if (game == nullptr || vmlib::ArgCount(vm, params) < 4) return 0;
    const Vector3 point{CellToFloat(params[1]), CellToFloat(params[2]), CellToFloat(params[3])};
    SetScriptCell(vm, params[4], FloatToCell(game->Self().DistanceTo(point)));
    return 1;
}

// IsPlayerInRangeOfPoint(playerid, Float:range, Float:x, Float:y, Float:z)
cell n_IsPlayerInRangeOfPoint(VmInstance* vm, const cell* params) {
    NpcPlayerPool* players = vmlib::ArgCount(vm, params) >= 5 ? ConnectedPlayers(params[1]) : nullptr;
    Vector3 p;
    if (players == nullptr || !players->GetPosition(IdArg(params[1]), p)) return 0;
    const float range = CellToFloat(params[2]);
    const float dx = p.x - CellToFloat(params[3]), dy = p.y - CellToFloat(params[4]),
                dz = p.z - CellToFloat(params[5]);
    return range * range >= dx * dx + dy * dy + dz * dz ? 1 : 0;
}

// GetPlayerName(playerid, name[], len)
cell n_GetPlayerName(VmInstance* vm, const cell* params) {
    NpcPlayerPool* players = vmlib::ArgCount(vm, params) >= 3 ? ConnectedPlayers(params[1]) : nullptr;
    if (players == nullptr) return 0;
    const char* name = players->GetName(IdArg(params[1]));
    return StoreScriptText(vm, params[2], params[3], name, std::strlen(name), ScriptCharCells::ZeroExtend);
}

cell n_IsPlayerConnected(VmInstance* vm, const cell* params) {
    return vmlib::ArgCount(vm, params) >= 1 && ConnectedPlayers(params[1]) != nullptr ? 1 : 0;
}

const VmNativeEntry kNatives[] = {
    {"print", n_print},
    {"printf", n_printf},
    {"format", NpcNative_format},
    {"SetTimer", NpcNative_SetTimer},
    {"KillTimer", NpcNative_KillTimer},
    {"GetTickCount", n_GetTickCount},
    {"asin", DegreesOf<Asin>},
    {"acos", DegreesOf<Acos>},
    {"atan2", n_atan2},
    {"atan", DegreesOf<Atan>},
    {"StartRecordingPlayback", n_StartRecordingPlayback},
    {"StopRecordingPlayback", n_StopRecordingPlayback},
    {"PauseRecordingPlayback", n_PauseRecordingPlayback},
    {"ResumeRecordingPlayback", n_ResumeRecordingPlayback},
    {"SendChat", n_SendChat},
    {"SendCommand", n_SendCommand},
    {"GetPlayerState", PlayerNumber<&NpcPlayerPool::GetState>},
    {"GetPlayerPos", n_GetPlayerPos},
    {"GetPlayerVehicleID", n_GetPlayerVehicleID},
    {"GetPlayerArmedWeapon", PlayerNumber<&NpcPlayerPool::GetArmedWeapon>},
    {"GetPlayerHealth", PlayerNumber<&NpcPlayerPool::GetHealth>},
    {"GetPlayerArmour", PlayerNumber<&NpcPlayerPool::GetArmour>},
    {"GetPlayerSpecialAction", PlayerNumber<&NpcPlayerPool::GetSpecialAction>},
    {"IsPlayerStreamedIn", n_IsPlayerStreamedIn},
    {"IsVehicleStreamedIn", n_IsVehicleStreamedIn},
    {"GetPlayerKeys", n_GetPlayerKeys},
    {"GetMyPos", n_GetMyPos},
    {"SetMyPos", n_SetMyPos},
    {"GetMyFacingAngle", n_GetMyFacingAngle},
    {"SetMyFacingAngle", n_SetMyFacingAngle},
    {"GetDistanceFromMeToPoint", n_GetDistanceFromMeToPoint},
    {"IsPlayerInRangeOfPoint", n_IsPlayerInRangeOfPoint},
    {"GetPlayerName", n_GetPlayerName},
    {"IsPlayerConnected", n_IsPlayerConnected},
    {"", nullptr},
};

}  // namespace

const VmNativeEntry* NpcNatives() { return kNatives; }

int RegisterNpcNatives(VmInstance* inst) { return vm_Register(inst, kNatives, -1); }

// format(output[], length, const format[], {Float,_}:...)
cell NpcNative_format(VmInstance* vm, const cell* params) {
    if (vmlib::ArgCount(vm, params) < 3) return 0;
    // One buffer for every call: formatting allocates nothing.
    static char buffer[kNpcFormatBufferSize];
    const int32_t length = NpcFormat(vm, params, 3, buffer, sizeof buffer);
    // The bot stores characters as unsigned bytes, and keeps any zero byte "%c" produced.
    return StoreScriptText(vm, params[1], params[2], buffer, size_t(length), ScriptCharCells::ZeroExtend);
}

// SetTimer(const funcname[], interval, repeating)
cell NpcNative_SetTimer(VmInstance* vm, const cell* params) {
    if (!CheckCount(vm, params, 3)) return 0;
    NetGame* game = TheNetGame();
    if (game == nullptr) return 0;
    char name[kTimerNameMax + 1];
    ReadScriptString(vm, params[1], name, sizeof name);
    return game->Timers().SetTimer(name, params[2], params[3] != 0, vm);
}

// KillTimer(timerid)
cell NpcNative_KillTimer(VmInstance* vm, const cell* params) {
    if (vmlib::ArgCount(vm, params) < 1) return 0;
    if (NetGame* game = TheNetGame()) game->Timers().KillTimer(params[1]);
    return 1;
}

}  // namespace velt
