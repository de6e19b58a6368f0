#pragma once
// The per-connection reliability layer: turns UDP datagrams into the five delivery kinds. It
// acknowledges, resends, orders and sequences per ordering channel, splits and reassembles large
// messages, paces its output by a measured bandwidth, and in the server role enforces the flood
// limits whose breach makes the peer ban the sender.
//
// ReliabilityChannelSend.cpp holds its life cycle and sending side, ReliabilityChannelReceive.cpp
// its receiving side.

#include <array>
#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <vector>

#include "net/BPlusTree.h"
#include "net/BitStream.h"
#include "net/ChannelLines.h"
#include "net/InternalPacketPool.h"
#include "net/NetworkStatistics.h"
#include "net/OrderedList.h"
#include "net/OwnedPayload.h"
#include "net/PlayerID.h"
#include "net/Queue.h"
#include "net/ReliabilityWire.h"
#include "net/RepeatThrottle.h"
#include "net/SocketLayer.h"
#include "net/TransportSettings.h"

namespace velt {

// Where a channel's finished datagrams go. The peer hands one per connection to Update.
class DatagramSender {
public:
    virtual ~DatagramSender() = default;
    virtual void SendDatagram(const uint8_t* data, uint32_t length) = 0;
    // A stream the channel builds this Update's datagrams in instead of its own, or null. An
    // owner of many channels hands all of them one stream, which stays in the cache, where each
    // channel's own would be cold by the time its turn comes. Nobody else may use it meanwhile.
    virtual BitStream* Scratch() { return nullptr; }
};

// The usual sender: the peer's socket, scrambling in the bot role through its endpoint.
class SocketDatagramSender final : public DatagramSender {
public:
    SocketDatagramSender(int socket, uint32_t binaryAddress, uint16_t port,
                         const SocketEndpoint* endpoint = nullptr)
        : socket_(socket), address_(binaryAddress), port_(port), endpoint_(endpoint) {}
    void SendDatagram(const uint8_t* data, uint32_t length) override {
        SocketLayer::SendTo(socket_, data, length, address_, port_, endpoint_);
    }

private:
    int socket_;
    uint32_t address_;
    uint16_t port_;
    const SocketEndpoint* endpoint_;
};

// The connection's block cipher once the secure handshake has switched it on. Both calls work
// in place; Encrypt may grow the datagram by up to kCipherGrowthBytes.
class DatagramCipher {
public:
    static constexpr uint32_t kCipherGrowthBytes = 9;
    virtual ~DatagramCipher() = default;
    virtual void Encrypt(uint8_t* data, uint32_t length, uint32_t& outLength) = 0;
    // False when the datagram does not decipher to a well-formed frame.
    virtual bool Decrypt(uint8_t* data, uint32_t length, uint32_t& outLength) = 0;
};

// Told of every message the channel writes into a datagram or reads out of one (the peer's
// attached plugins). frameNumber is the channel's count of datagrams built or handled.
class ChannelMessageObserver {
public:
    virtual ~ChannelMessageObserver() = default;
    virtual void OnInternalMessage(const InternalPacket& packet, uint32_t frameNumber, PlayerID remote,
                                   uint64_t timeUs, bool isSend) = 0;
};
using ChannelObservers = std::span<ChannelMessageObserver* const>;

// Threads: the channel holds no lock of its own. Its owner (the peer) serialises every call on
// one channel with its per-peer channel lock: the network thread calls Update, ProcessDatagram,
// ReceiveMessage and queued Send under it, the main thread's immediate sends call Send under
// it, and the main thread's readers (GetStatistics, the setters and getters) take it too. Each
// call is short: one datagram, one pacing step or one message.
//
// Times are microseconds on the transport's clock (GetTimeUs), passed in by the caller so that
// a whole pass uses one reading and tests can drive the channel in virtual time.
class alignas(64) ReliabilityChannel {
public:
    // Base of the resend delay before the first ping is measured.
    static constexpr uint32_t kInitialPingBasisMs = 1000;
    static constexpr double kInitialBandwidth = 512000.0;
    // Bits each datagram costs beyond its own: IP and UDP headers and framing.
    static constexpr uint32_t kDatagramOverheadBits = 224;
    // Unreliable split messages missing a piece for this long are given up.
    static constexpr uint64_t kUnreliableSplitTimeoutUs = 10000000;

