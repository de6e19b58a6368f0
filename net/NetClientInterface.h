#pragma once
// The transport as the bot program sees it: one connection, to one server. The program holds one
// object made by CreateNetClient (net/NetworkFactory.h) and calls it from its main thread only.
// Every operation addressed to the server fails (false, -1, null or UNASSIGNED_PLAYER_ID) while
// there is no connection slot, that is before Connect and after Disconnect. Pure virtual and
// without data, so a test can stand in a fake.
//
// Operations the bot program uses: Connect, Disconnect, SetPassword, Send, Receive, FreePacket,
// IsConnected, RegisterRpc, UnregisterRpc, Rpc. The rest completes the library's surface.
//
// Mapping to the peer (net/NetPeerInterface.h) where names differ: PingServer -> Ping of the
// server, Start/StopOccasionalPing -> SetOccasionalPing, GenerateCompressionLayer/
// DeleteCompressionLayer -> BuildCompressionTree/DeleteCompressionTree, RpcWithObject -> Rpc,
// Get/SetStaticServerData -> Get/SetRemoteStaticData of the server, SendStaticClientDataToServer ->
// SendStaticDataTo, SetRouterInterface/RemoveRouterInterface -> SetRouter/RemoveRouter. Older
// code calls PushBackPacket QueueIncomingPacket.

#include <cstdint>

#include "net/NetPeerInterface.h"
#include "net/NetworkTypes.h"
#include "net/Packet.h"
#include "net/PlayerID.h"

namespace velt {

class BitStream;
class PluginInterface;
class RouterInterface;
struct NetworkStatistics;

class NetClientInterface {
public:
    virtual ~NetClientInterface() = default;

    // Restarts the peer with one slot on clientPort (0 = any) and sends the connection request
    // with the stored password. The outcome arrives later as a packet (accepted, refused, failed).
    // reserved is ignored.
    virtual bool Connect(const char* host, uint16_t serverPort, uint16_t clientPort, uint32_t reserved,
                         int32_t threadSleepTimer) = 0;
    virtual void Disconnect(uint32_t blockDuration, uint8_t orderingChannel) = 0;
    // The server's public key: exponent (4 bytes) and modulus (32 bytes).
    virtual void InitializeSecurity(const uint8_t* publicKeyE, const uint8_t* publicKeyN) = 0;
    // Stores the text with its terminating zero; null or "" means no password (unlike the
    // server side, where "" is a one-byte password).
    virtual void SetPassword(const char* password) = 0;
    virtual bool HasPassword() const = 0;

    // Queued to the server.
    virtual bool SendBytes(const uint8_t* data, int32_t length, PacketPriority priority,
                           MessageReliability reliability, uint8_t orderingChannel) = 0;
    virtual bool Send(const BitStream* bitStream, PacketPriority priority, MessageReliability reliability,
                      uint8_t orderingChannel) = 0;
    // Next message or null; RPCs run inside. Seed messages and ping lists are consumed here.
    // The connection-accepted packet carries this side's player index in playerIndex.
    virtual Packet* Receive() = 0;
    virtual void FreePacket(Packet* packet) = 0;

    virtual void PingServer() = 0;
    // Starts the peer if needed and sends an unconnected ping; the answer arrives as a packet.
    virtual void PingServerOffline(const char* host, uint16_t serverPort, uint16_t clientPort,
                                   bool onlyReplyOnAcceptingConnections) = 0;
    // Round trips to the server in ms; -1 without a connection slot.
    virtual int32_t GetAveragePing() const = 0;
    virtual int32_t GetLastPing() const = 0;
    virtual int32_t GetLowestPing() const = 0;
    // Ping of another client as the server last announced it; -1 when unknown.
    virtual int32_t GetPlayerPing(PlayerID playerId) const = 0;
    virtual void StartOccasionalPing() = 0;
    virtual void StopOccasionalPing() = 0;
    // Exactly one fully connected system (the server).
    virtual bool IsConnected() const = 0;
    virtual uint32_t GetSynchronizedSeed() const = 0;

