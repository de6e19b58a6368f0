#pragma once
// The peer: one UDP socket, a fixed array of connection slots, the network thread that serves
// them, and the queues through which the user thread (the game's main thread) talks to it.
//
// Threads. The user thread calls the interface; the network thread runs RunCycle. They meet in
// three lock-free single-producer/single-consumer queues (buffered sends and closes, requested
// connections, received packets) and under one peer lock: every use of a slot or its channel
// (the network thread's per-datagram and per-slot work, the user thread's immediate sends and
// its readers) holds it for a short while. Nothing runs user code under the lock except the
// plugin hooks that PluginInterface says must not call back into the peer.
//
// Files: NetPeer.cpp (life cycle, slots, sends, closes, receive), NetPeerHandshake.cpp
// (HandleDatagram, admission, client side, bans, offline ping), NetPeerCycle.cpp (the network
// pass, pings, clock differential), NetPeerRpc.cpp (RPCs), NetPeerOptions.cpp (the interface's
// settings, static data, statistics, plugins, router, compression), NetPeerDefences.cpp (what
// hostile senders meet: automatic bans, lines they could repeat at will, the queue's shares).

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "net/BanList.h"
#include "net/BitStream.h"
#include "net/ConnectedSystem.h"
#include "net/ConnectionCookie.h"
#include "net/DatagramBatch.h"
#include "net/HuffmanEncodingTree.h"
#include "net/NetPeerInterface.h"
#include "net/NetworkStatistics.h"
#include "net/PeerSettings.h"
#include "net/Queue.h"
#include "net/ReliabilityWire.h"
#include "net/RepeatThrottle.h"
#include "net/RpcTable.h"
#include "net/SimpleMutex.h"
#include "net/SingleProducerConsumer.h"
#include "net/SlotLookup.h"
#include "net/SocketLayer.h"
#include "net/TransportSettings.h"

namespace velt {

class NetPeer : public NetPeerInterface, public DatagramSink {
public:
    // Handshake limits and timings.
    static constexpr int32_t kDefaultMtu = 576;
    static constexpr int32_t kMinMtu = 512;
    static constexpr int32_t kMaxMtu = 1492;
    static constexpr uint32_t kMaxPasswordBytes = 255;
    static constexpr uint32_t kConnectAttempts = 6;
    static constexpr NetTime kConnectRetryMs = 1000;
    static constexpr NetTime kHandshakeTimeoutMs = 10000;
    static constexpr NetTime kDisconnectGraceMs = 20000;
    static constexpr NetTime kLogonTimeoutMs = 30000;
    static constexpr NetTime kKeepAliveMs = 5000;
    static constexpr NetTime kPingIntervalMs = 5000;
    static constexpr uint16_t kMaxAcceptedPing = 1200;
    static constexpr uint32_t kMaxUnconnectedDatagram = 512;
    static constexpr uint32_t kUnconnectedFloodBanMs = 10000;
    static constexpr uint32_t kFloodLimitBanMs = 60000;
    static constexpr uint32_t kServerFullBanMs = 120000;
    static constexpr uint32_t kServerFullSlotsPerAddress = 30;
    static constexpr NetTime kServerFullRepeatMs = 30000;
    static constexpr uint32_t kMaxAdvertiseBytes = 400;
    // A banned address hears so at most this often.
    static constexpr NetTime kBanReplyIntervalMs = 1000;
    // At most one "server full" line this often.
    static constexpr NetTime kServerFullReportMs = 10000;
    // A connection whose messages stay over their share of the queue to the game this long is
    // closed.
    static constexpr NetTime kGameBehindKickMs = 5000;
    // Packets from senders without a connection (pongs, advertisements) and notices of tampered
    // datagrams waiting for the user; more are dropped so a flood of them cannot grow the queue
    // without bound.
    static constexpr uint32_t kMaxQueuedUnconnectedPackets = 128;
    // Messages up to this size reach the user in one block with their Packet header.
    static constexpr uint32_t kInlinePacketBytes = 256;
    // Messages up to this size cross to the user thread inside the queue entry (sync-sized).
    static constexpr uint32_t kQueuedMessageBytes = 128;
    // Datagrams read per pass before the slots get their turn.
    static constexpr uint32_t kMaxDatagramsPerCycle = 4096;

