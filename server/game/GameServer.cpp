#include "server/game/GameServer.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "net/BitStream.h"
#include "net/Clock.h"
#include "server/console/Console.h"
#include "server/console/ConsoleHost.h"
#include "server/console/ConsoleVariables.h"
#include "server/console/Log.h"
#include "server/game/ObjectPoolEvents.h"
#include "server/game/PlayerPool.h"
#include "server/game/RaiseCallback.h"
#include "server/game/ScriptServices.h"
#include "server/game/ServerStartup.h"
#include "server/protocol/QueryResponder.h"
#include "server/protocol/ServerRpcTable.h"
#include "server/runtime/ScriptTimers.h"
#include "server/shared/GameRpc.h"
#include "server/shared/PathUtil.h"

extern char** environ;

namespace velt {

GameServer* TheGameServer = nullptr;

namespace {

// "name" or "name count": the script name and how many runs in a row it gets. A missing count,
// or one that is no positive number, means one run.
void SplitRotationEntry(const std::string& entry, std::string& name, int32_t& count) {
    size_t blank = entry.find(' ');
    name = entry.substr(0, blank);
    count = 1;
    if (blank == std::string::npos) return;
    const char* rest = entry.c_str() + blank + 1;
    if (HasConsoleNumber(rest)) {
        int32_t value = ParseConsoleInt(rest);
        if (value > 0) count = value;
    }
}

std::string GameModePath(const std::string& name) { return "gamemodes/" + name + ".vmb"; }

// The join password: a text starting with '0' has always meant "no password".
bool IsPasswordSet(const char* password) {
    return password != nullptr && password[0] != '\0' && password[0] != '0';
}

}  // namespace

// ---- the transport's ban list as the ban file sees it ----------------------------------------

class GameServer::NetBanList : public BanListTarget {
public:
    explicit NetBanList(GameServer& server) : server_(server) {}
    void AddToBanList(const char* pattern, uint32_t milliseconds) override {
        if (NetServerInterface* net = server_.GetNetServer()) net->AddToBanList(pattern, milliseconds);
    }
    void RemoveFromBanList(const char* pattern) override {
        if (NetServerInterface* net = server_.GetNetServer()) net->RemoveFromBanList(pattern);
    }
    void ClearBanList() override {
        if (NetServerInterface* net = server_.GetNetServer()) net->ClearBanList();
    }

private:
    GameServer& server_;
};

// ---- what the console commands reach ---------------------------------------------------------

class GameServer::ConsoleBridge : public ConsoleHost {
public:
    explicit ConsoleBridge(GameServer& server) : server_(server) {}

