#pragma once
// The abstract face of the peer. Every operation of NetPeer is one of these virtual operations,
// declared in the order of the peer's operation table; NetServer and NetClient are the same
// object seen through their own interfaces. Pure virtual and without data, so a test can stand
// in a fake.
//
// Other parts of the code base call some of these by older names:
//   NetPeer::AddPlugin           -> AttachPlugin
//   NetPeer::RemovePlugin        -> DetachPlugin
//   NetPeer::QueueIncomingPacket -> PushBackPacket
//   NetPeer::ClearRouter         -> RemoveRouter
//   RouterInterface::Route       -> RouterInterface::Send
//   PluginInterface::OnReceive   -> PluginInterface::Received

#include <cstdint>

#include "net/NetworkTypes.h"
#include "net/Packet.h"
#include "net/PlayerID.h"
#include "net/PluginInterface.h"

namespace velt {

class BitStream;
class RpcTable;
struct NetworkStatistics;

// Carries sends and RPCs whose target has no connection of this peer (a routed mesh). No router
// is set in the game; the peer only forwards to one when it is given.
class RouterInterface {
public:
    // The peer returns this result as its own. bitLength counts bits from the first bit of data.
    virtual bool Send(const uint8_t* data, uint32_t bitLength, PacketPriority priority,
                      MessageReliability reliability, uint8_t orderingChannel, PlayerID target) = 0;
    virtual ~RouterInterface() = default;
};

// Sizes of the key material InitializeSecurity takes, least significant byte first.
inline constexpr uint32_t kPublicExponentBytes = 4;
inline constexpr uint32_t kPublicModulusBytes = 32;
inline constexpr uint32_t kPrivatePrimeBytes = 16;

// Slots of the frequency table and of the compression trees: one per byte value.
inline constexpr uint32_t kFrequencyTableSize = 256;

class NetPeerInterface {
public:
    virtual ~NetPeerInterface() = default;

    // ---- start and stop ------------------------------------------------------------------
    // Opens the socket on localPort (0 = any; the own PlayerID then carries the real one) and
    // forceHostAddress (null or empty = every address), sizes the slot array to maxConnections
    // (at least 1) and starts the network thread. False while running or when the socket or the
    // thread cannot be made. threadSleepTimer < 0 means the thread never sleeps.
    virtual bool Initialize(uint16_t maxConnections, uint16_t localPort, int32_t threadSleepTimer,
                            const char* forceHostAddress) = 0;
    // Secure connections. Each pair is given whole or not at all (nulls): a public key (e, n) is
    // the one a server must present; two primes (p, q) make this side's key pair; no key at all
    // generates one. False while running.
    virtual bool InitializeSecurity(const uint8_t* publicKeyE, const uint8_t* publicKeyN,
                                    const uint8_t* privateKeyP, const uint8_t* privateKeyQ) = 0;
    // Secure connections off; only while not running.
    virtual void DisableSecurity() = 0;
    // Admission limit for incoming connections; may change at any time.
    virtual void SetMaximumIncomingConnections(uint16_t numberAllowed) = 0;
    virtual uint16_t GetMaximumIncomingConnections() const = 0;
    // Copies up to 255 bytes (a longer password is cut); null or a length <= 0 clears it.
    virtual void SetIncomingPassword(const char* passwordData, int32_t passwordDataLength) = 0;
    // With a null buffer sets *passwordDataLength to the stored length only; else copies
    // min(*passwordDataLength, stored) bytes and sets *passwordDataLength to the number copied.
    virtual void GetIncomingPassword(char* passwordData, int32_t* passwordDataLength) = 0;
    // Starts a connection attempt; the outcome arrives later as a packet. False without host,
    // while not running, when the host does not resolve or a slot for it exists already.
    virtual bool Connect(const char* host, uint16_t remotePort, const char* passwordData,
                         int32_t passwordDataLength) = 0;
    // With blockDuration > 0 notifies every connection and waits up to that long for them to
    // close; then stops the thread, frees every slot and queued packet and closes the socket.
    // The incoming-connection limit and the password survive.
    virtual void Disconnect(uint32_t blockDuration, uint8_t orderingChannel) = 0;
    virtual bool IsActive() const = 0;
    // Fills up to *numberOfSystems fully connected addresses (remoteSystems may be null) and sets
    // *numberOfSystems to how many there are.
    virtual bool GetConnectionList(PlayerID* remoteSystems, uint16_t* numberOfSystems) const = 0;

