#include "net/ReliabilityWire.h"

#include "net/BitStream.h"
#include "net/InternalPacketPool.h"

namespace velt {

namespace {

constexpr int32_t kReliabilityBits = 4;
constexpr int32_t kOrderingChannelBits = 5;

}  // namespace

uint8_t WireReliability(MessageReliability reliability) {
    const int32_t r = int32_t(reliability);
    if (r < RELIABILITY_UNRELIABLE || r > RELIABILITY_RELIABLE_SEQUENCED) return RELIABILITY_RELIABLE;
    return uint8_t(r);
}

bool HasOrderingFields(uint32_t wireReliability) {
    return wireReliability == RELIABILITY_UNRELIABLE_SEQUENCED ||
           wireReliability == RELIABILITY_RELIABLE_ORDERED ||
           wireReliability == RELIABILITY_RELIABLE_SEQUENCED;
}

uint32_t EstimateHeaderBits(const InternalPacket& packet) {
    uint32_t bits = kReliabilityBits + 49;
    if (HasOrderingFields(WireReliability(packet.reliability))) bits += 21;
    if (packet.splitCount > 0) bits += 80;
    return bits;
}

int32_t MessageBudgetBits(int32_t mtu, bool cipherOn) {
    return (mtu - (cipherOn ? kCipherDatagramHeaderBytes : kDatagramHeaderBytes)) * 8;
}

int32_t AckBudgetBits(int32_t mtu, bool cipherOn) {
    const int32_t cipherBits = cipherOn ? (kCipherDatagramHeaderBytes - kDatagramHeaderBytes) * 8 : 0;
    return mtu * 8 - kAckBudgetReserveBits - cipherBits;
}

bool MessageFits(int32_t datagramBits, const InternalPacket& packet, int32_t mtu, bool cipherOn) {
    const int64_t need = int64_t(datagramBits) + EstimateHeaderBits(packet) + packet.bitLength;
    return need <= MessageBudgetBits(mtu, cipherOn);
}

int32_t WriteMessageHeader(BitStream& datagram, const InternalPacket& packet) {
    const int32_t start = datagram.GetNumberOfBitsUsed();
    datagram.Write(uint16_t(packet.messageNumber));
    const uint8_t reliability = WireReliability(packet.reliability);
    datagram.WriteRawBits(&reliability, kReliabilityBits, true);
    if (HasOrderingFields(reliability)) {
        const uint8_t channel =
            packet.orderingChannel < NUMBER_OF_ORDERED_STREAMS ? packet.orderingChannel : 0;
        datagram.WriteRawBits(&channel, kOrderingChannelBits, true);
        datagram.Write(uint16_t(packet.orderingIndex));
    }
    if (packet.splitCount > 0) {
        datagram.WriteOne();
        datagram.Write(uint16_t(packet.splitId));
        datagram.WriteCompressed(uint32_t(packet.splitIndex));
        datagram.WriteCompressed(uint32_t(packet.splitCount));
    } else {
        datagram.WriteZero();
    }
    datagram.WriteCompressed(uint16_t(packet.bitLength));
    datagram.AlignWriteToByte();
    datagram.WriteBytes(packet.data, int32_t((packet.bitLength + 7) / 8));
    return datagram.GetNumberOfBitsUsed() - start;
}

int32_t WriteAckBlock(BitStream& datagram, AckRangeList& acks, int32_t mtu, bool cipherOn) {
    const int32_t start = datagram.GetNumberOfBitsUsed();
    datagram.WriteOne();
    acks.Serialize(&datagram, AckBudgetBits(mtu, cipherOn), true);
    return datagram.GetNumberOfBitsUsed() - start;
}

DatagramWriter::DatagramWriter(BitStream& datagram, int32_t mtu, bool cipherOn)
    : datagram_(datagram), mtu_(mtu), cipherOn_(cipherOn) {}

int32_t DatagramWriter::WriteAcks(AckRangeList& acks) {
    if (wroteAcks_ || messages_ > 0 || acks.Size() == 0) return 0;
    wroteAcks_ = true;
    return WriteAckBlock(datagram_, acks, mtu_, cipherOn_);
}

bool DatagramWriter::Fits(const InternalPacket& packet) const {
    return MessageFits(datagram_.GetNumberOfBitsUsed(), packet, mtu_, cipherOn_);
}

int32_t DatagramWriter::WriteMessage(const InternalPacket& packet) {
    if (!wroteAcks_ && messages_ == 0) datagram_.WriteZero();
    ++messages_;
    return WriteMessageHeader(datagram_, packet);
}

// ---- reading ----------------------------------------------------------------------------------

bool ReliabilityWireReader::MoreMessages(const BitStream& datagram) {
    return datagram.GetNumberOfUnreadBits() >= kMinMessageBits;
}

AckBlockResult ReliabilityWireReader::ReadAckBlock(BitStream& datagram, AckRangeList& acks) {
    acks.Clear();
    bool hasAcks = false;
    if (!datagram.ReadOneBit(hasAcks)) {
        ++rejections_.truncatedAcks;
        return AckBlockResult::Bad;
    }
    if (!hasAcks) return AckBlockResult::None;

    // Walk the block first to tell a cut-off block from an inverted range; only a block that
    // reads completely is stored, so a lying range count costs nothing.
    const int32_t start = datagram.GetReadOffset();
    uint16_t count = 0;
    bool ok = datagram.ReadCompressed(count);
    for (uint32_t i = 0; ok && i < count; ++i) {
        bool single = false;
        uint16_t min = 0, max = 0;
        ok = datagram.ReadOneBit(single) && datagram.Read(min) && (single || datagram.Read(max));
        if (ok && !single && max < min) {
            ++rejections_.invertedAckRange;
            return AckBlockResult::Bad;
        }
    }
    if (!ok) {
        ++rejections_.truncatedAcks;
        return AckBlockResult::Bad;
    }
    datagram.SetReadOffset(start);
    if (!acks.Deserialize(&datagram)) {
        ++rejections_.truncatedAcks;
        return AckBlockResult::Bad;
    }
    return AckBlockResult::Read;
}

InternalPacket* ReliabilityWireReader::Refuse(InternalPacket* packet, InternalPacketFreeList& pool,
                                              uint32_t& counter) {
    ++counter;
    FreePayload(*packet);
    pool.Release(packet);
    return nullptr;
}

InternalPacket* ReliabilityWireReader::ReadMessageHeader(BitStream& datagram, uint64_t time,
                                                         InternalPacketFreeList& pool) {
    if (!MoreMessages(datagram)) return nullptr;

    InternalPacket* p = pool.Allocate();
    // The pool hands records back as they were left: set every field.
    p->messageNumber = 0;
    p->sendFrame = 0;
    p->priority = HIGH_PRIORITY_LEVEL;
    p->reliability = RELIABILITY_UNRELIABLE;
    p->orderingChannel = 0;
    p->orderingIndex = 0;
    p->splitId = 0;
    p->splitIndex = 0;
    p->splitCount = 0;
    p->creationTime = time;
    p->resendTime = 0;
    p->bitLength = 0;
    p->data = nullptr;
    p->measureEpoch = 0;

    uint16_t number = 0;
    uint8_t reliability = 0;
    if (!datagram.Read(number) || !datagram.ReadRawBits(&reliability, kReliabilityBits, true))
        return Refuse(p, pool, rejections_.truncatedHeader);
    p->messageNumber = number;
    if (reliability < RELIABILITY_UNRELIABLE) return Refuse(p, pool, rejections_.badReliability);
    // 11..15 are kept as read: the receiving side delivers them like unreliable messages.
    p->reliability = MessageReliability(reliability);

    if (HasOrderingFields(reliability)) {
        uint8_t channel = 0;
        uint16_t index = 0;
        if (!datagram.ReadRawBits(&channel, kOrderingChannelBits, true) || !datagram.Read(index))
            return Refuse(p, pool, rejections_.truncatedHeader);
        p->orderingChannel = channel;
        p->orderingIndex = index;
    }

    bool split = false;
    if (!datagram.ReadOneBit(split)) return Refuse(p, pool, rejections_.truncatedHeader);
    if (split) {
        if (role_ == WireRole::Server) {
            if (log_) log_("[warning] dropping a split packet from client");
            return Refuse(p, pool, rejections_.refusedSplit);
        }
        uint16_t id = 0;
        uint32_t index = 0, count = 0;
        if (!datagram.Read(id) || !datagram.ReadCompressed(index) || !datagram.ReadCompressed(count))
            return Refuse(p, pool, rejections_.truncatedHeader);
        // Such a piece can never complete a message; reassembly would hold it forever.
        if (count == 0 || index >= count) return Refuse(p, pool, rejections_.badSplitFields);
        p->splitId = id;
        p->splitIndex = index;
        p->splitCount = count;
    }

    uint16_t length = 0;
    if (!datagram.ReadCompressed(length)) return Refuse(p, pool, rejections_.truncatedHeader);
    if (length == 0 || length > kMaxMessagePayloadBits) return Refuse(p, pool, rejections_.badPayloadLength);
    p->bitLength = length;

    datagram.AlignReadToByte();
    const int32_t bytes = int32_t((uint32_t(length) + 7) / 8);
    // Checked before the buffer exists: a short datagram costs no allocation.
    if (datagram.GetNumberOfUnreadBits() < bytes * 8) return Refuse(p, pool, rejections_.truncatedPayload);
    AllocatePayload(*p, uint32_t(bytes));
    p->data[bytes - 1] = 0;
    if (!datagram.ReadBytes(p->data, bytes)) return Refuse(p, pool, rejections_.truncatedPayload);
    return p;
}

}  // namespace velt