    FilterScripts* GetFilterScripts() override { return server_.GetFilterScripts(); }
    GameMode* GetGameMode() override { return server_.GetGameMode(); }
    bool IsPlayerSlotUsed(uint16_t id) override {
        PlayerPool* pool = server_.GetPlayerPool();
        return pool != nullptr && pool->IsConnected(id);
    }
    std::string GetPlayerName(uint16_t id) override {
        PlayerPool* pool = server_.GetPlayerPool();
        return pool != nullptr ? pool->GetName(id) : "";
    }
    std::string GetPlayerIp(uint16_t id) override {
        NetServerInterface* net = server_.GetNetServer();
        PlayerID address = net != nullptr ? net->GetPlayerIDFromIndex(id) : UNASSIGNED_PLAYER_ID;
        char dotted[PlayerID::kStringSize];
        return address.ToString(false, dotted, sizeof dotted);
    }
    int32_t GetPlayerPing(uint16_t id) override {
        PlayerPool* pool = server_.GetPlayerPool();
        Player* player = pool != nullptr ? pool->GetAt(id) : nullptr;
        return player != nullptr ? player->GetPing() : -1;
    }
    uint32_t GetConnectedCount() override {
        NetServerInterface* net = server_.GetNetServer();
        return net != nullptr ? net->GetConnectedCount() : 0;
    }
    void KickPlayer(uint16_t id) override { server_.KickPlayer(id); }
    void AddBan(const char* name, const char* ip, const char* reason) override {
        server_.AddBan(name, ip, reason);
    }
    void RemoveBan(const char* ip) override { server_.RemoveBan(ip); }
    void LoadBanList() override { server_.LoadBanList(); }
    bool SetNextGameModeFromRotation() override {
        std::optional<std::string> entry = server_.NextRotationEntry();
        if (!entry) return false;
        std::string name;
        int32_t count = 0;
        SplitRotationEntry(*entry, name, count);
        return server_.SetNextGameMode(name.c_str()) != 0;
    }
    bool SetNextGameMode(const char* name) override { return server_.SetNextGameMode(name) != 0; }
    void SendClientMessageToAll(uint32_t colour, const char* text) override {
        server_.SendClientMessageToAll(colour, "%s", text != nullptr ? text : "");
    }
    void SetGravity(float gravity) override { server_.SetGravity(gravity); }
    void SetWeather(uint8_t weather) override { server_.SetWeather(weather); }

private:
    GameServer& server_;
};

// ---- construction and destruction -----------------------------------------------------------

GameServer::GameServer(Console& console, ServerSettings& settings, const NetServerFactory& net,
                       ScriptHostFactory& scripts)
    : console_(console), settings_(settings), netFactory_(net), scripts_(scripts) {
    intermission_ = 0.0f;
    scriptTimers_ = scripts_.CreateScriptTimers();
    requestPool_ = scripts_.CreateHttpRequestPool();

    if (settings_.maxPlayers > kMaxPlayers) settings_.maxPlayers = kMaxPlayers;
    const char* bind = console_.GetStringVariable("bind");
    bindAddress_ = bind != nullptr ? bind : "";
    const char* bindOrNull = bindAddress_.empty() ? nullptr : bindAddress_.c_str();
    int32_t port = settings_.port;
    port_ = uint16_t(port);

    netServer_ = netFactory_.create != nullptr ? netFactory_.create() : nullptr;
    queries_ = std::make_unique<QueryResponder>(*this);
    if (netServer_ != nullptr) {
        netServer_->SetLogHook(&LogPrintf);
        // Before the start: the network thread reads the inbox from its first datagram on.
        netServer_->SetQueryInbox(&queries_->Inbox());
        netServer_->SetTransportSettings(&transportSettings_);
        PublishTransportSettings();
    }
    RegisterServerRpcs(netServer_);
    tickWindowStart_ = GetTickMs();
    banTarget_ = std::make_unique<NetBanList>(*this);
    banFile_ = std::make_unique<BanFile>(*banTarget_);

    // The descrambler key follows from the listening port: the transport takes it from the port
    // it is started on, before its network thread reads the first datagram.
    // A port outside the UDP range must not wrap round to another one, nor pass for one in use;
    // 0 would let the system pick a port no client knows.
    if (port < 1 || port > 0xFFFF) {
        LogError("Unable to start server: port %d is not a port number (1 to 65535).", port);
        startFailure_ = StartFailure::BadPort;
        return;
    }
    bool started = false;
    if (netServer_ != nullptr) {
        if (!netServer_->SetMTUSize(settings_.mtu)) LogPrintf("Can't set the fucking MTU");
        started = netServer_->Start(uint16_t(settings_.maxPlayers), 0, settings_.sleep, port_, bindOrNull);
    }
    if (!started) {
        if (bindOrNull != nullptr)
            LogError("Unable to start server on %s:%d. Port in use?", bindOrNull, port);
        else
            LogError("Unable to start server on port: %d. Port in use?", port);
        startFailure_ = StartFailure::PortInUse;
        return;
    }

    LoadBanList();

    if (SetNextGameMode(nullptr) == 0) {
        LogError("I couldn't load any gamemode scripts. Please verify your server.cfg");
        LogError("It needs a gamemode0 line at the very least.");
        startFailure_ = StartFailure::NoGameMode;
        return;
    }

    netServer_->StartOccasionalPing();
    const char* password = console_.GetStringVariable("password");
    if (IsPasswordSet(password)) {
        netServer_->SetPassword(password);
    } else if (password != nullptr && password[0] != '\0') {
        console_.SetStringVariable("password", "");
    }

    char worldTime[16];
    std::snprintf(worldTime, sizeof worldTime, "%02d:%02d", int(world.worldTimeHour), 0);
    console_.AddStringVariable("worldtime", CON_VARFLAG_RULE, worldTime);

    lanMode_ = settings_.lanMode;

    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) != nullptr) {
        std::string root = cwd;
        if (root.empty() || root.back() != '/') root += '/';
        root += "scriptfiles/";
        setenv("VMFILE", root.c_str(), 1);
    }

    filterScripts_ = scripts_.CreateFilterScripts();

    if (bindOrNull != nullptr)
        std::printf("\nStarted server on %s:%d, with maxplayers: %d lanmode is %s.\n\n", bindOrNull, port,
                    settings_.maxPlayers, lanMode_ ? "ON" : "OFF");
    else
        std::printf("\nStarted server on port: %d, with maxplayers: %d lanmode is %s.\n\n", port,
                    settings_.maxPlayers, lanMode_ ? "ON" : "OFF");
    std::fflush(stdout);

    SetGameState(GAME_STATE_STARTING);
    consoleBridge_ = std::make_unique<ConsoleBridge>(*this);
    console_.SetHost(consoleBridge_.get());
}