    // settings must outlive the channel. The timeout is taken from it now; the limits are read
    // again for every datagram.
    explicit ReliabilityChannel(WireRole role, uint64_t timeUs = 0,
                                const TransportSettings& settings = TransportSettings::Defaults(),
                                WireLogFn log = nullptr);
    ~ReliabilityChannel();
    ReliabilityChannel(const ReliabilityChannel&) = delete;
    ReliabilityChannel& operator=(const ReliabilityChannel&) = delete;

    // ---- sending --------------------------------------------------------------------------
    // Queues one message, taking its payload whatever the result (a heap block is kept as it is;
    // inline bytes are copied). False, with nothing queued, for an empty payload. Out-of-range
    // priorities become 1, reliabilities outside 6..10 become 8, ordering channels above 31
    // become 0.
    bool Send(OwnedPayload&& payload, PacketPriority priority, MessageReliability reliability,
              uint8_t orderingChannel, int32_t mtu, uint64_t time);
    // The same with a copy of bitLength bits of data, which stays the caller's.
    bool SendCopy(const uint8_t* data, uint32_t bitLength, PacketPriority priority,
                  MessageReliability reliability, uint8_t orderingChannel, int32_t mtu, uint64_t time);
    // The older form of the two: with makeCopy as SendCopy; without, the channel adopts data (a
    // new uint8_t[] buffer) on success. False, with data left with the caller, for a bit length of
    // 0 or no data.
    bool Send(uint8_t* data, uint32_t bitLength, PacketPriority priority, MessageReliability reliability,
              uint8_t orderingChannel, bool makeCopy, int32_t mtu, uint64_t time);

    // One pacing step: earns sending credit, detects a dead link, and emits as many datagrams
    // (acknowledgements, due resends, queued messages) as the credit allows.
    void Update(DatagramSender& out, PlayerID remote, int32_t mtu, uint64_t time,
                ChannelObservers observers = {});
    // False when an Update at this time would do nothing a later one would not do the same way:
    // nothing queued, no acks to send, no resend or dead-link check due, no measurement ending
    // and the pacing not held back. Credit earned meanwhile is the same whether it is added in
    // one step or many, so callers may skip Update while this is false without changing what is
    // sent or when. Reads one cache line: a peer asks this of every connection on every pass.
    bool IsUpdateDue(uint64_t time) const { return time >= wakeTime_ || time <= lastUpdateTime_; }
    // The two bounds of that answer: an Update is due from WakeTime() on, and at or before
    // LastUpdateTime() (the clock stepped back).
    uint64_t WakeTime() const { return wakeTime_; }
    uint64_t LastUpdateTime() const { return lastUpdateTime_; }
    // Set to 0 whenever something outside Update makes the channel due, from whichever thread
    // does it (under the owner's lock): an owner that keeps when each of its channels is next
    // due in one compact array learns of it there without reading the channel. Null: none.
    void SetWakeMirror(std::atomic<uint64_t>* mirror) { wakeMirror_ = mirror; }

    // ---- receiving ------------------------------------------------------------------------
    // Handles one datagram of this connection. limitBreached is set when the sender broke a
    // limit (the rest of the datagram is then ignored and the peer bans the sender). Returns true
    // when the datagram carried acknowledgements or a message, on a breach, and for a datagram
    // shorter than 2 bytes (ignored); false for one that carried neither, unreadable
    // acknowledgements, or a failed decipher.
    bool ProcessDatagram(const uint8_t* buffer, uint32_t length, PlayerID sender, uint64_t time,
                         bool& limitBreached, ChannelObservers observers = {});

