#pragma once
// The peer: one UDP socket, a fixed array of connection slots, the network thread that serves
// them, and the queues through which the user thread (the game's main thread) talks to it. This
// class is the peer's face (the interface's operations and its life cycle); the work is done by
// its parts:
//
//   PeerCore             what the parts share: settings, the slot table with the peer lock, the
//                        queue to the user, the socket, plugins, log and totals
//   SlotTable            slots, their channels, address -> slot, when each slot next needs a pass
//   SlotSender           messages into slot channels (immediate and queued sends, own messages)
//   CommandQueue         sends and closes queued by the user thread
//   PeerAdmission        datagram -> ban / open-connection exchange -> channel; the handshake
//   OutgoingConnections  the connecting side's attempts and their answers
//   NetworkPass          one pass of the network thread, its waiting, all its prefetching
//   PeerLines            log lines a sender could repeat at will, and the periodic reports
//
// Threads. The user thread calls the interface; the network thread runs the pass. They meet in
// lock-free single-producer/single-consumer queues (commands, connection attempts, received
// messages) and under the peer lock: every use of a slot or its channel holds it for a short
// while. Nothing runs user code under the lock except the plugin hooks that PluginInterface says
// must not call back into the peer.

#include <atomic>
#include <cstdint>
#include <span>
#include <thread>

#include "net/BitStream.h"
#include "net/CommandQueue.h"
#include "net/ConnectionCookie.h"
#include "net/NetPeerInterface.h"
#include "net/NetworkPass.h"
#include "net/NetworkStatistics.h"
#include "net/NetworkWakeup.h"
#include "net/OutgoingConnections.h"
#include "net/PeerAdmission.h"
#include "net/PeerCore.h"
#include "net/PeerLines.h"
#include "net/PeerSettings.h"
#include "net/Queue.h"
#include "net/RpcTable.h"
#include "net/SlotMessenger.h"
#include "net/SlotSender.h"
#include "net/SocketLayer.h"
#include "net/TransportSettings.h"

namespace velt {

class NetPeer : public NetPeerInterface, public SlotMessenger, public DatagramSink {
public:
    static constexpr int32_t kDefaultMtu = PeerCore::kDefaultMtu;
    static constexpr int32_t kMinMtu = 512;
    static constexpr int32_t kMaxMtu = 1492;
    static constexpr uint32_t kMaxPasswordBytes = PeerAdmission::kMaxPasswordBytes;
    static constexpr uint16_t kMaxAcceptedPing = velt::kMaxAcceptedPing;
    static constexpr uint32_t kMaxAdvertiseBytes = 400;
    static constexpr uint32_t kMaxQueuedUnconnectedPackets = IncomingQueue::kMaxCappedPackets;
    // Socket buffer each direction gets per connection slot where that is more than a new
    // socket's; the system may cap it (the peer logs when it does).
    static constexpr uint32_t kSocketBufferBytesPerSlot = 4096;

    // The role fixes what the socket does (descramble, scramble, neither), whether split
    // messages are accepted and whether the server's flood limits and logon kick apply.
    explicit NetPeer(SocketRole role = SocketRole::Library);
    ~NetPeer() override;
    NetPeer(const NetPeer&) = delete;
    NetPeer& operator=(const NetPeer&) = delete;

    // ---- seams (before Initialize) -----------------------------------------------------------
    SocketRole Role() const { return core_.role; }
    // Keys and the query inbox of the socket. In the server role Initialize keys the descrambler
    // from the bound port; the bot client sets the server's port here before connecting.
    SocketEndpoint& Endpoint() { return core_.endpoint; }
    // Null = the process clock. Must outlive the peer.
    void SetClock(const PeerClock* clock);
    const PeerClock& Clock() const { return *core_.clock; }
    // Admission settings and seeds; the owner publishes console values into them at any time.
    PeerSettings& Settings() { return core_.settings; }
    // Timeout and flood limits of the channels. Null = the defaults. Must outlive the peer.
    void SetTransportSettings(const TransportSettings* settings);
    // Printf-style sink of the transport's log lines (the server passes LogPrintf); null = none.
    void SetLogHook(WireLogFn log);
    // Tests and tools: the key the connection cookies are made with (a random one otherwise).
    void SetCookieKey(const uint8_t key[ConnectionCookie::kKeyBytes]) { admission_.Cookie().SetKey(key); }
    // No network thread: the owner drives the peer with RunCycle (tests, fuzzing).
    void SetManualCycle(bool manual) { manualCycle_ = manual; }
    // No socket: Initialize binds nothing and every datagram goes to the raw-send tap only.
    void SetSocketless(bool socketless) { socketless_ = socketless; }
    // Sees every datagram this peer sends (context, destination, bytes before any scrambling).
    using RawSendTap = PeerCore::RawSendTap;
    void SetRawSendTap(RawSendTap tap, void* context);