GameServer::~GameServer() {
    // A server that never started has nothing to announce and nothing of the game to end.
    if (startFailure_ == StartFailure::None) LogPrintf("--- Server Shutting Down.");
    if (consoleBridge_ && console_.Host() == consoleBridge_.get()) console_.SetHost(nullptr);

    // Each owner pointer is empty before its object goes, so whatever runs during a teardown
    // (a script's exit code, the pool's disconnect callbacks) finds the hosts already gone
    // instead of half-destroyed.
    gameMode_.reset();
    filterScripts_.reset();
    scriptTimers_.reset();
    requestPool_.reset();
    textLabelPool_.reset();
    vehiclePool_.reset();
    playerPool_.reset();
    objectPool_.reset();
    pickupPool_.reset();
    menuPool_.reset();
    textDrawPool_.reset();
    gangZonePool_.reset();
    actorPool_.reset();

    if (netServer_ != nullptr) {
        netServer_->Disconnect(100, 0);
        UnregisterServerRpcs(netServer_);
        NetServerInterface* net = netServer_;
        netServer_ = nullptr;
        if (netFactory_.destroy != nullptr) netFactory_.destroy(net);
    }
    // Runs still going are left to end on their own; the finished ones are collected.
    ReapAnnounceRuns();
}

uint32_t GameServer::GetTickMs() const { return clock_ ? clock_() : GetTimeMs(); }

void GameServer::PublishTransportSettings() {
    if (netServer_ == nullptr) return;
    transportSettings_.SetPlayerTimeout(settings_.playerTimeout);
    transportSettings_.SetMessageHoleLimit(settings_.messageHoleLimit);
    transportSettings_.SetMessagesLimit(settings_.messagesLimit);
    transportSettings_.SetAcksLimit(settings_.acksLimit);
    PeerSettings& peer = netServer_->GetPeerSettings();
    peer.SetConnCookies(settings_.connCookies);
    peer.SetCookieLogging(settings_.cookieLogging);
    peer.SetMinConnectionTime(settings_.minConnectionTime);
    peer.SetServerChallenge(ServerChallenge.load());
    peer.SetCookieSeed(CookieSeed.load());
}

// ---- gamemode lifecycle ---------------------------------------------------------------------

void GameServer::ResetWorldAtInit() {
    world.worldTimeHour = 12;
    world.weather = 1;
    world.globalChatRadius = 10000.0f;
    world.playerMarkerRadius = 10000.0f;
    world.nameTagDrawDistance = 70.0f;
    world.showNameTags = 1;
    world.playerMarkerMode = 1;
    world.nameTagLineOfSight = 1;
    world.usePlayerPedAnims = 0;
    world.limitGlobalChatRadius = 0;
    world.limitPlayerMarkerRadius = 0;
    world.disableInteriorEnterExits = 0;
    world.manualVehicleEngineAndLights = 0;
}

