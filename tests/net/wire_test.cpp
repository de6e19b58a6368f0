// Reliability-layer datagrams: golden bit strings of the writer, the reader's refusals, the
// writer's budgets, and a round trip of random datagrams through writer and reader.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "net/BitStream.h"
#include "net/InternalPacketPool.h"
#include "net/ReliabilityWire.h"

using namespace velt;

namespace {

std::string Bits(const BitStream& s) {
    std::string out;
    const uint8_t* d = s.GetData();
    for (int32_t i = 0; i < s.GetNumberOfBitsUsed(); ++i)
        out += ((d[i >> 3] >> (7 - (i & 7))) & 1) ? '1' : '0';
    return out;
}

std::string Strip(const char* spaced) {
    std::string out;
    for (const char* c = spaced; *c; ++c)
        if (*c == '0' || *c == '1') out += *c;
    return out;
}

// A datagram given as a bit string (spaces allowed), padded with zero bits to whole bytes.
std::vector<uint8_t> FromBits(const std::string& spaced) {
    const std::string bits = Strip(spaced.c_str());
    std::vector<uint8_t> out((bits.size() + 7) / 8, 0);
    for (size_t i = 0; i < bits.size(); ++i)
        if (bits[i] == '1') out[i / 8] |= uint8_t(0x80u >> (i % 8));
    return out;
}

struct Message {
    uint16_t number = 0;
    MessageReliability reliability = RELIABILITY_UNRELIABLE;
    uint8_t channel = 0;
    uint16_t index = 0;
    uint16_t splitId = 0;
    uint32_t splitIndex = 0, splitCount = 0;
    std::vector<uint8_t> payload;
    uint32_t bitLength = 0;  // 0: whole payload bytes

    InternalPacket Record() const {
        InternalPacket p{};
        p.messageNumber = number;
        p.reliability = reliability;
        p.orderingChannel = channel;
        p.orderingIndex = index;
        p.splitId = splitId;
        p.splitIndex = splitIndex;
        p.splitCount = splitCount;
        p.bitLength = bitLength ? bitLength : uint32_t(payload.size() * 8);
        p.data = const_cast<uint8_t*>(payload.data());
        return p;
    }
};

std::vector<std::string> g_log;
void CaptureLog(const char* format, ...) {
    char line[256];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    g_log.emplace_back(line);
}

// Reads a datagram; returns the records read (payloads copied out, records released).
struct Parsed {
    AckBlockResult acks;
    std::vector<std::pair<uint16_t, uint16_t>> ranges;
    std::vector<InternalPacket> messages;
    std::vector<std::vector<uint8_t>> payloads;
};

Parsed Parse(ReliabilityWireReader& reader, const std::vector<uint8_t>& bytes, InternalPacketFreeList& pool) {
    BitStream in(bytes.data(), uint32_t(bytes.size()), false);
    AckRangeList acks;
    Parsed out;
    const DatagramReadResult r = ReadDatagram(reader, in, 77, pool, acks, [&](InternalPacket* p) {
        out.messages.push_back(*p);
        out.payloads.emplace_back(p->data, p->data + (p->bitLength + 7) / 8);
        FreePayload(*p);
        pool.Release(p);
        return true;
    });
    out.acks = r.acks;
    for (uint32_t i = 0; i < acks.Size(); ++i) out.ranges.emplace_back(acks[i].minIndex, acks[i].maxIndex);
    return out;
}

}  // namespace