    // The next delivered message into out (emptied when there is none); false when none.
    bool ReceiveMessage(OwnedPayload& out);
    // The older form: its bit length (0 when none) with its payload handed to the caller in data
    // (a new uint8_t[] the caller deletes).
    uint32_t ReceiveMessage(uint8_t*& data);
    bool HasDeliveredMessages() const { return !outputQueue_.IsEmpty(); }
    // Starts fetching what an Update or a received datagram reads first (a hint; changes nothing).
    void Prefetch() const;
    // Starts fetching the places in the channel's queues and lists that a received datagram,
    // or an Update, goes to next. Reads the channel's own fields to find them, so it pays
    // best a while after Prefetch. A hint; changes nothing.
    void PrefetchForReceive() const;
    void PrefetchForUpdate() const;

    // ---- settings and state ---------------------------------------------------------------
    // Each measured ping: sets the resend delay to three times it (see the .cpp for the floors).
    // A shorter delay brings every pending resend forward by the difference.
    void SetPing(uint32_t ms);
    void SetTimeoutTime(uint32_t ms) {
        timeoutMs_ = ms;
        WakeNow();  // the dead-link check moved
    }
    uint32_t GetTimeoutTime() const { return timeoutMs_; }
    // 0 = off; else every n-th piece of a split message yields a progress message.
    void SetSplitMessageProgressInterval(uint32_t n) { progressInterval_ = n; }
    // 0 = off; else unreliable messages queued longer than this are dropped unsent.
    void SetUnreliableTimeout(uint32_t ms) { unreliableTimeoutUs_ = uint64_t(ms) * 1000; }
    // Test aid: drops datagrams at a rate tied to maxBitsPerSecond and delays them by
    // extraLatencyMs plus up to varianceMs. All zero switches it off.
    void ApplyNetworkSimulator(double maxBitsPerSecond, uint16_t extraLatencyMs, uint16_t varianceMs);
    // Null switches the block cipher off. The cipher must outlive its use by the channel.
    void SetEncryption(DatagramCipher* cipher) { cipher_ = cipher; }
    void SetLog(WireLogFn log) { lines_.SetLog(log); }
    WireRole Role() const { return role_; }

    bool IsDead() const { return dead_; }
    bool AreAcksWaiting() const { return ackList_.Size() > 0; }
    // Reliable messages sent and not yet acknowledged.
    bool AreMessagesAwaitingAck() const { return !resendTree_.IsEmpty(); }
    // Anything to send, resend, acknowledge, deliver or complete.
    bool IsDataWaiting() const;

    // A copy of the counters with the fetch-time fields filled in; quick leaves "messages
    // waiting for ack" at 0 (counting it walks the resend tree).
    NetworkStatistics GetStatistics(bool quick) const;
    // Input of this connection that its owner refused (the channel counts its own).
    void CountRejected(Rejected kind) { ++stats_.Rejections(kind); }

    // The warning lines a sender can trigger are logged once per kind and interval; the ones held
    // back are counted. This logs the counts of runs whose interval has passed (all with force).
    void FlushRepeatedLines(PlayerID remote, uint64_t time, bool force);

    // Releases every queued, held, split and delayed message and the record pool.
    void FreeMemory();
    // Back to a fresh connection: FreeMemory, then every counter and index.
    void Reset(uint64_t time);

    // ---- introspection (tests, fuzzing, the peer's diagnostics) --------------------------
    uint64_t ResendDelayUs() const { return resendDelayUs_; }
    uint32_t PingBasisMs() const { return pingBasisMs_; }
    double CurrentBandwidth() const { return bandwidth_; }
    uint32_t HeldOrderingBytes() const { return heldBytes_; }
    uint32_t ReassemblyBytes() const { return reassemblyBytes_; }
    uint32_t ReceivedWindowSize() const { return receivedWindow_.Size(); }
    const WireRejectionCounters& Rejections() const { return reader_.Rejections(); }

private:
    // Read on every pass for every connection, so kept together in the first cache line.
    // Earliest time an Update has something to do; 0 = at the next pass. Whatever queues, acks
    // or changes a deadline outside Update sets it to 0, and Update works out the next one.
    uint64_t wakeTime_ = 0;
    uint64_t lastUpdateTime_ = 0;
    std::atomic<uint64_t>* wakeMirror_ = nullptr;
    bool dead_ = false;
    bool bandwidthLimited_ = false;
    DataStructures::Queue<InternalPacket*> outputQueue_;

