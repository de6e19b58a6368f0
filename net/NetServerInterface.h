#pragma once
// The transport as the game server sees it. The game holds one object made by CreateNetServer
// (net/NetworkFactory.h) and reaches the network only through these operations, all called from
// its main thread. Pure virtual and without data, so a test can stand in a fake.
//
// Operations the game core uses: Start, SetPassword, Disconnect, Receive, FreePacket, Slots (every
// message to its players, by slot), Kick and RpcNow (a joining sender, by address), SetMaxPlayers,
// GetConnectedCount, GetLastPing, StartOccasionalPing, RegisterRpc, UnregisterRpc,
// GetConnectedSystem, GetIndexFromPlayerID, GetPlayerIDFromIndex, GetSlotPlayerID, AddToBanList,
// RemoveFromBanList, ClearBanList, IsActivePlayerID, SetMTUSize, GetMTUSize, GetStatistics, and the
// wiring at the end. The rest completes the library's surface.
//
// Mapping to the peer (net/NetPeerInterface.h) where names differ: SetPassword ->
// SetIncomingPassword, SetMaxPlayers/GetMaxPlayers -> Set/GetMaximumIncomingConnections,
// PingPlayer -> Ping, Start/StopOccasionalPing -> SetOccasionalPing,
// GenerateCompressionLayer/DeleteCompressionLayer -> BuildCompressionTree/DeleteCompressionTree,
// RpcWithObject -> Rpc, Get/SetStaticServerData and Get/SetStaticClientData ->
// Get/SetRemoteStaticData, SendStaticServerDataToClient -> SendStaticDataTo,
// SetRouterInterface/RemoveRouterInterface -> SetRouter/RemoveRouter, GetLocalTimeFromRemote ->
// GetClockDifferentialTime. Older code calls PushBackPacket QueueIncomingPacket.

#include <cstdint>

#include "net/NetPeerInterface.h"
#include "net/NetworkTypes.h"
#include "net/Packet.h"
#include "net/PeerSettings.h"
#include "net/PlayerID.h"
#include "net/ReliabilityWire.h"
#include "net/SlotMessenger.h"

namespace velt {

class BitStream;
class PluginInterface;
class QueryInbox;
class RouterInterface;
class TransportSettings;
struct ConnectedSystem;
struct NetworkStatistics;

class NetServerInterface {
public:
    virtual ~NetServerInterface() = default;

    // Stops a running peer first, then listens on port (0 = any) with allowedPlayers slots and
    // the same admission limit, and draws the synchronized seeds. reserved is ignored.
    virtual bool Start(uint16_t allowedPlayers, uint32_t reserved, int32_t threadSleepTimer, uint16_t port,
                       const char* forceHostAddress) = 0;
    // This side's key pair from two 16-byte primes (both null: a generated pair).
    virtual void InitializeSecurity(const uint8_t* privateKeyP, const uint8_t* privateKeyQ) = 0;
    virtual void DisableSecurity() = 0;
    // Stores the text with its terminating zero, so "" is a one-byte password; null removes it.
    virtual void SetPassword(const char* password) = 0;
    virtual bool HasPassword() = 0;
    virtual void Disconnect(uint32_t blockDuration, uint8_t orderingChannel) = 0;

    // Queued for the network thread; see NetPeerInterface::SendBytes.
    virtual bool SendBytes(const uint8_t* data, int32_t length, PacketPriority priority,
                           MessageReliability reliability, uint8_t orderingChannel, PlayerID target,
                           bool broadcast) = 0;
    virtual bool Send(const BitStream* bitStream, PacketPriority priority, MessageReliability reliability,
                      uint8_t orderingChannel, PlayerID target, bool broadcast) = 0;
    // Sent from the calling thread at once, not queued.
    virtual bool SendNow(const BitStream* bitStream, PacketPriority priority, MessageReliability reliability,
                         uint8_t orderingChannel, PlayerID target, bool broadcast) = 0;
    // Next message or null; RPCs run inside. With synchronized seeds on, also broadcasts the
    // seeds every 9 s and to each new connection (the packet is returned unchanged).
    virtual Packet* Receive() = 0;
    // Sends the disconnection notice at once; the slot closes when nothing is left to send.
    virtual void Kick(PlayerID target) = 0;
    virtual void FreePacket(Packet* packet) = 0;