    // The role fixes what the socket does (descramble, scramble, neither), whether split
    // messages are accepted and whether the server's flood limits and logon kick apply.
    explicit NetPeer(SocketRole role = SocketRole::Library);
    ~NetPeer() override;
    NetPeer(const NetPeer&) = delete;
    NetPeer& operator=(const NetPeer&) = delete;

    // ---- seams (before Initialize) -----------------------------------------------------------
    SocketRole Role() const { return role_; }
    // Keys and the query inbox of the socket. In the server role Initialize keys the descrambler
    // from the bound port; the bot client sets the server's port here before connecting.
    SocketEndpoint& Endpoint() { return endpoint_; }
    // Null = the process clock. Must outlive the peer.
    void SetClock(const PeerClock* clock) {
        clock_ = clock != nullptr ? clock : &systemClock_;
        banList_.SetClock(clock_);
    }
    const PeerClock& Clock() const { return *clock_; }
    // Admission settings and seeds; the owner publishes console values into them at any time.
    PeerSettings& Settings() { return settings_; }
    // Timeout and flood limits of the channels. Null = the defaults. Must outlive the peer.
    void SetTransportSettings(const TransportSettings* settings);
    // Printf-style sink of the transport's log lines (the server passes LogPrintf); null = none.
    void SetLogHook(WireLogFn log);
    // Tests and tools: the key the connection cookies are made with (a random one otherwise).
    void SetCookieKey(const uint8_t key[ConnectionCookie::kKeyBytes]) { cookie_.SetKey(key); }
    // No network thread: the owner drives the peer with RunCycle (tests, fuzzing).
    void SetManualCycle(bool manual) { manualCycle_ = manual; }
    // No socket: Initialize binds nothing and every datagram goes to the raw-send tap only.
    void SetSocketless(bool socketless) { socketless_ = socketless; }
    // Sees every datagram this peer sends (context, destination, bytes before any scrambling).
    using RawSendTap = void (*)(void* context, PlayerID to, const uint8_t* data, uint32_t length);
    void SetRawSendTap(RawSendTap tap, void* context);

    // One pass of the network thread. Only for a manually driven peer.
    void RunCycle();

    // Network thread: one datagram from the socket (already descrambled in the server role).
    void HandleDatagram(uint32_t binaryAddress, uint16_t port, const uint8_t* data, uint32_t length) override;
    void ExpectDatagram(uint32_t binaryAddress, uint16_t port) override;

    // ---- NetPeerInterface ----------------------------------------------------------------------
    bool Initialize(uint16_t maxConnections, uint16_t localPort, int32_t threadSleepTimer,
                    const char* forceHostAddress) override;
    // Secure connections are not available in this build: false, and nothing changes.
    bool InitializeSecurity(const uint8_t* publicKeyE, const uint8_t* publicKeyN, const uint8_t* privateKeyP,
                            const uint8_t* privateKeyQ) override;
    void DisableSecurity() override {}
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

    void AddToBanList(const char* ip, uint32_t milliseconds) override { banList_.Add(ip, milliseconds); }
    void RemoveFromBanList(const char* ip) override { banList_.Remove(ip); }
    void ClearBanList() override { banList_.Clear(); }
    bool IsBanned(const char* ip) override { return banList_.IsBanned(ip); }