TEST(WireWriter, GoldenMessageHeadersOfEveryKind) {
    struct Case {
        const char* name;
        std::vector<std::pair<uint16_t, uint16_t>> acks;
        Message message;
        const char*
            bits;  // has-acks | ack block | number | reliability | ordering | split | length | pad | payload
    };
    const Case cases[] = {
        {"unreliable, no acks",
         {},
         {0x1234, RELIABILITY_UNRELIABLE, 0, 0, 0, 0, 0, {0xAB}},
         "0 | 00110100 00010010 | 0110 | 0 | 1 1 1000 | 0000 | 10101011"},
        {"unreliable sequenced, channel 31",
         {},
         {7, RELIABILITY_UNRELIABLE_SEQUENCED, 31, 0xFFFF, 0, 0, 0, {0x01}},
         "0 | 00000111 00000000 | 0111 | 11111 11111111 11111111 | 0 | 1 1 1000 | 0000000 | 00000001"},
        {"reliable: no ordering fields",
         {},
         {0, RELIABILITY_RELIABLE, 9, 9, 0, 0, 0, {0xFF, 0x00}},
         "0 | 00000000 00000000 | 1000 | 0 | 1 0 00010000 | 11111111 00000000"},
        {"reliable ordered with acks",
         {{5, 5}, {10, 12}},
         {0xFFFF, RELIABILITY_RELIABLE_ORDERED, 3, 0x0102, 0, 0, 0, {0xDE, 0xA0}, 12},
         "1 | 1 1 0010 | 1 00000101 00000000 | 0 00001010 00000000 00001100 00000000"
         " | 11111111 11111111 | 1001 | 00011 00000010 00000001 | 0 | 1 1 1100 | 0000000 | 11011110 "
         "10100000"},
        {"reliable sequenced",
         {},
         {1, RELIABILITY_RELIABLE_SEQUENCED, 0, 0x0100, 0, 0, 0, {0x5A}},
         "0 | 00000001 00000000 | 1010 | 00000 00000000 00000001 | 0 | 1 1 1000 | 0000000 | 01011010"},
        {"split piece, small index and count",
         {},
         {2, RELIABILITY_RELIABLE, 0, 0, 7, 2, 3, {0x80}, 1},
         "0 | 00000010 00000000 | 1000 | 1 00000111 00000000 1111 0010 1111 0011 | 1 1 0001 | 0000 | "
         "10000000"},
        {"split piece, index 300 of 70000",
         {},
         {3, RELIABILITY_RELIABLE_ORDERED, 1, 2, 0xBEEF, 300, 70000, {0x42}},
         "0 | 00000011 00000000 | 1001 | 00001 00000010 00000000 | 1 11101111 10111110"
         " 1 1 0 00101100 00000001 | 1 0 01110000 00010001 00000001 | 1 1 1000 | 00 | 01000010"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AckRangeList acks;
        for (auto [lo, hi] : c.acks)
            for (uint32_t n = lo; n <= hi; ++n) acks.Insert(uint16_t(n));
        BitStream datagram;
        DatagramWriter writer(datagram, 576, false);
        writer.WriteAcks(acks);
        const InternalPacket record = c.message.Record();
        ASSERT_TRUE(writer.Fits(record));
        writer.WriteMessage(record);
        EXPECT_EQ(Bits(datagram), Strip(c.bits));
        EXPECT_EQ(acks.Size(), 0u);

        // And the reader (client role) gives the same fields back.
        InternalPacketFreeList pool;
        ReliabilityWireReader reader(WireRole::Client);
        const Parsed p = Parse(
            reader,
            std::vector<uint8_t>(datagram.GetData(), datagram.GetData() + datagram.GetNumberOfBytesUsed()),
            pool);
        EXPECT_EQ(p.ranges, c.acks);
        ASSERT_EQ(p.messages.size(), 1u);
        const InternalPacket& m = p.messages[0];
        EXPECT_EQ(m.messageNumber, record.messageNumber);
        EXPECT_EQ(m.reliability, record.reliability);
        EXPECT_EQ(m.splitCount, record.splitCount);
        EXPECT_EQ(m.splitIndex, record.splitIndex);
        EXPECT_EQ(m.bitLength, record.bitLength);
        EXPECT_EQ(m.creationTime, 77u);
        EXPECT_EQ(p.payloads[0], c.message.payload);
        EXPECT_EQ(reader.Rejections().Total(), 0u);
    }
}

TEST(WireWriter, OutOfRangeFieldsGoOutAsTheChannelWouldSendThem) {
    // A reliability outside 6..10 goes out as reliable, a channel above 31 as 0: nothing the
    // writer emits makes the peer drop the rest of the datagram.
    Message m{9, MessageReliability(3), 0, 0, 0, 0, 0, {0x11}};
    Message ordered{9, RELIABILITY_RELIABLE_ORDERED, 40, 1, 0, 0, 0, {0x11}};
    Message high{9, MessageReliability(12), 0, 0, 0, 0, 0, {0x11}};
    for (const Message* msg : {&m, &ordered, &high}) {
        BitStream d;
        DatagramWriter w(d, 576, false);
        w.WriteMessage(msg->Record());
        InternalPacketFreeList pool;
        ReliabilityWireReader reader(WireRole::Server);
        const Parsed p =
            Parse(reader, std::vector<uint8_t>(d.GetData(), d.GetData() + d.GetNumberOfBytesUsed()), pool);
        ASSERT_EQ(p.messages.size(), 1u);
        EXPECT_EQ(p.messages[0].reliability,
                  msg == &ordered ? RELIABILITY_RELIABLE_ORDERED : RELIABILITY_RELIABLE);
        EXPECT_EQ(p.messages[0].orderingChannel, 0);
    }
}

TEST(WireWriter, EstimatesAndBudgets) {
    struct Case {
        MessageReliability reliability;
        uint32_t splitCount;
        uint32_t bits;
    };
    const Case estimates[] = {
        {RELIABILITY_UNRELIABLE, 0, 53},         {RELIABILITY_UNRELIABLE_SEQUENCED, 0, 74},
        {RELIABILITY_RELIABLE, 0, 53},           {RELIABILITY_RELIABLE_ORDERED, 0, 74},
        {RELIABILITY_RELIABLE_SEQUENCED, 0, 74}, {RELIABILITY_RELIABLE, 4, 133},
        {RELIABILITY_RELIABLE_ORDERED, 4, 154},
    };
    for (const Case& c : estimates) {
        InternalPacket p{};
        p.reliability = c.reliability;
        p.splitCount = c.splitCount;
        EXPECT_EQ(EstimateHeaderBits(p), c.bits) << c.reliability << "/" << c.splitCount;
    }

    // Message budget at MTU 576: 548 bytes of bits, 540 with the cipher.
    InternalPacket p{};
    p.reliability = RELIABILITY_RELIABLE;
    p.bitLength = 548 * 8 - 53;
    EXPECT_TRUE(MessageFits(0, p, 576, false));
    EXPECT_FALSE(MessageFits(1, p, 576, false));
    EXPECT_FALSE(MessageFits(0, p, 576, true));
    p.bitLength = 540 * 8 - 53;
    EXPECT_TRUE(MessageFits(0, p, 576, true));

    // Ack budget at MTU 576 is 4383 bits: 255 single ranges (17 bits each) go into one
    // datagram, the rest wait for the next.
    AckRangeList acks;
    for (uint32_t n = 0; n < 600; n += 2) acks.Insert(uint16_t(n));
    BitStream first;
    WriteAckBlock(first, acks, 576, false);
    EXPECT_EQ(acks.Size(), 300u - 255u);
    EXPECT_EQ(acks[0].minIndex, 510);
    BitStream second;
    WriteAckBlock(second, acks, 576, false);
    EXPECT_EQ(acks.Size(), 0u);
    // The cipher's 8 header bytes come off the ack budget as well: 4319 bits, 252 ranges.
    for (uint32_t n = 0; n < 600; n += 2) acks.Insert(uint16_t(n));
    BitStream enciphered;
    WriteAckBlock(enciphered, acks, 576, true);
    EXPECT_EQ(acks.Size(), 300u - 252u);
    acks.Clear();

    InternalPacketFreeList pool;
    ReliabilityWireReader reader;
    const Parsed a = Parse(
        reader, std::vector<uint8_t>(first.GetData(), first.GetData() + first.GetNumberOfBytesUsed()), pool);
    ASSERT_EQ(a.acks, AckBlockResult::Read);
    ASSERT_EQ(a.ranges.size(), 255u);
    EXPECT_EQ(a.ranges.back(), std::make_pair(uint16_t(508), uint16_t(508)));
    EXPECT_TRUE(a.messages.empty());
}

TEST(WireWriter, EmptyDatagramStaysEmptyAndAcksComeFirst) {
    BitStream d;
    DatagramWriter w(d, 576, false);
    AckRangeList none;
    EXPECT_EQ(w.WriteAcks(none), 0);
    EXPECT_TRUE(w.IsEmpty());
    EXPECT_EQ(d.GetNumberOfBitsUsed(), 0);

    // Acks are refused once a message is in: has-acks is the datagram's first bit.
    Message m{1, RELIABILITY_UNRELIABLE, 0, 0, 0, 0, 0, {0x01}};
    w.WriteMessage(m.Record());
    AckRangeList late;
    late.Insert(3);
    EXPECT_EQ(w.WriteAcks(late), 0);
    EXPECT_EQ(late.Size(), 1u);
    EXPECT_EQ(Bits(d)[0], '0');
}

// ---- reader -----------------------------------------------------------------------------------

TEST(WireReader, RefusalTable) {
    // Fragments (bit strings) of a datagram.
    // A message that follows the has-acks bit and ends on a byte boundary.
    const std::string good = "00000001 00000000 | 0110 | 0 | 1 1 1000 | 0000 | 10101010";
    // A message that starts and ends on a byte boundary.
    const std::string reliable = "00000010 00000000 | 1000 | 0 | 1 1 1000 | 00000 | 01010101";
    // Header of a 11928-bit payload after the has-acks bit.
    const std::string big = "00000011 00000000 | 1000 | 0 | 0 10011000 00101110 | 0";
    std::string bigPayload(1491 * 8, '1');

    struct Case {
        const char* name;
        WireRole role;
        std::string bits;
        AckBlockResult acks;
        size_t messages;
        uint32_t WireRejectionCounters::*counter;  // null: no rejection
        bool logged = false;
    };
    using C = WireRejectionCounters;
    const Case cases[] = {
        {"has-acks 0 alone carries nothing", WireRole::Server, "0", AckBlockResult::None, 0, nullptr},
        {"range count 0, then a message", WireRole::Server,
         "1 11 0000 | 00000001 00000000 0110 0 111000 | 000000 | 10101010", AckBlockResult::Read, 1, nullptr},
        {"empty datagram", WireRole::Server, "", AckBlockResult::Bad, 0, &C::truncatedAcks},
        {"ack range max below min rejects everything", WireRole::Server,
         "1 11 0001 0 00000101 00000000 00000100 00000000 " + good, AckBlockResult::Bad, 0,
         &C::invertedAckRange},
        {"ack count beyond the datagram", WireRole::Server, "1 11 0011 1 00000101 00000000",
         AckBlockResult::Bad, 0, &C::truncatedAcks},
        {"reliability 5 ends the datagram after the good one", WireRole::Server,
         "0" + good + "00000010 00000000 0101 0 111000 00000 11111111", AckBlockResult::None, 1,
         &C::badReliability},
        {"payload length 0", WireRole::Server, "0 00000001 00000000 0110 0 110000 0000 11111111",
         AckBlockResult::None, 0, &C::badPayloadLength},
        {"payload length 11929", WireRole::Server, "0 00000001 00000000 0110 0 0 10011001 00101110",
         AckBlockResult::None, 0, &C::badPayloadLength},
        {"payload length 11928 is accepted", WireRole::Server, "0" + big + bigPayload, AckBlockResult::None,
         1, nullptr},
        {"payload one byte short", WireRole::Server, "0" + big + bigPayload.substr(8), AckBlockResult::None,
         0, &C::truncatedPayload},
        {"ordering index cut off", WireRole::Server, "0 00000001 00000000 1001 00011 0000000",
         AckBlockResult::None, 0, &C::truncatedHeader},
        {"split piece refused by the server", WireRole::Server,
         "0 00000001 00000000 1000 1 00000111 00000000 11110000 11110001 111000 0000 10101010" + reliable,
         AckBlockResult::None, 0, &C::refusedSplit, true},
        {"split piece accepted by the client", WireRole::Client,
         "0 00000001 00000000 1000 1 00000111 00000000 11110000 11110001 111000 0000 10101010" + reliable,
         AckBlockResult::None, 2, nullptr},
        {"split index not below the count", WireRole::Client,
         "0 00000001 00000000 1000 1 00000111 00000000 11110001 11110001 111000 0000 10101010",
         AckBlockResult::None, 0, &C::badSplitFields},
        {"split count 0", WireRole::Client,
         "0 00000001 00000000 1000 1 00000111 00000000 11110000 11110000 111000 0000 10101010",
         AckBlockResult::None, 0, &C::badSplitFields},
        {"reliability 12 reads like an unordered kind", WireRole::Server,
         "0 00000001 00000000 1100 0 111000 0000 10101010", AckBlockResult::None, 1, nullptr},
        {"fewer than 16 bits left is the end, not an error", WireRole::Server, "0" + good + "11111111",
         AckBlockResult::None, 1, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_log.clear();
        InternalPacketFreeList pool;
        const uint32_t pooled = pool.Size();
        ReliabilityWireReader reader(c.role, CaptureLog);
        const Parsed p = Parse(reader, FromBits(c.bits), pool);
        EXPECT_EQ(p.acks, c.acks);
        EXPECT_EQ(p.messages.size(), c.messages);
        if (c.counter) {
            EXPECT_EQ(reader.Rejections().*c.counter, 1u);
        }
        EXPECT_EQ(reader.Rejections().Total(), c.counter ? 1u : 0u);
        EXPECT_EQ(g_log.size(), c.logged ? 1u : 0u);
        if (c.logged) {
            EXPECT_EQ(g_log[0], "[warning] dropping a split packet from client");
        }
        // Refused records go back to the pool.
        EXPECT_EQ(pool.Size(), pooled);
    }
}

TEST(WireReader, WrapAroundValuesSurvive) {
    Message m{0xFFFF, RELIABILITY_RELIABLE_ORDERED, 31, 0xFFFF, 0xFFFF, 0, 1, {0x01}};
    BitStream d;
    DatagramWriter w(d, 576, false);
    AckRangeList acks;
    acks.Insert(65535);
    acks.Insert(0);
    w.WriteAcks(acks);
    w.WriteMessage(m.Record());
    InternalPacketFreeList pool;
    ReliabilityWireReader reader;
    const Parsed p =
        Parse(reader, std::vector<uint8_t>(d.GetData(), d.GetData() + d.GetNumberOfBytesUsed()), pool);
    const std::vector<std::pair<uint16_t, uint16_t>> ranges{{0, 0}, {65535, 65535}};
    EXPECT_EQ(p.ranges, ranges);
    ASSERT_EQ(p.messages.size(), 1u);
    EXPECT_EQ(p.messages[0].messageNumber, 0xFFFF);
    EXPECT_EQ(p.messages[0].orderingIndex, 0xFFFF);
    EXPECT_EQ(p.messages[0].orderingChannel, 31);
    EXPECT_EQ(p.messages[0].splitId, 0xFFFF);
}

TEST(WireRoundTrip, RandomDatagramsStayInBudgetAndReadBackExactly) {
    std::mt19937 rng(2024);
    const MessageReliability kinds[] = {RELIABILITY_UNRELIABLE, RELIABILITY_UNRELIABLE_SEQUENCED,
                                        RELIABILITY_RELIABLE, RELIABILITY_RELIABLE_ORDERED,
                                        RELIABILITY_RELIABLE_SEQUENCED};
    InternalPacketFreeList pool;
    for (int round = 0; round < 400; ++round) {
        const int32_t mtu = 200 + int32_t(rng() % 1300);
        const bool cipher = rng() % 4 == 0;
        AckRangeList acks;
        const uint32_t ackCount = rng() % 3 == 0 ? 0 : rng() % 400;
        for (uint32_t i = 0; i < ackCount; ++i) acks.Insert(uint16_t(rng()));
        std::vector<std::pair<uint16_t, uint16_t>> expectedRanges;
        AckRangeList before = acks;

        BitStream d;
        DatagramWriter w(d, mtu, cipher);
        w.WriteAcks(acks);
        for (uint32_t i = 0; i + acks.Size() < before.Size(); ++i)
            expectedRanges.emplace_back(before[i].minIndex, before[i].maxIndex);

        std::vector<Message> sent;
        for (;;) {
            Message m;
            m.number = uint16_t(rng());
            m.reliability = kinds[rng() % 5];
            m.channel = uint8_t(rng() % 32);
            m.index = uint16_t(rng());
            if (rng() % 3 == 0) {
                m.splitCount = 1 + rng() % 70000;
                m.splitIndex = rng() % m.splitCount;
                m.splitId = uint16_t(rng());
            }
            m.bitLength = 1 + rng() % (rng() % 2 ? 64 : 4000);
            m.payload.resize((m.bitLength + 7) / 8);
            for (auto& b : m.payload) b = uint8_t(rng());
            const InternalPacket r = m.Record();
            if (!w.Fits(r)) break;
            w.WriteMessage(r);
            sent.push_back(m);
        }
        // Messages join only while they fit; an acknowledgement block alone may end one bit past
        // the budget (its reserve covers a 16-bit count, the count field can take 17).
        ASSERT_LE(d.GetNumberOfBitsUsed(), MessageBudgetBits(mtu, cipher) + (sent.empty() ? 1 : 0)) << round;
        if (w.IsEmpty()) {
            ASSERT_EQ(d.GetNumberOfBitsUsed(), 0);  // not sent at all
            continue;
        }

        ReliabilityWireReader reader(WireRole::Client);
        const Parsed p =
            Parse(reader, std::vector<uint8_t>(d.GetData(), d.GetData() + d.GetNumberOfBytesUsed()), pool);
        ASSERT_EQ(p.ranges, expectedRanges);
        ASSERT_EQ(p.messages.size(), sent.size()) << round;
        for (size_t i = 0; i < sent.size(); ++i) {
            const InternalPacket& got = p.messages[i];
            const Message& want = sent[i];
            ASSERT_EQ(got.messageNumber, want.number);
            ASSERT_EQ(got.reliability, want.reliability);
            const bool ordered = HasOrderingFields(uint32_t(want.reliability));
            ASSERT_EQ(got.orderingChannel, ordered ? want.channel : 0);
            ASSERT_EQ(got.orderingIndex, ordered ? want.index : 0);
            ASSERT_EQ(got.splitCount, want.splitCount);
            ASSERT_EQ(got.splitIndex, want.splitIndex);
            ASSERT_EQ(got.splitId, want.splitId);
            ASSERT_EQ(got.bitLength, want.bitLength);
            ASSERT_EQ(p.payloads[i], want.payload);
        }
        const WireRejectionCounters& r = reader.Rejections();
        ASSERT_EQ(r.Total(), 0u) << round << " " << r.truncatedHeader << r.badReliability << r.badSplitFields
                                 << r.badPayloadLength << r.truncatedPayload << " bits "
                                 << d.GetNumberOfBitsUsed();
    }
}