    virtual void SetMaxPlayers(uint16_t numberAllowed) = 0;
    virtual uint16_t GetMaxPlayers() = 0;
    // Fully connected systems.
    virtual uint16_t GetConnectedCount() = 0;
    // Dotted address of target into returnValue (at least 16 bytes) and its port into *port.
    virtual void GetPlayerAddress(PlayerID target, char* returnValue, uint16_t* port) = 0;

    virtual void PingPlayer(PlayerID target) = 0;
    virtual int32_t GetAveragePing(PlayerID target) const = 0;
    virtual int32_t GetLastPing(PlayerID target) const = 0;
    virtual int32_t GetLowestPing(PlayerID target) const = 0;
    virtual void StartOccasionalPing() = 0;
    virtual void StopOccasionalPing() = 0;
    virtual bool IsActive() const = 0;

    virtual uint32_t GetSynchronizedSeed() = 0;
    virtual void StartSynchronizedSeeds() = 0;
    virtual void StopSynchronizedSeeds() = 0;

    virtual bool GenerateCompressionLayer(const uint32_t inputFrequencyTable[kFrequencyTableSize],
                                          bool inputLayer) = 0;
    virtual bool DeleteCompressionLayer(bool inputLayer) = 0;

    virtual void RegisterRpc(const uint8_t* uniqueId, RpcHandler handler) = 0;
    virtual void RegisterRpcMember(const uint8_t* uniqueId, RpcHandler handler) = 0;
    // No effect: a registered handler stays registered.
    virtual void UnregisterRpc(const uint8_t* uniqueId) = 0;
    virtual bool RpcBytes(const uint8_t* uniqueId, const uint8_t* data, uint32_t bitLength,
                          PacketPriority priority, MessageReliability reliability, uint8_t orderingChannel,
                          PlayerID target, bool broadcast, bool shiftTimestamp, NetworkID networkId,
                          BitStream* replyFromTarget) = 0;
    virtual bool RpcWithObject(const uint8_t* uniqueId, const BitStream* parameters, PacketPriority priority,
                               MessageReliability reliability, uint8_t orderingChannel, PlayerID target,
                               bool broadcast, bool shiftTimestamp, NetworkID networkId,
                               BitStream* replyFromTarget) = 0;
    // Queued call; no object id, no reply.
    virtual bool Rpc(const uint8_t* uniqueId, const BitStream* parameters, PacketPriority priority,
                     MessageReliability reliability, uint8_t orderingChannel, PlayerID target, bool broadcast,
                     bool shiftTimestamp) = 0;
    // Built and sent from the calling thread at once, to target only (broadcast is ignored); a
    // null stream sends no arguments.
    virtual bool RpcNow(const uint8_t* uniqueId, const BitStream* parameters, PacketPriority priority,
                        MessageReliability reliability, uint8_t orderingChannel, PlayerID target,
                        bool broadcast, bool shiftTimestamp, NetworkID networkId,
                        BitStream* replyFromTarget) = 0;

    // The slot record of target, active or not (the game reads and sets its loggedOn byte);
    // null for UNASSIGNED_PLAYER_ID or an unknown address.
    virtual ConnectedSystem* GetConnectedSystem(PlayerID target) = 0;

    virtual void SetTrackFrequencyTable(bool doCompile) = 0;
    virtual bool GetSendFrequencyTable(uint32_t outputFrequencyTable[kFrequencyTableSize]) = 0;
    virtual float GetCompressionRatio() const = 0;
    virtual float GetDecompressionRatio() const = 0;

    virtual void AttachPlugin(PluginInterface* plugin) = 0;
    virtual void DetachPlugin(PluginInterface* plugin) = 0;