    void Ping(PlayerID target) override;
    void Ping(const char* host, uint16_t remotePort, bool onlyReplyOnAcceptingConnections) override;
    int32_t GetAveragePing(PlayerID target) const override;
    int32_t GetLastPing(PlayerID target) const override;
    int32_t GetLowestPing(PlayerID target) const override;
    void SetOccasionalPing(bool doPing) override { pingPeriodically_.store(doPing); }

    // Defined in NetPeerOptions.cpp.
    BitStream* GetRemoteStaticData(PlayerID playerId) override;
    void SetRemoteStaticData(PlayerID playerId, const uint8_t* data, int32_t length) override;
    void SendStaticDataTo(PlayerID target) override;
    void SetOfflinePingResponse(const uint8_t* data, uint32_t length) override;
    PlayerID GetInternalID() const override { return myPlayerId_; }
    PlayerID GetExternalID(PlayerID target) const override;
    void SetTimeoutTime(uint32_t timeMs, PlayerID target) override;
    bool SetMTUSize(int32_t size) override;
    int32_t GetMTUSize() const override { return mtuSize_; }
    uint32_t GetNumberOfAddresses() override;
    const char* GetLocalIP(uint32_t index) override;
    const char* PlayerIDToDottedIP(PlayerID playerId) const override;
    void IPToPlayerID(const char* host, uint16_t remotePort, PlayerID* playerId) override;
    void AllowConnectionResponseIPMigration(bool allow) override { allowIpMigration_.store(allow); }
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
    uint32_t QueuedUnconnectedPackets() const { return unconnectedQueued_.load(); }
    // Bytes of received messages waiting for the user (approximate while running).
    uint64_t QueuedIncomingBytes() const { return queuedTotal_.load(std::memory_order_relaxed); }

private:
    // Payloads up to this size travel inside the command: the network thread then copies them
    // into a block of its own, made and freed on that thread, instead of freeing a block the
    // user thread made (a heap block per message that crosses threads).
    static constexpr uint32_t kInlineCommandBytes = 96;
    // Slots or queued commands served under one take of the peer lock.
    static constexpr uint32_t kItemsPerLock = 16;
    struct BufferedCommand {
        enum Kind : uint8_t { kSend, kClose };
        Kind kind;
        bool inlined;   // the payload is in inlineData, data is null
        uint8_t* data;  // new uint8_t[], owned by the command
        uint8_t inlineData[kInlineCommandBytes];
        uint32_t bitLength;
        PacketPriority priority;
        MessageReliability reliability;
        uint8_t orderingChannel;
        PlayerID target;
        bool broadcast;
        int32_t connectMode;  // applied to the target's slot after sending; 0 = none
    };
    struct RequestedConnection {
        PlayerID playerId;
        NetTime nextRequestTime;
        uint8_t requestsMade;
        uint8_t passwordLength;
        uint8_t password[kMaxPasswordBytes];
        bool haveCookie;
        uint16_t cookie;  // already masked, as it goes on the wire
    };

    // Where a slot's channel sends its datagrams: through the peer's socket and raw-send tap.
    class ChannelOut final : public DatagramSender {
    public:
        ChannelOut(NetPeer& peer, PlayerID to) : peer_(peer), to_(to) {}
        void SendDatagram(const uint8_t* data, uint32_t length) override {
            peer_.SendRawBatched(to_, data, length);
        }
        BitStream* Scratch() override { return &peer_.datagramScratch_; }

    private:
        NetPeer& peer_;
        PlayerID to_;
    };
    // One entry of the queue from the network thread to the user's. A small message travels in
    // the entry itself and the user thread makes its Packet, so that the Packet is allocated and
    // freed by one thread: a block made on one thread and freed on another never comes back
    // through the allocator's per-thread cache, and costs a trip through its shared lists each.
    struct IncomingPacket {
        Packet* packet;        // null: the message is the entry's own bytes
        bool capped;           // counts against kMaxQueuedUnconnectedPackets
        uint16_t chargedSlot;  // whose share of the queue to the game it takes (charge bytes)
        uint32_t charge;
        uint16_t playerIndex;
        PlayerID sender;
        uint32_t bitLength;
        uint8_t bytes[kQueuedMessageBytes];
    };