    // One pass of the network thread. Only for a manually driven peer.
    void RunCycle() { pass_.Run(); }

    // Network thread: one datagram from the socket (already descrambled in the server role).
    void HandleDatagram(uint32_t binaryAddress, uint16_t port, const uint8_t* data,
                        uint32_t length) override {
        pass_.HandleDatagram(binaryAddress, port, data, length);
    }
    void ExpectDatagram(uint32_t binaryAddress, uint16_t port) override {
        pass_.ExpectDatagram(binaryAddress, port);
    }

    // ---- NetPeerInterface ----------------------------------------------------------------------
    bool Initialize(uint16_t maxConnections, uint16_t localPort, int32_t threadSleepTimer,
                    const char* forceHostAddress) override;
    bool InitializeSecurity(const uint8_t* publicKeyE, const uint8_t* publicKeyN, const uint8_t* privateKeyP,
                            const uint8_t* privateKeyQ) override;
    void DisableSecurity() override;
    // The key pair connection requests are answered with (tests, tools).
    const PeerSecurity::Key& SecurityKey() { return admission_.Security().OwnKey(); }
    void SetMaximumIncomingConnections(uint16_t numberAllowed) override;
    uint16_t GetMaximumIncomingConnections() const override;
    void SetIncomingPassword(const char* passwordData, int32_t passwordDataLength) override;
    void GetIncomingPassword(char* passwordData, int32_t* passwordDataLength) override;
    bool Connect(const char* host, uint16_t remotePort, const char* passwordData,
                 int32_t passwordDataLength) override;
    void Disconnect(uint32_t blockDuration, uint8_t orderingChannel) override;
    bool IsActive() const override { return stopRequested_.load(std::memory_order_acquire) == 0; }
    bool GetConnectionList(PlayerID* remoteSystems, uint16_t* numberOfSystems) const override;

    bool SendBytes(const uint8_t* data, int32_t length, PacketPriority priority,
                   MessageReliability reliability, uint8_t orderingChannel, PlayerID target,
                   bool broadcast) override;
    bool Send(const BitStream* bitStream, PacketPriority priority, MessageReliability reliability,
              uint8_t orderingChannel, PlayerID target, bool broadcast) override;
    Packet* Receive() override;
    void FreePacket(Packet* packet) override { velt::FreePacket(packet); }
    uint16_t GetMaximumNumberOfPeers() const override;

    void RegisterRpc(const uint8_t* uniqueId, RpcHandler handler) override;
    void RegisterRpcMember(const uint8_t* uniqueId, RpcHandler handler) override;
    void UnregisterRpc(const uint8_t* uniqueId) override { (void)uniqueId; }
    bool RpcBytes(const uint8_t* uniqueId, const uint8_t* data, uint32_t bitLength, PacketPriority priority,
                  MessageReliability reliability, uint8_t orderingChannel, PlayerID target, bool broadcast,
                  bool shiftTimestamp, NetworkID networkId, BitStream* replyFromTarget) override;
    bool Rpc(const uint8_t* uniqueId, const BitStream* parameters, PacketPriority priority,
             MessageReliability reliability, uint8_t orderingChannel, PlayerID target, bool broadcast,
             bool shiftTimestamp, NetworkID networkId, BitStream* replyFromTarget) override;

    void CloseConnection(PlayerID target, bool sendDisconnectionNotification,
                         uint8_t orderingChannel) override;
    int32_t GetIndexFromPlayerID(PlayerID playerId) const override;
    PlayerID GetPlayerIDFromIndex(int32_t index) const override;

    void AddToBanList(const char* ip, uint32_t milliseconds) override {
        admission_.Bans().Add(ip, milliseconds);
    }
    void RemoveFromBanList(const char* ip) override { admission_.Bans().Remove(ip); }
    void ClearBanList() override { admission_.Bans().Clear(); }
    bool IsBanned(const char* ip) override { return admission_.Bans().IsBanned(ip); }

