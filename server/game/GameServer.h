#pragma once

// The one central object of the server program: it owns the transport's server peer and every
// world pool, the script hosts, the world settings each joining client receives and the player
// classes; it runs the gamemode rotation and the per-pass work the main loop asks of it. Every
// other part reaches it through TheGameServer.

#include <sys/types.h>

#include <array>
#include <cstdarg>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "net/NetServerInterface.h"
#include "net/TransportSettings.h"
#include "server/game/BanFile.h"
#include "server/game/Player.h"
#include "server/game/RconLoginGuard.h"
#include "server/game/SpatialGrid.h"
#include "server/game/StreamerSets.h"
#include "server/shared/GameRpc.h"

namespace velt {

class ArtworkList;
class BitStream;
class Console;
class ConsoleHost;
class FilterScripts;
class GameMode;
class HttpRequestPool;
class ObjectPoolEvents;
class PlayerPool;
class QueryResponder;
class ScriptHostFactory;
class ScriptTimers;
struct ServerSettings;

// How the game server makes and unmakes its transport: the real factory in the program, a fake
// in tests.
struct NetServerFactory {
    NetServerInterface* (*create)();
    void (*destroy)(NetServerInterface*);
};

inline constexpr uint32_t kMaxPlayerClasses = 319;
inline constexpr float kIntermissionSeconds = 12.0f;
inline constexpr float kAnnounceIntervalSeconds = 300.0f;
inline constexpr size_t kMaxAnnounceRuns = 8;

enum GameState : int32_t {
    GAME_STATE_STARTING = 0,
    GAME_STATE_RUNNING = 1,
    GAME_STATE_ENDED = 2,  // between gamemodes
};

// Why construction stopped short; the program then ends with status 1.
enum class StartFailure { None, BadPort, PortInUse, NoGameMode };

// Settings sent to every joining client in GameInit. Natives store into these directly.
struct WorldSettings {
    uint32_t playerMarkerMode = 1;
    uint8_t showNameTags = 1;
    uint8_t worldTimeHour = 12;
    uint8_t allowInteriorWeapons = 0;
    uint8_t stuntBonus = 1;
    uint8_t objectsDefaultCameraCollision = 0;
    uint8_t weather = 1;
    float gravity = 0.008f;
    int32_t deathDropAmount = 0;
    uint8_t reservedInitFlag = 0;
    uint8_t joinCheckByte = 1;
    uint8_t limitGlobalChatRadius = 0;
    uint8_t usePlayerPedAnims = 0;
    float globalChatRadius = 10000.0f;
    float nameTagDrawDistance = 70.0f;
    uint8_t disableInteriorEnterExits = 0;
    uint8_t nameTagLineOfSight = 1;
    uint8_t manualVehicleEngineAndLights = 0;
    uint8_t limitPlayerMarkerRadius = 0;
    float playerMarkerRadius = 10000.0f;
    int32_t vehicleFriendlyFire = 0;
};

class GameServer {
public:
    // Construction starts the transport on "port" and "bind", loads the ban list and picks the
    // first gamemode of the rotation. When that fails the object is left without pools or
    // gamemode and StartFailed() tells why; the caller ends the program.
    GameServer(Console& console, ServerSettings& settings, const NetServerFactory& net,
               ScriptHostFactory& scripts);
    ~GameServer();
    GameServer(const GameServer&) = delete;
    GameServer& operator=(const GameServer&) = delete;

    StartFailure StartFailed() const { return startFailure_; }

    // Makes the pools, loads the filterscripts when asked and the chosen gamemode. True when the
    // gamemode loaded.
    bool Init(bool loadFilterScripts);
    void LoadFilterScripts();
    // One main-loop pass; the first form measures the time since the previous pass itself.
    void Process();
    void Process(float elapsedSeconds);
    void EndGameMode();
    void RestartGameMode();

    // The rotation over "gamemode0".."gamemode15".
    std::optional<std::string> NextRotationEntry();
    // Null: the rotation's next gamemode. 1 when a script file was chosen, else 0.
    int SetNextGameMode(const char* name);
    const std::string& NextGameModePath() const { return nextGameModePath_; }
    int32_t RotationIndex() const { return rotationIndex_; }
    int32_t RotationRepeatsLeft() const { return rotationRepeatsLeft_; }

