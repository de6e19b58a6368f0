#pragma once

// The general natives that belong to no game object: printing and formatting, timers, the tick
// count, gamemode control, console commands, calling publics across scripts, and a few world
// settings (print, printf, format, SetTimer, SetTimerEx, KillTimer, GetTickCount, GetMaxPlayers,
// LimitGlobalChatRadius, LimitPlayerMarkerRadius, GameModeExit, SetGameModeText, SetTeamCount,
// SendRconCommand, CallRemoteFunction, CallLocalFunction, SetDeathDropAmount, GetGravity).
//
// They act on TheGameServer and ServerConsole; while either is missing, the natives that need it
// do nothing and return 0.

#include "server/natives/ScriptNatives.h"

namespace velt {

class VmScriptTimers;

ScriptNativeRows CoreNatives();

// The timer table the timer natives use: the game server's, when it keeps VM timers.
VmScriptTimers* CurrentScriptTimers();

// The argument limits of the natives that take variable arguments.
inline constexpr int32_t kSetTimerExMinArgs = 4;
inline constexpr int32_t kSetTimerExMaxArgs = 260;
inline constexpr int32_t kCallFunctionMinArgs = 2;
inline constexpr int32_t kCallFunctionMaxArgs = 258;

}  // namespace velt