    void Ping(PlayerID target) override;
    void Ping(const char* host, uint16_t remotePort, bool onlyReplyOnAcceptingConnections) override;
    int32_t GetAveragePing(PlayerID target) const override;
    int32_t GetLastPing(PlayerID target) const override;
    int32_t GetLowestPing(PlayerID target) const override;
    void SetOccasionalPing(bool doPing) override { core_.pingPeriodically.store(doPing); }

    // Defined in NetPeerOptions.cpp.
    BitStream* GetRemoteStaticData(PlayerID playerId) override;
    void SetRemoteStaticData(PlayerID playerId, const uint8_t* data, int32_t length) override;
    void SendStaticDataTo(PlayerID target) override;
    void SetOfflinePingResponse(const uint8_t* data, uint32_t length) override {
        core_.SetOfflinePingResponse(data, length);
    }
    PlayerID GetInternalID() const override { return core_.myPlayerId; }
    PlayerID GetExternalID(PlayerID target) const override;
    void SetTimeoutTime(uint32_t timeMs, PlayerID target) override;
    bool SetMTUSize(int32_t size) override;
    int32_t GetMTUSize() const override { return core_.mtu; }
    uint32_t GetNumberOfAddresses() override;
    const char* GetLocalIP(uint32_t index) override;
    const char* PlayerIDToDottedIP(PlayerID playerId) const override;
    void IPToPlayerID(const char* host, uint16_t remotePort, PlayerID* playerId) override;
    void AllowConnectionResponseIPMigration(bool allow) override { core_.allowIpMigration.store(allow); }
    void AdvertiseSystem(const char* host, uint16_t remotePort, const uint8_t* data,
                         int32_t dataLength) override;
    void SetSplitMessageProgressInterval(int32_t interval) override;
    void SetUnreliableTimeout(uint32_t timeoutMs) override;
    void SetTrackFrequencyTable(bool doCompile) override;
    bool GetSendFrequencyTable(uint32_t outputFrequencyTable[kFrequencyTableSize]) override;
    bool BuildCompressionTree(const uint32_t inputFrequencyTable[kFrequencyTableSize],
                              bool inputLayer) override;
    bool DeleteCompressionTree(bool inputLayer) override;
    float GetCompressionRatio() const override;
    float GetDecompressionRatio() const override;
    void AttachPlugin(PluginInterface* plugin) override;
    void DetachPlugin(PluginInterface* plugin) override;
    void PushBackPacket(Packet* packet, bool pushAtHead) override;
    void SetRouter(RouterInterface* router) override;
    void RemoveRouter(RouterInterface* router) override;
    void ApplyNetworkSimulator(double maxSendBps, uint16_t minExtraPing, uint16_t extraPingVariance) override;
    bool IsNetworkSimulatorActive() const override;
    NetworkStatistics* GetStatistics(PlayerID target) override;
    uint32_t GetClockDifferentialTime(PlayerID target, uint32_t remoteTime) const override;
    RpcTable* GetRpcTable(PlayerID target) override;

    // ---- SlotMessenger --------------------------------------------------------------------------
    bool SendToSlot(uint16_t slot, const BitStream& message, const Delivery& delivery) override;
    bool SendToSlots(std::span<const uint16_t> slots, const BitStream& message,
                     const Delivery& delivery) override;
    bool Broadcast(const BitStream& message, const Delivery& delivery, int32_t exceptSlot) override;
    bool RpcToSlot(uint8_t rpcId, const BitStream* parameters, uint16_t slot,
                   const Delivery& delivery) override;
    bool RpcToSlots(uint8_t rpcId, const BitStream* parameters, std::span<const uint16_t> slots,
                    const Delivery& delivery) override;
    void KickSlot(uint16_t slot) override;