    // Feeds every message a channel writes or reads to the attached plugins.
    class PluginObserver final : public ChannelMessageObserver {
    public:
        explicit PluginObserver(PluginInterface* plugin) : plugin_(plugin) {}
        void OnInternalMessage(const InternalPacket& packet, uint32_t frameNumber, PlayerID remote,
                               uint64_t timeUs, bool isSend) override {
            plugin_->InternalMessage(packet, frameNumber, remote, timeUs, isSend);
        }
        PluginInterface* plugin_;
    };

    // ---- slots (peer lock held) ----
    ConnectedSystem* FindSlotNet(PlayerID playerId);  // through the address index
    int32_t FindIndexNet(PlayerID playerId) const;
    int32_t FindIndexUser(PlayerID playerId, bool onlyActive) const;  // linear scan
    ConnectedSystem* AssignRemoteSystem(PlayerID playerId, int32_t connectMode, NetTime now, uint64_t nowUs);
    void CloseSlotLocked(uint32_t index);
    int32_t SlotIndexOf(const ConnectedSystem* slot) const;
    uint32_t CountConnectedIncomingLocked() const;

    // ---- sending (peer lock held) ----
    // Hands the message to each target's channel. useCallerBuffer lets the last target adopt
    // data (a new uint8_t[]); taken reports whether it did. Returns the number of targets.
    uint32_t SendImmediateLocked(uint8_t* data, uint32_t bitLength, PacketPriority priority,
                                 MessageReliability reliability, uint8_t orderingChannel, PlayerID target,
                                 bool broadcast, bool useCallerBuffer, bool& taken, uint64_t timeUs);
    bool SendBytesImmediateLocked(const uint8_t* data, uint32_t byteLength, PacketPriority priority,
                                  MessageReliability reliability, uint8_t orderingChannel, PlayerID target,
                                  uint64_t timeUs);
    void NotifyAndCloseLocked(PlayerID target, uint8_t orderingChannel, uint64_t timeUs);
    void PingNowLocked(PlayerID target, uint64_t timeUs);
    void SendStaticDataLocked(PlayerID target, uint64_t timeUs);
    bool QueueCommand(const BufferedCommand& command, const uint8_t* bytes, uint32_t byteLength);
    // A datagram past every channel: socket (scrambled in the bot role) and the raw-send tap.
    void SendRaw(PlayerID to, const uint8_t* data, uint32_t length);
    // SendRaw through the network thread's batch, sent at the end of the pass (network thread
    // inside RunCycle only).
    void SendRawBatched(PlayerID to, const uint8_t* data, uint32_t length);
    // True when the sender's address is on the ban list.
    bool IsSenderBanned(PlayerID sender);
    // The transport's own ban of an address that misbehaved. Not made while another slot than the
    // offender's is connected from that address (the offender may be anyone who can write the
    // address on a datagram); an offending slot is then closed instead.
    void BanAutomatically(PlayerID offender, uint32_t durationMs, int32_t offenderSlot);
    void CountRejected(Rejected kind) { ++rejected_[int(kind)]; }
    // The lines a sender can repeat at will, per sender: true to log (or notify) this one.
    enum class RepeatedLine : uint8_t { CookieRequest = 1, ServerFullAttack, PacketModified, GameBehind };
    bool AdmitLine(RepeatedLine line, uint64_t senderKey, NetTime now);
    void LogHeldBackLines(uint64_t key, uint32_t count);
    // Once a second: the counts of runs of lines that ended, and the "server full" report.
    void ReportRepeats(NetTime now, uint64_t timeUs);
    void NoteServerFull(NetTime now);
    void LogServerFull(NetTime now);
    // Whether a message of length bytes from the slot may still join the queue to the user; when
    // not, it is counted, and a slot that stays over its share is closed.
    bool RoomForGame(uint32_t index, uint32_t length, NetTime now, uint64_t timeUs);
    static uint32_t QueueCharge(uint32_t length);
    // SendRaw plus the plugins' RawSend.
    void SendRawShown(PlayerID to, const uint8_t* data, uint32_t length);
    void ShowRawReceive(PlayerID from, const uint8_t* data, uint32_t length);

