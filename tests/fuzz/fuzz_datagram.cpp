// Reads fuzz-chosen bytes as a reliability-layer datagram, in the role the first byte picks, and
// checks what the reader promises: every message it hands out is well formed, its payload buffer
// holds exactly the announced bits, refused records go back to the pool, and each message
// written back and read again gives the same fields.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "net/BitStream.h"
#include "net/InternalPacketPool.h"
#include "net/ReliabilityWire.h"

using namespace velt;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void CheckRewrite(const InternalPacket& p) {
    BitStream out;
    DatagramWriter writer(out, 1500, false);
    writer.WriteMessage(p);
    InternalPacketFreeList pool;
    ReliabilityWireReader reader(WireRole::Client);
    AckRangeList acks;
    int seen = 0;
    ReadDatagram(reader, out, 0, pool, acks, [&](InternalPacket* q) {
        ++seen;
        // 11..15 go back out as reliable; everything else must come back as it was read.
        Check(q->reliability ==
              (p.reliability > RELIABILITY_RELIABLE_SEQUENCED ? RELIABILITY_RELIABLE : p.reliability));
        Check(q->messageNumber == p.messageNumber && q->bitLength == p.bitLength);
        Check(q->splitCount == p.splitCount && q->splitIndex == p.splitIndex && q->splitId == p.splitId);
        if (HasOrderingFields(uint32_t(q->reliability)) && q->reliability == p.reliability) {
            Check(q->orderingChannel == p.orderingChannel && q->orderingIndex == p.orderingIndex);
        }
        Check(memcmp(q->data, p.data, (p.bitLength + 7) / 8) == 0);
        FreePayload(*q);
        pool.Release(q);
        return true;
    });
    Check(seen == 1);
    Check(reader.Rejections().Total() == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const WireRole role = (data[0] & 1) ? WireRole::Server : WireRole::Client;
    BitStream in(data + 1, uint32_t(size - 1), false);
    InternalPacketFreeList pool;
    const uint32_t pooled = pool.Size();
    ReliabilityWireReader reader(role);
    AckRangeList acks;
    uint32_t handed = 0;
    const DatagramReadResult r = ReadDatagram(reader, in, 1, pool, acks, [&](InternalPacket* p) {
        ++handed;
        Check(p->bitLength >= 1 && p->bitLength <= kMaxMessagePayloadBits);
        Check(p->reliability >= RELIABILITY_UNRELIABLE && p->reliability <= 15);
        Check(p->orderingChannel < 32);
        Check(p->splitCount == 0 || p->splitIndex < p->splitCount);
        Check(role == WireRole::Client || p->splitCount == 0);
        Check(p->creationTime == 1 && p->data != nullptr);
        volatile uint8_t last = p->data[(p->bitLength + 7) / 8 - 1];  // the whole buffer exists
        (void)last;
        CheckRewrite(*p);
        FreePayload(*p);
        pool.Release(p);
        return true;
    });
    Check(r.messages == handed);
    Check(in.GetReadOffset() <= in.GetNumberOfBitsUsed());
    if (r.acks == AckBlockResult::Read) {
        for (uint32_t i = 0; i < acks.Size(); ++i) Check(acks[i].minIndex <= acks[i].maxIndex);
    } else {
        Check(acks.Size() == 0);
    }
    // Every record the reader took, accepted or refused, is back.
    Check(pool.Size() >= pooled);
    return 0;
}
