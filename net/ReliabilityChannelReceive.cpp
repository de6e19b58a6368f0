// Receiving side of the reliability channel: acknowledgements, the window of received message
// numbers, reassembly, sequencing and ordering, and the server's flood limits.
#include <algorithm>
#include <cstring>

#include "common/LittleEndian.h"
#include "net/MessageIdentifiers.h"
#include "net/ReliabilityChannel.h"
#include "net/ReliabilityChannelInternal.h"

namespace velt {

namespace {

constexpr uint32_t kWindowMs = 1001;
constexpr uint32_t kReceivedWindowCapacity = 512;
constexpr uint32_t kFarAhead = 32768;  // beyond this a number lies behind the base
// Given-up numbers remembered per connection; a sender that opens more holes than this loses
// the late arrivals of the oldest ones (taken for duplicates, as a window without memory would).
constexpr size_t kGivenUpMemory = 8192;

// Closes the one-second window once it has run out and returns the count of the last closed
// one, which is what the limits are compared against.
uint32_t RollWindow(uint32_t& start, uint32_t& count, uint32_t& lastCount, uint32_t nowMs) {
    if (uint32_t(nowMs - start) >= kWindowMs) {
        lastCount = count;
        count = 0;
        start = nowMs;
    }
    return lastCount;
}

}  // namespace

bool ReliabilityChannel::ProcessDatagram(const uint8_t* buffer, uint32_t length, PlayerID sender,
                                         uint64_t time, bool& limitBreached, ChannelObservers observers) {
    limitBreached = false;
    if (buffer == nullptr || length < 2) return true;
    // Acks to send, acks received and delivered messages all change what the next Update does.
    WakeNow();

    uint8_t plain[kMaxDatagramBytes + DatagramCipher::kCipherGrowthBytes + 7];
    const uint8_t* bytes = buffer;
    uint32_t size = length;
    if (cipher_) {
        uint32_t out = 0;
        if (length > sizeof plain) {
            ++stats_.packetsReceivedBad;
            stats_.bitsReceivedBad += uint64_t(length) * 8;
            return false;
        }
        std::memcpy(plain, buffer, length);
        if (!cipher_->Decrypt(plain, length, out) || out > length) {
            ++stats_.packetsReceivedBad;
            stats_.bitsReceivedBad += uint64_t(length) * 8;
            return false;
        }
        bytes = plain;
        size = out;
    }
    ++stats_.packetsReceived;
    stats_.bitsReceived += uint64_t(length) * 8;

    // Read once per datagram: the main thread may publish new values at any moment.
    const Limits limits{settings_->GetMessageHoleLimit(), settings_->GetMessagesLimit(),
                        settings_->GetAcksLimit()};

    BitStream stream(bytes, size, false);
    const uint32_t refusedBefore = reader_.Rejections().Total();
    const uint32_t splitsBefore = reader_.Rejections().refusedSplit;
    // Refused input counts towards the messages limit as good messages do, and so does a datagram
    // that carried nothing usable: a sender cannot get through more of it than of anything else.
    auto refuseRest = [&](bool messages, bool carried) {
        uint32_t refused = reader_.Rejections().Total() - refusedBefore;
        if (messages) stats_.invalidMessagesReceived += refused;
        if (reader_.Rejections().refusedSplit != splitsBefore)
            lines_.Log(Line::RefusedSplit, time, sender, "[warning] dropping a split packet from client");
        if (!carried && refused == 0) refused = 1;
        return refused != 0 && CountMessages(refused, sender, time, limits);
    };

    const AckBlockResult acks = reader_.ReadAckBlock(stream, incomingAcks_);
    if (acks == AckBlockResult::Bad) {
        limitBreached = refuseRest(false, false);
        return limitBreached;
    }
    bool carried = acks == AckBlockResult::Read;
    if (carried && ProcessAcks(sender, time, limits) == Verdict::Breach) {
        limitBreached = true;
        return true;
    }

    const uint32_t frame = datagramsHandled_;
    while (ReliabilityWireReader::MoreMessages(stream)) {
        InternalPacket* p = reader_.ReadMessageHeader(stream, time, pool_);
        if (!p) break;
        carried = true;
        for (ChannelMessageObserver* o : observers) o->OnInternalMessage(*p, frame, sender, time, false);
        if (HandleMessage(p, sender, time, limits) == Verdict::Breach) {
            limitBreached = true;
            break;
        }
    }
    if (!limitBreached) limitBreached = refuseRest(true, carried);
    ++datagramsHandled_;
    return carried || limitBreached;
}

ReliabilityChannel::Verdict ReliabilityChannel::ProcessAcks(PlayerID sender, uint64_t time,
                                                            const Limits& limits) {
    const bool server = role_ == WireRole::Server;
    const uint32_t nowMs = uint32_t(time / 1000);
    for (uint32_t r = 0; r < incomingAcks_.Size(); ++r) {
        const MessageNumberType min = incomingAcks_[r].minIndex;
        const MessageNumberType max = incomingAcks_[r].maxIndex;
        const uint32_t width = uint32_t(max) - uint32_t(min);
        if (server && int64_t(width) > int64_t(limits.holeLimit)) {
            char address[PlayerID::kStringSize];
            lines_.Log(Line::AckRangeHole, time, sender,
                       "[warning] client exceeded 'messageholelimit' (1) %s (%d) Limit: %d",
                       sender.ToString(true, address, sizeof address), int(width), int(limits.holeLimit));
            return Verdict::Breach;
        }
        const uint32_t matched = AcknowledgeRange(min, max, time);
        stats_.acksReceived += matched;
        stats_.duplicateAcksReceived += width + 1 - matched;
        stats_.acksWindowCount += width + 1;
        if (resendTree_.IsEmpty())
            lastAckTime_ = 0;
        else
            lastAckTime_ = time ? time : 1;

        const uint32_t perSecond =
            RollWindow(stats_.acksWindowStart, stats_.acksWindowCount, stats_.acksLastSecond, nowMs);
        if (server && int64_t(perSecond) > int64_t(limits.acksLimit)) {
            char address[PlayerID::kStringSize];
            lines_.Log(Line::AcksLimit, time, sender,
                       "[warning] client exceeded 'ackslimit' %s (%d) Limit: %d/sec",
                       sender.ToString(true, address, sizeof address), int(perSecond), int(limits.acksLimit));
            return Verdict::Breach;
        }
    }
    return Verdict::Ok;
}

uint32_t ReliabilityChannel::AcknowledgeRange(MessageNumberType min, MessageNumberType max, uint64_t time) {
    using PageType = decltype(resendTree_)::PageType;
    const PageType* page = resendTree_.GetRoot();
    if (!page) return 0;
    // Down to the leaf that would hold min (key i of an inner page is the smallest key under
    // child i + 1), then along the leaf chain to max: the cost follows the messages waiting in
    // the range, not the range's width.
    while (!page->isLeaf) {
        int32_t child = 0;
        while (child < page->size && !(min < page->keys[child])) ++child;
        page = page->children[child];
    }
    ackScratch_.Clear(true);
    int32_t i = 0;
    while (i < page->size && page->keys[i] < min) ++i;
    for (bool done = false; page && !done; page = page->next, i = 0) {
        for (; i < page->size; ++i) {
            if (page->keys[i] > max) {
                done = true;
                break;
            }
            ackScratch_.Insert(page->keys[i]);
        }
    }
    // The tree is changed only after the walk: deleting rebalances pages under the cursor.
    for (uint32_t k = 0; k < ackScratch_.Size(); ++k) {
        InternalPacket* p = nullptr;
        resendTree_.Delete(ackScratch_[k], p);
        p->resendTime = 0;  // released when it reaches the front of the resend queue
        if (time >= measureStart_ && p->measureEpoch == measureEpoch_) ++measureAcks_;
    }
    // Acks mostly come in sending order, so the records just acknowledged usually lead the
    // resend queue: released now, while they are in the cache, rather than by the next
    // datagram built, which would fetch each again only to find it acknowledged.
    while (!resendQueue_.IsEmpty() && resendQueue_.Peek()->resendTime == 0) ReleaseRecord(resendQueue_.Pop());
    return ackScratch_.Size();
}

bool ReliabilityChannel::UpdateReceivedWindow(InternalPacket* p, uint64_t time, bool& breach, PlayerID sender,
                                              const Limits& limits) {
    breach = false;
    if (receivedWindowReset_) {
        receivedWindow_.ClearAndForceAllocation(kReceivedWindowCapacity);
        receivedBase_ = 0;
        receivedWindowReset_ = false;
        givenUp_.clear();
    }
    const uint16_t ahead = uint16_t(p->messageNumber - receivedBase_);
    const int16_t hole = int16_t(ahead);
    if (role_ == WireRole::Server && (hole > limits.holeLimit || hole < -int64_t(limits.holeLimit))) {
        char address[PlayerID::kStringSize];
        lines_.Log(Line::MessageHole, time, sender,
                   "[warning] client exceeded 'messageholelimit' (2) %s (%d) Limit: %d",
                   sender.ToString(true, address, sizeof address), int(hole), int(limits.holeLimit));
        breach = true;
        return false;
    }

    bool duplicate = false;
    if (ahead == 0) {
        if (receivedWindow_.IsEmpty()) {
            AdvanceReceivedBase();
        } else if (receivedWindow_.Peek() == 0) {
            duplicate = true;  // only possible while the clock still reads 0
        } else {
            receivedWindow_.Pop();
            AdvanceReceivedBase();
        }
    } else if (ahead <= kFarAhead) {
        const uint32_t size = receivedWindow_.Size();
        if (ahead >= size) {
            uint64_t giveUp = time + uint64_t(timeoutMs_) * 1000;
            if (giveUp == 0) giveUp = 1;  // 0 marks "received"
            while (receivedWindow_.Size() < ahead) receivedWindow_.Push(giveUp);
            receivedWindow_.Push(0);
        } else if (receivedWindow_[ahead] != 0) {
            receivedWindow_[ahead] = 0;
        } else {
            duplicate = true;
        }
    } else {
        // Behind the base: received, unless its hole was given up before it came.
        duplicate = !TakeGivenUp(p->messageNumber);
    }
    if (duplicate) {
        ++stats_.duplicateMessagesReceived;
        return true;
    }
    while (!receivedWindow_.IsEmpty() && receivedWindow_.Peek() < time) {
        if (receivedWindow_.Pop() != 0) RememberGivenUp(receivedBase_);
        AdvanceReceivedBase();
    }
    if (receivedWindow_.AllocationSize() > kReceivedWindowCapacity &&
        receivedWindow_.Size() < receivedWindow_.AllocationSize() / 3)
        receivedWindow_.Compress();
    return false;
}

void ReliabilityChannel::AdvanceReceivedBase() {
    ++receivedBase_;
    // Once 32768 behind the base a number reads as ahead of it, and later as a new message: a
    // given-up entry for it must be gone by then, or a duplicate of that new message would match.
    if (!givenUp_.empty() && uint16_t(receivedBase_ - givenUp_.front()) >= kFarAhead)
        givenUp_.erase(givenUp_.begin());
}

void ReliabilityChannel::RememberGivenUp(MessageNumberType number) {
    if (givenUp_.size() >= kGivenUpMemory) givenUp_.erase(givenUp_.begin());
    givenUp_.push_back(number);
}

bool ReliabilityChannel::TakeGivenUp(MessageNumberType number) {
    if (givenUp_.empty()) return false;
    // Oldest first and given up in rising order (modulo 2^16): sorted by distance from the front.
    const MessageNumberType front = givenUp_.front();
    const uint16_t key = uint16_t(number - front);
    const auto it =
        std::lower_bound(givenUp_.begin(), givenUp_.end(), key,
                         [front](MessageNumberType n, uint16_t k) { return uint16_t(n - front) < k; });
    if (it == givenUp_.end() || *it != number) return false;
    givenUp_.erase(it);
    return true;
}

ReliabilityChannel::Verdict ReliabilityChannel::HandleMessage(InternalPacket* p, PlayerID sender,
                                                              uint64_t time, const Limits& limits) {
    // Acknowledge even a duplicate: its sender is resending because our ack got lost.
    if (IsReliableKind(p->reliability)) {
        ackList_.Insert(p->messageNumber);
        ++stats_.acksSent;
    }
    bool breach = false;
    if (UpdateReceivedWindow(p, time, breach, sender, limits)) {
        ReleaseRecord(p);
        return Verdict::Ok;
    }
    if (breach) {
        ReleaseRecord(p);
        return Verdict::Breach;
    }
    ++stats_.messagesReceived;
    if (CountMessages(1, sender, time, limits)) {
        ReleaseRecord(p);
        return Verdict::Breach;
    }

    if (p->splitCount > 0) {
        // A stale piece of a sequenced message can never be delivered, and neither can the
        // rest of its message: drop them all now rather than hold them.
        if (IsSequencedKind(p->reliability) && IsOlderSequenced(*p)) {
            ++stats_.sequencedOutOfOrder;
            for (uint32_t i = 0; i < splitChannels_.Size(); ++i) {
                if (splitChannels_[i]->id == p->splitId) {
                    DropSplitChannel(i);
                    break;
                }
            }
            ReleaseRecord(p);
            return Verdict::Ok;
        }
        InternalPacket* joined = nullptr;
        if (AddSplitPiece(p, sender, time, joined) == Verdict::Breach) return Verdict::Breach;
        if (!joined) return Verdict::Ok;
        p = joined;
    }
    return Deliver(p, sender, limits);
}

bool ReliabilityChannel::CountMessages(uint32_t n, PlayerID sender, uint64_t time, const Limits& limits) {
    stats_.messagesWindowCount += n;
    const uint32_t lastClosed = RollWindow(stats_.messagesWindowStart, stats_.messagesWindowCount,
                                           stats_.messagesLastSecond, uint32_t(time / 1000));
    if (role_ != WireRole::Server) return false;
    // The window running now counts too: waiting for it to close would let a burst of a whole
    // second through before the limit noticed it.
    const uint32_t perSecond = std::max(lastClosed, stats_.messagesWindowCount);
    if (int64_t(perSecond) <= int64_t(limits.messagesLimit)) return false;
    char address[PlayerID::kStringSize];
    lines_.Log(Line::MessagesLimit, time, sender,
               "[warning] client exceeded 'messageslimit' %s (%d) Limit: %d/sec",
               sender.ToString(true, address, sizeof address), int(perSecond), int(limits.messagesLimit));
    return true;
}

bool ReliabilityChannel::IsOlderSequenced(const InternalPacket& p) const {
    if (p.orderingChannel >= NUMBER_OF_ORDERED_STREAMS) return false;
    const uint16_t behind = uint16_t(sequencedReadIndex_[p.orderingChannel] - p.orderingIndex);
    return behind >= 1 && behind <= 32767;
}

ReliabilityChannel::Verdict ReliabilityChannel::Deliver(InternalPacket* p, PlayerID sender,
                                                        const Limits& limits) {
    if (IsSequencedKind(p->reliability)) {
        if (p->orderingChannel >= NUMBER_OF_ORDERED_STREAMS) {
            ReleaseRecord(p);
            return Verdict::Ok;
        }
        if (IsOlderSequenced(*p)) {
            ++stats_.sequencedOutOfOrder;
            ReleaseRecord(p);
            return Verdict::Ok;
        }
        ++stats_.sequencedInOrder;
        sequencedReadIndex_[p->orderingChannel] = OrderingIndexType(p->orderingIndex + 1);
        outputQueue_.Push(p);
        return Verdict::Ok;
    }
    if (p->reliability != RELIABILITY_RELIABLE_ORDERED) {
        outputQueue_.Push(p);
        return Verdict::Ok;
    }

    const uint8_t channel = p->orderingChannel;
    if (channel >= NUMBER_OF_ORDERED_STREAMS) {
        ReleaseRecord(p);
        return Verdict::Ok;
    }
    uint64_t& position = orderedReadPosition_[channel];
    const int16_t ahead = int16_t(uint16_t(p->orderingIndex - uint16_t(position)));
    if (ahead == 0) {
        ++stats_.orderedInOrder;
        outputQueue_.Push(p);
        ++position;
        HeldChannel* held = heldChannels_[channel].get();
        while (held && !held->messages.empty() && held->messages.begin()->first == position) {
            InternalPacket* next = held->messages.begin()->second;
            held->messages.erase(held->messages.begin());
            heldBytes_ -= PayloadBytes(next->bitLength) + kHeldMessageOverheadBytes;
            outputQueue_.Push(next);
            ++position;
        }
        return Verdict::Ok;
    }
    if (ahead < 0) {
        // Behind the awaited index: its turn has passed. Holding it would deliver it 65536
        // messages later in the wrong place.
        ++stats_.invalidMessagesReceived;
        ReleaseRecord(p);
        return Verdict::Ok;
    }

    ++stats_.orderedOutOfOrder;
    auto& held = heldChannels_[channel];
    if (!held) held = std::make_unique<HeldChannel>();
    char address[PlayerID::kStringSize];
    if (role_ == WireRole::Server && int64_t(held->messages.size()) > int64_t(limits.holeLimit)) {
        lines_.Log(
            Line::HeldMessages, p->creationTime, sender,
            "[warning] Too many out-of-order messages from player %s (%d) Limit: %u (messageholelimit)",
            sender.ToString(true, address, sizeof address), int(held->messages.size()),
            unsigned(limits.holeLimit));
        ReleaseRecord(p);
        return Verdict::Breach;
    }
    const uint32_t cost = PayloadBytes(p->bitLength) + kHeldMessageOverheadBytes;
    const uint32_t cap = settings_->GetOrderingHoldCapBytes();
    if (uint64_t(heldBytes_) + cost > cap) {
        lines_.Log(Line::HeldBytes, p->creationTime, sender,
                   "[warning] Too many out-of-order message bytes from player %s (%u) Limit: %u",
                   sender.ToString(true, address, sizeof address), unsigned(heldBytes_ + cost),
                   unsigned(cap));
        ReleaseRecord(p);
        return Verdict::Breach;
    }
    if (!held->messages.emplace(position + uint64_t(ahead), p).second) {
        ++stats_.invalidMessagesReceived;  // a second message claiming the same index
        ReleaseRecord(p);
        return Verdict::Ok;
    }
    heldBytes_ += cost;
    return Verdict::Ok;
}

// ---- split messages (client role; the server's reader refuses the pieces) --------------------

void ReliabilityChannel::DropSplitChannel(uint32_t index) {
    SplitChannel* channel = splitChannels_[index];
    for (uint32_t i = 0; i < channel->pieces.Size(); ++i) ReleaseRecord(channel->pieces[i]);
    reassemblyBytes_ -= channel->bytes;
    splitChannels_.RemoveAtIndex(index);
    delete channel;
}

void ReliabilityChannel::ExpireUnreliableSplits(uint64_t time) {
    // The scan visits every message under reassembly; once per 100 ms is plenty against a
    // 10 s timeout, and keeps a sender of many tiny pieces from making each piece cost a scan.
    if (time >= lastSplitExpiryScan_ && time - lastSplitExpiryScan_ < 100000) return;
    lastSplitExpiryScan_ = time;
    for (uint32_t i = 0; i < splitChannels_.Size();) {
        const SplitChannel* c = splitChannels_[i];
        if (IsUnreliableKind(c->pieces[0]->reliability) && time > c->lastTime &&
            time - c->lastTime > kUnreliableSplitTimeoutUs)
            DropSplitChannel(i);
        else
            ++i;
    }
}

ReliabilityChannel::Verdict ReliabilityChannel::AddSplitPiece(InternalPacket* piece, PlayerID sender,
                                                              uint64_t time, InternalPacket*& joined) {
    joined = nullptr;
    ExpireUnreliableSplits(time);

    // Channels sorted by split id; binary search for this piece's.
    uint32_t low = 0, high = splitChannels_.Size();
    while (low < high) {
        const uint32_t mid = low + (high - low) / 2;
        if (splitChannels_[mid]->id < piece->splitId)
            low = mid + 1;
        else
            high = mid;
    }
    const bool exists = low < splitChannels_.Size() && splitChannels_[low]->id == piece->splitId;
    uint32_t slot = 0;  // where the piece goes among the channel's pieces
    if (exists) {
        const SplitChannel* c = splitChannels_[low];
        // Every piece of one message announces the same count, and each index arrives once;
        // anything else could never be joined into a sound message.
        if (piece->splitCount != c->count) {
            ++stats_.invalidMessagesReceived;
            ReleaseRecord(piece);
            return Verdict::Ok;
        }
        uint32_t a = 0, b = c->pieces.Size();
        while (a < b) {
            const uint32_t mid = a + (b - a) / 2;
            if (c->pieces[mid]->splitIndex < piece->splitIndex)
                a = mid + 1;
            else
                b = mid;
        }
        if (a < c->pieces.Size() && c->pieces[a]->splitIndex == piece->splitIndex) {
            ++stats_.invalidMessagesReceived;
            ReleaseRecord(piece);
            return Verdict::Ok;
        }
        slot = a;
    }

    const uint32_t cost = PayloadBytes(piece->bitLength) + kHeldMessageOverheadBytes;
    const uint32_t cap = settings_->GetReassemblyCapBytes();
    if (uint64_t(reassemblyBytes_) + cost > cap) {
        char address[PlayerID::kStringSize];
        lines_.Log(Line::SplitBytes, time, sender,
                   "[warning] Too many split message bytes from player %s (%u) Limit: %u",
                   sender.ToString(true, address, sizeof address), unsigned(reassemblyBytes_ + cost),
                   unsigned(cap));
        ReleaseRecord(piece);
        return Verdict::Breach;
    }

    SplitChannel* c;
    if (exists) {
        c = splitChannels_[low];
    } else {
        c = new SplitChannel;
        c->id = piece->splitId;
        c->count = piece->splitCount;
        splitChannels_.Insert(c, low);
    }
    c->pieces.Insert(piece, slot);
    c->bytes += cost;
    c->lastTime = time;
    reassemblyBytes_ += cost;

    if (c->pieces.Size() == c->count) {
        joined = JoinSplitChannel(low);
        return Verdict::Ok;
    }
    if (progressInterval_ != 0 && c->pieces[0]->splitIndex == 0 && c->pieces.Size() % progressInterval_ == 0)
        DeliverProgress(*c);
    return Verdict::Ok;
}

void ReliabilityChannel::DeliverProgress(const SplitChannel& c) {
    const InternalPacket* first = c.pieces[0];
    const uint32_t firstBytes = PayloadBytes(first->bitLength);
    InternalPacket* progress = pool_.Allocate();
    *progress = *first;
    progress->splitCount = 0;
    progress->splitIndex = 0;
    progress->orderingChannel = kSplitReassemblyChannel;
    const uint32_t bytes = 13 + firstBytes;
    progress->data = new uint8_t[bytes];
    progress->bitLength = bytes * 8;
    uint8_t* out = progress->data;
    out[0] = uint8_t(ID_SPLIT_PROGRESS);
    WriteU32(out + 1, c.pieces.Size());
    WriteU32(out + 5, c.count);
    WriteU32(out + 9, firstBytes);
    std::memcpy(progress->data + 13, first->data, firstBytes);
    outputQueue_.Push(progress);
}

InternalPacket* ReliabilityChannel::JoinSplitChannel(uint32_t index) {
    SplitChannel* c = splitChannels_[index];
    uint64_t totalBits = 0;
    bool aligned = true;
    for (uint32_t i = 0; i < c->pieces.Size(); ++i) {
        totalBits += c->pieces[i]->bitLength;
        if (i + 1 < c->pieces.Size() && c->pieces[i]->bitLength % 8 != 0) aligned = false;
    }
    const uint32_t totalBytes = uint32_t((totalBits + 7) / 8);
    uint8_t* data = new uint8_t[totalBytes];
    if (aligned) {
        uint32_t offset = 0;
        for (uint32_t i = 0; i < c->pieces.Size(); ++i) {
            const uint32_t n = PayloadBytes(c->pieces[i]->bitLength);
            std::memcpy(data + offset, c->pieces[i]->data, n);
            offset += n;
        }
    } else {
        // Only a sender of its own making cuts pieces off the byte grid; join them bit by bit.
        BitStream bits{int32_t(totalBytes)};
        for (uint32_t i = 0; i < c->pieces.Size(); ++i)
            bits.WriteRawBits(c->pieces[i]->data, int32_t(c->pieces[i]->bitLength), false);
        std::memcpy(data, bits.GetData(), totalBytes);
    }

    InternalPacket* whole = c->pieces[0];
    for (uint32_t i = 1; i < c->pieces.Size(); ++i) ReleaseRecord(c->pieces[i]);
    FreePayload(*whole);
    whole->data = data;
    whole->bitLength = uint32_t(totalBits);
    whole->splitCount = 0;
    whole->splitIndex = 0;
    if (whole->reliability != RELIABILITY_RELIABLE_ORDERED && !IsSequencedKind(whole->reliability))
        whole->orderingChannel = kSplitReassemblyChannel;
    reassemblyBytes_ -= c->bytes;
    splitChannels_.RemoveAtIndex(index);
    delete c;
    return whole;
}

}  // namespace velt