    void SetWorldTime(uint8_t hour);
    void SetWeather(uint8_t weather);
    void SetGravity(float gravity);
    int KickPlayer(uint16_t id);
    uint32_t AddPlayerClass(const SpawnInfo& spawn);
    const SpawnInfo* GetPlayerClass(uint32_t index) const;
    uint32_t GetClassCount() const { return classCount_; }
    void CountTick();
    void Announce(float elapsedSeconds);

    // Bans kept in step with "velt.ban".
    void LoadBanList();
    void AddBan(const char* name, const char* address, const char* reason);
    void RemoveBan(const char* address);
    void BlockIpAddress(const char* pattern, uint32_t milliseconds);
    void UnBlockIpAddress(const char* pattern);

    // Received packets (RPCs run inside the transport's receive call).
    void ProcessPackets();
    // Hands the transport the console's admission and flood settings and the connection
    // secrets. Its network thread never reads the console; it reads these copies instead.
    void PublishTransportSettings();

    // ---- sending (PlayerSending.cpp) --------------------------------------------------------
    void SendRpcToPlayer(uint8_t rpcId, const BitStream* bs, uint16_t player, RpcChannel channel);
    void SendRpcToAll(uint8_t rpcId, const BitStream* bs, uint16_t exceptPlayer, RpcChannel channel);
    void SendRpcToPlayersStreamingPlayer(uint8_t rpcId, const BitStream* bs, uint16_t player,
                                         RpcChannel channel);
    void SendRpcToPlayersStreamingVehicle(uint8_t rpcId, const BitStream* bs, uint16_t vehicle,
                                          uint16_t exceptPlayer, RpcChannel channel);
    void SendPacketToPlayer(const BitStream* bs, uint16_t player);
    void SendPacketToAll(const BitStream* bs);
    void SendPacketToPlayerStreamers(const BitStream* bs, uint16_t player, bool thin);
    void SendPacketToVehicleStreamers(const BitStream* bs, uint16_t vehicle, uint16_t exceptPlayer);

    // Where the players and vehicles are, for the streaming passes, and who streams each vehicle,
    // for its audience: kept up to date as they move and as streams change, so that both cost the
    // few entities around one place rather than a walk over every id.
    SpatialGrid& PlayerGrid() { return playerGrid_; }
    SpatialGrid& VehicleGrid() { return vehicleGrid_; }
    StreamerSets& VehicleStreamers() { return vehicleStreamers_; }
    void SendClientMessage(uint16_t player, uint32_t colour, const char* format, ...)
        __attribute__((format(printf, 4, 5)));
    void SendClientMessageToAll(uint32_t colour, const char* format, ...)
        __attribute__((format(printf, 3, 4)));
    void SendClientMessageText(uint16_t player, uint32_t colour, const char* text);
    void SendGameInit(uint16_t player);
    // Whether to skip one far receiver of a relayed record.
    bool RelayThinning(float distance);
    // The coin RelayThinning tosses; tests fix it.
    void SetRelayRandom(std::function<int()> random) { relayRandom_ = std::move(random); }

    // ---- owned objects ----------------------------------------------------------------------
    NetServerInterface* GetNetServer() { return netServer_; }
    PlayerPool* GetPlayerPool() { return playerPool_.get(); }
    VehiclePool* GetVehiclePool() { return vehiclePool_.get(); }
    PickupPool* GetPickupPool() { return pickupPool_.get(); }
    ObjectPool* GetObjectPool() { return objectPool_.get(); }
    MenuPool* GetMenuPool() { return menuPool_.get(); }
    TextDrawPool* GetTextDrawPool() { return textDrawPool_.get(); }
    GangZonePool* GetGangZonePool() { return gangZonePool_.get(); }
    TextLabelPool* GetTextLabelPool() { return textLabelPool_.get(); }
    ActorPool* GetActorPool() { return actorPool_.get(); }
    GameMode* GetGameMode() { return gameMode_.get(); }
    FilterScripts* GetFilterScripts() { return filterScripts_.get(); }
    ScriptTimers* GetScriptTimers() { return scriptTimers_.get(); }
    HttpRequestPool* GetHttpRequestPool() { return requestPool_.get(); }
    Console& GetConsole() { return console_; }
    ServerSettings& Settings() { return settings_; }
    RconLoginGuard& GetRconLoginGuard() { return rconLoginGuard_; }
    // The "bind" address the server listens on; empty for every local address.
    const std::string& BindAddress() const { return bindAddress_; }

    int32_t GetGameState() const { return gameState_; }
    uint32_t GetTickRate() const { return ticksLastWindow_; }

