#pragma once
// The server face of the peer: a NetPeer in the server role seen through NetServerInterface.
// Almost everything forwards to the peer; Start, the seed broadcast in Receive, and the mapping
// of server-style calls (players, kicks, addresses) onto peer operations are its own.
//
// Where both bases declare an operation with the same name and parameters, the one method here
// overrides both, so a call through either interface reaches the same code.

#include <cstdint>

#include "net/NetPeer.h"
#include "net/NetServerInterface.h"

namespace velt {

class NetServer final : public NetServerInterface, public NetPeer {
public:
    // Time between two seed broadcasts while they are switched on.
    static constexpr NetTime kSeedPeriodMs = 9000;
    static constexpr uint32_t kSeedMessageBytes = 14;

    NetServer();
    ~NetServer() override;

    using NetPeer::InitializeSecurity;
    using NetPeer::Rpc;

    bool Start(uint16_t allowedPlayers, uint32_t reserved, int32_t threadSleepTimer, uint16_t port,
               const char* forceHostAddress) override;
    void InitializeSecurity(const uint8_t* privateKeyP, const uint8_t* privateKeyQ) override;
    void DisableSecurity() override { NetPeer::DisableSecurity(); }
    void SetPassword(const char* password) override;
    bool HasPassword() override;
    void Disconnect(uint32_t blockDuration, uint8_t orderingChannel) override {
        NetPeer::Disconnect(blockDuration, orderingChannel);
    }

    bool SendBytes(const uint8_t* data, int32_t length, PacketPriority priority,
                   MessageReliability reliability, uint8_t orderingChannel, PlayerID target,
                   bool broadcast) override {
        return NetPeer::SendBytes(data, length, priority, reliability, orderingChannel, target, broadcast);
    }
    bool Send(const BitStream* bitStream, PacketPriority priority, MessageReliability reliability,
              uint8_t orderingChannel, PlayerID target, bool broadcast) override {
        return NetPeer::Send(bitStream, priority, reliability, orderingChannel, target, broadcast);
    }
    bool SendNow(const BitStream* bitStream, PacketPriority priority, MessageReliability reliability,
                 uint8_t orderingChannel, PlayerID target, bool broadcast) override;
    Packet* Receive() override;
    void Kick(PlayerID target) override { NetPeer::NotifyAndClose(target, true, 0); }
    void FreePacket(Packet* packet) override { NetPeer::FreePacket(packet); }

    void SetMaxPlayers(uint16_t numberAllowed) override {
        NetPeer::SetMaximumIncomingConnections(numberAllowed);
    }
    uint16_t GetMaxPlayers() override { return NetPeer::GetMaximumIncomingConnections(); }
    uint16_t GetConnectedCount() override;
    void GetPlayerAddress(PlayerID target, char* returnValue, uint16_t* port) override;

    void PingPlayer(PlayerID target) override { NetPeer::Ping(target); }
    int32_t GetAveragePing(PlayerID target) const override { return NetPeer::GetAveragePing(target); }
    int32_t GetLastPing(PlayerID target) const override { return NetPeer::GetLastPing(target); }
    int32_t GetLowestPing(PlayerID target) const override { return NetPeer::GetLowestPing(target); }
    void StartOccasionalPing() override { NetPeer::SetOccasionalPing(true); }
    void StopOccasionalPing() override { NetPeer::SetOccasionalPing(false); }
    bool IsActive() const override { return NetPeer::IsActive(); }

    uint32_t GetSynchronizedSeed() override { return seed_; }
    void StartSynchronizedSeeds() override { synchronizedSeeds_ = true; }
    void StopSynchronizedSeeds() override { synchronizedSeeds_ = false; }

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
    void UnregisterRpc(const uint8_t* uniqueId) override { NetPeer::UnregisterRpc(uniqueId); }
    bool RpcBytes(const uint8_t* uniqueId, const uint8_t* data, uint32_t bitLength, PacketPriority priority,
                  MessageReliability reliability, uint8_t orderingChannel, PlayerID target, bool broadcast,
                  bool shiftTimestamp, NetworkID networkId, BitStream* replyFromTarget) override {
        return NetPeer::RpcBytes(uniqueId, data, bitLength, priority, reliability, orderingChannel, target,
                                 broadcast, shiftTimestamp, networkId, replyFromTarget);
    }
    bool RpcWithObject(const uint8_t* uniqueId, const BitStream* parameters, PacketPriority priority,
                       MessageReliability reliability, uint8_t orderingChannel, PlayerID target,
                       bool broadcast, bool shiftTimestamp, NetworkID networkId,
                       BitStream* replyFromTarget) override {
        return NetPeer::Rpc(uniqueId, parameters, priority, reliability, orderingChannel, target, broadcast,
                            shiftTimestamp, networkId, replyFromTarget);
    }
    bool Rpc(const uint8_t* uniqueId, const BitStream* parameters, PacketPriority priority,
             MessageReliability reliability, uint8_t orderingChannel, PlayerID target, bool broadcast,
             bool shiftTimestamp) override {
        return NetPeer::Rpc(uniqueId, parameters, priority, reliability, orderingChannel, target, broadcast,
                            shiftTimestamp, UNASSIGNED_NETWORK_ID, nullptr);
    }
    bool RpcNow(const uint8_t* uniqueId, const BitStream* parameters, PacketPriority priority,
                MessageReliability reliability, uint8_t orderingChannel, PlayerID target, bool broadcast,
                bool shiftTimestamp, NetworkID networkId, BitStream* replyFromTarget) override;

