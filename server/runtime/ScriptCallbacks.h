#pragma once

// Every callback the scripts may define, described once in VELT_SCRIPT_CALLBACKS: its arguments,
// the filterscripts' initial value and stop rule, the gamemode's initial value and kind. The host
// interfaces' dispatcher methods (server/game/ScriptServices.h), the constexpr table the hosts
// consult and the hosts' own method bodies are all expanded from that list, so a callback's
// arguments, defaults and stop rule cannot drift apart between the core, the stand-in and the real
// hosts. The bot's script runtime shares the table to find its publics.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace velt {

// How the filterscript side combines the results of the scripts that define the public
// (slots 0 to 15 in order; free slots and scripts without the public are skipped).
enum class FsRule : uint8_t {
    StopAtZero,     // first 0 ends the walk with 0; else the last result, or the initial value
    StopAtNonZero,  // first non-0 ends the walk with 1; else the last result, or the initial value
    AllLast,        // all run; the last result, or the initial value
    AllVeto,        // all run; 0 when any returned 0, else 1 (the initial value when none ran)
    AllAlwaysOne,   // all run; 1
};

// What the gamemode side checks and does besides running the public. Whenever the public does not
// run (no gamemode loaded, no such public, failed player test) the result is the initial value.
enum class GmKind : uint8_t {
    None,          // no gamemode dispatcher: the gamemode host runs this public itself
    Plain,         // runs the public, returns its result
    PlayerTest,    // runs only for a player id below 1000 whose slot is connected
    IgnoreResult,  // runs the public, always returns the initial value
    Chat,          // text read back after each script; broadcast when the final result is non-0
};