    // ---- messages --------------------------------------------------------------------------
    // Queued for the network thread. False for no data, length < 1, not running, or
    // UNASSIGNED_PLAYER_ID without broadcast. broadcast sends to every connected system except
    // target. A target without a connection goes to the router when one is set.
    virtual bool SendBytes(const uint8_t* data, int32_t length, PacketPriority priority,
                           MessageReliability reliability, uint8_t orderingChannel, PlayerID target,
                           bool broadcast) = 0;
    virtual bool Send(const BitStream* bitStream, PacketPriority priority, MessageReliability reliability,
                      uint8_t orderingChannel, PlayerID target, bool broadcast) = 0;
    // Next message for the user, or null. RPCs that arrived before it are run inside this call
    // on the calling thread; plugins see every packet first.
    virtual Packet* Receive() = 0;
    // Gives back a packet from Receive; null is ignored.
    virtual void FreePacket(Packet* packet) = 0;
    // Number of connection slots (0 while not running).
    virtual uint16_t GetMaximumNumberOfPeers() const = 0;

    // ---- remote procedure calls (ids by pointer to their one-byte value) ----------------------
    // Null id, id 0 or a null handler: nothing. Replaces an earlier handler of that id.
    virtual void RegisterRpc(const uint8_t* uniqueId, RpcHandler handler) = 0;
    virtual void RegisterRpcMember(const uint8_t* uniqueId, RpcHandler handler) = 0;
    // Deliberately no effect: a registered handler stays for the peer's life.
    virtual void UnregisterRpc(const uint8_t* uniqueId) = 0;
    // Queues one call per target. networkId and replyFromTarget are accepted and not used.
    virtual bool RpcBytes(const uint8_t* uniqueId, const uint8_t* data, uint32_t bitLength,
                          PacketPriority priority, MessageReliability reliability, uint8_t orderingChannel,
                          PlayerID target, bool broadcast, bool shiftTimestamp, NetworkID networkId,
                          BitStream* replyFromTarget) = 0;
    // RpcBytes with the stream's bits (none for a null stream).
    virtual bool Rpc(const uint8_t* uniqueId, const BitStream* parameters, PacketPriority priority,
                     MessageReliability reliability, uint8_t orderingChannel, PlayerID target, bool broadcast,
                     bool shiftTimestamp, NetworkID networkId, BitStream* replyFromTarget) = 0;

    // ---- connections -----------------------------------------------------------------------
    // With notify the remote system is told and the slot closes once nothing is left to send;
    // without, the slot closes on the network thread's next pass.
    virtual void CloseConnection(PlayerID target, bool sendDisconnectionNotification,
                                 uint8_t orderingChannel) = 0;
    // Slot index of an active connection, -1 when none.
    virtual int32_t GetIndexFromPlayerID(PlayerID playerId) const = 0;
    // Address of a fully connected slot, else UNASSIGNED_PLAYER_ID.
    virtual PlayerID GetPlayerIDFromIndex(int32_t index) const = 0;

    // ---- bans (dotted text, '*' matches the rest of a field) -----------------------------------
    // milliseconds 0 bans until removed.
    virtual void AddToBanList(const char* ip, uint32_t milliseconds) = 0;
    virtual void RemoveFromBanList(const char* ip) = 0;
    virtual void ClearBanList() = 0;
    // Drops expired entries on the way, hence not const.
    virtual bool IsBanned(const char* ip) = 0;

    // ---- pings -----------------------------------------------------------------------------
    // Queues a ping to a connection.
    virtual void Ping(PlayerID target) = 0;
    // Unconnected ping datagram; the answer arrives as a packet of its own.
    virtual void Ping(const char* host, uint16_t remotePort, bool onlyReplyOnAcceptingConnections) = 0;
    // Milliseconds; -1 when the target has no slot (or, for the average, no measurement).
    virtual int32_t GetAveragePing(PlayerID target) const = 0;
    virtual int32_t GetLastPing(PlayerID target) const = 0;
    virtual int32_t GetLowestPing(PlayerID target) const = 0;
    // On: ping every connection every 5 s for its whole life; off: only until the first answer.
    virtual void SetOccasionalPing(bool doPing) = 0;

    // ---- static data -------------------------------------------------------------------------
    // The own static data for the own PlayerID, else that of the slot holding the address
    // (active or not), else null.
    virtual BitStream* GetRemoteStaticData(PlayerID playerId) = 0;
    // Replaces the own static data (own PlayerID) or that of the active slot holding the address;
    // null data or length <= 0 leaves it empty. No such slot: nothing.
    virtual void SetRemoteStaticData(PlayerID playerId, const uint8_t* data, int32_t length) = 0;
    // Queues the own static data to target, or to everybody for UNASSIGNED_PLAYER_ID.
    virtual void SendStaticDataTo(PlayerID target) = 0;
    // Bytes appended to the answer of an unconnected ping.
    virtual void SetOfflinePingResponse(const uint8_t* data, uint32_t length) = 0;

