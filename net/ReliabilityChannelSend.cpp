// The reliability channel's life cycle and state, and its sending side: queuing and splitting,
// building datagrams, resends, and pacing by the measured bandwidth. The receiving side is in
// ReliabilityChannelReceive.cpp.
#include <algorithm>
#include <cstring>

#include "net/Random.h"
#include "net/ReliabilityChannel.h"
#include "net/ReliabilityChannelInternal.h"

namespace velt {

namespace {

constexpr double kGoodLoss = 0.02;
constexpr double kBadLoss = 0.2;
constexpr double kNearLoss = 0.04;
constexpr double kMinBandwidth = 144400.0;
constexpr double kSearchResolution = 36100.0;
constexpr int32_t kZeroLossResetCount = 9;
constexpr uint64_t kMeasureLengthUs = 250000;
constexpr uint64_t kMeasurePauseUs = 500000;

uint32_t NextEpoch(uint32_t epoch) { return epoch >= 0xFFFFFFFEu ? 0 : epoch + 1; }

int32_t HeaderBytes(int32_t mtu, bool cipherOn) {
    return mtu - (cipherOn ? kCipherDatagramHeaderBytes : kDatagramHeaderBytes);
}

constexpr uint32_t kResendQueueCapacity = 512;
constexpr uint32_t kSmallQueueCapacity = 32;
constexpr uint32_t kResendTreePages = 64;

uint32_t TimeoutFromSettings(const TransportSettings& settings) {
    const int32_t ms = settings.GetPlayerTimeout();
    return ms < 0 ? 0u : uint32_t(ms);
}

}  // namespace

ReliabilityChannel::ReliabilityChannel(WireRole role, uint64_t timeUs, const TransportSettings& settings,
                                       WireLogFn log)
    : timeoutMs_(TimeoutFromSettings(settings)),
      settings_(&settings),
      role_(role),
      // The reader's own line would come once per refused piece: the channel logs it instead,
      // with the other lines a sender can repeat at will.
      reader_(role, nullptr),
      lines_(log),
      updateStream_(int32_t(kMaxDatagramBytes)) {
    resendQueue_.ClearAndForceAllocation(kResendQueueCapacity);
    Reset(timeUs);
}

ReliabilityChannel::~ReliabilityChannel() { FreeMemory(); }

void ReliabilityChannel::ReleaseRecord(InternalPacket* packet) {
    FreePayload(*packet);
    pool_.Release(packet);
}

InternalPacket* ReliabilityChannel::NewRecord(uint64_t time) {
    InternalPacket* p = pool_.Allocate();
    // Pool records come back as they were left.
    *p = InternalPacket{};
    p->priority = HIGH_PRIORITY_LEVEL;
    p->reliability = RELIABILITY_RELIABLE;
    p->creationTime = time;
    return p;
}

void ReliabilityChannel::FlushRepeatedLines(PlayerID remote, uint64_t time, bool force) {
    lines_.Flush(remote, time, force);
}

void ReliabilityChannel::Prefetch() const {
    // The packed block from the first line through the wire reader, and the counters.
    const char* begin = reinterpret_cast<const char*>(this);
    const char* end = reinterpret_cast<const char*>(&reader_ + 1);
    for (const char* line = begin; line < end; line += 64) __builtin_prefetch(line);
    // The refusal counters at the end of the record are seldom touched.
    const char* stats = reinterpret_cast<const char*>(&stats_);
    const char* statsEnd = reinterpret_cast<const char*>(&stats_.rejected);
    for (const char* line = stats; line < statsEnd; line += 64) __builtin_prefetch(line);
}

void ReliabilityChannel::PrefetchForReceive() const {
    incomingAcks_.PrefetchEnd();
    resendQueue_.PrefetchEnds();
    receivedWindow_.PrefetchEnds();
    ackList_.PrefetchEnd();
    outputQueue_.PrefetchEnds();
}

void ReliabilityChannel::PrefetchForUpdate() const {
    ackList_.PrefetchEnd();
    resendQueue_.PrefetchEnds();
    outputQueue_.PrefetchEnds();
    for (const auto& queue : sendQueues_)
        if (!queue.IsEmpty()) queue.PrefetchEnds();
}

void ReliabilityChannel::SetPing(uint32_t ms) {
    // A ping above the timeout is a measurement gone wrong; fall back to a middling basis.
    uint32_t basis = ms > timeoutMs_ ? 500u : ms;
    if (basis < 30) basis = 30;
    const uint32_t simulated = 2 * (simExtraLatencyMs_ + simVarianceMs_);
    if (basis < simulated) basis = simulated;
    pingBasisMs_ = basis;
    uint64_t delayMs = 3ull * basis;
    if (delayMs < 30) delayMs = 30;
    const uint64_t previousUs = resendDelayUs_;
    resendDelayUs_ = delayMs * 1000;
    if (resendDelayUs_ < previousUs) BringResendsForward(previousUs - resendDelayUs_);
}

void ReliabilityChannel::BringResendsForward(uint64_t byUs) {
    // Messages sent before the first ping wait the initial delay of seconds; once the real round
    // trip is known, leaving them there lets a few lost acks run into the dead-link limit on a
    // lossy link. Moving every pending resend by the same amount keeps the queue in time order
    // (0 marks an acknowledged record, so the earliest a moved one can get is 1).
    for (uint32_t i = 0; i < resendQueue_.Size(); ++i) {
        InternalPacket* p = resendQueue_[i];
        if (p->resendTime == 0) continue;
        p->resendTime = p->resendTime > byUs + 1 ? p->resendTime - byUs : 1;
    }
    WakeNow();
}

void ReliabilityChannel::ApplyNetworkSimulator(double maxBitsPerSecond, uint16_t extraLatencyMs,
                                               uint16_t varianceMs) {
    simMaxBitsPerSecond_ = maxBitsPerSecond;
    simExtraLatencyMs_ = extraLatencyMs;
    simVarianceMs_ = varianceMs;
    WakeNow();
    // Resends must not fire before a simulated round trip could have brought the ack back.
    const uint32_t simulated = 2 * (uint32_t(extraLatencyMs) + varianceMs);
    if (pingBasisMs_ < simulated) {
        pingBasisMs_ = simulated;
        resendDelayUs_ = 3ull * simulated * 1000;
    }
}

bool ReliabilityChannel::IsDataWaiting() const {
    for (const auto& queue : sendQueues_)
        if (!queue.IsEmpty()) return true;
    if (ackList_.Size() > 0 || !resendTree_.IsEmpty() || !outputQueue_.IsEmpty() || splitChannels_.Size() > 0)
        return true;
    // A held message is data waiting; an ordering channel that merely once held one is not, or
    // a connection closing "when nothing is left" could never close.
    for (const auto& held : heldChannels_)
        if (held && !held->messages.empty()) return true;
    return false;
}

NetworkStatistics ReliabilityChannel::GetStatistics(bool quick) const {
    NetworkStatistics s = stats_;
    const WireRejectionCounters& r = reader_.Rejections();
    s.Rejections(Rejected::TruncatedHeader) += r.truncatedHeader;
    s.Rejections(Rejected::BadReliability) += r.badReliability;
    s.Rejections(Rejected::RefusedSplit) += r.refusedSplit;
    s.Rejections(Rejected::BadSplitFields) += r.badSplitFields;
    s.Rejections(Rejected::BadPayloadLength) += r.badPayloadLength;
    s.Rejections(Rejected::TruncatedPayload) += r.truncatedPayload;
    s.Rejections(Rejected::TruncatedAcks) += r.truncatedAcks;
    s.Rejections(Rejected::InvertedAckRange) += r.invertedAckRange;
    for (int i = 0; i < NUMBER_OF_PRIORITIES; ++i) s.messagesInSendBuffer[i] = sendQueues_[i].Size();
    s.acksPending = ackList_.Size();
    s.messagesWaitingForReassembly = splitChannels_.Size();
    s.internalOutputQueueSize = outputQueue_.Size();
    s.bitsPerSecond = bandwidth_;
    s.messagesWaitingForAck = quick ? 0 : resendTree_.Size();
    return s;
}

bool ReliabilityChannel::ReceiveMessage(OwnedPayload& out) {
    if (outputQueue_.IsEmpty()) {
        out.Clear();
        return false;
    }
    InternalPacket* p = outputQueue_.Pop();
    const uint32_t bits = p->bitLength;
    // A block too large for the payload's own room goes on as it is; anything smaller is copied
    // there and its block freed on this thread, which made it.
    if (p->data != nullptr && p->data != p->inlineData && PayloadBytes(bits) > OwnedPayload::kInlineBytes) {
        out = OwnedPayload::Adopt(p->data, bits);
        p->data = nullptr;
    } else {
        out.Assign(p->data, bits);
    }
    ReleaseRecord(p);
    return true;
}

uint32_t ReliabilityChannel::ReceiveMessage(uint8_t*& data) {
    data = nullptr;
    if (outputQueue_.IsEmpty()) return 0;
    InternalPacket* p = outputQueue_.Pop();
    const uint32_t bits = p->bitLength;
    data = TakePayload(*p, PayloadBytes(bits));
    pool_.Release(p);
    return bits;
}

void ReliabilityChannel::FreeMemory() {
    for (auto& queue : sendQueues_) {
        while (!queue.IsEmpty()) ReleaseRecord(queue.Pop());
        queue.ClearAndForceAllocation(kSmallQueueCapacity);
    }
    // The resend queue holds every record of the tree, so the tree itself is only emptied.
    while (!resendQueue_.IsEmpty()) ReleaseRecord(resendQueue_.Pop());
    resendQueue_.ClearAndForceAllocation(kResendQueueCapacity);
    resendTree_.Clear();
    while (!outputQueue_.IsEmpty()) ReleaseRecord(outputQueue_.Pop());
    outputQueue_.ClearAndForceAllocation(kSmallQueueCapacity);
    for (auto& held : heldChannels_) {
        if (!held) continue;
        for (auto& entry : held->messages) ReleaseRecord(entry.second);
        held.reset();
    }
    heldBytes_ = 0;
    while (splitChannels_.Size() > 0) DropSplitChannel(splitChannels_.Size() - 1);
    splitChannels_.Clear();
    reassemblyBytes_ = 0;
    delayed_.clear();
    WakeNow();
    ackList_.Clear();
    incomingAcks_.Clear();
    std::vector<MessageNumberType>().swap(givenUp_);
    pool_.Clear();
}

void ReliabilityChannel::Reset(uint64_t time) {
    FreeMemory();
    const uint32_t basis = pingBasisMs_;  // the previous connection's, or the initial one

    for (uint32_t i = 0; i < NUMBER_OF_ORDERED_STREAMS; ++i) {
        orderedWriteIndex_[i] = 0;
        sequencedWriteIndex_[i] = 0;
        orderedReadPosition_[i] = 0;
        sequencedReadIndex_[i] = 0;
    }
    stats_.Reset(uint32_t(time / 1000));
    reader_.ResetRejections();
    lines_.Reset();
    messageNumber_ = 0;
    splitId_ = 0;
    lastAckTime_ = 0;
    dead_ = false;
    nextAckTime_ = 0;

    measureEpoch_ = 0;
    measureAcks_ = 0;
    measureResends_ = 0;
    zeroLossCount_ = 0;
    bandwidthLimited_ = false;
    measureStart_ = time + 2000ull * basis + 500000;
    measureEnd_ = measureStart_ + 250000;
    lastUpdateTime_ = time;
    creditBase_ = 0;
    creditSince_ = time;
    bandwidth_ = kInitialBandwidth;
    lastGoodBandwidth_ = kInitialBandwidth;
    lastBadBandwidth_ = 0;
    SetPing(kInitialPingBasisMs);

    datagramsBuilt_ = 0;
    datagramsHandled_ = 0;
    lastSplitExpiryScan_ = 0;
    receivedWindowReset_ = true;
    resendTree_.PreallocatePages(kResendTreePages);
}

int32_t ReliabilityChannel::ClampMtu(int32_t mtu) {
    // The peer keeps its MTU within 512..1492; anything else would leave no room for a piece
    // or build datagrams the other side cannot receive.
    constexpr int32_t kMinMtu = 128;
    if (mtu < kMinMtu) return kMinMtu;
    if (mtu > int32_t(kMaxDatagramBytes)) return int32_t(kMaxDatagramBytes);
    return mtu;
}

// ---- sending -------------------------------------------------------------------------------------
bool ReliabilityChannel::Send(OwnedPayload&& payload, PacketPriority priority, MessageReliability reliability,
                              uint8_t orderingChannel, int32_t mtu, uint64_t time) {
    const uint32_t bitLength = payload.BitLength();
    if (bitLength == 0) return false;
    InternalPacket* p = NewRecord(time);
    const uint32_t bytes = PayloadBytes(bitLength);
    if (bytes > kInlinePayloadBytes && payload.OnHeap()) {
        p->data = payload.Release();
    } else {
        std::memcpy(AllocatePayload(*p, bytes), payload.Data(), bytes);
        payload.Clear();
    }
    return Queue(p, bitLength, priority, reliability, orderingChannel, mtu);
}

bool ReliabilityChannel::SendCopy(const uint8_t* data, uint32_t bitLength, PacketPriority priority,
                                  MessageReliability reliability, uint8_t orderingChannel, int32_t mtu,
                                  uint64_t time) {
    if (bitLength == 0 || data == nullptr) return false;
    InternalPacket* p = NewRecord(time);
    const uint32_t bytes = PayloadBytes(bitLength);
    std::memcpy(AllocatePayload(*p, bytes), data, bytes);
    return Queue(p, bitLength, priority, reliability, orderingChannel, mtu);
}

bool ReliabilityChannel::Send(uint8_t* data, uint32_t bitLength, PacketPriority priority,
                              MessageReliability reliability, uint8_t orderingChannel, bool makeCopy,
                              int32_t mtu, uint64_t time) {
    if (bitLength == 0 || data == nullptr) return false;
    if (makeCopy) return SendCopy(data, bitLength, priority, reliability, orderingChannel, mtu, time);
    return Send(OwnedPayload::Adopt(data, bitLength), priority, reliability, orderingChannel, mtu, time);
}

bool ReliabilityChannel::Queue(InternalPacket* p, uint32_t bitLength, PacketPriority priority,
                               MessageReliability reliability, uint8_t orderingChannel, int32_t mtu) {
    mtu = ClampMtu(mtu);
    WakeNow();
    const uint32_t bytes = PayloadBytes(bitLength);
    p->bitLength = bitLength;
    p->priority = (priority < 0 || priority >= NUMBER_OF_PRIORITIES) ? HIGH_PRIORITY_LEVEL : priority;
    p->reliability = MessageReliability(WireReliability(reliability));
    p->orderingChannel = orderingChannel < NUMBER_OF_ORDERED_STREAMS ? orderingChannel : 0;
    p->messageNumber = messageNumber_++;

    if (IsSequencedKind(p->reliability)) {
        p->orderingIndex = sequencedWriteIndex_[p->orderingChannel]++;
    } else if (p->reliability == RELIABILITY_RELIABLE_ORDERED) {
        p->orderingIndex = orderedWriteIndex_[p->orderingChannel]++;
    }

    const int32_t wholeLimit = HeaderBytes(mtu, CipherOn()) - int32_t((EstimateHeaderBits(*p) + 7) / 8);
    if (int64_t(bytes) <= wholeLimit) {
        ++stats_.messagesUnsplit;
        sendQueues_[p->priority].Push(p);
        return true;
    }
    ++stats_.messagesSplit;
    SplitMessage(p, mtu);
    return true;
}

void ReliabilityChannel::SplitMessage(InternalPacket* whole, int32_t mtu) {
    InternalPacket probe = *whole;
    probe.splitCount = 1;
    const uint32_t pieceBytes =
        uint32_t(HeaderBytes(mtu, CipherOn()) - int32_t((EstimateHeaderBits(probe) + 7) / 8));
    const uint32_t totalBytes = PayloadBytes(whole->bitLength);
    const uint32_t pieces = (totalBytes - 1) / pieceBytes + 1;
    stats_.splitsPerformed += pieces;

    const SplitPacketIdType id = splitId_++;
    for (uint32_t j = 0; j < pieces; ++j) {
        InternalPacket* piece = pool_.Allocate();
        *piece = *whole;
        // Piece 0 keeps the message's number; the rest take the following ones.
        if (j > 0) piece->messageNumber = messageNumber_++;
        piece->splitId = id;
        piece->splitIndex = j;
        piece->splitCount = pieces;
        const uint64_t offset = uint64_t(j) * pieceBytes;
        const uint32_t bits = j + 1 < pieces ? pieceBytes * 8 : uint32_t(whole->bitLength - offset * 8);
        piece->bitLength = bits;
        const uint32_t n = PayloadBytes(bits);
        std::memcpy(AllocatePayload(*piece, n), whole->data + offset, n);
        sendQueues_[whole->priority].Push(piece);
    }
    ReleaseRecord(whole);
}

int32_t ReliabilityChannel::GenerateDatagram(BitStream& out, int32_t mtu, uint64_t time, PlayerID remote,
                                             ChannelObservers observers) {
    out.Clear();
    DatagramWriter writer(out, mtu, CipherOn());
    const uint32_t frame = datagramsBuilt_;
    auto tell = [&](const InternalPacket& p) {
        for (ChannelMessageObserver* o : observers) o->OnInternalMessage(p, frame, remote, time, true);
    };

    // Acknowledgements first: all that fit go into the first datagram after the last flush,
    // the rest into the datagrams that follow.
    bool wroteAcks = false;
    if (ackList_.Size() == 0) {
        nextAckTime_ = time;
    } else if (time > nextAckTime_) {
        stats_.ackBitsSent += uint64_t(writer.WriteAcks(ackList_));
        wroteAcks = true;
        if (ackList_.Size() == 0) nextAckTime_ = time;
    }

    // Due resends before anything new; one that does not fit ends the datagram so that it
    // keeps its place at the front.
    uint32_t resends = 0;
    bool finished = false;
    while (!resendQueue_.IsEmpty()) {
        InternalPacket* p = resendQueue_.Peek();
        if (p->resendTime == 0) {
            resendQueue_.Pop();
            ReleaseRecord(p);
            continue;
        }
        if (p->resendTime > time) break;
        if (!writer.Fits(*p)) {
            finished = true;
            break;
        }
        resendQueue_.Pop();
        const int32_t bits = writer.WriteMessage(*p);
        ++resends;
        ++stats_.messagesResent;
        stats_.messageDataBitsResent += p->bitLength;
        stats_.messageTotalBitsResent += uint64_t(bits);
        p->sendFrame = frame;
        p->resendTime = time + resendDelayUs_;
        if (time >= measureStart_ && p->measureEpoch == measureEpoch_) ++measureResends_;
        p->measureEpoch = measureEpoch_;
        resendQueue_.Push(p);
        tell(*p);
    }

    uint32_t fresh = 0;
    for (int prio = 0; prio < NUMBER_OF_PRIORITIES && !finished; ++prio) {
        auto& queue = sendQueues_[prio];
        while (!queue.IsEmpty()) {
            InternalPacket* p = queue.Peek();
            if (IsUnreliableKind(p->reliability) && unreliableTimeoutUs_ != 0 && time > p->creationTime &&
                time - p->creationTime > unreliableTimeoutUs_) {
                queue.Pop();
                ReleaseRecord(p);
                continue;
            }
            if (!writer.Fits(*p)) break;  // smaller messages of later priorities may still fit
            const bool reliable = IsReliableKind(p->reliability);
            // 65536 numbers later the same number can still await its ack (a huge split message
            // on a slow link). Sending it would make one ack stand for two messages, so the
            // channel waits for the old one instead.
            if (reliable && !resendTree_.Insert(p->messageNumber, p)) {
                finished = true;
                break;
            }
            queue.Pop();
            const int32_t bits = writer.WriteMessage(*p);
            ++fresh;
            ++stats_.messagesSent[prio];
            stats_.messageDataBitsSent[prio] += p->bitLength;
            stats_.messageTotalBitsSent[prio] += uint64_t(bits);
            p->sendFrame = frame;
            tell(*p);
            if (reliable) {
                ++stats_.reliableMessagesSent[prio];
                p->resendTime = time + resendDelayUs_;
                p->measureEpoch = measureEpoch_;
                resendQueue_.Push(p);
                // 0 means "nothing awaits an ack", so a send at time 0 is stamped 1.
                if (lastAckTime_ == 0) lastAckTime_ = time ? time : 1;
            } else {
                ReleaseRecord(p);
            }
        }
    }

    const int32_t bits = out.GetNumberOfBitsUsed();
    if (bits > 0) {
        ++datagramsBuilt_;
        if (fresh == 0 && resends == 0 && wroteAcks) ++stats_.packetsWithOnlyAcks;
        if (fresh == 0 && resends > 0) ++stats_.packetsWithOnlyAcksAndResends;
    }
    return bits;
}

void ReliabilityChannel::SendBitStream(DatagramSender& out, const uint8_t* data, uint32_t length) {
    if (simMaxBitsPerSecond_ > 0 && double(TwisterUniform()) < bandwidth_ / simMaxBitsPerSecond_) return;
    if (length > kMaxDatagramBytes) return;  // cannot happen with a clamped MTU
    if (!cipher_) {
        ++stats_.packetsSent;
        stats_.totalBitsSent += uint64_t(length) * 8;
        out.SendDatagram(data, length);
        return;
    }
    uint8_t buffer[kMaxDatagramBytes + DatagramCipher::kCipherGrowthBytes + 7];
    std::memcpy(buffer, data, length);
    uint32_t sent = length;
    cipher_->Encrypt(buffer, length, sent);
    if (sent > sizeof buffer) return;
    stats_.encryptionBitsSent += uint64_t(sent > length ? sent - length : 0) * 8;
    ++stats_.packetsSent;
    stats_.totalBitsSent += uint64_t(sent) * 8;
    out.SendDatagram(buffer, sent);
}

void ReliabilityChannel::StartMeasurement(uint64_t start) {
    measureAcks_ = 0;
    measureResends_ = 0;
    measureStart_ = start;
    measureEnd_ = start + kMeasureLengthUs;
    measureEpoch_ = NextEpoch(measureEpoch_);
}

void ReliabilityChannel::EvaluateMeasurement(uint64_t time, bool limited) {
    const uint32_t total = measureAcks_ + measureResends_;
    const double loss = total == 0 ? 0.0 : double(measureResends_) / double(total);
    double& good = lastGoodBandwidth_;
    double& bad = lastBadBandwidth_;

    if (limited) {
        if (loss <= kGoodLoss)
            good = bandwidth_;
        else
            bad = bandwidth_;
        if (loss != 0) {
            zeroLossCount_ = 0;
        } else if (zeroLossCount_ == kZeroLossResetCount) {
            // A long quiet spell: forget the old ceiling and probe upwards again.
            zeroLossCount_ = 0;
            bad = 0;
        } else {
            ++zeroLossCount_;
        }
        if (bad != 0) {
            if (loss > kBadLoss) good = std::max(good * 0.5, kMinBandwidth);
            if ((bad - good) / 2 < kSearchResolution) {
                if (loss == 0)
                    bad *= 1.5;
                else if (loss < kGoodLoss)
                    bad *= 1.05;
                else if (loss < kNearLoss)
                    good = std::max(good * 0.9, kMinBandwidth);
            }
            bandwidth_ = good + (bad - good) / 2;
        } else {
            bandwidth_ *= 2;
        }
    } else if (loss > kGoodLoss) {
        bad = bandwidth_;
        good = std::max(good * (loss > kBadLoss ? 0.5 : 0.9), kMinBandwidth);
        zeroLossCount_ = 0;
        bandwidth_ = good + (bandwidth_ - good) / 2;
    }
    StartMeasurement(time + 2000ull * pingBasisMs_ + kMeasurePauseUs);
}

uint64_t ReliabilityChannel::NextWakeTime() const {
    if (dead_) return UINT64_MAX;  // nothing goes out any more; the peer closes the connection
    if (bandwidthLimited_ || ackList_.Size() > 0 || !delayed_.empty()) return 0;
    for (const auto& queue : sendQueues_)
        if (!queue.IsEmpty()) return 0;
    uint64_t wake = measureEnd_;
    if (!resendQueue_.IsEmpty()) {
        // Acknowledged records at the front hide what is due behind them; an Update pops them.
        const uint64_t front = resendQueue_.Peek()->resendTime;
        if (front == 0) return 0;
        wake = std::min(wake, front);
    }
    if (!resendTree_.IsEmpty() && lastAckTime_ != 0) {
        const uint64_t limit = uint64_t(timeoutMs_) * 1000;
        const uint64_t deadAt = lastAckTime_ > UINT64_MAX - limit - 1 ? UINT64_MAX : lastAckTime_ + limit + 1;
        wake = std::min(wake, deadAt);
    }
    return wake;
}

double ReliabilityChannel::CreditAt(uint64_t time) const {
    const uint64_t since = time > creditSince_ ? time - creditSince_ : 0;
    return std::min(creditBase_ + double(since) * bandwidth_ / 1000000.0, bandwidth_);
}

void ReliabilityChannel::Update(DatagramSender& out, PlayerID remote, int32_t mtu, uint64_t time,
                                ChannelObservers observers) {
    if (time <= lastUpdateTime_) {
        // The clock stepped back: keep the credit held at the last pass and earn from here, so
        // a backwards step neither adds credit nor stalls sending until the clock catches up.
        if (time < lastUpdateTime_) {
            creditBase_ = CreditAt(lastUpdateTime_);
            creditSince_ = time;
        }
        lastUpdateTime_ = time;
        WakeNow();
        return;
    }
    mtu = ClampMtu(mtu);
    lastUpdateTime_ = time;
    double credit = CreditAt(time);

    // Once dead, nothing more goes out; the peer closes the connection.
    if (dead_) {
        wakeTime_ = NextWakeTime();
        return;
    }
    if (!resendTree_.IsEmpty() && lastAckTime_ != 0 && time > lastAckTime_ &&
        time - lastAckTime_ > uint64_t(timeoutMs_) * 1000) {
        dead_ = true;
        wakeTime_ = NextWakeTime();
        return;
    }

    const double threshold = std::min(double(mtu) * 8 + kDatagramOverheadBits, bandwidth_);
    bool spent = false;
    BitStream* const scratch = out.Scratch();
    BitStream& stream = scratch != nullptr ? *scratch : updateStream_;
    while (credit > threshold) {
        const int32_t bits = GenerateDatagram(stream, mtu, time, remote, observers);
        if (bits == 0) break;
        const uint32_t bytes = uint32_t(stream.GetNumberOfBytesUsed());
        if (simExtraLatencyMs_ > 0) {
            auto d = std::make_unique<DelayedDatagram>();
            const uint64_t jitter = simVarianceMs_ ? uint64_t(TwisterNext() % simVarianceMs_) * 1000 : 0;
            d->sendTime = time + uint64_t(simExtraLatencyMs_) * 1000 + jitter;
            d->length = bytes;
            std::memcpy(d->data, stream.GetData(), bytes);
            delayed_.push_back(std::move(d));
        } else {
            SendBitStream(out, stream.GetData(), bytes);
        }
        credit -= double(bits) + kDatagramOverheadBits;
        spent = true;
    }

    const bool limited = credit < threshold;
    if (limited && !bandwidthLimited_) StartMeasurement(time + 2000ull * pingBasisMs_);
    bandwidthLimited_ = limited;
    const bool evaluate = time >= measureEnd_;
    if (spent || evaluate) {
        // Both happen only on passes every caller runs, so the anchor stays caller-independent.
        creditBase_ = credit;
        creditSince_ = time;
    }
    if (evaluate) EvaluateMeasurement(time, limited);

    for (size_t i = 0; i < delayed_.size();) {
        if (delayed_[i]->sendTime <= time) {
            SendBitStream(out, delayed_[i]->data, delayed_[i]->length);
            delayed_[i] = std::move(delayed_.back());
            delayed_.pop_back();
        } else {
            ++i;
        }
    }
    wakeTime_ = NextWakeTime();
}

}  // namespace velt
