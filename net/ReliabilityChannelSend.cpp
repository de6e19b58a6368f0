// Sending side of the reliability channel: queuing and splitting, building datagrams, resends,
// and pacing by the measured bandwidth.
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

}  // namespace

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