    // The server's millisecond clock; tests may replace it.
    uint32_t GetTickMs() const;
    void SetClock(std::function<uint32_t()> clock) { clock_ = std::move(clock); }

    // Called once per pass after the game's own work (the plugins' tick).
    void SetPluginTick(std::function<void()> tick) { pluginTick_ = std::move(tick); }

    // The custom models when the server serves them ("useartwork"), else null; owned by main.
    ArtworkList* GetArtworkList() { return artwork_; }
    void SetArtworkList(ArtworkList* artwork) { artwork_ = artwork; }

    // The query port's answering side; its inbox is what the transport fills.
    QueryResponder* GetQueryResponder() { return queries_.get(); }

    WorldSettings world;

private:
    class ConsoleBridge;
    class NetBanList;

    void ResetWorldAtInit();
    void ApplyStartupWorld();
    void SendWorldByte(uint8_t rpcId, uint8_t value);
    void RunAnnounce();
    void ReapAnnounceRuns();
    // Stores the state and tells the transport's query sorting whether the game runs.
    void SetGameState(int32_t state);

    Console& console_;
    ServerSettings& settings_;
    NetServerFactory netFactory_;
    ScriptHostFactory& scripts_;
    // Before the pools: the players leaving as their pool goes still take themselves out.
    SpatialGrid playerGrid_{kMaxPlayers};
    SpatialGrid vehicleGrid_{kMaxVehicles};
    StreamerSets vehicleStreamers_{kMaxVehicles};

    std::unique_ptr<GameMode> gameMode_;
    std::unique_ptr<FilterScripts> filterScripts_;
    std::unique_ptr<PlayerPool> playerPool_;
    std::unique_ptr<VehiclePool> vehiclePool_;
    std::unique_ptr<PickupPool> pickupPool_;
    std::unique_ptr<ObjectPool> objectPool_;
    std::unique_ptr<ObjectPoolEvents> objectEvents_;
    std::unique_ptr<MenuPool> menuPool_;
    std::unique_ptr<TextDrawPool> textDrawPool_;
    std::unique_ptr<TextLabelPool> textLabelPool_;
    std::unique_ptr<GangZonePool> gangZonePool_;
    std::unique_ptr<ActorPool> actorPool_;
    int32_t rotationIndex_ = 0;
    int32_t rotationRepeatsLeft_ = 0;
    bool rotationStarted_ = false;
    std::string nextGameModePath_;
    std::unique_ptr<HttpRequestPool> requestPool_;
    std::unique_ptr<ScriptTimers> scriptTimers_;
    NetServerInterface* netServer_ = nullptr;
    uint32_t tickWindowStart_ = 0;
    int32_t ticksThisWindow_ = 0;
    uint32_t ticksLastWindow_ = 0;
    uint8_t lanMode_ = 0;
    int32_t gameState_ = GAME_STATE_STARTING;
    uint32_t classCount_ = 0;
    std::array<SpawnInfo, kMaxPlayerClasses> classes_{};

    float intermission_ = 0.0f;
    float announceCountdown_ = 0.0f;
    std::vector<pid_t> announcePids_;  // runs of the announce program not yet collected
    StartFailure startFailure_ = StartFailure::None;
    std::string bindAddress_;
    uint16_t port_ = 0;

    TransportSettings transportSettings_;
    std::unique_ptr<NetBanList> banTarget_;
    std::unique_ptr<BanFile> banFile_;
    std::unique_ptr<ConsoleBridge> consoleBridge_;
    RconLoginGuard rconLoginGuard_;
    std::function<int()> relayRandom_;
    // The connected players but except for which wanted(id, player) holds, in id order; the span
    // lasts until the next call.
    template <class Wanted>
    std::span<const uint16_t> Receivers(uint16_t except, Wanted&& wanted);
    // The same among a list of candidates in id order (those streaming an entity).
    template <class Wanted>
    std::span<const uint16_t> ReceiversAmong(std::span<const uint16_t> candidates, uint16_t except,
                                             Wanted&& wanted);
    std::vector<uint16_t> receivers_;  // one send's receivers, kept for its room
    std::function<uint32_t()> clock_;
    std::function<void()> pluginTick_;
    std::unique_ptr<QueryResponder> queries_;
    ArtworkList* artwork_ = nullptr;
};

// The process-wide game server; null before start-up creates it and after shutdown.
extern GameServer* TheGameServer;

}  // namespace velt
