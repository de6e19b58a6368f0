#pragma once

// A transport client for the bot that records what the bot sends and hands it queued packets and
// calls; the calls run inside Receive, as the real client runs them. Used by the bot's tests and
// by its fuzz target, so it depends on nothing but the transport's headers.

#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "net/BitStream.h"
#include "net/NetClientInterface.h"
#include "net/Packet.h"

namespace velt::test {

struct SentRpc {
    uint8_t id;
    std::vector<uint8_t> bytes;
    uint32_t bits;
    MessageReliability reliability;
    PacketPriority priority;
    uint8_t channel;
};

struct SentMessage {
    std::vector<uint8_t> bytes;
    MessageReliability reliability;
    PacketPriority priority;
    uint8_t channel;
};

class FakeNetClient final : public NetClientInterface {
public:
    // ---- what a test controls ------------------------------------------------------------------
    bool connectResult = true;
    bool connected = false;
    // ---- what the bot did ----------------------------------------------------------------------
    std::vector<uint8_t> registrationOrder;
    std::vector<SentRpc> rpcs;
    std::vector<SentMessage> sends;
    std::vector<std::pair<uint32_t, uint8_t>> disconnects;
    std::string password;
    bool passwordSet = false;
    std::string connectHost;
    uint16_t connectPort = 0;
    int connectCalls = 0;
    RpcHandler handlers[256] = {};

    void QueuePacket(std::vector<uint8_t> bytes) { queue_.push_back(Event{false, 0, std::move(bytes), 0}); }
    // A call with exactly `bits` bits of `bytes`.
    void QueueRpc(uint8_t id, std::vector<uint8_t> bytes, uint32_t bits) {
        queue_.push_back(Event{true, id, std::move(bytes), bits});
    }
    void QueueRpc(uint8_t id, const BitStream& payload) {
        const uint8_t* d = payload.GetData();
        std::vector<uint8_t> bytes(d, d + payload.GetNumberOfBytesUsed());
        QueueRpc(id, std::move(bytes), uint32_t(payload.GetNumberOfBitsUsed()));
    }
    // Runs a call at once, as Receive would.
    void Call(uint8_t id, const std::vector<uint8_t>& bytes, uint32_t bits) {
        if (handlers[id] == nullptr) return;
        // A heap copy of exactly the payload's bytes, so a read past it shows under ASan.
        std::vector<uint8_t> copy(bytes.begin(), bytes.begin() + (bits + 7) / 8);
        RpcCallParams params{copy.empty() ? nullptr : copy.data(), bits, PlayerID{0x0100007Fu, 7777},
                             nullptr};
        handlers[id](&params);
    }
    std::vector<SentRpc> RpcsWithId(uint8_t id) const {
        std::vector<SentRpc> out;
        for (const SentRpc& r : rpcs)
            if (r.id == id) out.push_back(r);
        return out;
    }

