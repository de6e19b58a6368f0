#include "server/game/ServerStartup.h"

#include <sys/random.h>
#include <time.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <random>

#include "net/Clock.h"
#include "net/NetServerInterface.h"
#include "server/console/Console.h"
#include "server/console/Log.h"
#include "server/game/ArtworkList.h"
#include "server/game/GameServer.h"
#include "server/game/PluginManager.h"
#include "server/game/ScriptServices.h"
#include "server/game/Signals.h"

namespace velt {

std::atomic<uint32_t> ServerChallenge{0};
std::atomic<uint32_t> CookieSeed{0};

namespace {

std::atomic<uint32_t> g_lastReseed{0};

void Clamp(int32_t& value, int32_t low, int32_t high) {
    if (value < low) value = low;
    if (value > high) value = high;
}

// NaN compares false both ways: it ends at the low bound instead of slipping through.
void Clamp(float& value, float low, float high) {
    if (!(value >= low)) value = low;
    if (value > high) value = high;
}

void OnPasswordChanged(Console& console) {
    GameServer* game = TheGameServer;
    if (game == nullptr || game->GetNetServer() == nullptr) return;
    const char* password = console.GetStringVariable("password");
    if (password != nullptr && password[0] != '\0' && password[0] != '0') {
        LogPrintf("Setting server password to: \"%s\"", password);
        game->GetNetServer()->SetPassword(password);
    } else {
        LogPrintf("Server password has been removed.");
        console.SetStringVariable("password", "");
        game->GetNetServer()->SetPassword(nullptr);
    }
}

// The custom models when "useartwork" is set: the list of "artconfig.txt" in "artpath".
std::unique_ptr<ArtworkList> LoadArtwork(const Console& console, const ServerSettings& settings) {
    if (settings.useArtwork == 0) return nullptr;
    const char* path = console.GetStringVariable("artpath");
    auto artwork = std::make_unique<ArtworkList>(path != nullptr ? path : "");
    artwork->LoadConfig("artconfig.txt");
    return artwork;
}

void SleepPass(int32_t ms) {
    if (ms <= 0) return;
    timespec request{ms / 1000, long(ms % 1000) * 1000000L};
    // One nanosleep: a stop signal cuts the sleep short and the loop ends at once.
    nanosleep(&request, nullptr);
}

}  // namespace

uint32_t DrawSecret() {
    uint32_t value = 0;
    uint8_t* out = reinterpret_cast<uint8_t*>(&value);
    size_t got = 0;
    while (got < sizeof value) {
        ssize_t n = getrandom(out + got, sizeof value - got, 0);
        if (n > 0) {
            got += size_t(n);
        } else if (n < 0 && errno != EINTR) {
            break;
        }
    }
    if (got == sizeof value) return value;
    std::random_device device;
    return uint32_t(device());
}

void DrawConnectionSecrets(uint32_t nowMs) {
    ServerChallenge.store(DrawSecret());
    CookieSeed.store(DrawSecret());
    g_lastReseed.store(nowMs);
}

bool ReseedCookieIfDue(int32_t connSeedTime, uint32_t nowMs) {
    if (int32_t(nowMs - g_lastReseed.load()) <= connSeedTime) return false;
    CookieSeed.store(DrawSecret());
    g_lastReseed.store(nowMs);
    return true;
}

double TickDeltaSeconds() {
    static bool started = false;
    static long double last = 0.0L;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    long double seconds = (long double)now.tv_sec + (long double)now.tv_nsec / 1e9L;
    if (!started) {
        started = true;
        last = seconds;
        return 0.0;
    }
    long double delta = seconds - last;
    last = seconds;
    return double(delta);
}

ServerVariableCallbacks MakeServerVariableCallbacks(Console& console, ServerSettings& settings) {
    ServerVariableCallbacks callbacks;
    callbacks.maxPlayers = [&settings] {
        Clamp(settings.maxPlayers, 0, kMaxPlayers);
        if (GameServer* game = TheGameServer; game != nullptr && game->GetNetServer() != nullptr) {
            Clamp(settings.maxPlayers, 0, kMaxPlayers);
            game->GetNetServer()->SetMaxPlayers(uint16_t(settings.maxPlayers));
        }
    };
    callbacks.streamRate = [&settings] { Clamp(settings.streamRate, 500, 5000); };
    callbacks.streamDistance = [&settings] { Clamp(settings.streamDistance, 50.0f, 400.0f); };
    callbacks.password = [&console] { OnPasswordChanged(console); };
    return callbacks;
}

void LogBanner() {
    LogPrintf("%s", "");
    LogPrintf("VELT Dedicated Server");
    LogPrintf("----------------------");
    LogPrintf("v%s", kServerVersion);
    LogPrintf("%s", "");
}

bool RefuseDefaultPassword(const Console& console) {
    const char* password = console.GetStringVariable("rcon_password");
    if (password == nullptr || std::strcmp(password, kDefaultRconPassword) != 0) return false;
    LogError("Error: Your password must be changed from the default password, please change it.");
    return true;
}

void RunMainLoopPass(GameServer& game, const ServerSettings& settings) {
    game.Process();
    if (GameModeChangePending.load() == 1) {
        game.EndGameMode();
        GameModeChangePending.store(0);
    }
    if (ReseedCookieIfDue(settings.connSeedTime, GetTimeMs())) game.PublishTransportSettings();
    ReopenLogIfRequested();
    if (TakeBanReloadRequest()) game.LoadBanList();
}

int RunServer(const NetServerFactory& net, ScriptHostFactory& scripts, const std::function<void()>& perPass) {
    InstallSignalHandlers();
    OpenLogFile();
    LogBanner();
    DrawConnectionSecrets(GetTimeMs());

    ServerSettings settings;
    auto console = std::make_unique<Console>();
    ServerConsole = console.get();
    RegisterServerVariables(*console, settings, MakeServerVariableCallbacks(*console, settings));
    // "exec server"; an operator who runs the server without its configuration hears of it (the
    // default password refusal that follows would otherwise be all they see).
    console->ExecFile("server", true);

    // A refused start is a failed one: status 1, so that scripts and service managers notice.
    if (RefuseDefaultPassword(*console)) return 1;

    LockStartupVariables(*console);
    RegisterDerivedServerVariables(*console, settings);
    // Plugins come before any script, so they hear of every script load.
    auto plugins = std::make_unique<PluginManager>();
    // Before the loads: the hosts fill data words a plugin may copy in its Load.
    scripts.SetPlugins(plugins.get());
    plugins->LoadFromConfig(*console, "plugins");
    std::unique_ptr<ArtworkList> artwork = LoadArtwork(*console, settings);

    auto game = std::make_unique<GameServer>(*console, settings, net, scripts);
    auto endPlugins = [&] {
        scripts.SetPlugins(nullptr);
        plugins.reset();
    };
    if (game->StartFailed() != StartFailure::None) {
        // Nothing half-built runs on: the transport is stopped, the log closed, status 1.
        game.reset();
        endPlugins();
        console.reset();
        CloseLogFile();
        return 1;
    }
    game->SetArtworkList(artwork.get());
    game->SetPluginTick([p = plugins.get()] { p->ProcessTick(); });
    TheGameServer = game.get();
    // A first gamemode that is there but does not load leaves nothing to run: like a missing one,
    // it ends the start. A later one that fails (a rotation, "changemode") leaves the server up.
    const bool gameModeLoaded = game->Init(true);
    if (!gameModeLoaded)
        LogError("Unable to start server: the gamemode '%s' could not be loaded.",
                 game->NextGameModePath().c_str());

    while (gameModeLoaded && ExitRequested.load() == 0) {
        RunMainLoopPass(*game, settings);
        if (perPass) perPass();
        SleepPass(settings.sleep);
    }

    // Whatever runs during the teardown finds no game server rather than a half-destroyed one.
    TheGameServer = nullptr;
    game.reset();
    // Each plugin has seen every script go before its own Unload.
    endPlugins();
    ServerConsole = nullptr;
    console.reset();
    CloseLogFile();
    return gameModeLoaded ? 0 : 1;
}

}  // namespace velt