// Column order: name, parameter list, argument list, filterscript initial value, filterscript
// rule, gamemode initial value, gamemode kind. Parameters are 32-bit cells (int32_t), floats
// (passed as their bit pattern) and texts (const char*; char* for a text scripts may shorten).
#define VELT_SCRIPT_CALLBACKS(X)                                                                             \
    X(OnGameModeInit, (), (), 0, StopAtZero, 0, None)                                                        \
    X(OnGameModeExit, (), (), 0, StopAtZero, 0, None)                                                        \
    X(OnPlayerConnect, (int32_t playerid), (playerid), 0, StopAtZero, 0, Plain)                              \
    X(OnPlayerDisconnect, (int32_t playerid, int32_t reason), (playerid, reason), 0, StopAtZero, 0, Plain)   \
    X(OnPlayerSpawn, (int32_t playerid), (playerid), 0, StopAtZero, 0, Plain)                                \
    X(OnPlayerDeath, (int32_t playerid, int32_t killerid, int32_t reason), (playerid, killerid, reason), 0,  \
      StopAtZero, 0, Plain)                                                                                  \
    X(OnVehicleSpawn, (int32_t vehicleid), (vehicleid), 0, StopAtZero, 0, Plain)                             \
    X(OnVehicleDeath, (int32_t vehicleid, int32_t killerid), (vehicleid, killerid), 0, AllLast, 0, Plain)    \
    X(OnPlayerText, (int32_t playerid, char* text), (playerid, text), 1, StopAtZero, 1, Chat)                \
    X(OnPlayerCommandText, (int32_t playerid, const char* cmdtext), (playerid, cmdtext), 0, StopAtNonZero,   \
      0, PlayerTest)                                                                                         \
    X(OnPlayerRequestClass, (int32_t playerid, int32_t classid), (playerid, classid), 1, AllLast, 1,         \
      PlayerTest)                                                                                            \
    X(OnPlayerRequestSpawn, (int32_t playerid), (playerid), 1, StopAtZero, 1, PlayerTest)                    \
    X(OnPlayerEnterVehicle, (int32_t playerid, int32_t vehicleid, int32_t ispassenger),                      \
      (playerid, vehicleid, ispassenger), 0, AllLast, 0, PlayerTest)                                         \
    X(OnPlayerExitVehicle, (int32_t playerid, int32_t vehicleid), (playerid, vehicleid), 0, AllLast, 0,      \
      PlayerTest)                                                                                            \
    X(OnPlayerStateChange, (int32_t playerid, int32_t newstate, int32_t oldstate),                           \
      (playerid, newstate, oldstate), 0, AllLast, 0, PlayerTest)                                             \
    X(OnPlayerInteriorChange, (int32_t playerid, int32_t newinteriorid, int32_t oldinteriorid),              \
      (playerid, newinteriorid, oldinteriorid), 0, AllLast, 0, PlayerTest)                                   \
    X(OnPlayerEnterCheckpoint, (int32_t playerid), (playerid), 0, AllLast, 0, PlayerTest)                    \
    X(OnPlayerLeaveCheckpoint, (int32_t playerid), (playerid), 0, AllLast, 0, Plain)                         \
    X(OnPlayerEnterRaceCheckpoint, (int32_t playerid), (playerid), 0, AllLast, 0, Plain)                     \
    X(OnPlayerLeaveRaceCheckpoint, (int32_t playerid), (playerid), 0, AllLast, 0, Plain)                     \
    X(OnPlayerKeyStateChange, (int32_t playerid, int32_t newkeys, int32_t oldkeys),                          \
      (playerid, newkeys, oldkeys), 0, AllLast, 0, Plain)                                                    \
    /* Starts at 0: a line no filterscript handles still reaches the gamemode and, unhandled     \
       there too, gets the console's "Unknown command" line. */           \
    X(OnRconCommand, (const char* cmd), (cmd), 0, AllLast, 0, Plain)                                         \
    X(OnObjectMoved, (int32_t objectid), (objectid), 0, AllLast, 0, Plain)                                   \
    X(OnPlayerObjectMoved, (int32_t playerid, int32_t objectid), (playerid, objectid), 0, AllLast, 0, Plain) \
    X(OnPlayerPickUpPickup, (int32_t playerid, int32_t pickupid), (playerid, pickupid), 0, AllLast, 0,       \
      Plain)                                                                                                 \
    X(OnPlayerExitedMenu, (int32_t playerid), (playerid), 0, AllLast, 0, Plain)                              \
    X(OnPlayerSelectedMenuRow, (int32_t playerid, int32_t row), (playerid, row), 0, AllLast, 0, Plain)       \
    X(OnVehicleRespray, (int32_t playerid, int32_t vehicleid, int32_t color1, int32_t color2),               \
      (playerid, vehicleid, color1, color2), 1, AllLast, 1, Plain)                                           \
    X(OnVehicleMod, (int32_t playerid, int32_t vehicleid, int32_t componentid),                              \
      (playerid, vehicleid, componentid), 1, AllVeto, 1, Plain)                                              \
    X(OnEnterExitModShop, (int32_t playerid, int32_t enterexit, int32_t interiorid),                         \
      (playerid, enterexit, interiorid), 1, AllVeto, 1, Plain)                                               \
    X(OnVehiclePaintjob, (int32_t playerid, int32_t vehicleid, int32_t paintjobid),                          \
      (playerid, vehicleid, paintjobid), 1, AllLast, 1, Plain)                                               \
    X(OnScriptCash, (int32_t playerid, int32_t amount, int32_t source), (playerid, amount, source), 1,       \
      AllLast, 1, Plain)                                                                                     \
    X(OnRconLoginAttempt, (const char* ip, const char* password, int32_t success), (ip, password, success),  \
      1, AllAlwaysOne, 1, IgnoreResult)                                                                      \
    X(OnPlayerUpdate, (int32_t playerid), (playerid), 1, AllLast, 1, Plain)                                  \
    X(OnPlayerStreamIn, (int32_t playerid, int32_t forplayerid), (playerid, forplayerid), 1, AllLast, 1,     \
      Plain)                                                                                                 \
    X(OnPlayerStreamOut, (int32_t playerid, int32_t forplayerid), (playerid, forplayerid), 1, AllLast, 1,    \
      Plain)                                                                                                 \
    X(OnVehicleStreamIn, (int32_t vehicleid, int32_t forplayerid), (vehicleid, forplayerid), 1, AllLast, 1,  \
      Plain)                                                                                                 \
    X(OnVehicleStreamOut, (int32_t vehicleid, int32_t forplayerid), (vehicleid, forplayerid), 1, AllLast, 1, \
      Plain)                                                                                                 \
    X(OnActorStreamIn, (int32_t actorid, int32_t forplayerid), (actorid, forplayerid), 1, AllLast, 1, Plain) \
    X(OnActorStreamOut, (int32_t actorid, int32_t forplayerid), (actorid, forplayerid), 1, AllLast, 1,       \
      Plain)                                                                                                 \
    X(OnDialogResponse,                                                                                      \
      (int32_t playerid, int32_t dialogid, int32_t response, int32_t listitem, const char* inputtext),       \
      (playerid, dialogid, response, listitem, inputtext), 0, StopAtNonZero, 0, PlayerTest)                  \
    X(OnPlayerClickPlayer, (int32_t playerid, int32_t clickedplayerid, int32_t source),                      \
      (playerid, clickedplayerid, source), 0, StopAtNonZero, 0, PlayerTest)                                  \
    X(OnPlayerTakeDamage,                                                                                    \
      (int32_t playerid, int32_t issuerid, float amount, int32_t weaponid, int32_t bodypart),                \
      (playerid, issuerid, amount, weaponid, bodypart), 0, StopAtNonZero, 0, Plain)                          \
    X(OnPlayerGiveDamage,                                                                                    \
      (int32_t playerid, int32_t damagedid, float amount, int32_t weaponid, int32_t bodypart),               \
      (playerid, damagedid, amount, weaponid, bodypart), 0, StopAtNonZero, 0, Plain)                         \
    X(OnPlayerGiveDamageActor,                                                                               \
      (int32_t playerid, int32_t damagedactorid, float amount, int32_t weaponid, int32_t bodypart),          \
      (playerid, damagedactorid, amount, weaponid, bodypart), 0, StopAtNonZero, 0, Plain)                    \
    X(OnVehicleDamageStatusUpdate, (int32_t vehicleid, int32_t playerid), (vehicleid, playerid), 0,          \
      StopAtNonZero, 0, Plain)                                                                               \
    X(OnUnoccupiedVehicleUpdate,                                                                             \
      (int32_t vehicleid, int32_t playerid, int32_t passengerseat, float newx, float newy, float newz,       \
       float velx, float vely, float velz),                                                                  \
      (vehicleid, playerid, passengerseat, newx, newy, newz, velx, vely, velz), 1, StopAtZero, 1, Plain)     \
    X(OnPlayerClickMap, (int32_t playerid, float x, float y, float z), (playerid, x, y, z), 0,               \
      StopAtNonZero, 0, Plain)                                                                               \
    X(OnPlayerEditAttachedObject,                                                                            \
      (int32_t playerid, int32_t response, int32_t index, int32_t modelid, int32_t boneid, float offsetx,    \
       float offsety, float offsetz, float rotx, float roty, float rotz, float scalex, float scaley,         \
       float scalez),                                                                                        \
      (playerid, response, index, modelid, boneid, offsetx, offsety, offsetz, rotx, roty, rotz, scalex,      \
       scaley, scalez),                                                                                      \
      0, StopAtNonZero, 0, Plain)                                                                            \
    X(OnPlayerEditObject,                                                                                    \
      (int32_t playerid, int32_t playerobject, int32_t objectid, int32_t response, float x, float y,         \
       float z, float rotx, float roty, float rotz),                                                         \
      (playerid, playerobject, objectid, response, x, y, z, rotx, roty, rotz), 0, StopAtNonZero, 0, Plain)   \
    X(OnPlayerSelectObject,                                                                                  \
      (int32_t playerid, int32_t type, int32_t objectid, int32_t modelid, float x, float y, float z),        \
      (playerid, type, objectid, modelid, x, y, z), 0, StopAtNonZero, 0, Plain)                              \
    X(OnPlayerClickTextDraw, (int32_t playerid, int32_t clickedid), (playerid, clickedid), 0, StopAtNonZero, \
      0, Plain)                                                                                              \
    X(OnPlayerClickPlayerTextDraw, (int32_t playerid, int32_t playertextid), (playerid, playertextid), 0,    \
      StopAtNonZero, 0, Plain)                                                                               \
    X(OnPlayerWeaponShot,                                                                                    \
      (int32_t playerid, int32_t weaponid, int32_t hittype, int32_t hitid, float x, float y, float z),       \
      (playerid, weaponid, hittype, hitid, x, y, z), 1, StopAtZero, 1, Plain)                                \
    X(OnIncomingConnection, (int32_t playerid, const char* ipaddress, int32_t port),                         \
      (playerid, ipaddress, port), 0, StopAtNonZero, 0, Plain)                                               \
    X(OnTrailerUpdate, (int32_t playerid, int32_t vehicleid), (playerid, vehicleid), 1, AllLast, 1, Plain)   \
    X(OnVehicleSirenStateChange, (int32_t playerid, int32_t vehicleid, int32_t newstate),                    \
      (playerid, vehicleid, newstate), 0, AllLast, 1, Plain)                                                 \
    X(OnPlayerFinishedDownloading, (int32_t playerid, int32_t virtualworld), (playerid, virtualworld), 0,    \
      AllLast, 1, Plain)                                                                                     \
    X(OnPlayerRequestDownload, (int32_t playerid, int32_t type, int32_t crc), (playerid, type, crc), 1,      \
      StopAtZero, 1, Plain)