    ConnectedSystem* GetConnectedSystem(PlayerID target) override {
        return NetPeer::GetConnectedSystem(target, false);
    }

    void SetTrackFrequencyTable(bool doCompile) override { NetPeer::SetTrackFrequencyTable(doCompile); }
    bool GetSendFrequencyTable(uint32_t outputFrequencyTable[kFrequencyTableSize]) override {
        return NetPeer::GetSendFrequencyTable(outputFrequencyTable);
    }
    float GetCompressionRatio() const override { return NetPeer::GetCompressionRatio(); }
    float GetDecompressionRatio() const override { return NetPeer::GetDecompressionRatio(); }

    void AttachPlugin(PluginInterface* plugin) override { NetPeer::AttachPlugin(plugin); }
    void DetachPlugin(PluginInterface* plugin) override { NetPeer::DetachPlugin(plugin); }

    BitStream* GetStaticServerData() override {
        return NetPeer::GetRemoteStaticData(NetPeer::GetInternalID());
    }
    void SetStaticServerData(const uint8_t* data, int32_t length) override {
        NetPeer::SetRemoteStaticData(NetPeer::GetInternalID(), data, length);
    }
    void SetRelayStaticClientData(bool relay) override { relayStaticClientData_ = relay; }
    void SendStaticServerDataToClient(PlayerID target) override { NetPeer::SendStaticDataTo(target); }
    void SetOfflinePingResponse(const uint8_t* data, uint32_t length) override {
        NetPeer::SetOfflinePingResponse(data, length);
    }
    BitStream* GetStaticClientData(PlayerID target) override { return NetPeer::GetRemoteStaticData(target); }
    void SetStaticClientData(PlayerID target, const uint8_t* data, int32_t length) override {
        NetPeer::SetRemoteStaticData(target, data, length);
    }
    void ChangeStaticClientData(PlayerID target) override;

    uint32_t GetNumberOfAddresses() override { return NetPeer::GetNumberOfAddresses(); }
    const char* GetLocalIP(uint32_t index) override { return NetPeer::GetLocalIP(index); }
    PlayerID GetInternalID() const override { return NetPeer::GetInternalID(); }
    void PushBackPacket(Packet* packet, bool pushAtHead) override {
        NetPeer::PushBackPacket(packet, pushAtHead);
    }
    void SetRouterInterface(RouterInterface* router) override { NetPeer::SetRouter(router); }
    void RemoveRouterInterface(RouterInterface* router) override { NetPeer::RemoveRouter(router); }

    int32_t GetIndexFromPlayerID(PlayerID playerId) const override {
        return NetPeer::GetIndexFromPlayerID(playerId);
    }
    PlayerID GetPlayerIDFromIndex(int32_t index) const override {
        return NetPeer::GetPlayerIDFromIndex(index);
    }
    PlayerID GetSlotPlayerID(int32_t index) const override { return NetPeer::GetSlotPlayerID(index); }

    void AddToBanList(const char* ip, uint32_t milliseconds) override {
        NetPeer::AddToBanList(ip, milliseconds);
    }
    void RemoveFromBanList(const char* ip) override { NetPeer::RemoveFromBanList(ip); }
    void ClearBanList() override { NetPeer::ClearBanList(); }
    bool IsBanned(const char* ip) override { return NetPeer::IsBanned(ip); }

    bool IsActivePlayerID(PlayerID target) override {
        return NetPeer::GetConnectedSystem(target, true) != nullptr;
    }
    void SetTimeoutTime(uint32_t timeMs, PlayerID target) override {
        NetPeer::SetTimeoutTime(timeMs, target);
    }
    bool SetMTUSize(int32_t size) override { return NetPeer::SetMTUSize(size); }
    int32_t GetMTUSize() const override { return NetPeer::GetMTUSize(); }
    void AdvertiseSystem(const char* host, uint16_t remotePort, const uint8_t* data,
                         int32_t dataLength) override {
        NetPeer::AdvertiseSystem(host, remotePort, data, dataLength);
    }
    NetworkStatistics* GetStatistics(PlayerID target) override { return NetPeer::GetStatistics(target); }
    uint32_t GetLocalTimeFromRemote(PlayerID target, uint32_t remoteTime) override {
        return NetPeer::GetClockDifferentialTime(target, remoteTime);
    }
    void ApplyNetworkSimulator(double maxSendBps, uint16_t minExtraPing,
                               uint16_t extraPingVariance) override {
        NetPeer::ApplyNetworkSimulator(maxSendBps, minExtraPing, extraPingVariance);
    }
    bool IsNetworkSimulatorActive() const override { return NetPeer::IsNetworkSimulatorActive(); }

    PeerSettings& GetPeerSettings() override { return NetPeer::Settings(); }
    void SetTransportSettings(const TransportSettings* settings) override {
        NetPeer::SetTransportSettings(settings);
    }
    void SetLogHook(WireLogFn log) override { NetPeer::SetLogHook(log); }
    void SetQueryInbox(QueryInbox* inbox) override { NetPeer::Endpoint().SetQueryInbox(inbox); }
    SlotMessenger& Slots() override { return *this; }

    // Test aid: the seed announced for the period after the current one.
    uint32_t GetNextSynchronizedSeed() const { return nextSeed_; }

private:
    void SendSeeds(PlayerID target, bool broadcast);

    uint32_t seed_ = 0;
    uint32_t nextSeed_ = 0;
    NetTime nextSeedUpdate_ = 0;
    bool synchronizedSeeds_ = false;
    bool relayStaticClientData_ = false;
};

}  // namespace velt