    // ---- the network pass ----
    void NetworkThreadMain();
    void RunBufferedCommands(uint64_t timeUs);
    void RunRequestedConnections(NetTime now);
    // Every active slot that has something to do, the peer lock held for runs of kItemsPerLock.
    void ServeSlots(NetTime now, uint64_t timeUs);
    void ServeSlot(uint32_t index, NetTime now, uint64_t timeUs);
    // Under peerLock_, at the end of a serve: the span of time in which serving the slot again
    // would do nothing (its own rules and its channel have nothing due).
    void NoteSlotIdleUntil(uint32_t index, NetTime now, uint64_t timeUs);
    // Marks for a slot that is never served (inactive), and for one served at the next pass.
    void MarkSlotUnused(uint32_t index);
    void MarkSlotDue(uint32_t index);
    // Returns false when the slot was closed while its messages were handled.
    bool HandleSlotMessage(uint32_t index, uint8_t* data, uint32_t bitLength, NetTime now, uint64_t timeUs);
    // A message of the slot for the user, within the slot's share of the queue (else dropped).
    // Takes data; false when the slot was closed meanwhile.
    bool HandToGame(uint32_t index, uint8_t* data, uint32_t bitLength, NetTime now, uint64_t timeUs);
    void HandlePong(ConnectedSystem& slot, const uint8_t* data, NetTime now);
    void CloseWithNotice(uint32_t index, int32_t mode);

    // ---- handshake (peer lock held) ----
    bool HandleClientAnswers(PlayerID sender, const uint8_t* data, uint32_t length, uint64_t timeUs);
    // True when the open-connection request was fully handled (false: continue with the slot path).
    bool HandleOpenConnectionRequest(PlayerID sender, const uint8_t* data, NetTime now, uint64_t timeUs);
    void HandleSlotDatagram(ConnectedSystem& slot, PlayerID sender, const uint8_t* data, uint32_t length,
                            uint64_t timeUs);
    void HandleUnconnectedDatagram(PlayerID sender, const uint8_t* data, uint32_t length);
    void ParseConnectionRequest(uint32_t index, const uint8_t* data, uint32_t length, uint64_t timeUs);
    void AcceptConnection(uint32_t index, const uint8_t* key, uint64_t timeUs);
    void HandleConnectionAccepted(uint32_t index, uint8_t* data, uint32_t bitLength, uint64_t timeUs);
    void HandleHandshakeDone(uint32_t index, uint8_t* data, uint32_t bitLength, uint64_t timeUs);
    void SendOpenRequest(const RequestedConnection& request);

    // ---- to the user ----
    // Queues a packet for the user thread (network thread side). A capped packet beyond the cap
    // is freed instead.
    void PushPacket(Packet* packet, bool capped, uint16_t chargedSlot = 0, uint32_t charge = 0);
    void PushNotice(uint8_t id, PlayerID sender, uint16_t playerIndex, bool capped = false);
    // charged: the message takes its share of the queue to the user (RoomForGame said yes).
    void PushMessage(uint8_t* data, uint32_t bitLength, PlayerID sender, uint16_t playerIndex,
                     bool charged = false);
    // Network thread: the entry takes charge bytes of the slot's share of the queue. User thread:
    // Discharge gives them back.
    void Charge(IncomingPacket& entry, uint16_t chargedSlot, uint32_t charge);
    void Discharge(const IncomingPacket& entry);
    void CountRpcFailure(RpcDispatchResult result);
    Packet* ReceiveInternal();
    // The next message from the network thread as a Packet of its own, or null.
    Packet* TakeIncoming();
    void ShiftIncomingTimestamp(Packet* packet) const;