    // ---- the peer's own operations used by the server and client interfaces --------------------
    // Sends at once from the calling thread (copying data). broadcast: every connected system
    // except target. True when at least one connection took the message.
    bool SendNow(const uint8_t* data, uint32_t bitLength, PacketPriority priority,
                 MessageReliability reliability, uint8_t orderingChannel, PlayerID target, bool broadcast);
    // A call built and sent at once from the calling thread (no broadcast). False for a null id
    // or a target without a usable connection.
    bool RpcNow(const uint8_t* uniqueId, const uint8_t* data, uint32_t bitLength, PacketPriority priority,
                MessageReliability reliability, uint8_t orderingChannel, PlayerID target,
                bool shiftTimestamp);
    // Sends the disconnection notice; the slot closes once nothing is left to send. immediate
    // sends from the calling thread, else the network thread sends it on its next pass.
    void NotifyAndClose(PlayerID target, bool immediate, uint8_t orderingChannel);
    // The slot holding the address: the first active one, else (unless onlyActive) the first
    // inactive one that still holds it. Null for UNASSIGNED_PLAYER_ID.
    ConnectedSystem* GetConnectedSystem(PlayerID playerId, bool onlyActive = false);
    // The address a slot holds whatever its state; UNASSIGNED_PLAYER_ID out of range.
    PlayerID GetSlotPlayerID(int32_t index) const;
    // Sends a ping at once.
    void PingNow(PlayerID target);
    // Clock differential of the lowest-ping measurement of the connection (0 when none).
    int32_t GetBestClockDifferential(PlayerID target) const;
    // Capped packets (see kMaxQueuedUnconnectedPackets) waiting for the user (approximate while
    // running).
    uint32_t QueuedUnconnectedPackets() const { return core_.incoming.CappedWaiting(); }
    // Bytes of received messages waiting for the user (approximate while running).
    uint64_t QueuedIncomingBytes() const { return core_.incoming.TotalBytes(); }

private:
    void NetworkThreadMain();
    // The socket's buffers sized for count connection slots.
    void SizeSocketBuffers(uint16_t count);
    // The next message from the user-side queue or the network thread, past the plugins.
    Packet* ReceiveInternal();
    void ShiftIncomingTimestamp(Packet* packet) const;
    void CountRpcFailure(RpcDispatchResult result);
    // Whether the user thread may queue sends now: a running peer with slots.
    bool CanQueue() const { return core_.slots.Count() != 0 && IsActive(); }
    // A message queued for target (or, broadcasting, every connected system but target), or
    // handed to the router when target has no connection here.
    bool QueueSend(const uint8_t* data, uint32_t bitLength, const Delivery& delivery, PlayerID target,
                   bool broadcast);
    // Queues payload for the connections the listed slots hold now (those connected); false when
    // none does.
    bool QueueToSlots(std::span<const uint16_t> slots, OwnedPayload&& payload, const Delivery& delivery);
    // Active slot of the address by linear scan (the user thread's way), -1 for none.
    int32_t FindSlot(PlayerID playerId, bool onlyActive) const VELT_REQUIRES(core_.slots.peerLock) {
        return core_.slots.FindAny(playerId, onlyActive);
    }
    void ClearQueues();

    // ---- the parts ----
    PeerCore core_;
    NetworkWakeup wakeup_;
    CommandQueue commands_{wakeup_};
    SlotSender sender_{core_};
    PeerLines lines_{core_};
    OutgoingConnections outgoing_{core_, sender_};
    PeerAdmission admission_{core_, sender_, lines_, outgoing_};
    NetworkPass pass_{core_, sender_, admission_, outgoing_, lines_, commands_, wakeup_};

    // ---- run state ----
    bool manualCycle_ = false;
    bool socketless_ = false;
    std::atomic<uint8_t> stopRequested_{1};
    std::atomic<uint8_t> threadActive_{0};
    std::thread networkThread_;
    int32_t threadSleepTimer_ = 0;

    // ---- guarded by the peer lock ----
    double simulatorMaxBps_ VELT_GUARDED_BY(core_.slots.peerLock) = 0;
    uint16_t simulatorMinExtraPing_ VELT_GUARDED_BY(core_.slots.peerLock) = 0;
    uint16_t simulatorExtraPingVariance_ VELT_GUARDED_BY(core_.slots.peerLock) = 0;
    NetworkStatistics statisticsCopy_ VELT_GUARDED_BY(core_.slots.peerLock);

    // ---- user thread ----
    RouterInterface* router_ = nullptr;
    RpcTable rpcTable_;
    DataStructures::Queue<Packet*> userPackets_;
    std::vector<SlotRef> slotRefs_;  // one queued send's slots, kept for its room
    char localIps_[10][16] = {};
    mutable char dottedIp_[16] = {};
};

}  // namespace velt