    // ---- the interface ---------------------------------------------------------------------------
    bool Connect(const char* host, uint16_t serverPort, uint16_t, uint32_t, int32_t) override {
        ++connectCalls;
        connectHost = host != nullptr ? host : "";
        connectPort = serverPort;
        return connectResult;
    }
    void Disconnect(uint32_t blockDuration, uint8_t channel) override {
        disconnects.emplace_back(blockDuration, channel);
        connected = false;
    }
    void InitializeSecurity(const uint8_t*, const uint8_t*) override {}
    void SetPassword(const char* text) override {
        passwordSet = true;
        password = text != nullptr ? text : "";
    }
    bool HasPassword() const override { return !password.empty(); }
    bool SendBytes(const uint8_t* data, int32_t length, PacketPriority priority,
                   MessageReliability reliability, uint8_t channel) override {
        sends.push_back(
            SentMessage{std::vector<uint8_t>(data, data + length), reliability, priority, channel});
        return true;
    }
    bool Send(const BitStream* bs, PacketPriority priority, MessageReliability reliability,
              uint8_t channel) override {
        return SendBytes(bs->GetData(), bs->GetNumberOfBytesUsed(), priority, reliability, channel);
    }
    Packet* Receive() override {
        while (!queue_.empty()) {
            Event e = std::move(queue_.front());
            queue_.pop_front();
            if (e.rpc) {
                Call(e.id, e.bytes, e.bits);
                continue;
            }
            Packet* p = NewPacket(uint32_t(e.bytes.size()));
            if (!e.bytes.empty()) std::memcpy(p->data, e.bytes.data(), e.bytes.size());
            return p;
        }
        return nullptr;
    }
    void FreePacket(Packet* packet) override { velt::FreePacket(packet); }
    void PingServer() override {}
    void PingServerOffline(const char*, uint16_t, uint16_t, bool) override {}
    int32_t GetAveragePing() const override { return -1; }
    int32_t GetLastPing() const override { return -1; }
    int32_t GetLowestPing() const override { return -1; }
    int32_t GetPlayerPing(PlayerID) const override { return -1; }
    void StartOccasionalPing() override {}
    void StopOccasionalPing() override {}
    bool IsConnected() const override { return connected; }
    uint32_t GetSynchronizedSeed() const override { return 0; }
    bool GenerateCompressionLayer(const uint32_t[kFrequencyTableSize], bool) override { return false; }
    bool DeleteCompressionLayer(bool) override { return false; }
    void RegisterRpc(const uint8_t* id, RpcHandler handler) override {
        registrationOrder.push_back(*id);
        if (*id != 0) handlers[*id] = handler;
    }
    void RegisterRpcMember(const uint8_t* id, RpcHandler handler) override { RegisterRpc(id, handler); }
    void UnregisterRpc(const uint8_t*) override {}
    bool RpcBytes(const uint8_t*, const uint8_t*, uint32_t, PacketPriority, MessageReliability, uint8_t, bool,
                  NetworkID, BitStream*) override {
        return false;
    }
    bool RpcWithObject(const uint8_t*, const BitStream*, PacketPriority, MessageReliability, uint8_t, bool,
                       NetworkID, BitStream*) override {
        return false;
    }
    bool Rpc(const uint8_t* id, const BitStream* params, PacketPriority priority,
             MessageReliability reliability, uint8_t channel, bool) override {
        const uint8_t* d = params->GetData();
        rpcs.push_back(SentRpc{*id, std::vector<uint8_t>(d, d + params->GetNumberOfBytesUsed()),
                               uint32_t(params->GetNumberOfBitsUsed()), reliability, priority, channel});
        return true;
    }
    void SetTrackFrequencyTable(bool) override {}
    bool GetSendFrequencyTable(uint32_t[kFrequencyTableSize]) override { return false; }
    float GetCompressionRatio() const override { return 0; }
    float GetDecompressionRatio() const override { return 0; }
    void AttachPlugin(PluginInterface*) override {}
    void DetachPlugin(PluginInterface*) override {}
    BitStream* GetStaticServerData() override { return nullptr; }
    void SetStaticServerData(const uint8_t*, int32_t) override {}
    BitStream* GetStaticClientData(PlayerID) override { return nullptr; }
    void SetStaticClientData(PlayerID, const uint8_t*, int32_t) override {}
    void SendStaticClientDataToServer() override {}
    PlayerID GetServerID() const override { return UNASSIGNED_PLAYER_ID; }
    PlayerID GetPlayerID() const override { return UNASSIGNED_PLAYER_ID; }
    PlayerID GetInternalID() const override { return UNASSIGNED_PLAYER_ID; }
    const char* PlayerIDToDottedIP(PlayerID) const override { return ""; }
    void PushBackPacket(Packet*, bool) override {}
    void SetRouterInterface(RouterInterface*) override {}
    void RemoveRouterInterface(RouterInterface*) override {}
    void SetTimeoutTime(uint32_t) override {}
    bool SetMTUSize(int32_t) override { return false; }
    int32_t GetMTUSize() const override { return 1492; }
    void AllowConnectionResponseIPMigration(bool) override {}
    void AdvertiseSystem(const char*, uint16_t, const uint8_t*, int32_t) override {}
    NetworkStatistics* GetStatistics() override { return nullptr; }
    void ApplyNetworkSimulator(double, uint16_t, uint16_t) override {}
    bool IsNetworkSimulatorActive() const override { return false; }
    uint16_t GetPlayerIndex() const override { return 0; }

private:
    struct Event {
        bool rpc;
        uint8_t id;
        std::vector<uint8_t> bytes;
        uint32_t bits;
    };
    std::deque<Event> queue_;
};

}  // namespace velt::test