enum class ScriptCallback : uint8_t {
#define VELT_X(name, params, args, fsInit, fsRule, gmInit, gmKind) name,
    VELT_SCRIPT_CALLBACKS(VELT_X)
#undef VELT_X
};

struct ScriptCallbackInfo {
    const char* name;
    int32_t fsInitial;
    FsRule fsRule;
    int32_t gmInitial;
    GmKind gmKind;
};

inline constexpr ScriptCallbackInfo kScriptCallbacks[] = {
#define VELT_X(name, params, args, fsInit, fsRule, gmInit, gmKind) \
    {#name, fsInit, FsRule::fsRule, gmInit, GmKind::gmKind},
    VELT_SCRIPT_CALLBACKS(VELT_X)
#undef VELT_X
};
inline constexpr size_t kScriptCallbackCount = sizeof kScriptCallbacks / sizeof kScriptCallbacks[0];

constexpr const ScriptCallbackInfo& GetScriptCallbackInfo(ScriptCallback cb) {
    return kScriptCallbacks[static_cast<size_t>(cb)];
}
// The callback of that public name (exact, case-sensitive), or nullptr.
const ScriptCallbackInfo* FindScriptCallback(std::string_view name);

inline constexpr int kMaxFilterScripts = 16;
inline constexpr int32_t kMaxPlayerId = 1000;  // player tests accept ids below this

// The filterscript walk shared by every host. runSlot(slot, result&) runs the public in that slot
// and returns false when the slot is free or its script lacks the public. It is called once per
// slot, in order, so a slot emptied by an earlier script (a script unloading another) is simply
// seen as free.
template <class RunSlot>
int32_t DispatchFilterScriptSlots(FsRule rule, int32_t initial, RunSlot&& runSlot) {
    int32_t result = initial;
    bool ran = false;
    bool anyZero = false;
    for (int slot = 0; slot < kMaxFilterScripts; ++slot) {
        int32_t r = 0;
        if (!runSlot(slot, r)) continue;
        ran = true;
        result = r;
        switch (rule) {
            case FsRule::StopAtZero:
                if (r == 0) return 0;
                break;
            case FsRule::StopAtNonZero:
                if (r != 0) return 1;
                break;
            case FsRule::AllVeto:
                if (r == 0) anyZero = true;
                break;
            case FsRule::AllLast:
            case FsRule::AllAlwaysOne: break;
        }
    }
    if (rule == FsRule::AllAlwaysOne) return 1;
    if (rule == FsRule::AllVeto && ran) return anyZero ? 0 : 1;
    return result;
}

// The gamemode side shared by every host. run(result&) runs the public and returns false when the
// gamemode lacks it. playerConnected is consulted only for player-test rows.
template <class Run, class PlayerConnected>
int32_t DispatchGameModePublic(const ScriptCallbackInfo& info, bool loaded, int32_t playerid,
                               PlayerConnected&& playerConnected, Run&& run) {
    // With no gamemode (the intermission, a failed load) nothing runs and nothing is allowed.
    if (!loaded) return 0;
    if (info.gmKind == GmKind::PlayerTest &&
        (playerid < 0 || playerid >= kMaxPlayerId || !playerConnected(playerid)))
        return info.gmInitial;
    int32_t r = 0;
    if (!run(r)) return info.gmInitial;
    if (info.gmKind == GmKind::IgnoreResult) return info.gmInitial;
    return r;
}

}  // namespace velt
