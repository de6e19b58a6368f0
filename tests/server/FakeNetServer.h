#pragma once

// A transport for game-server tests: records every send, RPC, kick and ban call, maps player
// slots to addresses the test chooses, and hands out packets the test queues. Made and unmade
// through FakeNetServer::Factory(), like the real server through its factory.

#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "net/BitStream.h"
#include "net/NetServerInterface.h"
#include "net/TransportSettings.h"
#include "server/game/GameServer.h"

namespace velt::test {

class FakeNetServer : public NetServerInterface, public SlotMessenger {
public:
    struct Message {
        bool isRpc = false;
        uint8_t rpcId = 0;  // RPCs only
        std::vector<uint8_t> bytes;
        int32_t bits = 0;
        PacketPriority priority = HIGH_PRIORITY_LEVEL;
        MessageReliability reliability = RELIABILITY_RELIABLE;
        uint8_t channel = 0;
        PlayerID target = UNASSIGNED_PLAYER_ID;
        bool broadcast = false;
    };

    // The instance the last Factory().create made; null once destroyed.
    static inline FakeNetServer* last = nullptr;
    // Start's result for the next instance.
    static inline bool nextStartSucceeds = true;
    // The calls of the last instance destroyed (its teardown happens inside the game server).
    static inline std::vector<std::string> destroyedCalls;

    static NetServerFactory Factory() { return {&Create, &Destroy}; }

    // ---- scripting the fake -------------------------------------------------------------------
    // Slot index <-> address, as the transport would know a connected player.
    void AddSlot(int32_t index, PlayerID address) { slots[index] = address; }
    static PlayerID AddressOf(int32_t index) {
        return PlayerID{0x0100007Fu + (uint32_t(index + 1) << 24), uint16_t(20000 + index)};
    }
    void QueuePacket(uint16_t slot, const std::vector<uint8_t>& data) {
        Packet* p = nullptr;
        if (data.empty()) {
            p = NewPacket(0, nullptr);
        } else {
            uint8_t* buffer = new uint8_t[data.size()];
            std::memcpy(buffer, data.data(), data.size());
            p = NewPacket(uint32_t(data.size()), buffer);
        }
        p->playerIndex = slot;
        auto it = slots.find(slot);
        p->sender = it != slots.end() ? it->second : UNASSIGNED_PLAYER_ID;
        packets.push_back(p);
    }
    // Messages (RPCs and packets) that went to one address.
    std::vector<Message> To(PlayerID target) const {
        std::vector<Message> out;
        for (const Message& m : sent)
            if (m.target == target) out.push_back(m);
        return out;
    }
    std::vector<Message> Rpcs(uint8_t id) const {
        std::vector<Message> out;
        for (const Message& m : sent)
            if (m.isRpc && m.rpcId == id) out.push_back(m);
        return out;
    }

    // ---- what was asked of it -----------------------------------------------------------------
    std::vector<Message> sent;
    std::vector<std::string> calls;  // start, password, bans, kicks, disconnect, in order
    std::map<int32_t, PlayerID> slots;
    std::deque<Packet*> packets;
    int freedPackets = 0;
    bool startSucceeds = true;
    bool mtuSucceeds = true;
    uint16_t maxPlayers = 0;
    std::vector<uint8_t> registeredRpcs;

    ~FakeNetServer() override {
        for (Packet* p : packets) velt::FreePacket(p);
    }

