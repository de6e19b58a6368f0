#include "net/ReliabilityChannel.h"

#include <cstdarg>
#include <cstdio>

#include "net/ReliabilityChannelInternal.h"

namespace velt {

namespace {

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
      log_(log),
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

void ReliabilityChannel::LogLine(const char* format, va_list args) const {
    // The hook is printf-like and variadic; format here once and pass the line as "%s" so the
    // hook's own formatting cannot be confused by what an address or count prints as.
    char line[256];
    std::vsnprintf(line, sizeof line, format, args);
    log_("%s", line);
}

void ReliabilityChannel::LogNow(const char* format, ...) const {
    if (!log_) return;
    va_list args;
    va_start(args, format);
    LogLine(format, args);
    va_end(args);
}

const char* ReliabilityChannel::LineName(Line line) {
    switch (line) {
        case Line::RefusedSplit: return "dropping a split packet";
        case Line::AckRangeHole: return "messageholelimit (1)";
        case Line::MessageHole: return "messageholelimit (2)";
        case Line::AcksLimit: return "ackslimit";
        case Line::MessagesLimit: return "messageslimit";
        case Line::HeldMessages: return "too many out-of-order messages";
        case Line::HeldBytes: return "too many out-of-order message bytes";
        case Line::SplitBytes: return "too many split message bytes";
        case Line::kCount: break;
    }
    return "";
}

void ReliabilityChannel::LogHeldBack(Line line, uint32_t count, PlayerID sender) const {
    char address[PlayerID::kStringSize];
    LogNow("[warning] %s: %u more from %s not logged", LineName(line), unsigned(count),
           sender.ToString(true, address, sizeof address));
}

void ReliabilityChannel::Log(Line line, uint64_t time, PlayerID sender, const char* format, ...) {
    if (!log_) return;
    uint32_t ended = 0;
    const bool pass = lineRuns_[size_t(line)].Admit(NetTime(time / 1000), kRepeatedLineIntervalMs, ended);
    if (ended != 0) LogHeldBack(line, ended, sender);
    if (!pass) return;
    va_list args;
    va_start(args, format);
    LogLine(format, args);
    va_end(args);
}

void ReliabilityChannel::FlushRepeatedLines(PlayerID remote, uint64_t time, bool force) {
    for (size_t i = 0; i < size_t(Line::kCount); ++i) {
        uint32_t count = 0;
        if (lineRuns_[i].TakeEnded(NetTime(time / 1000), kRepeatedLineIntervalMs, force, count))
            LogHeldBack(Line(i), count, remote);
    }
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
    for (RepeatRun& run : lineRuns_) run = RepeatRun{};
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

}  // namespace velt
