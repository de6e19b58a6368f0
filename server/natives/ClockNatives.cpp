// The natives of the time of day: the world's hour that every client shows, and a player's own
// clock, which runs on the server once the scripts turn it on.
//
// Player ids are the low 16 bits of their cell; a bad id or a player who is not connected gives
// 0 at once, without a log line.

#include <cmath>

#include "server/game/GameServer.h"
#include "server/game/Player.h"
#include "server/natives/NativeIds.h"
#include "server/natives/ScriptNatives.h"

namespace velt {

namespace {

constexpr float kMinutesInDay = 1440.0f;

// The player's running clock passes midnight between two of its resyncs; a script asking then
// gets the time of the new day, not an hour of 24 or more.
int32_t MinuteOfDay(float clock) {
    if (!(clock >= 0.0f)) return 0;
    return static_cast<int32_t>(std::fmod(clock, kMinutesInDay));
}

// SetWorldTime(hour): the low byte, for every player and the "worldtime" rule.
cell n_SetWorldTime(VmInstance* vm, const cell* params) {
    if (TheGameServer != nullptr && HasNativeArgs(vm, params, 1))
        TheGameServer->SetWorldTime(static_cast<uint8_t>(params[1]));
    return 1;
}

// SetPlayerTime(player, hour, minute)
cell n_SetPlayerTime(VmInstance* vm, const cell* params) {
    Player* player = HasNativeArgs(vm, params, 3) ? NativeConnectedPlayer(params[1]) : nullptr;
    if (player == nullptr) return 0;
    player->SetTime(static_cast<uint8_t>(params[2]), static_cast<uint8_t>(params[3]));
    return 1;
}

// GetPlayerTime(player, &hour, &minute): his own clock while it runs, else the world's hour.
cell n_GetPlayerTime(VmInstance* vm, const cell* params) {
    Player* player = HasNativeArgs(vm, params, 3) ? NativeConnectedPlayer(params[1]) : nullptr;
    if (player == nullptr) return 0;
    const int32_t minutes = player->IsClockEnabled() ? MinuteOfDay(player->GetClock())
                                                     : int32_t(TheGameServer->world.worldTimeHour) * 60;
    const bool wrote =
        SetScriptCell(vm, params[2], minutes / 60) && SetScriptCell(vm, params[3], minutes % 60);
    return wrote ? 1 : 0;
}

// TogglePlayerClock(player, toggle)
cell n_TogglePlayerClock(VmInstance* vm, const cell* params) {
    Player* player = HasNativeArgs(vm, params, 2) ? NativeConnectedPlayer(params[1]) : nullptr;
    if (player == nullptr) return 0;
    player->ToggleClock(params[2] != 0);
    return 1;
}

const VmNativeEntry kClockNatives[] = {
    {"SetWorldTime", n_SetWorldTime},
    {"SetPlayerTime", n_SetPlayerTime},
    {"GetPlayerTime", n_GetPlayerTime},
    {"TogglePlayerClock", n_TogglePlayerClock},
};

}  // namespace

ScriptNativeRows ClockNatives() { return kClockNatives; }

}  // namespace velt