    virtual bool GenerateCompressionLayer(const uint32_t inputFrequencyTable[kFrequencyTableSize],
                                          bool inputLayer) = 0;
    virtual bool DeleteCompressionLayer(bool inputLayer) = 0;

    virtual void RegisterRpc(const uint8_t* uniqueId, RpcHandler handler) = 0;
    virtual void RegisterRpcMember(const uint8_t* uniqueId, RpcHandler handler) = 0;
    // No effect: a registered handler stays registered.
    virtual void UnregisterRpc(const uint8_t* uniqueId) = 0;
    virtual bool RpcBytes(const uint8_t* uniqueId, const uint8_t* data, uint32_t bitLength,
                          PacketPriority priority, MessageReliability reliability, uint8_t orderingChannel,
                          bool shiftTimestamp, NetworkID networkId, BitStream* replyFromTarget) = 0;
    virtual bool RpcWithObject(const uint8_t* uniqueId, const BitStream* parameters, PacketPriority priority,
                               MessageReliability reliability, uint8_t orderingChannel, bool shiftTimestamp,
                               NetworkID networkId, BitStream* replyFromTarget) = 0;
    // Queued call to the server; no object id, no reply.
    virtual bool Rpc(const uint8_t* uniqueId, const BitStream* parameters, PacketPriority priority,
                     MessageReliability reliability, uint8_t orderingChannel, bool shiftTimestamp) = 0;

    virtual void SetTrackFrequencyTable(bool doCompile) = 0;
    virtual bool GetSendFrequencyTable(uint32_t outputFrequencyTable[kFrequencyTableSize]) = 0;
    virtual float GetCompressionRatio() const = 0;
    virtual float GetDecompressionRatio() const = 0;

    virtual void AttachPlugin(PluginInterface* plugin) = 0;
    virtual void DetachPlugin(PluginInterface* plugin) = 0;

    virtual BitStream* GetStaticServerData() = 0;
    virtual void SetStaticServerData(const uint8_t* data, int32_t length) = 0;
    // UNASSIGNED_PLAYER_ID: this side's own static data; else what the server announced for that
    // client, null when nothing.
    virtual BitStream* GetStaticClientData(PlayerID playerId) = 0;
    virtual void SetStaticClientData(PlayerID playerId, const uint8_t* data, int32_t length) = 0;
    virtual void SendStaticClientDataToServer() = 0;

    virtual PlayerID GetServerID() const = 0;
    // This side's address as the server sees it, else as bound locally.
    virtual PlayerID GetPlayerID() const = 0;
    virtual PlayerID GetInternalID() const = 0;
    virtual const char* PlayerIDToDottedIP(PlayerID playerId) const = 0;
    virtual void PushBackPacket(Packet* packet, bool pushAtHead) = 0;
    virtual void SetRouterInterface(RouterInterface* router) = 0;
    virtual void RemoveRouterInterface(RouterInterface* router) = 0;
    // Silence from the server after which the connection counts as lost.
    virtual void SetTimeoutTime(uint32_t timeMs) = 0;
    // Refused (false) while running; clamped to 512..1492.
    virtual bool SetMTUSize(int32_t size) = 0;
    virtual int32_t GetMTUSize() const = 0;
    virtual void AllowConnectionResponseIPMigration(bool allow) = 0;
    virtual void AdvertiseSystem(const char* host, uint16_t remotePort, const uint8_t* data,
                                 int32_t dataLength) = 0;
    // Counters of the connection to the server; null without one.
    virtual NetworkStatistics* GetStatistics() = 0;
    virtual void ApplyNetworkSimulator(double maxSendBps, uint16_t minExtraPing,
                                       uint16_t extraPingVariance) = 0;
    virtual bool IsNetworkSimulatorActive() const = 0;
    // This side's slot index on the server, from the connection-accepted message.
    virtual uint16_t GetPlayerIndex() const = 0;
};

}  // namespace velt
