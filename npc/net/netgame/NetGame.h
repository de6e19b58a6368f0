#pragma once

// The bot's network game: it owns the client end of the transport, the npcmode host, the script
// timers and the world model; it connects and joins, dispatches what the server sends, and drives
// each frame (script sleep, timers, idle on-foot sync). There is one instance per process,
// reachable from every RPC handler, native and callback through TheNetGame().
//
// Join, in order: connection accepted -> NpcJoin; the server's GameInit (in game, OnNPCConnect,
// ClassRequest for class 0); the class reply (SpawnRequest); the spawn reply (OnNPCSpawn,
// spawned, PlayerSpawned). Every connection failure or refusal ends the process with status 1.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "net/NetClientInterface.h"
#include "npc/NpcMode.h"
#include "npc/NpcOwnState.h"
#include "npc/NpcPlayback.h"
#include "npc/NpcPlayerPool.h"
#include "npc/NpcScriptTimers.h"
#include "npc/NpcVehiclePool.h"

namespace velt {

class BitStream;

enum class NpcConnectionState : int32_t {
    Connecting = 1,
    InGame = 2,
    Joining = 3,
    Restarting = 5,
};

// Join protocol constants shared with the server's join handling.
inline constexpr uint32_t kNpcJoinVersion = 4061;
inline constexpr uint8_t kNpcJoinKind = 1;
// Idle on-foot sync goes out when more than this has passed since the last sync send.
inline constexpr uint32_t kNpcIdleSyncIntervalMs = 500;
inline constexpr size_t kNpcNetStatsBytes = 296;
inline constexpr size_t kNpcHostMax = 128;
inline constexpr size_t kNpcServerNameMax = 255;

// What GameInit brings that the bot keeps.
struct NpcGameSettings {
    uint8_t worldHour = 12;
    uint8_t weather = 10;
    float gravity = 0.008f;
    char serverName[kNpcServerNameMax + 1] = "Corvessa Multiplayer";
};

class NetGame {
public:
    // How the transport's client is made and unmade; tests hand in a fake.
    struct ClientFactory {
        NetClientInterface* (*create)();
        void (*destroy)(NetClientInterface*);
    };
    static ClientFactory DefaultClientFactory();

    explicit NetGame(ClientFactory factory = DefaultClientFactory());
    ~NetGame();
    NetGame(const NetGame&) = delete;
    NetGame& operator=(const NetGame&) = delete;

    // Creates the parts, loads "npcmodes/<npcmode>.vmb" and starts connecting. False after ending
    // the process (status 1) when the script cannot be loaded or the connection cannot be started.
    bool Start(const char* host, uint16_t port, const char* name, const char* password, const char* npcmode);

    // One frame, with the time since the previous frame from the bot's frame clock.
    void Process();
    // One frame with the given elapsed time: received packets and calls, then, in game, the script
    // sleep, the timers and the idle sync.
    void ProcessFrame(float elapsedSeconds);

    void SendChat(const char* text);
    void SendCommand(const char* text);
    // The server restarts its game mode: back to the start values, waiting for the next GameInit.
    void Reset();

    // Ends the process with `status` (see NpcExit); nothing more is processed afterwards.
    void Exit(int status);
    bool Ended() const { return ended_; }

    NpcConnectionState State() const { return state_; }
    void SetState(NpcConnectionState state) { state_ = state; }
    bool Spawned() const { return spawned_; }
    void SetSpawned() { spawned_ = true; }

    NetClientInterface* Client() const { return client_; }
    NpcPlayerPool& Players() { return *players_; }
    NpcVehiclePool& Vehicles() { return *vehicles_; }
    NpcOwnState& Self() { return self_; }
    NpcMode& Mode() { return *mode_; }
    NpcScriptTimers& Timers() { return *timers_; }
    NpcGameSettings& Settings() { return settings_; }
    NpcPlayback& Playback() { return playback_; }
    // Loads "npcmodes/recordings/<name>.rec" as a recording of `type` (1 driver, 2 on foot) and
    // plays it from its start. A recording that cannot be played ends the process (status 1);
    // one of the older layout is converted first, and plays at the bot's next start.
    void StartPlayback(int32_t type, const char* name);
    uint8_t* NetStats() { return netStats_; }
    const char* Host() const { return host_; }
    uint16_t Port() const { return port_; }
    uint32_t LastSyncSend() const { return lastSyncSend_; }

    // Sends an RPC to the server: priority 1, channel 0, no time stamp.
    void SendRpc(uint8_t id, const BitStream& payload, MessageReliability reliability);

private:
    void ProcessPackets();
    void HandlePacket(const Packet& packet);
    void SendJoinRequest(const uint8_t* data, uint32_t length);
    void ReadSync(const uint8_t* data, uint32_t length, uint8_t id);
    void IdleSync();
    void SendOwnSync(NpcOwnSyncKind kind);
    void ClearWorldState();

    ClientFactory factory_;
    NetClientInterface* client_ = nullptr;
    std::unique_ptr<NpcMode> mode_;
    std::unique_ptr<NpcScriptTimers> timers_;
    std::unique_ptr<NpcPlayerPool> players_;
    std::unique_ptr<NpcVehiclePool> vehicles_;
    NpcOwnState self_;
    NpcGameSettings settings_;
    NpcPlayback playback_;
    NpcConnectionState state_ = NpcConnectionState::Connecting;
    char host_[kNpcHostMax + 1] = {};
    uint16_t port_ = 0;
    uint32_t lastSyncSend_ = 0;
    bool spawned_ = false;
    bool ended_ = false;
    bool rpcsRegistered_ = false;
    uint8_t netStats_[kNpcNetStatsBytes] = {};
};

// The one game of the process; null before it is made and after it is gone.
NetGame* TheNetGame();

// The message id of a received packet: the byte after a time-stamp prefix, else the first byte;
// 255 when there is none.
uint8_t NpcPacketId(const uint8_t* data, uint32_t length);

}  // namespace velt