    virtual BitStream* GetStaticServerData() = 0;
    virtual void SetStaticServerData(const uint8_t* data, int32_t length) = 0;
    // Stored only; nothing reads it.
    virtual void SetRelayStaticClientData(bool relay) = 0;
    virtual void SendStaticServerDataToClient(PlayerID target) = 0;
    virtual void SetOfflinePingResponse(const uint8_t* data, uint32_t length) = 0;
    virtual BitStream* GetStaticClientData(PlayerID target) = 0;
    virtual void SetStaticClientData(PlayerID target, const uint8_t* data, int32_t length) = 0;
    // Looks the connection up; no further effect.
    virtual void ChangeStaticClientData(PlayerID target) = 0;

    virtual uint32_t GetNumberOfAddresses() = 0;
    virtual const char* GetLocalIP(uint32_t index) = 0;
    virtual PlayerID GetInternalID() const = 0;
    virtual void PushBackPacket(Packet* packet, bool pushAtHead) = 0;
    virtual void SetRouterInterface(RouterInterface* router) = 0;
    virtual void RemoveRouterInterface(RouterInterface* router) = 0;

    // Slot index of an active connection, -1 when none.
    virtual int32_t GetIndexFromPlayerID(PlayerID playerId) const = 0;
    // Address of a fully connected slot, else UNASSIGNED_PLAYER_ID.
    virtual PlayerID GetPlayerIDFromIndex(int32_t index) const = 0;
    // Whatever address the slot holds, connected or not; UNASSIGNED_PLAYER_ID past the slots.
    virtual PlayerID GetSlotPlayerID(int32_t index) const = 0;

    // milliseconds 0 bans until removed.
    virtual void AddToBanList(const char* ip, uint32_t milliseconds) = 0;
    virtual void RemoveFromBanList(const char* ip) = 0;
    virtual void ClearBanList() = 0;
    virtual bool IsBanned(const char* ip) = 0;

    // True when target holds an active slot.
    virtual bool IsActivePlayerID(PlayerID target) = 0;
    virtual void SetTimeoutTime(uint32_t timeMs, PlayerID target) = 0;
    // Refused (false) while running; clamped to 512..1492.
    virtual bool SetMTUSize(int32_t size) = 0;
    virtual int32_t GetMTUSize() const = 0;
    virtual void AdvertiseSystem(const char* host, uint16_t remotePort, const uint8_t* data,
                                 int32_t dataLength) = 0;
    // One connection's counters, or the sums over all for UNASSIGNED_PLAYER_ID; null when there
    // is nothing to report.
    virtual NetworkStatistics* GetStatistics(PlayerID target) = 0;
    // remoteTime of target's clock in this side's clock.
    virtual uint32_t GetLocalTimeFromRemote(PlayerID target, uint32_t remoteTime) = 0;
    virtual void ApplyNetworkSimulator(double maxSendBps, uint16_t minExtraPing,
                                       uint16_t extraPingVariance) = 0;
    virtual bool IsNetworkSimulatorActive() const = 0;

    // ---- wiring the game supplies -------------------------------------------------------------
    // The transport never reads the console from its network thread; these carry what it needs
    // instead. Set them before Start; the settings themselves may be republished at any time.

    // "conncookies", "cookielogging", "minconnectiontime", CookieSeed and ServerChallenge.
    virtual PeerSettings& GetPeerSettings() = 0;
    // "playertimeout" and the flood limits; null = their defaults. Must outlive the server.
    virtual void SetTransportSettings(const TransportSettings* settings) = 0;
    // Printf-style sink of the transport's log lines (the server passes LogPrintf).
    virtual void SetLogHook(WireLogFn log) = 0;
    // Where query and remote-console datagrams go (the main thread answers them); null = none.
    virtual void SetQueryInbox(QueryInbox* inbox) = 0;

    // The game's sending surface: messages, calls and kicks addressed by slot index.
    virtual SlotMessenger& Slots() = 0;
};

}  // namespace velt