    struct SplitChannel;
    struct HeldChannel;
    struct Limits {
        int32_t holeLimit;
        int32_t messagesLimit;
        int32_t acksLimit;
    };
    enum class Verdict : uint8_t { Ok, Breach };
    struct DelayedDatagram {
        uint64_t sendTime;
        uint32_t length;
        uint8_t data[kMaxDatagramBytes];
    };

    void WakeNow() {
        wakeTime_ = 0;
        if (wakeMirror_ != nullptr) wakeMirror_->store(0, std::memory_order_relaxed);
    }

    // sending
    // Numbers, orders and queues (or splits) a record whose payload is in place.
    bool Queue(InternalPacket* p, uint32_t bitLength, PacketPriority priority, MessageReliability reliability,
               uint8_t orderingChannel, int32_t mtu);
    uint64_t NextWakeTime() const;
    double CreditAt(uint64_t time) const;
    InternalPacket* NewRecord(uint64_t time);
    void ReleaseRecord(InternalPacket* packet);
    void SplitMessage(InternalPacket* whole, int32_t mtu);
    int32_t GenerateDatagram(BitStream& out, int32_t mtu, uint64_t time, PlayerID remote,
                             ChannelObservers observers);
    void SendBitStream(DatagramSender& out, const uint8_t* data, uint32_t length);
    void BringResendsForward(uint64_t byUs);
    void StartMeasurement(uint64_t start);
    void EvaluateMeasurement(uint64_t time, bool limited);
    bool CipherOn() const { return cipher_ != nullptr; }
    static int32_t ClampMtu(int32_t mtu);

    // receiving
    Verdict ProcessAcks(PlayerID sender, uint64_t time, const Limits& limits);
    uint32_t AcknowledgeRange(MessageNumberType min, MessageNumberType max, uint64_t time);
    Verdict HandleMessage(InternalPacket* packet, PlayerID sender, uint64_t time, const Limits& limits);
    // True when the message number was already received (the record is then released).
    bool UpdateReceivedWindow(InternalPacket* packet, uint64_t time, bool& breach, PlayerID sender,
                              const Limits& limits);
    void AdvanceReceivedBase();
    void RememberGivenUp(MessageNumberType number);
    bool TakeGivenUp(MessageNumberType number);
    Verdict AddSplitPiece(InternalPacket* piece, PlayerID sender, uint64_t time, InternalPacket*& joined);
    InternalPacket* JoinSplitChannel(uint32_t channelIndex);
    void DeliverProgress(const SplitChannel& channel);
    void ExpireUnreliableSplits(uint64_t time);
    void DropSplitChannel(uint32_t channelIndex);
    Verdict Deliver(InternalPacket* packet, PlayerID sender, const Limits& limits);
    bool IsOlderSequenced(const InternalPacket& packet) const;
    // Counts n more messages into the one-second window. True (with its warning) when the server's
    // limit is passed, by the window running now or by the last one closed.
    bool CountMessages(uint32_t n, PlayerID sender, uint64_t time, const Limits& limits);

    using Line = ChannelLines::Line;

