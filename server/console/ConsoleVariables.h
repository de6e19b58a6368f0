#pragma once

#include <cstdint>

#include "server/console/ConsoleVariable.h"

namespace velt {

class Console;

inline constexpr const char* kServerVersion = "1.0.0";
inline constexpr const char* kDefaultRconPassword = "lanterns";
inline constexpr int kGameModeRotationSize = 16;  // "gamemode0" .. "gamemode15"

// Storage of the numeric server settings. It must outlive the Console it is registered with; main
// owns one for the whole process, and the game reads these fields directly instead of looking the
// names up. String settings live in the Console.
struct ServerSettings {
    uint8_t announce = 1;
    int32_t maxPlayers = 50;
    int32_t mtu = 576;
    int32_t port = 8192;
    uint8_t lanMode = 0;
    uint8_t query = 1;
    uint8_t rcon = 1;
    uint8_t logQueries = 0;
    int32_t streamRate = 1000;
    float streamDistance = 200.0f;
    int32_t sleep = 5;
    int32_t maxNpc = 0;
    int32_t onFootRate = 30;
    int32_t inCarRate = 30;
    int32_t weaponRate = 30;
    int32_t chatLogging = 1;
    uint8_t output = 0;
    uint8_t timestamp = 1;
    int32_t messageHoleLimit = 3000;
    int32_t messagesLimit = 500;
    int32_t acksLimit = 3000;
    int32_t playerTimeout = 10000;
    int32_t minConnectionTime = 0;
    uint8_t myriad = 0;
    int32_t lagCompMode = 1;
    int32_t connSeedTime = 300000;
    int32_t dbLogging = 0;
    int32_t dbLogQueries = 0;
    int32_t connCookies = 1;
    int32_t cookieLogging = 0;
    uint8_t useArtwork = 0;
};

// Change callbacks that belong to the start-up and game-server work (clamping, passing the join
// password to the transport). Empty ones are simply not installed.
struct ServerVariableCallbacks {
    ConsoleChangeCallback maxPlayers;
    ConsoleChangeCallback streamRate;
    ConsoleChangeCallback streamDistance;
    ConsoleChangeCallback password;
};

// Registers every server setting with its default and flags, in the order the server has always
// registered them (before "exec server"), and hands the logging settings to the logger.
void RegisterServerVariables(Console& console, ServerSettings& settings,
                             const ServerVariableCallbacks& callbacks = {});

// After the configuration file: the settings that only take effect at start become read-only.
void LockStartupVariables(Console& console);

// After locking: "lagcomp", "artwork" and "version", read-only rules derived from the above.
void RegisterDerivedServerVariables(Console& console, const ServerSettings& settings);

// Copies "output", "timestamp" and "logtimeformat" to the logger (see LogAttachConsole). The
// registration installs this as their change callback.
void PublishLogSettings(const Console& console);

}  // namespace velt