    // ---- addresses and link settings -----------------------------------------------------------
    virtual PlayerID GetInternalID() const = 0;
    // This side's own address as the remote system reported seeing it; UNASSIGNED_PLAYER_ID
    // when it reported none. UNASSIGNED_PLAYER_ID as the argument asks any connection.
    virtual PlayerID GetExternalID(PlayerID target) const = 0;
    // Silence after which the connection to target counts as lost.
    virtual void SetTimeoutTime(uint32_t timeMs, PlayerID target) = 0;
    // Refused (false) while running; clamped to 512..1492.
    virtual bool SetMTUSize(int32_t size) = 0;
    virtual int32_t GetMTUSize() const = 0;
    // Local IPv4 addresses found at start (at most 10).
    virtual uint32_t GetNumberOfAddresses() = 0;
    // Dotted text of local address index (indexes past the table give its last entry). The text
    // belongs to the peer and is rewritten by the next call.
    virtual const char* GetLocalIP(uint32_t index) = 0;
    // Dotted text of the address, in a buffer the next call overwrites.
    virtual const char* PlayerIDToDottedIP(PlayerID playerId) const = 0;
    // Dotted text and port into *playerId; text that is no address gives UNASSIGNED_PLAYER_ID;
    // a null text changes nothing.
    virtual void IPToPlayerID(const char* host, uint16_t remotePort, PlayerID* playerId) = 0;
    // Lets a connection answer arrive from another address than the one asked.
    virtual void AllowConnectionResponseIPMigration(bool allow) = 0;
    // Sends [55][data] (at most 400 bytes) to host while running.
    virtual void AdvertiseSystem(const char* host, uint16_t remotePort, const uint8_t* data,
                                 int32_t dataLength) = 0;
    // Every interval-th piece of a split message yields a progress packet; 0 = off.
    virtual void SetSplitMessageProgressInterval(int32_t interval) = 0;
    // Unreliable messages queued longer than this are dropped unsent; 0 = never.
    virtual void SetUnreliableTimeout(uint32_t timeoutMs) = 0;

    // ---- optional byte compression ---------------------------------------------------------------
    virtual void SetTrackFrequencyTable(bool doCompile) = 0;
    // Copies the per-byte send counters; refused while running or while counting is off.
    virtual bool GetSendFrequencyTable(uint32_t outputFrequencyTable[kFrequencyTableSize]) = 0;
    // Replaces the receive (inputLayer) or send tree; refused while running.
    virtual bool BuildCompressionTree(const uint32_t inputFrequencyTable[kFrequencyTableSize],
                                      bool inputLayer) = 0;
    virtual bool DeleteCompressionTree(bool inputLayer) = 0;
    // Compressed / raw bytes sent; 0 when nothing was sent.
    virtual float GetCompressionRatio() const = 0;
    // Decompressed / compressed bytes received; 0 when nothing was received.
    virtual float GetDecompressionRatio() const = 0;

    // ---- plugins and router ------------------------------------------------------------------------
    // Attaching twice keeps one entry. The peer does not own plugins.
    virtual void AttachPlugin(PluginInterface* plugin) = 0;
    // Null or a plugin not attached: nothing.
    virtual void DetachPlugin(PluginInterface* plugin) = 0;
    // Puts a packet back for Receive to hand out again, first (pushAtHead) or last.
    virtual void PushBackPacket(Packet* packet, bool pushAtHead) = 0;
    virtual void SetRouter(RouterInterface* router) = 0;
    // Clears the router only when it is the one set.
    virtual void RemoveRouter(RouterInterface* router) = 0;

    // ---- test aids and statistics ----------------------------------------------------------------
    // Bandwidth cap and extra latency for every connection, now and later; all 0 = off.
    virtual void ApplyNetworkSimulator(double maxSendBps, uint16_t minExtraPing,
                                       uint16_t extraPingVariance) = 0;
    virtual bool IsNetworkSimulatorActive() const = 0;
    // Counters of one connection; for UNASSIGNED_PLAYER_ID the sums over every active one, in a
    // record shared by all callers. Null while not running or when target has no slot. The record
    // stays valid until the next call.
    virtual NetworkStatistics* GetStatistics(PlayerID target) = 0;
    // remoteTime (the remote system's ms clock) in this side's clock.
    virtual uint32_t GetClockDifferentialTime(PlayerID target, uint32_t remoteTime) const = 0;
    // The peer's table for UNASSIGNED_PLAYER_ID, else the slot's own, else null.
    virtual RpcTable* GetRpcTable(PlayerID target) = 0;
};

}  // namespace velt
