#pragma once
// The client face of the peer: a NetPeer with one connection slot, connected to one server, seen
// through NetClientInterface. Besides forwarding it keeps the password it connects with, the
// other clients a server may announce, and the server's synchronized seeds, and it takes a few
// library messages out of Receive.

#include <cstdint>

#include "net/BitStream.h"
#include "net/NetClientInterface.h"
#include "net/NetPeer.h"

namespace velt {

class NetClient final : public NetPeer, public NetClientInterface {
public:
    static constexpr uint32_t kMaxOtherClients = 32;
    // Identical to the server's broadcast period: a seed message announces the next seed for
    // the period after its own time stamp.
    static constexpr NetTime kSeedPeriodMs = 9000;
    static constexpr uint32_t kSeedMessageBytes = 14;

    // The bot program's client scrambles what it sends; a client for another program of the
    // library (role Library) sends plain datagrams.
    explicit NetClient(SocketRole role = SocketRole::BotClient);
    ~NetClient() override;

    using NetPeer::Connect;
    using NetPeer::GetAveragePing;
    using NetPeer::GetLastPing;
    using NetPeer::GetLowestPing;
    using NetPeer::GetStatistics;
    using NetPeer::InitializeSecurity;
    using NetPeer::Rpc;
    using NetPeer::RpcBytes;
    using NetPeer::Send;
    using NetPeer::SendBytes;
    using NetPeer::SetTimeoutTime;

    bool Connect(const char* host, uint16_t serverPort, uint16_t clientPort, uint32_t reserved,
                 int32_t threadSleepTimer) override;
    void Disconnect(uint32_t blockDuration, uint8_t orderingChannel) override {
        NetPeer::Disconnect(blockDuration, orderingChannel);
    }
    void InitializeSecurity(const uint8_t* publicKeyE, const uint8_t* publicKeyN) override;
    void SetPassword(const char* password) override;
    bool HasPassword() const override { return password_.GetNumberOfBitsUsed() > 0; }

    bool SendBytes(const uint8_t* data, int32_t length, PacketPriority priority,
                   MessageReliability reliability, uint8_t orderingChannel) override;
    bool Send(const BitStream* bitStream, PacketPriority priority, MessageReliability reliability,
              uint8_t orderingChannel) override;
    Packet* Receive() override;
    void FreePacket(Packet* packet) override { NetPeer::FreePacket(packet); }

    void PingServer() override;
    void PingServerOffline(const char* host, uint16_t serverPort, uint16_t clientPort,
                           bool onlyReplyOnAcceptingConnections) override;
    int32_t GetAveragePing() const override;
    int32_t GetLastPing() const override;
    int32_t GetLowestPing() const override;
    int32_t GetPlayerPing(PlayerID playerId) const override;
    void StartOccasionalPing() override { NetPeer::SetOccasionalPing(true); }
    void StopOccasionalPing() override { NetPeer::SetOccasionalPing(false); }
    bool IsConnected() const override;
    uint32_t GetSynchronizedSeed() const override;

    bool GenerateCompressionLayer(const uint32_t inputFrequencyTable[kFrequencyTableSize],
                                  bool inputLayer) override {
        return NetPeer::BuildCompressionTree(inputFrequencyTable, inputLayer);
    }
    bool DeleteCompressionLayer(bool inputLayer) override {
        return NetPeer::DeleteCompressionTree(inputLayer);
    }

    void RegisterRpc(const uint8_t* uniqueId, RpcHandler handler) override {
        NetPeer::RegisterRpc(uniqueId, handler);
    }
    void RegisterRpcMember(const uint8_t* uniqueId, RpcHandler handler) override {
        NetPeer::RegisterRpcMember(uniqueId, handler);
    }
    void UnregisterRpc(const uint8_t* uniqueId) override { (void)uniqueId; }
    bool RpcBytes(const uint8_t* uniqueId, const uint8_t* data, uint32_t bitLength, PacketPriority priority,
                  MessageReliability reliability, uint8_t orderingChannel, bool shiftTimestamp,
                  NetworkID networkId, BitStream* replyFromTarget) override;
    bool RpcWithObject(const uint8_t* uniqueId, const BitStream* parameters, PacketPriority priority,
                       MessageReliability reliability, uint8_t orderingChannel, bool shiftTimestamp,
                       NetworkID networkId, BitStream* replyFromTarget) override;
    bool Rpc(const uint8_t* uniqueId, const BitStream* parameters, PacketPriority priority,
             MessageReliability reliability, uint8_t orderingChannel, bool shiftTimestamp) override;