    void Log(const char* format, ...) const __attribute__((format(printf, 2, 3)));
    ChannelObservers Observers() const { return {observerPointers_.data(), observerPointers_.size()}; }
    void RebuildObserversLocked();
    WireRole ChannelRole() const { return role_ == SocketRole::Server ? WireRole::Server : WireRole::Client; }
    uint32_t PlayerTimeoutMs() const;
    NetTime NowMs() const { return clock_->NowMs(); }
    void ClearQueues();

    // ---- fixed at construction ----
    const SocketRole role_;
    SystemPeerClock systemClock_;
    const PeerClock* clock_;
    PeerSettings settings_;
    const TransportSettings* transportSettings_;
    WireLogFn log_ = nullptr;
    SocketEndpoint endpoint_;
    bool manualCycle_ = false;
    bool socketless_ = false;
    RawSendTap rawSendTap_ = nullptr;
    void* rawSendTapContext_ = nullptr;

    // ---- run state ----
    std::atomic<uint8_t> stopRequested_{1};
    std::atomic<uint8_t> threadActive_{0};
    std::atomic<bool> pingPeriodically_{false};
    bool pingPeriodicallySeen_ = false;  // network thread: the setting the idle marks were made under
    std::atomic<bool> allowIpMigration_{false};
    std::thread networkThread_;
    int32_t threadSleepTimer_ = 0;
    int socket_ = -1;
    DatagramBatch sendBatch_;  // network thread only
    PlayerID myPlayerId_ = UNASSIGNED_PLAYER_ID;
    int32_t mtuSize_ = kDefaultMtu;

    // ---- guarded by peerLock_ ----
    mutable SimpleMutex peerLock_;
    // Every connection builds its datagrams here during its Update (see DatagramSender::Scratch).
    BitStream datagramScratch_{int32_t(kMaxDatagramBytes)};
    // When each slot next needs a pass, in two compact arrays so that a pass over hundreds of
    // mostly idle connections reads a few cache lines instead of a slot record and a channel for
    // each. Slot i is skipped while slotIdleFrom_[i] <= now < slotIdleUntil_[i]. Its channel
    // clears the until mark to 0 the moment anything makes it due, from either thread. Marks
    // change only under peerLock_; the walk reads them without it, and a wake it misses by a
    // hair is seen at the next pass, as a send queued just after the pass would be.
    // Declared before the slot array: the channels write their marks until they are destroyed.
    std::unique_ptr<std::atomic<uint64_t>[]> slotIdleUntil_;
    std::unique_ptr<std::atomic<uint64_t>[]> slotIdleFrom_;
    std::vector<uint16_t> slotsToServe_;  // network thread: one pass's list, kept for its room
    // Each slot's channel (made with the slot array, the same for the array's life), in one
    // compact array: the passes fetch a channel ahead of its turn, and finding it through the
    // slot record would wait for that record first.
    std::unique_ptr<ReliabilityChannel*[]> channelOf_;
    std::unique_ptr<ConnectedSystem[]> remoteSystemList_;
    uint16_t maximumNumberOfPeers_ = 0;
    SlotLookup remoteSystemLookup_;
    // In a batch of datagrams, the sender of the next one is looked up (and its connection
    // fetched into the cache) while the current one is handled. The answers for the current and
    // the next sender are kept; both are forgotten whenever the lookup changes.
    struct LookupAnswer {
        PlayerID sender = UNASSIGNED_PLAYER_ID;
        int32_t index = -1;
    };
    PlayerID hintedSender_ = UNASSIGNED_PLAYER_ID;  // network thread only
    LookupAnswer lookupAnswers_[2];                 // under peerLock_
    uint32_t nextLookupAnswer_ = 0;
    void ForgetLookupAnswers() { lookupAnswers_[0] = lookupAnswers_[1] = LookupAnswer{}; }
    // Under peerLock_: looks up the hinted sender, keeps the answer, fetches its channel.
    void ResolveHintedSender();
    uint8_t incomingPassword_[kMaxPasswordBytes] = {};
    uint8_t incomingPasswordLength_ = 0;
    BitStream myStaticData_;
    std::vector<PluginInterface*> plugins_;  // written by the user thread under the lock
    std::vector<PluginObserver> pluginObservers_;
    std::vector<ChannelMessageObserver*> observerPointers_;
    RouterInterface* router_ = nullptr;
    uint32_t splitMessageProgressInterval_ = 0;
    uint32_t unreliableTimeoutMs_ = 0;
    double simulatorMaxBps_ = 0;
    uint16_t simulatorMinExtraPing_ = 0;
    uint16_t simulatorExtraPingVariance_ = 0;
    NetworkStatistics statisticsCopy_;
    // Optional byte compression (switched only while not running).
    bool trackFrequencyTable_ = false;
    uint32_t frequencyTable_[kFrequencyTableSize] = {};
    std::unique_ptr<HuffmanEncodingTree> outputTree_;
    std::unique_ptr<HuffmanEncodingTree> inputTree_;
    uint64_t rawBytesSent_ = 0;
    uint64_t compressedBytesSent_ = 0;
    uint64_t compressedBytesReceived_ = 0;
    uint64_t uncompressedBytesReceived_ = 0;

