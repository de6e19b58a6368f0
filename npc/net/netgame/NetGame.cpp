#include "npc/net/netgame/NetGame.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "net/BitStream.h"
#include "net/MessageIdentifiers.h"
#include "net/NetworkFactory.h"
#include "npc/NpcClock.h"
#include "npc/NpcExit.h"
#include "npc/NpcLog.h"
#include "npc/NpcRecordingConverter.h"
#include "npc/net/netgame/NetGameRpc.h"
#include "server/shared/GameRpc.h"
#include "server/shared/SyncRecordsRelay.h"

namespace velt {

namespace {

NetGame* g_game = nullptr;

// Before the process ends on a failure: let the server see an ordinary disconnect, and stop the
// network thread before nothing else can.
void DisconnectBeforeExit() {
    if (g_game != nullptr && g_game->Client() != nullptr) g_game->Client()->Disconnect(0, 0);
}

}  // namespace

NetGame* TheNetGame() { return g_game; }

uint8_t NpcPacketId(const uint8_t* data, uint32_t length) {
    if (data == nullptr || length == 0) return 0xFF;
    if (data[0] == ID_TIMESTAMPED) return length > kTimestampPrefixBytes ? data[kTimestampPrefixBytes] : 0xFF;
    return data[0];
}

NetGame::ClientFactory NetGame::DefaultClientFactory() {
    return ClientFactory{CreateNetClient, DestroyNetClient};
}

NetGame::NetGame(ClientFactory factory) : factory_(factory) {
    g_game = this;
    SetNpcExitHook(DisconnectBeforeExit);
}

NetGame::~NetGame() {
    if (client_ != nullptr) {
        client_->Disconnect(0, 0);
        if (rpcsRegistered_) {
            UnregisterNpcCoreRpcs(client_);
            UnregisterNpcScriptingRpcs(client_);
        }
        if (factory_.destroy != nullptr) factory_.destroy(client_);
        client_ = nullptr;
    }
    // The script's exit public still sees the world; it can no longer send anything.
    mode_.reset();
    timers_.reset();
    players_.reset();
    vehicles_.reset();
    if (g_game == this) {
        g_game = nullptr;
        SetNpcExitHook(nullptr);
    }
}

bool NetGame::Start(const char* host, uint16_t port, const char* name, const char* password,
                    const char* npcmode) {
    settings_ = NpcGameSettings{};
    std::snprintf(host_, sizeof host_, "%s", host != nullptr ? host : "");
    port_ = port;

    mode_ = std::make_unique<NpcMode>();
    timers_ = std::make_unique<NpcScriptTimers>([this] { return mode_ != nullptr && mode_->IsLoaded(); });
    players_ = std::make_unique<NpcPlayerPool>();
    players_->SetOwnName(name);
    vehicles_ = std::make_unique<NpcVehiclePool>();

    client_ = factory_.create != nullptr ? factory_.create() : nullptr;
    if (client_ == nullptr) {
        Exit(1);
        return false;
    }
    // The datagram key comes from the same port: the client sets it when it connects.
    RegisterNpcCoreRpcs(client_);
    RegisterNpcScriptingRpcs(client_);
    rpcsRegistered_ = true;

    const std::string path = std::string("npcmodes/") + (npcmode != nullptr ? npcmode : "") + ".vmb";
    if (!mode_->Load(path.c_str())) {
        Exit(1);
        return false;
    }

    client_->SetPassword(password);
    state_ = NpcConnectionState::Connecting;
    settings_ = NpcGameSettings{};
    ClearWorldState();
    playback_.Stop();
    lastSyncSend_ = NpcTickMs();
    self_.kind = NpcOwnSyncKind::None;
    // An address that cannot be resolved or used would otherwise leave the bot waiting for an
    // answer that never comes.
    if (!client_->Connect(host_, port, 0, 0, 10)) {
        Exit(1);
        return false;
    }
    std::srand(0);
    return true;
}

void NetGame::ClearWorldState() {
    self_.onFoot = OnFootSyncRecord{};
    self_.inCar = InCarSyncRecord{};
    players_->ClearSync();
}

void NetGame::Process() { ProcessFrame(NpcFrameSeconds()); }

void NetGame::ProcessFrame(float elapsedSeconds) {
    if (ended_ || client_ == nullptr) return;
    ProcessPackets();
    if (ended_ || state_ != NpcConnectionState::InGame) return;
    mode_->Process(elapsedSeconds);
    if (ended_) return;
    const float ms = elapsedSeconds * 1000.0f;
    timers_->Process(ms > 0.0f && ms < 4.0e9f ? uint32_t(ms) : 0u);
    if (ended_ || !spawned_) return;
    // A recording being played sends its own blocks instead.
    if (playback_.IsRunning()) {
        NpcPlayback::Io io;
        io.send = [this](NpcOwnSyncKind kind) { SendOwnSync(kind); };
        io.ended = [this] {
            if (mode_->IsLoaded()) mode_->OnRecordingPlaybackEnd();
        };
        playback_.Step(NpcTickMs(), self_, lastSyncSend_, io);
    } else {
        IdleSync();
        self_.kind = NpcOwnSyncKind::OnFoot;
    }
}

void NetGame::ProcessPackets() {
    while (client_ != nullptr && !ended_) {
        Packet* packet = client_->Receive();
        if (packet == nullptr) break;
        if (!ended_) HandlePacket(*packet);
        // A handler may have ended the game and released the client.
        if (client_ != nullptr) client_->FreePacket(packet);
    }
}

void NetGame::HandlePacket(const Packet& packet) {
    const uint8_t* data = packet.data;
    const uint32_t length = packet.data != nullptr ? packet.length : 0;
    const uint8_t id = NpcPacketId(data, length);
    switch (id) {
        case ID_CONN_ATTEMPT_FAILED:
        case ID_CONN_NO_FREE_SLOT:
        case ID_PUBLIC_KEY_MISMATCH:
        case ID_CONN_BANNED: Exit(1); break;
        case ID_CONN_CLOSED:
        case ID_CONN_LOST:
        case ID_CONN_BAD_PASSWORD:
            client_->Disconnect(0, 0);
            Exit(1);
            break;
        case ID_CONN_ACCEPTED: SendJoinRequest(data, length); break;
        case ID_VEHICLE_SYNC:
        case ID_PLAYER_SYNC:
        case ID_PASSENGER_SYNC: ReadSync(data, length, id); break;
        default: break;
    }
}

void NetGame::SendJoinRequest(const uint8_t* data, uint32_t length) {
    const uint32_t offset = data[0] == ID_TIMESTAMPED ? kTimestampPrefixBytes : 0;
    BitStream in(data + offset, length - offset, false);
    uint8_t id = 0;
    uint32_t address = 0, value = 0;
    uint16_t port = 0, index = 0;
    if (!in.Read(id) || !in.Read(address) || !in.Read(port) || !in.Read(index) || !in.Read(value)) {
        NpcLog("Dropped a short connection-accepted message (%u bytes)", unsigned(length));
        return;
    }
    state_ = NpcConnectionState::Joining;
    // The own id arrives with GameInit; the slot index is not needed.
    const char* name = players_->OwnName();
    const uint8_t nameLength = uint8_t(std::strlen(name));
    BitStream out;
    out.Write(kNpcJoinVersion);
    out.Write(kNpcJoinKind);
    out.Write(nameLength);
    out.WriteBytes(name, nameLength);
    out.Write(uint32_t(value ^ kNpcJoinVersion));
    SendRpc(RPC_NpcJoin, out, RELIABILITY_RELIABLE);
}

void NetGame::ReadSync(const uint8_t* data, uint32_t length, uint8_t id) {
    if (state_ != NpcConnectionState::InGame) return;
    const uint32_t offset = data[0] == ID_TIMESTAMPED ? kTimestampPrefixBytes : 0;
    BitStream in(data + offset, length - offset, false);
    uint16_t player = 0;
    if (id == ID_PLAYER_SYNC) {
        OnFootSyncRecord record;
        if (ReadOnFootRelay(in, player, record)) players_->StoreOnFoot(player, record);
    } else if (id == ID_VEHICLE_SYNC) {
        InCarSyncRecord record;
        if (ReadDriverRelay(in, player, record)) players_->StoreDriver(player, record);
    } else if (id == ID_PASSENGER_SYNC) {
        PassengerSyncRecord record;
        if (ReadPassengerRelay(in, player, record)) players_->StorePassenger(player, record);
    }
}

void NetGame::IdleSync() {
    const uint32_t now = NpcTickMs();
    if (now - lastSyncSend_ <= kNpcIdleSyncIntervalMs || self_.vehicleId != kNpcNoVehicle) return;
    BitStream out;
    out.Write(uint8_t(ID_PLAYER_SYNC));
    WriteSyncRecord(out, self_.onFoot);
    client_->Send(&out, HIGH_PRIORITY_LEVEL, RELIABILITY_UNRELIABLE_SEQUENCED,
                  ChannelNumber(RpcChannel::Request));
    lastSyncSend_ = now;
}

void NetGame::SendOwnSync(NpcOwnSyncKind kind) {
    if (client_ == nullptr || ended_) return;
    BitStream out;
    if (kind == NpcOwnSyncKind::Driver) {
        out.Write(uint8_t(ID_VEHICLE_SYNC));
        WriteSyncRecord(out, self_.inCar);
    } else {
        out.Write(uint8_t(ID_PLAYER_SYNC));
        WriteSyncRecord(out, self_.onFoot);
    }
    client_->Send(&out, HIGH_PRIORITY_LEVEL, RELIABILITY_UNRELIABLE_SEQUENCED,
                  ChannelNumber(RpcChannel::Request));
}

void NetGame::StartPlayback(int32_t type, const char* name) {
    if (type != RECORDING_DRIVER && type != RECORDING_ONFOOT) return;
    char clean[kRecordingNameMax + 1];
    if (!CleanRecordingName(name, clean, sizeof clean)) {
        NpcLog("Recording playback: no usable recording name");
        Exit(1);
        return;
    }
    const std::string path = std::string("./npcmodes/recordings/") + clean + ".rec";
    Recording recording;
    const RecordingStatus status = LoadRecording(path.c_str(), type, recording);
    if (status == RecordingStatus::Ok) {
        playback_.Start(std::move(recording), NpcTickMs());
        return;
    }
    NpcLog("Recording playback: %s: %s", path.c_str(), RecordingStatusText(status));
    // An older file is rewritten for the next start; this start ends either way.
    if (status == RecordingStatus::OtherVersion)
        NpcLog("Recording playback: %s %s", path.c_str(),
               ConvertRecordingFile(path.c_str(), type) ? "converted" : "could not be converted");
    Exit(1);
}

void NetGame::SendRpc(uint8_t id, const BitStream& payload, MessageReliability reliability) {
    if (client_ == nullptr || ended_) return;
    client_->Rpc(&id, &payload, HIGH_PRIORITY_LEVEL, reliability, ChannelNumber(RpcChannel::Request), false);
}

void NetGame::SendChat(const char* text) {
    if (text == nullptr) return;
    // The length travels in one byte: a longer line keeps its first 255 bytes.
    size_t length = std::strlen(text);
    if (length > 255) length = 255;
    BitStream out;
    out.Write(uint8_t(length));
    out.WriteBytes(text, int32_t(length));
    SendRpc(RPC_ChatText, out, RELIABILITY_RELIABLE);
}

void NetGame::SendCommand(const char* text) {
    if (text == nullptr) return;
    const uint32_t length = uint32_t(std::strlen(text));
    BitStream out;
    out.Write(length);
    out.WriteBytes(text, int32_t(length));
    SendRpc(RPC_CommandText, out, RELIABILITY_RELIABLE);
}

void NetGame::Reset() {
    settings_.worldHour = 12;
    settings_.weather = 10;
    settings_.gravity = 0.008f;
    state_ = NpcConnectionState::Restarting;
    // The player pool keeps its names; vehicles start afresh.
    vehicles_ = std::make_unique<NpcVehiclePool>();
    playback_.Stop();
    ClearWorldState();
}

void NetGame::Exit(int status) {
    ended_ = true;
    NpcExit(status);
}

}  // namespace velt