    // ---- the interface ------------------------------------------------------------------------
    bool Start(uint16_t allowedPlayers, uint32_t, int32_t sleep, uint16_t port, const char* bind) override {
        calls.push_back("Start " + std::to_string(allowedPlayers) + " " + std::to_string(sleep) + " " +
                        std::to_string(port) + " " + (bind != nullptr ? bind : "(none)"));
        return startSucceeds;
    }
    void InitializeSecurity(const uint8_t*, const uint8_t*) override {}
    void DisableSecurity() override {}
    void SetPassword(const char* password) override {
        calls.push_back(std::string("SetPassword ") + (password != nullptr ? password : "(null)"));
    }
    bool HasPassword() override { return false; }
    void Disconnect(uint32_t block, uint8_t channel) override {
        calls.push_back("Disconnect " + std::to_string(block) + " " + std::to_string(channel));
    }
    bool SendBytes(const uint8_t*, int32_t, PacketPriority, MessageReliability, uint8_t, PlayerID,
                   bool) override {
        return true;
    }
    bool Send(const BitStream* bs, PacketPriority priority, MessageReliability reliability, uint8_t channel,
              PlayerID target, bool broadcast) override {
        Record(false, 0, bs, priority, reliability, channel, target, broadcast);
        return true;
    }
    bool SendNow(const BitStream* bs, PacketPriority priority, MessageReliability reliability,
                 uint8_t channel, PlayerID target, bool broadcast) override {
        Record(false, 0, bs, priority, reliability, channel, target, broadcast);
        return true;
    }
    Packet* Receive() override {
        if (packets.empty()) return nullptr;
        Packet* p = packets.front();
        packets.pop_front();
        return p;
    }
    void Kick(PlayerID target) override { calls.push_back("Kick " + std::string(target.ToString(true))); }
    void FreePacket(Packet* packet) override {
        ++freedPackets;
        velt::FreePacket(packet);
    }
    void SetMaxPlayers(uint16_t n) override {
        maxPlayers = n;
        calls.push_back("SetMaxPlayers " + std::to_string(n));
    }
    uint16_t GetMaxPlayers() override { return maxPlayers; }
    uint16_t GetConnectedCount() override { return uint16_t(slots.size()); }
    void GetPlayerAddress(PlayerID target, char* out, uint16_t* port) override {
        target.ToString(false, out, 16);
        *port = target.port;
    }
    void PingPlayer(PlayerID) override {}
    int32_t GetAveragePing(PlayerID) const override { return 0; }
    int32_t GetLastPing(PlayerID) const override { return 42; }
    int32_t GetLowestPing(PlayerID) const override { return 0; }
    void StartOccasionalPing() override { calls.push_back("StartOccasionalPing"); }
    void StopOccasionalPing() override {}
    bool IsActive() const override { return true; }
    uint32_t GetSynchronizedSeed() override { return 0; }
    void StartSynchronizedSeeds() override {}
    void StopSynchronizedSeeds() override {}
    bool GenerateCompressionLayer(const uint32_t*, bool) override { return false; }
    bool DeleteCompressionLayer(bool) override { return false; }
    void RegisterRpc(const uint8_t* id, RpcHandler) override { registeredRpcs.push_back(*id); }
    void RegisterRpcMember(const uint8_t*, RpcHandler) override {}
    void UnregisterRpc(const uint8_t*) override {}
    bool RpcBytes(const uint8_t*, const uint8_t*, uint32_t, PacketPriority, MessageReliability, uint8_t,
                  PlayerID, bool, bool, NetworkID, BitStream*) override {
        return true;
    }
    bool RpcWithObject(const uint8_t*, const BitStream*, PacketPriority, MessageReliability, uint8_t,
                       PlayerID, bool, bool, NetworkID, BitStream*) override {
        return true;
    }
    bool Rpc(const uint8_t* id, const BitStream* bs, PacketPriority priority, MessageReliability reliability,
             uint8_t channel, PlayerID target, bool broadcast, bool) override {
        Record(true, *id, bs, priority, reliability, channel, target, broadcast);
        return true;
    }
    bool RpcNow(const uint8_t* id, const BitStream* bs, PacketPriority priority,
                MessageReliability reliability, uint8_t channel, PlayerID target, bool broadcast, bool,
                NetworkID, BitStream*) override {
        Record(true, *id, bs, priority, reliability, channel, target, broadcast);
        return true;
    }
    ConnectedSystem* GetConnectedSystem(PlayerID target) override {
        for (const auto& [index, address] : slots)
            if (address == target) return reinterpret_cast<ConnectedSystem*>(&connectedSystemToken_);
        return nullptr;
    }
    void SetTrackFrequencyTable(bool) override {}
    bool GetSendFrequencyTable(uint32_t*) override { return false; }
    float GetCompressionRatio() const override { return 0.0f; }
    float GetDecompressionRatio() const override { return 0.0f; }
    void AttachPlugin(PluginInterface*) override {}
    void DetachPlugin(PluginInterface*) override {}
    BitStream* GetStaticServerData() override { return nullptr; }
    void SetStaticServerData(const uint8_t*, int32_t) override {}
    void SetRelayStaticClientData(bool) override {}
    void SendStaticServerDataToClient(PlayerID) override {}
    void SetOfflinePingResponse(const uint8_t*, uint32_t) override {}
    BitStream* GetStaticClientData(PlayerID) override { return nullptr; }
    void SetStaticClientData(PlayerID, const uint8_t*, int32_t) override {}
    void ChangeStaticClientData(PlayerID) override {}
    uint32_t GetNumberOfAddresses() override { return 0; }
    const char* GetLocalIP(uint32_t) override { return ""; }
    PlayerID GetInternalID() const override { return UNASSIGNED_PLAYER_ID; }
    void PushBackPacket(Packet*, bool) override {}
    void SetRouterInterface(RouterInterface*) override {}
    void RemoveRouterInterface(RouterInterface*) override {}
    int32_t GetIndexFromPlayerID(PlayerID id) const override {
        for (const auto& [index, address] : slots)
            if (address == id) return index;
        return -1;
    }
    PlayerID GetPlayerIDFromIndex(int32_t index) const override {
        auto it = slots.find(index);
        return it != slots.end() ? it->second : UNASSIGNED_PLAYER_ID;
    }
    PlayerID GetSlotPlayerID(int32_t index) const override { return GetPlayerIDFromIndex(index); }
    void AddToBanList(const char* ip, uint32_t ms) override {
        calls.push_back("AddToBanList " + std::string(ip) + " " + std::to_string(ms));
    }
    void RemoveFromBanList(const char* ip) override {
        calls.push_back("RemoveFromBanList " + std::string(ip));
    }
    void ClearBanList() override { calls.push_back("ClearBanList"); }
    bool IsBanned(const char*) override { return false; }
    bool IsActivePlayerID(PlayerID target) override { return GetIndexFromPlayerID(target) >= 0; }
    void SetTimeoutTime(uint32_t, PlayerID) override {}
    bool SetMTUSize(int32_t size) override {
        calls.push_back("SetMTUSize " + std::to_string(size));
        return mtuSucceeds;
    }
    int32_t GetMTUSize() const override { return 576; }
    void AdvertiseSystem(const char*, uint16_t, const uint8_t*, int32_t) override {}
    NetworkStatistics* GetStatistics(PlayerID) override { return nullptr; }
    uint32_t GetLocalTimeFromRemote(PlayerID, uint32_t remote) override { return remote; }
    void ApplyNetworkSimulator(double, uint16_t, uint16_t) override {}
    bool IsNetworkSimulatorActive() const override { return false; }
    PeerSettings& GetPeerSettings() override { return peerSettings; }
    void SetTransportSettings(const TransportSettings* settings) override { transportSettings = settings; }
    void SetLogHook(WireLogFn log) override { logHook = log; }
    void SetQueryInbox(QueryInbox*) override {}