    std::atomic<uint16_t> maximumIncomingConnections_{0};
    BanList banList_;
    ConnectionCookie cookie_;
    // Refusals of the peer as a whole, and those of connections since closed.
    uint32_t rejected_[kRejectedKinds] = {};
    // Answers to banned addresses, per address.
    RepeatThrottle banReplies_{12, kBanReplyIntervalMs};
    // Runs of repeated lines, per line and sender.
    RepeatThrottle lineRuns_{12, kRepeatedLineIntervalMs};
    bool haveReports_ = false;
    NetTime lastReports_ = 0;
    uint32_t serverFullRefused_ = 0;
    uint32_t halfOpenExpired_ = 0;
    bool haveServerFullLine_ = false;
    NetTime lastServerFullLine_ = 0;
    // Bytes of received messages waiting for the user: per slot (the entries say whose) and in
    // all. Written by the network thread, given back by the user thread.
    std::unique_ptr<std::atomic<uint32_t>[]> queuedBytes_;
    std::atomic<uint64_t> queuedTotal_{0};
    bool gameBehindLogged_ = false;  // network thread
    mutable SimpleMutex offlinePingMutex_;
    std::vector<uint8_t> offlinePingResponse_;
    RpcTable rpcTable_;

    // ---- queues between the threads ----
    DataStructures::SingleProducerConsumer<BufferedCommand> bufferedCommands_;
    DataStructures::SingleProducerConsumer<RequestedConnection> requestedConnections_;
    DataStructures::SingleProducerConsumer<IncomingPacket> incomingPackets_;
    std::atomic<uint32_t> unconnectedQueued_{0};
    // User thread only.
    DataStructures::Queue<Packet*> userPackets_;
    char localIps_[10][16] = {};
    mutable char dottedIp_[16] = {};

    // ---- network thread only ----
    std::vector<RequestedConnection> pendingConnects_;
    bool haveLastAcceptedRequest_ = false;
    NetTime lastAcceptedRequestTime_ = 0;
    bool haveMinTimeWarning_ = false;
    NetTime lastMinTimeWarning_ = 0;
    bool haveLastAssigned_ = false;
    uint32_t lastAssignedAddress_ = 0;
    NetTime lastAssignedTime_ = 0;
    int32_t lastAssignedIndex_ = -1;
};

}  // namespace velt