void GameServer::ApplyStartupWorld() {
    // Marked only by server.cfg lines, so this acts at the first start and never again.
    const Console::StartupWorld given = console_.TakeStartupWorld();
    if (given.gravity) {
        const char* text = console_.GetStringVariable("gravity");
        world.gravity = ParseConsoleFloat(text != nullptr ? text : "");
    }
    if (given.weather) {
        const char* text = console_.GetStringVariable("weather");
        world.weather = uint8_t(ParseConsoleInt(text != nullptr ? text : "") & 0xFF);
    }
}

bool GameServer::Init(bool loadFilterScripts) {
    classCount_ = 0;
    if (playerPool_)
        playerPool_->ResetGameModeStats();
    else
        playerPool_ = std::make_unique<PlayerPool>(*this);
    if (!vehiclePool_) vehiclePool_ = std::make_unique<VehiclePool>(*this);
    if (!pickupPool_) pickupPool_ = std::make_unique<PickupPool>(*this);
    if (!objectEvents_) objectEvents_ = std::make_unique<ObjectPoolEvents>(*this);
    if (!objectPool_) objectPool_ = std::make_unique<ObjectPool>(objectEvents_.get());
    if (!menuPool_) menuPool_ = std::make_unique<MenuPool>(*this);
    if (!textDrawPool_) textDrawPool_ = std::make_unique<TextDrawPool>(*this);
    if (!gangZonePool_) gangZonePool_ = std::make_unique<GangZonePool>(*this);
    if (!textLabelPool_) textLabelPool_ = std::make_unique<TextLabelPool>(*this);
    if (!actorPool_) actorPool_ = std::make_unique<ActorPool>(*this);
    if (!gameMode_) gameMode_ = scripts_.CreateGameMode();

    ResetWorldAtInit();
    ApplyStartupWorld();
    if (loadFilterScripts) LoadFilterScripts();
    // A gamemode that fails to load leaves an empty host; whether that ends the server is the
    // caller's choice.
    const bool loaded = gameMode_ && gameMode_->Load(nextGameModePath_.c_str()) != 0;
    LogPrintf("Number of vehicle models: %d", vehiclePool_ ? vehiclePool_->GetModelsUsed() : 0);
    SetGameState(GAME_STATE_RUNNING);
    return loaded;
}

void GameServer::LoadFilterScripts() {
    LogPrintf("%s", "");
    LogPrintf("Filterscripts");
    LogPrintf("---------------");
    int loaded = 0;
    const char* list = console_.GetStringVariable("filterscripts");
    std::string names = list != nullptr ? list : "";
    size_t pos = 0;
    while (pos < names.size()) {
        size_t end = names.find(' ', pos);
        if (end == std::string::npos) end = names.size();
        std::string name = names.substr(pos, end - pos);
        pos = end + 1;
        if (name.empty()) continue;
        LogPrintf("  Loading filterscript '%s.vmb'...", name.c_str());
        FilterScripts* fs = filterScripts_.get();
        if (fs != nullptr && fs->LoadFilterScript(name.c_str()))
            ++loaded;
        else
            LogPrintf("  Unable to load filterscript '%s.vmb'.", name.c_str());
    }
    LogPrintf("  Loaded %d filterscripts.\n", loaded);
}

void GameServer::Process() { Process(float(TickDeltaSeconds())); }

namespace {
// Timers count whole milliseconds; a NaN, negative or huge pass length must not wrap the
// conversion (float to integer is undefined outside the target's range).
uint32_t ElapsedMilliseconds(float elapsed) {
    if (!(elapsed > 0.0f)) return 0;
    const float ms = elapsed * 1000.0f;
    return ms >= 4294967040.0f ? UINT32_MAX : uint32_t(ms);
}
}  // namespace

