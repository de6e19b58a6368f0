// The statistics record's wire bytes and its three text forms.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "net/NetworkStatistics.h"

namespace velt {
namespace {

// One record with a distinct, easily recognised value in every field.
NetworkStatistics Fixture() {
    NetworkStatistics s;
    const std::uint32_t inBuffer[4] = {1, 2, 3, 4}, sent[4] = {5, 6, 7, 8};
    const std::uint64_t data[4] = {80, 160, 8, 0}, total[4] = {160, 240, 17, 0};
    for (int i = 0; i < 4; ++i) {
        s.messagesInSendBuffer[i] = inBuffer[i];
        s.messagesSent[i] = sent[i];
        s.reliableMessagesSent[i] = 40 + i;
        s.messageDataBitsSent[i] = data[i];
        s.messageTotalBitsSent[i] = total[i];
    }
    s.packetsWithOnlyAcks = 15;
    s.acksSent = 11;
    s.acksPending = 12;
    s.ackBitsSent = 33;
    s.packetsWithOnlyAcksAndResends = 16;
    s.messagesResent = 14;
    s.messageDataBitsResent = 1200;
    s.messageTotalBitsResent = 2000;
    s.messagesWaitingForAck = 13;
    s.messagesUnsplit = 17;
    s.messagesSplit = 18;
    s.splitsPerformed = 19;
    s.packetsSent = 21;
    s.encryptionBitsSent = 64;
    s.totalBitsSent = 8001;
    s.sequencedOutOfOrder = 22;
    s.sequencedInOrder = 23;
    s.orderedOutOfOrder = 24;
    s.orderedInOrder = 25;
    s.packetsReceived = 26;
    s.packetsReceivedBad = 27;
    s.bitsReceived = 4000;
    s.bitsReceivedBad = 97;
    s.acksReceived = 30;
    s.duplicateAcksReceived = 4;
    s.messagesReceived = 20;
    s.invalidMessagesReceived = 2;
    s.duplicateMessagesReceived = 3;
    s.messagesWaitingForReassembly = 28;
    s.internalOutputQueueSize = 29;
    s.bitsPerSecond = 12300.0;
    s.connectionStartTime = 1000;
    s.messagesWindowStart = 1001;
    s.messagesWindowCount = 31;
    s.messagesLastSecond = 32;
    s.acksWindowStart = 1002;
    s.acksWindowCount = 34;
    s.acksLastSecond = 35;
    return s;
}

std::string Text(const NetworkStatistics* s, int level, std::uint32_t now, StatsRateState& rates) {
    char buffer[4096];
    statsToString(s, buffer, sizeof buffer, level, now, rates);
    return buffer;
}

const char* const kSummary =
    "Messages in Send buffer: 10\n"
    "Messages sent: 26\n"
    "Bytes sent: 1001\n"
    "Acks sent: 11\n"
    "Acks in send buffer: 12\n"
    "Messages waiting for ack: 13\n"
    "Messages resent: 14\n"
    "Bytes resent: 250\n"
    "Packetloss: 25.0%\n"
    "Messages received: 25\n"
    "Bytes received: 513\n"
    "Acks received: 30\n"
    "Duplicate acks received: 4\n";

TEST(StatisticsText, Level4) {
    StatsRateState rates;
    const NetworkStatistics s = Fixture();
    EXPECT_EQ(Text(&s, 4, 5000, rates), kSummary);
    EXPECT_EQ(rates.timeMs, 0u) << "only level 1 moves the rate window";
}

TEST(StatisticsText, Level1RatesRunFromThePreviousCallAcrossRecords) {
    StatsRateState rates;
    const NetworkStatistics a = Fixture();
    // First call: measured from a's connection start (1000 ms), 4 s earlier.
    EXPECT_EQ(Text(&a, 1, 5000, rates), std::string(kSummary) +
                                            "Inst. KBits per second: 12.3\n"
                                            "KBits per second sent: 2.0\n"
                                            "KBits per second received: 1.0\n");
    // Second call, another record: measured over 2 s from the first call, against a's counts.
    NetworkStatistics b = Fixture();
    b.connectionStartTime = 3000;
    b.totalBitsSent = 24001;
    b.bitsReceived = 12000;
    const std::string text = Text(&b, 1, 7000, rates);
    EXPECT_NE(text.find("KBits per second sent: 8.0\nKBits per second received: 4.0\n"), std::string::npos)
        << text;
    // No time since the previous call: rates read 0 rather than dividing by zero.
    const std::string again = Text(&b, 1, 7000, rates);
    EXPECT_NE(again.find("KBits per second sent: 0.0\nKBits per second received: 0.0\n"), std::string::npos)
        << again;
}

TEST(StatisticsText, Level2) {
    StatsRateState rates;
    const NetworkStatistics s = Fixture();
    EXPECT_EQ(Text(&s, 2, 5000, rates),
              "Bytes sent:\t\t\t\t1001\n"
              "Messages in send buffer:\t\tSP:1 HP:2 MP:3 LP:4\n"
              "Messages sent:\t\t\t\tSP:5 HP:6 MP:7 LP:8\n"
              "Message data bytes sent:\t\tSP:10 HP:20 MP:1 LP:0\n"
              "Message header bytes sent:\t\tSP:10 HP:10 MP:2 LP:0\n"
              "Message total bytes sent:\t\tSP:20 HP:30 MP:3 LP:0\n"
              "Bytes received:\t\t\t\tTtl:513 Good:500 Bad:13\n"
              "Packets received:\t\t\tTtl:53 Good:26 Bad:27\n"
              "Acks received:\t\t\t\tTtl:34 Good:30 Dup:4\n"
              "Messages received:\t\t\tTotal:25 Valid:20 Invalid:2 Dup:3\n"
              "Packetloss:\t\t\t\t25.0%\n"
              "Packets sent:\t\t\t\t21\n"
              "Acks sent:\t\t\t\t11\n"
              "Acks in send buffer:\t\t\t12\n"
              "Messages waiting for ack:\t\t13\n"
              "Ack bytes sent:\t\t\t\t5\n"
              "Sent packets containing only acks:\t15\n"
              "Sent packets w/only acks and resends:\t16\n"
              "Reliable messages resent:\t\t14\n"
              "Reliable message data bytes resent:\t150\n"
              "Reliable message header bytes resent:\t100\n"
              "Reliable message total bytes resent:\t250\n"
              "Number of messages split:\t\t18\n"
              "Number of messages unsplit:\t\t17\n"
              "Message splits performed:\t\t19\n"
              "Additional encryption bytes:\t\t8\n"
              "Sequenced messages out of order:\t22\n"
              "Sequenced messages in order:\t\t23\n"
              "Ordered messages out of order:\t\t24\n"
              "Ordered messages in of order:\t\t25\n"
              "Split messages waiting for reassembly:\t28\n"
              "Messages in internal output queue:\t29\n"
              "Inst KBits per second:\t\t\t12.3\n"
              "Elapsed time (sec):\t\t\t4.0\n"
              "KBits per second sent:\t\t\t2.0\n"
              "KBits per second received:\t\t1.0\n");
}

TEST(StatisticsText, Level2EndsWithTheRefusalsThatHappened) {
    StatsRateState rates;
    NetworkStatistics s = Fixture();
    const std::string plain = Text(&s, 2, 5000, rates);
    s.Rejections(Rejected::BannedSender) = 7;
    s.Rejections(Rejected::RpcTruncated) = 1;
    EXPECT_EQ(Text(&s, 2, 5000, rates), plain +
                                            "Rejected: datagrams from banned addresses:\t7\n"
                                            "Rejected: calls shorter than their arguments:\t1\n");
    // The summaries and the wire form do not carry them.
    EXPECT_EQ(Text(&s, 4, 5000, rates), kSummary);
    EXPECT_EQ(SerializeNetworkStatistics(s), SerializeNetworkStatistics(Fixture()));
    for (int i = 0; i < kRejectedKinds; ++i) EXPECT_STRNE(RejectedName(Rejected(i)), "unknown");
}

TEST(StatisticsText, Level2PrintsLargeCountsInFull) {
    StatsRateState rates;
    NetworkStatistics s = Fixture();
    s.totalBitsSent = 8ull * 5000000000ull;  // 5e9 bytes, past 32 bits
    s.packetsReceived = 0xFFFFFFFFu;
    s.packetsReceivedBad = 2;
    const std::string text = Text(&s, 2, 5000, rates);
    EXPECT_NE(text.find("Bytes sent:\t\t\t\t5000000000\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Packets received:\t\t\tTtl:4294967297 Good:4294967295 Bad:2\n"), std::string::npos)
        << text;
    // The summary levels keep their 32-bit byte counts.
    EXPECT_NE(Text(&s, 4, 5000, rates).find("Bytes sent: 705032704\n"), std::string::npos);
}

TEST(StatisticsText, DivisionsByZeroReadZero) {
    StatsRateState rates;
    NetworkStatistics s;  // nothing sent, connection started "now"
    s.connectionStartTime = 5000;
    const std::string text = Text(&s, 2, 5000, rates);
    for (const char* line : {"Packetloss:\t\t\t\t0.0%\n", "Elapsed time (sec):\t\t\t0.0\n",
                             "KBits per second sent:\t\t\t0.0\n", "KBits per second received:\t\t0.0\n"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line;
    }
}

TEST(StatisticsText, UndefinedLevelsAndNullRecord) {
    StatsRateState rates;
    const NetworkStatistics s = Fixture();
    for (int level : {0, 3, 5, -1}) {
        char buffer[64];
        std::memset(buffer, 'Z', sizeof buffer);
        statsToString(&s, buffer, sizeof buffer, level, 5000, rates);
        EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, 'Z')) << level;
    }
    for (int level : {0, 1, 2, 3, 4}) {
        EXPECT_EQ(Text(nullptr, level, 5000, rates), "stats is a NULL pointer in statsToString\n");
    }
    EXPECT_EQ(rates.timeMs, 0u);
}

TEST(StatisticsText, NeverWritesPastTheBuffer) {
    StatsRateState rates;
    const NetworkStatistics s = Fixture();
    for (int level : {1, 2, 4}) {
        for (std::size_t size : {1u, 2u, 17u, 200u}) {
            std::vector<char> buffer(size + 8, 'Z');
            statsToString(&s, buffer.data(), size, level, 5000, rates);
            const std::string text(buffer.data());
            EXPECT_EQ(text.size(), size - 1) << "level " << level << " size " << size;
            for (std::size_t i = size; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 'Z');
        }
    }
    char untouched = 'Z';
    statsToString(&s, &untouched, 0, 2, 5000, rates);
    EXPECT_EQ(untouched, 'Z');
}

TEST(Statistics, ResetKeepsOnlyTheTimeStamps) {
    NetworkStatistics s = Fixture();
    s.Reset(777);
    NetworkStatistics expected;
    expected.connectionStartTime = 777;
    expected.messagesWindowStart = 777;
    expected.acksWindowStart = 777;
    EXPECT_EQ(SerializeNetworkStatistics(s), SerializeNetworkStatistics(expected));
}

TEST(Statistics, WireLayoutIsFieldByFieldLittleEndian) {
    struct Field {
        std::size_t offset;
        std::size_t size;
        std::uint64_t value;
    };
    // Offsets as clients read them; 8-byte fields sit at 4-byte alignment.
    const Field fields[] = {
        {0, 4, 1},
        {4, 4, 2},
        {8, 4, 3},
        {12, 4, 4},  // messagesInSendBuffer
        {16, 4, 5},
        {20, 4, 6},
        {24, 4, 7},
        {28, 4, 8},  // messagesSent
        {32, 4, 40},
        {36, 4, 41},
        {40, 4, 42},
        {44, 4, 43},  // reliableMessagesSent
        {48, 8, 80},
        {56, 8, 160},
        {64, 8, 8},
        {72, 8, 0},  // messageDataBitsSent
        {80, 8, 160},
        {88, 8, 240},
        {96, 8, 17},
        {104, 8, 0},  // messageTotalBitsSent
        {112, 4, 15},
        {116, 4, 11},
        {120, 4, 12},
        {124, 8, 33},
        {132, 4, 16},
        {136, 4, 14},
        {140, 8, 1200},
        {148, 8, 2000},
        {156, 4, 13},
        {160, 4, 17},
        {164, 4, 18},
        {168, 4, 19},
        {172, 4, 21},
        {176, 8, 64},
        {184, 8, 0x0102030405060708ull},  // totalBitsSent overridden below
        {192, 4, 22},
        {196, 4, 23},
        {200, 4, 24},
        {204, 4, 25},
        {208, 4, 26},
        {212, 4, 27},
        {216, 8, 4000},
        {224, 8, 97},
        {232, 4, 30},
        {236, 4, 4},
        {240, 4, 20},
        {244, 4, 2},
        {248, 4, 3},
        {252, 4, 28},
        {256, 4, 29},
        {260, 8, 0x40C8060000000000ull},  // 12300.0 as IEEE-754 bits
        {268, 4, 1000},
        {272, 4, 1001},
        {276, 4, 31},
        {280, 4, 32},
        {284, 4, 1002},
        {288, 4, 34},
        {292, 4, 35},
    };
    NetworkStatistics s = Fixture();
    s.totalBitsSent = 0x0102030405060708ull;  // shows the byte order of a 64-bit field
    const auto wire = SerializeNetworkStatistics(s);
    ASSERT_EQ(wire.size(), 296u);

    std::size_t next = 0;
    for (const Field& f : fields) {
        ASSERT_EQ(f.offset, next) << "fields must tile the record";
        for (std::size_t i = 0; i < f.size; ++i) {
            EXPECT_EQ(wire[f.offset + i], static_cast<std::uint8_t>(f.value >> (8 * i)))
                << "offset " << f.offset << " byte " << i;
        }
        next = f.offset + f.size;
    }
    EXPECT_EQ(next, 296u);
}

}  // namespace
}  // namespace velt