    // Sends by slot are recorded as sends to the slot's address (unset for an unknown slot).
    SlotMessenger& Slots() override { return *this; }
    bool SendToSlot(uint16_t slot, const BitStream& bs, const Delivery& how) override {
        return SendToSlots({&slot, 1}, bs, how);
    }
    bool SendToSlots(std::span<const uint16_t> slots, const BitStream& bs, const Delivery& how) override {
        for (uint16_t slot : slots)
            Record(false, 0, &bs, how.priority, how.reliability, how.orderingChannel,
                   GetPlayerIDFromIndex(slot), false);
        return true;
    }
    bool Broadcast(const BitStream& bs, const Delivery& how, int32_t) override {
        Record(false, 0, &bs, how.priority, how.reliability, how.orderingChannel, UNASSIGNED_PLAYER_ID, true);
        return true;
    }
    bool RpcToSlot(uint8_t id, const BitStream* bs, uint16_t slot, const Delivery& how) override {
        return RpcToSlots(id, bs, {&slot, 1}, how);
    }
    bool RpcToSlots(uint8_t id, const BitStream* bs, std::span<const uint16_t> slots,
                    const Delivery& how) override {
        for (uint16_t slot : slots)
            Record(true, id, bs, how.priority, how.reliability, how.orderingChannel,
                   GetPlayerIDFromIndex(slot), false);
        return true;
    }
    void KickSlot(uint16_t slot) override {
        const PlayerID address = GetSlotPlayerID(slot);
        if (address != UNASSIGNED_PLAYER_ID) Kick(address);
    }

    PeerSettings peerSettings;
    const TransportSettings* transportSettings = nullptr;
    WireLogFn logHook = nullptr;

private:
    static NetServerInterface* Create() {
        last = new FakeNetServer();
        last->startSucceeds = nextStartSucceeds;
        return last;
    }
    static void Destroy(NetServerInterface* server) {
        if (server == last) last = nullptr;
        if (auto* fake = dynamic_cast<FakeNetServer*>(server)) destroyedCalls = fake->calls;
        delete server;
    }

    void Record(bool isRpc, uint8_t id, const BitStream* bs, PacketPriority priority,
                MessageReliability reliability, uint8_t channel, PlayerID target, bool broadcast) {
        Message m;
        m.isRpc = isRpc;
        m.rpcId = id;
        if (bs != nullptr) {
            m.bits = bs->GetNumberOfBitsUsed();
            const uint8_t* data = bs->GetData();
            if (data != nullptr) m.bytes.assign(data, data + bs->GetNumberOfBytesUsed());
        }
        m.priority = priority;
        m.reliability = reliability;
        m.channel = channel;
        m.target = target;
        m.broadcast = broadcast;
        sent.push_back(std::move(m));
    }

    char connectedSystemToken_ = 0;
};

}  // namespace velt::test