void GameServer::Process(float elapsed) {
    // Players who left during the previous pass are freed now that nothing can still use them.
    if (playerPool_) playerPool_->ReleaseRetired();
    CountTick();
    // Console lines may have changed the limits since the last pass, the main loop the seed.
    PublishTransportSettings();
    ProcessPackets();
    if (queries_) queries_->AnswerPending();
    if (gameState_ == GAME_STATE_RUNNING) {
        if (playerPool_) playerPool_->Process(elapsed);
        if (vehiclePool_) vehiclePool_->Process(elapsed);
        if (objectPool_) objectPool_->Process(elapsed);
        if (gameMode_) gameMode_->Process(elapsed);
        if (scriptTimers_) scriptTimers_->Process(ElapsedMilliseconds(elapsed));
        if (requestPool_) requestPool_->Process();
    }
    if (gameState_ == GAME_STATE_ENDED) {
        intermission_ += elapsed;
        if (intermission_ > kIntermissionSeconds) RestartGameMode();
    }
    if (settings_.announce) Announce(elapsed);
    if (!announcePids_.empty()) ReapAnnounceRuns();
    if (pluginTick_) pluginTick_();
}

void GameServer::SetGameState(int32_t state) {
    gameState_ = state;
    if (queries_) queries_->Inbox().SetGameRunning(state == GAME_STATE_RUNNING);
}

void GameServer::CountTick() {
    uint32_t now = GetTickMs();
    if (!TimeBefore(now, tickWindowStart_ + 1000)) {
        tickWindowStart_ = now;
        ticksLastWindow_ = uint32_t(ticksThisWindow_);
        ticksThisWindow_ = 1;
    } else {
        ++ticksThisWindow_;
    }
}

void GameServer::Announce(float elapsed) {
    announceCountdown_ -= elapsed;
    if (announceCountdown_ > 0.0f) return;
    announceCountdown_ = kAnnounceIntervalSeconds;
    RunAnnounce();
}

void GameServer::ReapAnnounceRuns() {
    // Every run that has finished is collected, however many overlap; one that is gone already
    // (-1) is forgotten too.
    std::erase_if(announcePids_, [](pid_t pid) { return waitpid(pid, nullptr, WNOHANG) != 0; });
}

void GameServer::RunAnnounce() {
    ReapAnnounceRuns();
    // Runs that never end must not pile up without bound: skip until one of them finishes.
    if (announcePids_.size() >= kMaxAnnounceRuns) {
        LogPrintf("announce: %zu earlier runs have not ended; this one is skipped", announcePids_.size());
        return;
    }
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) == nullptr) return;
    std::string program = std::string(cwd) + "/announce";
    std::string port = std::to_string(int(port_));
    // Started directly, never through a shell: the bind address comes from the configuration.
    std::vector<char*> argv;
    argv.push_back(program.data());
    argv.push_back(port.data());
    if (!bindAddress_.empty()) argv.push_back(bindAddress_.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) == 0)
        announcePids_.push_back(pid);
}

void GameServer::EndGameMode() {
    BitStream empty;
    SendRpcToAll(RPC_GameModeRestart, &empty, kNoPlayer, RpcChannel::World);
    if (playerPool_) playerPool_->ResetAll();
    gameMode_.reset();
    vehiclePool_.reset();
    pickupPool_.reset();
    objectPool_.reset();
    menuPool_.reset();
    textDrawPool_.reset();
    gangZonePool_.reset();
    textLabelPool_.reset();
    actorPool_.reset();
    world.allowInteriorWeapons = 0;
    intermission_ = 0.0f;
    world.worldTimeHour = 12;
    world.weather = 1;
    world.gravity = 0.008f;
    world.deathDropAmount = 0;
    world.reservedInitFlag = 0;
    world.manualVehicleEngineAndLights = 0;
    SetGameState(GAME_STATE_ENDED);
}

void GameServer::RestartGameMode() {
    Init(false);
    for (uint16_t id = 0; id < kMaxPlayers; ++id) {
        if (!playerPool_ || !playerPool_->IsConnected(id)) continue;
        if (objectPool_) objectPool_->SendAllToPlayer(id);
        SendGameInit(id);
        RaiseCallback(
            *this, {}, [&] { return playerPool_ && playerPool_->IsConnected(id); },
            [&](auto& side) { return side.OnPlayerConnect(id); });
    }
}

// ---- rotation -------------------------------------------------------------------------------