    // ---- what an Update and a received datagram touch, packed into a few cache lines ----
    // (on a busy server every pass finds a connection's state cold: the fewer lines, the faster)
    // The credit is creditBase_ at creditSince_ plus what the bandwidth earns since, computed in
    // one step from the integer time in between. Summing per Update would round differently
    // depending on how often Update runs, and then skipping idle passes would change pacing.
    // Moved only where every caller runs Update alike: on a spend or a bandwidth change.
    double creditBase_ = 0;
    uint64_t creditSince_ = 0;
    double bandwidth_ = kInitialBandwidth;
    uint64_t lastAckTime_ = 0;
    uint64_t nextAckTime_ = 0;
    uint64_t resendDelayUs_ = 3ull * kInitialPingBasisMs * 1000;
    uint64_t measureStart_ = 0;
    uint64_t measureEnd_ = 0;
    uint64_t unreliableTimeoutUs_ = 0;
    uint32_t measureEpoch_ = 0;
    uint32_t measureAcks_ = 0;
    uint32_t measureResends_ = 0;
    uint32_t timeoutMs_;
    uint32_t datagramsBuilt_ = 0;
    uint32_t datagramsHandled_ = 0;
    DatagramCipher* cipher_ = nullptr;
    const TransportSettings* settings_;
    // Network simulator (read for every datagram sent, so here; off unless a test sets it).
    double simMaxBitsPerSecond_ = 0;
    uint32_t simExtraLatencyMs_ = 0;
    uint32_t simVarianceMs_ = 0;
    MessageNumberType messageNumber_ = 0;
    // One entry per message number from receivedBase_ on: 0 = received, else the time after
    // which the hole is given up.
    MessageNumberType receivedBase_ = 0;
    bool receivedWindowReset_ = true;
    WireRole role_;
    DataStructures::Queue<InternalPacket*> sendQueues_[NUMBER_OF_PRIORITIES];
    // Reliable messages in the order of their next resend; acknowledged ones (resendTime 0)
    // stay until they reach the front. Holds every record of the resend tree.
    DataStructures::Queue<InternalPacket*> resendQueue_;
    AckRangeList ackList_;
    AckRangeList incomingAcks_;
    DataStructures::Queue<uint64_t> receivedWindow_;
    DataStructures::BPlusTree<MessageNumberType, InternalPacket*, 32> resendTree_;
    InternalPacketFreeList pool_;
    ReliabilityWireReader reader_;

    // ---- the rest of the sending state ----
    // The warning lines of the receiving side.
    ChannelLines lines_;
    OrderingIndexType orderedWriteIndex_[NUMBER_OF_ORDERED_STREAMS] = {};
    OrderingIndexType sequencedWriteIndex_[NUMBER_OF_ORDERED_STREAMS] = {};
    SplitPacketIdType splitId_ = 0;
    uint32_t pingBasisMs_ = kInitialPingBasisMs;
    uint32_t progressInterval_ = 0;

    // pacing
    double lastGoodBandwidth_ = kInitialBandwidth;
    double lastBadBandwidth_ = 0;
    int32_t zeroLossCount_ = 0;

    // network simulator
    std::vector<std::unique_ptr<DelayedDatagram>> delayed_;

    // ---- the rest of the receiving state ----
    // Ordered messages that arrived ahead of their turn, per channel, created on demand.
    std::array<std::unique_ptr<HeldChannel>, NUMBER_OF_ORDERED_STREAMS> heldChannels_;
    // Unwrapped position of the next ordered message per channel; its low 16 bits are the
    // ordering index awaited.
    uint64_t orderedReadPosition_[NUMBER_OF_ORDERED_STREAMS] = {};
    OrderingIndexType sequencedReadIndex_[NUMBER_OF_ORDERED_STREAMS] = {};
    DataStructures::List<SplitChannel*> splitChannels_;  // sorted by split id
    uint32_t heldBytes_ = 0;
    uint32_t reassemblyBytes_ = 0;
    uint64_t lastSplitExpiryScan_ = 0;
    DataStructures::List<MessageNumberType> ackScratch_;
    // Numbers whose hole the window gave up, oldest first. The sender of a reliable message keeps
    // resending it for as long as the link lives, so a give-up is no proof the message is gone:
    // when it turns up it is still new, and an ordered stream waiting for it would stall for
    // good if it were taken for a duplicate.
    std::vector<MessageNumberType> givenUp_;

    NetworkStatistics stats_;
    BitStream updateStream_;
};

}  // namespace velt
