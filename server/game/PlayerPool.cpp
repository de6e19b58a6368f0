#include "server/game/PlayerPool.h"

#include <cmath>
#include <cstring>
#include <string_view>

#include "net/BitStream.h"
#include "net/NetServerInterface.h"
#include "server/console/ConsoleVariables.h"
#include "server/console/Log.h"
#include "server/game/GameServer.h"
#include "server/game/RaiseCallback.h"
#include "server/game/ScriptServices.h"
#include "server/shared/GameRpc.h"
#include "server/shared/StringUtil.h"

namespace velt {

namespace {

constexpr float kServerTickSeconds = 30.0f;

// Copies text into a fixed row when it fits; false (row untouched) otherwise.
template <size_t N>
bool CopyRow(std::array<char, N>& row, const char* text, size_t maxLength) {
    size_t length = std::strlen(text);
    if (length > maxLength || length >= N) return false;
    std::memcpy(row.data(), text, length);
    row[length] = '\0';
    return true;
}

}  // namespace

PlayerPool::PlayerPool(GameServer& server) : server_(server) {
    createdTime_ = server_.GetTickMs();
    slotTime_.fill(createdTime_);
    for (auto& name : names_) name[0] = '\0';
}

PlayerPool::~PlayerPool() {
    DisconnectAll();
    ReleaseRetired();
}

int PlayerPool::Connect(uint16_t id, const char* name, const char* serial, const char* version, bool bot) {
    if (id >= kMaxPlayers || name == nullptr || used_[id] || leaving_[id]) return 0;
    if (std::strlen(name) > kMaxPlayerName) return 0;
    if (serial != nullptr && std::strlen(serial) > kMaxPlayerSerial) return 0;
    if (version != nullptr && std::strlen(version) > kMaxPlayerVersion) return 0;

    auto player = std::make_unique<Player>(server_);
    CopyRow(names_[id], name, kMaxPlayerName);
    serials_[id][0] = '\0';
    versions_[id][0] = '\0';
    if (serial != nullptr) CopyRow(serials_[id], serial, kMaxPlayerSerial);
    if (version != nullptr) CopyRow(versions_[id], version, kMaxPlayerVersion);
    player->SetId(id);
    players_[id] = std::move(player);

    used_[id] = true;
    money_[id] = 0;
    admin_[id] = false;
    world_[id] = 0;
    drunk_[id] = 0;
    bot_[id] = bot;

    size_t nameLength = std::strlen(names_[id].data());
    BitStream joined;
    joined.Write(id);
    joined.Write(int32_t(0));
    joined.Write(uint8_t(bot ? 1 : 0));
    joined.Write(uint8_t(nameLength));
    joined.WriteBytes(names_[id].data(), int32_t(nameLength));
    server_.SendRpcToAll(RPC_PlayerJoined, &joined, id, RpcChannel::World);

    NetServerInterface* net = server_.GetNetServer();
    PlayerID address = net != nullptr ? net->GetSlotPlayerID(id) : UNASSIGNED_PLAYER_ID;
    systems_[id] = net != nullptr ? net->GetConnectedSystem(address) : nullptr;
    char dotted[PlayerID::kStringSize];
    address.ToString(false, dotted, sizeof dotted);
    LogPrintf(bot ? "[npc:join] %s has joined the server (%u:%s)" : "[join] %s has joined the server (%u:%s)",
              names_[id].data(), unsigned(id), dotted);

    players_[id]->SendServerTick();

    RaiseCallback(
        server_, {}, [&] { return used_[id] && !leaving_[id]; },
        [&](auto& side) { return side.OnPlayerConnect(id); });
    ++connectedCount_;
    RecomputeUpperIndex();
    return 1;
}

int PlayerPool::Disconnect(uint16_t id, uint8_t reason) {
    if (id >= kMaxPlayers || !used_[id] || !players_[id] || leaving_[id]) return 0;
    // A script that kicks the same player from inside the callbacks below finds the slot leaving
    // and gets 0, instead of raising the callbacks again and freeing the record twice.
    leaving_[id] = true;
    RaiseCallback(server_, {}, NoPlayerToLose,
                  [&](auto& side) { return side.OnPlayerDisconnect(id, reason); });

    used_[id] = false;
    // The record may still be in use further up the stack (a store that raised the callback
    // that kicked this player); it is freed between passes.
    players_[id]->Retire();
    players_[id]->LeaveStreamingIndexes();
    retired_.push_back(std::move(players_[id]));
    admin_[id] = false;
    systems_[id] = nullptr;

    BitStream left;
    left.Write(id);
    left.Write(reason);
    server_.SendRpcToAll(RPC_PlayerLeft, &left, id, RpcChannel::World);

    if (ObjectPool* objects = server_.GetObjectPool()) objects->DestroyAllPlayerObjects(id);
    if (MenuPool* menus = server_.GetMenuPool()) menus->ForgetPlayer(id);

    // Whoever had him streamed in forgets him now: a stale mark would count against the stream
    // cap for ever (when he held the highest id no later pass looks at it again) and would hand
    // the next player of this slot relays to clients that never saw him streamed in.
    for (int32_t other = 0; other <= upperIndex_; ++other) {
        if (players_[other]) players_[other]->ForgetPlayer(id);
    }

    if (bot_[id]) {
        LogPrintf("[npc:part] %s has left the server (%u:%u)", names_[id].data(), unsigned(id),
                  unsigned(reason));
        bot_[id] = false;
    } else {
        LogPrintf("[part] %s has left the server (%u:%u)", names_[id].data(), unsigned(id), unsigned(reason));
    }
    names_[id][0] = '\0';
    leaving_[id] = false;
    --connectedCount_;
    RecomputeUpperIndex();
    return 1;
}

void PlayerPool::DisconnectAll() {
    for (uint16_t id = 0; id < kMaxPlayers; ++id) Disconnect(id, DISCONNECT_TIMEOUT);
}

void PlayerPool::ReleaseRetired() { retired_.clear(); }

void PlayerPool::RecomputeUpperIndex() {
    int32_t upper = 0;
    for (int32_t id = kMaxPlayers - 1; id > 0; --id) {
        if (used_[id]) {
            upper = id;
            break;
        }
    }
    upperIndex_ = upper;
}

void PlayerPool::Process(float elapsedSeconds) {
    for (int32_t id = 0; id <= upperIndex_; ++id) {
        if (used_[id] && players_[id]) players_[id]->Tick(elapsedSeconds);
    }
    serverTickAccumulator_ += elapsedSeconds;
    if (serverTickAccumulator_ > kServerTickSeconds) {
        for (int32_t id = 0; id <= upperIndex_; ++id) {
            if (used_[id] && players_[id]) players_[id]->SendServerTick();
        }
        serverTickAccumulator_ = 0.0f;
    }
}

void PlayerPool::SendExistingPlayers(uint16_t joiner) {
    for (int32_t id = 0; id <= upperIndex_; ++id) {
        if (id == joiner || !used_[id] || !players_[id]) continue;
        size_t nameLength = std::strlen(names_[id].data());
        BitStream bs;
        bs.Write(uint16_t(id));
        bs.Write(players_[id]->GetColor());
        bs.Write(uint8_t(bot_[id] ? 1 : 0));
        bs.Write(uint8_t(nameLength));
        bs.WriteBytes(names_[id].data(), int32_t(nameLength));
        server_.SendRpcToPlayer(RPC_PlayerJoined, &bs, joiner, RpcChannel::World);
    }
}

void PlayerPool::SendPlayerStreamOut(uint16_t id, uint16_t to) {
    BitStream bs;
    bs.Write(id);
    server_.SendRpcToPlayer(RPC_PlayerStreamOut, &bs, to, RpcChannel::World);
}

void PlayerPool::ResetAll() {
    for (int32_t i = 0; i <= upperIndex_; ++i) {
        uint16_t id = uint16_t(i);
        if (!used_[id]) continue;
        RaiseCallback(
            server_, {.gameModeFirst = true}, [&] { return used_[id]; },
            [&](auto& side) { return side.OnPlayerDisconnect(id, DISCONNECT_QUIT); });
        // A script may have kicked the player meanwhile.
        if (used_[id] && players_[id]) players_[id]->Reset();
    }
    world_.fill(0);
}

void PlayerPool::ResetGameModeStats() {
    world_.fill(0);
    score_.fill(0);
    money_.fill(0);
}

void PlayerPool::SetVirtualWorld(uint16_t id, int32_t world) {
    if (id >= kMaxPlayers || !used_[id]) return;
    if (server_.Settings().useArtwork != 0 && world != 0) {
        if (world_[id] == world) return;
        // The client first loads the models of its new world; streaming waits for that.
        if (players_[id]) players_[id]->SetDownloading(true);
    }
    if (world_[id] == world) return;
    world_[id] = world;
    BitStream bs;
    bs.Write(world);
    server_.SendRpcToPlayer(RPC_PlayerVirtualWorldSet, &bs, id, RpcChannel::World);
}

bool PlayerPool::IsNameInUse(const char* name) const {
    if (name == nullptr) return false;
    for (int32_t id = 0; id <= upperIndex_; ++id) {
        if (!used_[id]) continue;
        if (CompareNoCaseUpperN(names_[id].data(), name, kMaxPlayerName + 1) == 0) return true;
    }
    return false;
}

int PlayerPool::SetName(uint16_t id, const char* name) {
    if (id >= kMaxPlayers || !used_[id] || leaving_[id] || name == nullptr) return 0;
    const size_t length = std::strlen(name);
    if (length == 0) return 0;
    if (length > kMaxPlayerName || HasInvalidNameChar(std::string_view(name, length))) return -1;
    if (IsNameInUse(name)) return 0;

    std::array<char, kMaxPlayerName + 1> oldName = names_[id];
    CopyRow(names_[id], name, kMaxPlayerName);
    if (server_.Settings().chatLogging != 0)
        LogPrintf("[nick] %s nick changed to %s", oldName.data(), names_[id].data());
    BitStream bs;
    bs.Write(id);
    bs.Write(uint8_t(length));
    bs.WriteBytes(names_[id].data(), int32_t(length));
    bs.Write(uint8_t(1));
    server_.SendRpcToAll(RPC_PlayerNameSet, &bs, kNoPlayer, RpcChannel::World);
    return 1;
}

int32_t PlayerPool::GetHumanCount() const {
    int32_t count = 0;
    for (int32_t id = 0; id <= upperIndex_; ++id) {
        if (used_[id] && !bot_[id]) ++count;
    }
    return count;
}

int32_t PlayerPool::GetNpcCount() const {
    int32_t count = 0;
    for (int32_t id = 0; id <= upperIndex_; ++id) {
        if (used_[id] && bot_[id]) ++count;
    }
    return count;
}

bool PlayerPool::IsReady(uint16_t id) const {
    if (id >= kMaxPlayers || !used_[id]) return false;
    if (bot_[id]) return true;
    if (!players_[id]) return false;
    NetServerInterface* net = server_.GetNetServer();
    return net != nullptr && net->GetConnectedSystem(net->GetSlotPlayerID(id)) != nullptr;
}

float PlayerPool::GetDistance(uint16_t a, uint16_t b) const {
    Player* pa = GetAt(a);
    Player* pb = GetAt(b);
    if (pa == nullptr || pb == nullptr) return 0.0f;
    const Vector3& p = pb->GetPosition();
    return pa->GetDistanceFromPoint(p.x, p.y, p.z);
}

void PlayerPool::StreamOutPlayerForAll(uint16_t id) {
    for (int32_t other = 0; other <= upperIndex_; ++other) {
        if (other == id || !used_[other] || !players_[other]) continue;
        if (players_[other]->IsPlayerStreamedIn(id)) players_[other]->StreamOutPlayer(id);
    }
}

void PlayerPool::StreamOutVehicleForAll(uint16_t vehicle) {
    for (int32_t other = 0; other <= upperIndex_; ++other) {
        if (!used_[other] || !players_[other]) continue;
        if (players_[other]->IsVehicleStreamedIn(vehicle)) players_[other]->StreamOutVehicle(vehicle);
    }
}

void PlayerPool::StreamOutActorForAll(uint16_t actor) {
    for (int32_t other = 0; other <= upperIndex_; ++other) {
        if (!used_[other] || !players_[other]) continue;
        if (players_[other]->IsActorStreamedIn(actor)) players_[other]->StreamOutActor(actor);
    }
}

void PlayerPool::StoreStats(uint16_t id, int32_t money, int32_t drunkLevel) {
    if (id >= kMaxPlayers || !used_[id]) return;
    money_[id] = money;
    drunk_[id] = drunkLevel;
}

}  // namespace velt