std::optional<std::string> GameServer::NextRotationEntry() {
    auto read = [this](int32_t index) {
        char name[16];
        std::snprintf(name, sizeof name, "gamemode%u", unsigned(index));
        const char* text = console_.GetStringVariable(name);
        return std::string(text != nullptr ? text : "");
    };
    ++rotationIndex_;
    std::string entry;
    if (rotationIndex_ >= 0 && rotationIndex_ < kGameModeRotationSize) entry = read(rotationIndex_);
    if (entry.empty()) {
        rotationIndex_ = 0;
        entry = read(0);
    }
    if (entry.empty()) return std::nullopt;
    return entry;
}

int GameServer::SetNextGameMode(const char* name) {
    if (name != nullptr) {
        std::string path = GameModePath(name);
        if (!FileExists(path.c_str())) return 0;
        rotationRepeatsLeft_ = 0;
        nextGameModePath_ = path;
        return 1;
    }
    // The same entry again while it has runs left (and for the very first choice).
    if (rotationRepeatsLeft_ != 0 || !rotationStarted_) --rotationIndex_;
    std::optional<std::string> entry = NextRotationEntry();
    if (!entry) return 0;
    std::string script;
    int32_t count = 1;
    SplitRotationEntry(*entry, script, count);
    std::string path = GameModePath(script);
    if (script.empty() || !FileExists(path.c_str())) return 0;
    if (rotationRepeatsLeft_ == 0) rotationRepeatsLeft_ = count;
    rotationStarted_ = true;
    --rotationRepeatsLeft_;
    nextGameModePath_ = path;
    return 1;
}

// ---- world settings -------------------------------------------------------------------------

void GameServer::SendWorldByte(uint8_t rpcId, uint8_t value) {
    BitStream bs;
    bs.Write(value);
    SendRpcToAll(rpcId, &bs, kNoPlayer, RpcChannel::World);
}

void GameServer::SetWorldTime(uint8_t hour) {
    world.worldTimeHour = hour;
    SendWorldByte(RPC_WorldTimeSet, hour);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d", int(hour), 0);
    console_.SetStringVariable("worldtime", text);
}

void GameServer::SetWeather(uint8_t weather) {
    world.weather = weather;
    SendWorldByte(RPC_WeatherSet, weather);
    char text[16];
    std::snprintf(text, sizeof text, "%d", int(weather));
    console_.SetStringVariable("weather", text);
}

void GameServer::SetGravity(float gravity) {
    world.gravity = gravity;
    char text[64];
    std::snprintf(text, sizeof text, "%f", double(gravity));
    console_.SetStringVariable("gravity", text);
    BitStream bs;
    bs.Write(gravity);
    SendRpcToAll(RPC_GravitySet, &bs, kNoPlayer, RpcChannel::World);
}

// ---- players --------------------------------------------------------------------------------

int GameServer::KickPlayer(uint16_t id) {
    if (id >= kMaxPlayers) return 0;
    if (netServer_ != nullptr) netServer_->Slots().KickSlot(id);
    if (playerPool_ && playerPool_->IsConnected(id)) playerPool_->Disconnect(id, DISCONNECT_KICK);
    return 1;
}

uint32_t GameServer::AddPlayerClass(const SpawnInfo& spawn) {
    if (classCount_ >= kMaxPlayerClasses) return kMaxPlayerClasses;
    classes_[classCount_] = spawn;
    return classCount_++;
}

const SpawnInfo* GameServer::GetPlayerClass(uint32_t index) const {
    return index < classCount_ ? &classes_[index] : nullptr;
}

// ---- bans -----------------------------------------------------------------------------------

void GameServer::LoadBanList() {
    if (banFile_) banFile_->Load();
}

void GameServer::AddBan(const char* name, const char* address, const char* reason) {
    if (banFile_ && address != nullptr)
        banFile_->Add(name != nullptr ? name : "", address, reason != nullptr ? reason : "");
}

void GameServer::RemoveBan(const char* address) {
    if (banFile_ && address != nullptr) banFile_->Remove(address);
}

void GameServer::BlockIpAddress(const char* pattern, uint32_t milliseconds) {
    if (netServer_ != nullptr && pattern != nullptr) netServer_->AddToBanList(pattern, milliseconds);
}

void GameServer::UnBlockIpAddress(const char* pattern) {
    if (netServer_ != nullptr && pattern != nullptr) netServer_->RemoveFromBanList(pattern);
}

}  // namespace velt