    void SetTrackFrequencyTable(bool doCompile) override { NetPeer::SetTrackFrequencyTable(doCompile); }
    bool GetSendFrequencyTable(uint32_t outputFrequencyTable[kFrequencyTableSize]) override {
        return NetPeer::GetSendFrequencyTable(outputFrequencyTable);
    }
    float GetCompressionRatio() const override { return NetPeer::GetCompressionRatio(); }
    float GetDecompressionRatio() const override { return NetPeer::GetDecompressionRatio(); }

    void AttachPlugin(PluginInterface* plugin) override { NetPeer::AttachPlugin(plugin); }
    void DetachPlugin(PluginInterface* plugin) override { NetPeer::DetachPlugin(plugin); }

    BitStream* GetStaticServerData() override;
    void SetStaticServerData(const uint8_t* data, int32_t length) override;
    BitStream* GetStaticClientData(PlayerID playerId) override;
    void SetStaticClientData(PlayerID playerId, const uint8_t* data, int32_t length) override;
    void SendStaticClientDataToServer() override;

    PlayerID GetServerID() const override;
    PlayerID GetPlayerID() const override;
    PlayerID GetInternalID() const override { return NetPeer::GetInternalID(); }
    const char* PlayerIDToDottedIP(PlayerID playerId) const override {
        return NetPeer::PlayerIDToDottedIP(playerId);
    }
    void PushBackPacket(Packet* packet, bool pushAtHead) override {
        NetPeer::PushBackPacket(packet, pushAtHead);
    }
    void SetRouterInterface(RouterInterface* router) override { NetPeer::SetRouter(router); }
    void RemoveRouterInterface(RouterInterface* router) override { NetPeer::RemoveRouter(router); }
    void SetTimeoutTime(uint32_t timeMs) override;
    bool SetMTUSize(int32_t size) override { return NetPeer::SetMTUSize(size); }
    int32_t GetMTUSize() const override { return NetPeer::GetMTUSize(); }
    void AllowConnectionResponseIPMigration(bool allow) override {
        NetPeer::AllowConnectionResponseIPMigration(allow);
    }
    void AdvertiseSystem(const char* host, uint16_t remotePort, const uint8_t* data,
                         int32_t dataLength) override {
        NetPeer::AdvertiseSystem(host, remotePort, data, dataLength);
    }
    NetworkStatistics* GetStatistics() override;
    void ApplyNetworkSimulator(double maxSendBps, uint16_t minExtraPing,
                               uint16_t extraPingVariance) override {
        NetPeer::ApplyNetworkSimulator(maxSendBps, minExtraPing, extraPingVariance);
    }
    bool IsNetworkSimulatorActive() const override { return NetPeer::IsNetworkSimulatorActive(); }
    uint16_t GetPlayerIndex() const override { return localPlayerIndex_; }

    // Local address Connect binds to (null or empty = every address). The bot program leaves it
    // alone; tests use it to connect from a second loopback address, which unlike 127.0.0.1 can
    // be banned. The text is copied.
    void SetLocalAddress(const char* address);

private:
    struct OtherClient {
        PlayerID playerId = UNASSIGNED_PLAYER_ID;
        uint16_t ping = 0;
        BitStream staticData;
        bool isActive = false;
    };

    // Slot 0 holds the server once Connect has started the peer; UNASSIGNED_PLAYER_ID before.
    PlayerID ServerId() const;
    OtherClient* FindOtherClient(PlayerID playerId);
    const OtherClient* FindOtherClient(PlayerID playerId) const;
    OtherClient* FindOtherClientOrFree(PlayerID playerId);
    // True when the packet is for the user; false when it was consumed or dropped (and freed).
    bool Filter(Packet* packet);

    BitStream password_;
    OtherClient otherClients_[kMaxOtherClients];
    uint32_t seed_ = 0;
    uint32_t nextSeed_ = 0;
    NetTime nextSeedUpdate_ = 0;
    uint16_t localPlayerIndex_ = 0xFFFF;
    char localAddress_[16] = {};
};

}  // namespace velt
