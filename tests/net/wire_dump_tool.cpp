// Helper for wire_decode.py: lets an independent decoder check the datagrams our writer builds,
// and compare its own reading of arbitrary bytes with our reader's.
//   write <seed> <count>  -> per datagram: "D <mtu> <cipher> <hex>", then what went into it:
//                            "A <min> <max>" per ack range and "M <number> <reliability>
//                            <channel> <index> <splitId> <splitIndex> <splitCount> <bits>
//                            <payload hex>" per message, then "E"
//   read <server|client>  -> for each line "<hex>" on standard input: "acks <none|read|bad>
//                            <min-max,...>", then "m ..." per message (fields as above), then
//                            "end <refusal or none>"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "net/BitStream.h"
#include "net/InternalPacketPool.h"
#include "net/ReliabilityWire.h"

using namespace velt;

namespace {

std::string Hex(const uint8_t* d, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[d[i] >> 4];
        s += digits[d[i] & 15];
    }
    return s;
}

std::vector<uint8_t> FromHex(const std::string& hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::string MessageLine(char tag, const InternalPacket& p) {
    char head[128];
    snprintf(head, sizeof head, "%c %u %d %u %u %u %u %u %u ", tag, p.messageNumber, int(p.reliability),
             p.orderingChannel, p.orderingIndex, p.splitId, p.splitIndex, p.splitCount, p.bitLength);
    return head + Hex(p.data, (p.bitLength + 7) / 8);
}

int Write(uint32_t seed, int count) {
    std::mt19937 rng(seed);
    const MessageReliability kinds[] = {RELIABILITY_UNRELIABLE, RELIABILITY_UNRELIABLE_SEQUENCED,
                                        RELIABILITY_RELIABLE, RELIABILITY_RELIABLE_ORDERED,
                                        RELIABILITY_RELIABLE_SEQUENCED};
    for (int n = 0; n < count; ++n) {
        const int32_t mtu = 120 + int32_t(rng() % 1400);
        const bool cipher = rng() % 5 == 0;
        AckRangeList acks;
        const uint32_t ackNumbers = rng() % 3 == 0 ? 0 : rng() % 300;
        const uint16_t base = uint16_t(rng());
        for (uint32_t i = 0; i < ackNumbers; ++i) acks.Insert(uint16_t(base + rng() % 2000));
        AckRangeList before = acks;

        BitStream d;
        DatagramWriter w(d, mtu, cipher);
        w.WriteAcks(acks);
        std::vector<InternalPacket> sent;
        std::vector<std::vector<uint8_t>> payloads;
        for (;;) {
            InternalPacket p{};
            p.messageNumber = uint16_t(rng());
            p.reliability = kinds[rng() % 5];
            p.orderingChannel = uint8_t(rng() % 32);
            p.orderingIndex = uint16_t(rng());
            if (rng() % 3 == 0) {
                p.splitCount = 1 + rng() % (rng() % 2 ? 20 : 100000);
                p.splitIndex = rng() % p.splitCount;
                p.splitId = uint16_t(rng());
            }
            p.bitLength = 1 + rng() % (rng() % 2 ? 40 : 3000);
            std::vector<uint8_t> payload((p.bitLength + 7) / 8);
            for (auto& b : payload) b = uint8_t(rng());
            p.data = payload.data();
            if (!w.Fits(p) || sent.size() > 12) break;
            w.WriteMessage(p);
            sent.push_back(p);
            payloads.push_back(std::move(payload));
            sent.back().data = payloads.back().data();
        }
        if (w.IsEmpty()) continue;
        printf("D %d %d %s\n", mtu, cipher ? 1 : 0,
               Hex(d.GetData(), size_t(d.GetNumberOfBytesUsed())).c_str());
        for (uint32_t i = 0; i + acks.Size() < before.Size(); ++i)
            printf("A %u %u\n", before[i].minIndex, before[i].maxIndex);
        for (size_t i = 0; i < sent.size(); ++i) {
            sent[i].data = payloads[i].data();
            printf("%s\n", MessageLine('M', sent[i]).c_str());
        }
        printf("E\n");
    }
    return 0;
}

const char* RefusalName(const WireRejectionCounters& before, const WireRejectionCounters& after) {
    if (after.truncatedHeader != before.truncatedHeader) return "truncated-header";
    if (after.badReliability != before.badReliability) return "bad-reliability";
    if (after.refusedSplit != before.refusedSplit) return "refused-split";
    if (after.badSplitFields != before.badSplitFields) return "bad-split-fields";
    if (after.badPayloadLength != before.badPayloadLength) return "bad-length";
    if (after.truncatedPayload != before.truncatedPayload) return "truncated-payload";
    if (after.truncatedAcks != before.truncatedAcks) return "truncated-acks";
    if (after.invertedAckRange != before.invertedAckRange) return "inverted-ack-range";
    return "none";
}

int Read(WireRole role) {
    InternalPacketFreeList pool;
    ReliabilityWireReader reader(role);
    std::string line;
    while (std::getline(std::cin, line)) {
        const std::vector<uint8_t> bytes = FromHex(line);
        BitStream in(bytes.data(), uint32_t(bytes.size()), false);
        AckRangeList acks;
        const WireRejectionCounters before = reader.Rejections();
        std::vector<std::string> messages;
        const DatagramReadResult r = ReadDatagram(reader, in, 0, pool, acks, [&](InternalPacket* p) {
            messages.push_back(MessageLine('m', *p));
            FreePayload(*p);
            pool.Release(p);
            return true;
        });
        printf("acks %s ", r.acks == AckBlockResult::None   ? "none"
                           : r.acks == AckBlockResult::Read ? "read"
                                                            : "bad");
        for (uint32_t i = 0; i < acks.Size(); ++i)
            printf("%s%u-%u", i ? "," : "", acks[i].minIndex, acks[i].maxIndex);
        printf("\n");
        for (const std::string& m : messages) printf("%s\n", m.c_str());
        printf("end %s\n", RefusalName(before, reader.Rejections()));
        fflush(stdout);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && !strcmp(argv[1], "write")) return Write(uint32_t(atoi(argv[2])), atoi(argv[3]));
    if (argc == 3 && !strcmp(argv[1], "read"))
        return Read(!strcmp(argv[2], "server") ? WireRole::Server : WireRole::Client);
    fprintf(stderr, "usage: wire_dump_tool write <seed> <count> | read <server|client>\n");
    return 2;
}
