#pragma once

// The server process from start to end, split into the steps the program runs in order: signal
// handlers, log, banner, connection secrets, console variables, "exec server", the refusal of the
// default remote-console password, read-only locking, the game server, the main loop and the
// ordered shutdown.

#include <atomic>
#include <cstdint>
#include <functional>

#include "server/console/ConsoleVariables.h"

namespace velt {

class Console;
class GameServer;
class ScriptHostFactory;
struct NetServerFactory;

// Secrets of the connection handshake: the challenge a joining client must answer, and the seed
// of the connection cookies (redrawn every "connseedtime" ms). Read by the transport's network
// thread, written by the main thread as single 32-bit stores.
extern std::atomic<uint32_t> ServerChallenge;
extern std::atomic<uint32_t> CookieSeed;

// 32 bits from the system's random source; these must not be guessable from the start time.
uint32_t DrawSecret();
// Draws ServerChallenge, then CookieSeed, and notes the time of the draw.
void DrawConnectionSecrets(uint32_t nowMs);
// Redraws CookieSeed when more than connSeedTime ms passed since the last draw. True when it did.
bool ReseedCookieIfDue(int32_t connSeedTime, uint32_t nowMs);

// Seconds since the previous call, from the monotonic clock (so a step of the wall clock cannot
// make a pass look hours long or negative); the first call returns 0.
double TickDeltaSeconds();

// The change callbacks that clamp "maxplayers", "stream_rate" and "stream_distance" and hand
// "password" to the transport once the game server exists.
ServerVariableCallbacks MakeServerVariableCallbacks(Console& console, ServerSettings& settings);

// The opening lines of the log.
void LogBanner();

// True (and the error logged) while "rcon_password" is still the shipped default.
bool RefuseDefaultPassword(const Console& console);

// One pass of the main loop without its sleep: the game's processing, a pending gamemode change,
// the cookie reseed, and the log reopen and ban reload that signals asked for.
void RunMainLoopPass(GameServer& game, const ServerSettings& settings);

// The whole program. perPass runs after every pass (the stand-in script hosts use it to drop
// what they recorded). Returns the exit status.
int RunServer(const NetServerFactory& net, ScriptHostFactory& scripts,
              const std::function<void()>& perPass = {});

}  // namespace velt
