// Receiving side of the reliability channel: the server's flood limits and their warning lines,
// split refusal and reassembly, the window of received numbers, sequencing, ordering,
// acknowledgements, and the memory caps that bound a hostile sender in either role.
#include <gtest/gtest.h>

#include <functional>

#include "tests/net/channel_test_util.h"

using namespace velt;
using namespace velt::channeltest;

namespace {

const char* RoleName(WireRole r) { return r == WireRole::Server ? "server" : "client"; }

Message Msg(uint16_t number, MessageReliability r = RELIABILITY_UNRELIABLE,
            std::vector<uint8_t> payload = {0xC8}) {
    Message m;
    m.number = number;
    m.reliability = r;
    m.payload = std::move(payload);
    return m;
}

Message Ordered(uint16_t number, uint16_t index, uint8_t channel = 0, uint32_t size = 1) {
    Message m = Msg(number, RELIABILITY_RELIABLE_ORDERED, std::vector<uint8_t>(size, uint8_t(index)));
    m.index = index;
    m.channel = channel;
    return m;
}

Message Piece(uint16_t number, MessageReliability r, uint16_t id, uint32_t index, uint32_t count,
              std::vector<uint8_t> payload) {
    Message m = Msg(number, r, std::move(payload));
    m.split = true;
    m.splitId = id;
    m.splitIndex = index;
    m.splitCount = count;
    return m;
}

// Feeds single-message datagrams and reports whether the last one breached a limit.
bool FeedEach(ReliabilityChannel& ch, const std::vector<Message>& messages, uint64_t time) {
    bool breach = false;
    for (const Message& m : messages) Feed(ch, DatagramBuilder().Add(m).Bytes(), time, &breach);
    return breach;
}

// One crafted exchange per warning line. The server must breach with exactly the line; the
// client applies none of these limits.
struct WarningCase {
    const char* name;
    int32_t holeLimit;
    std::function<bool(ReliabilityChannel&)> run;  // true: the last datagram breached
    const char* line;
};

TEST(ChannelReceive, EachFloodLimitBreachLogsItsLineInTheServerOnly) {
    const uint64_t t = kT0 + 1000;
    const WarningCase cases[] = {
        {"ack range wider than the hole limit", 3000,
         [&](ReliabilityChannel& ch) {
             bool b = false;
             Feed(ch, DatagramBuilder().Acks({{0, 3001}}).Bytes(), t, &b);
             return b;
         },
         "[warning] client exceeded 'messageholelimit' (1) 127.0.0.1:7777 (3001) Limit: 3000"},
        {"message number too far ahead", 3000,
         [&](ReliabilityChannel& ch) { return FeedEach(ch, {Msg(3001)}, t); },
         "[warning] client exceeded 'messageholelimit' (2) 127.0.0.1:7777 (3001) Limit: 3000"},
        {"message number too far behind", 3000,
         [&](ReliabilityChannel& ch) { return FeedEach(ch, {Msg(uint16_t(65536 - 3001))}, t); },
         "[warning] client exceeded 'messageholelimit' (2) 127.0.0.1:7777 (-3001) Limit: 3000"},
        {"too many acks in one second", 3000,
         [&](ReliabilityChannel& ch) {
             bool b = false;
             Feed(ch, DatagramBuilder().Acks({{0, 2000}, {10000, 12000}}).Bytes(), t, &b);
             if (b) return false;
             Feed(ch, DatagramBuilder().Acks({{20000, 20000}}).Bytes(), t + 1001000, &b);
             return b;
         },
         "[warning] client exceeded 'ackslimit' 127.0.0.1:7777 (4003) Limit: 3000/sec"},
        {"too many messages in one second", 3000,
         [&](ReliabilityChannel& ch) {
             bool b = false;
             for (uint16_t first = 0; first < 500; first += 50) {
                 DatagramBuilder d;
                 for (uint16_t n = first; n < first + 50; ++n) d.Add(Msg(n));
                 Feed(ch, d.Bytes(), t, &b);
                 if (b) return false;
             }
             Drain(ch);
             // The 501st inside the same window: refused at once, not when the window closes.
             return FeedEach(ch, {Msg(500)}, t + 1000000);
         },
         "[warning] client exceeded 'messageslimit' 127.0.0.1:7777 (501) Limit: 500/sec"},
        {"too many ordered messages held back", 2,
         [&](ReliabilityChannel& ch) {
             if (FeedEach(ch, {Ordered(0, 1), Ordered(1, 2), Ordered(2, 3)}, t)) return false;
             return FeedEach(ch, {Ordered(3, 4)}, t);
         },
         "[warning] Too many out-of-order messages from player 127.0.0.1:7777 (3) Limit: 2 "
         "(messageholelimit)"},
    };
    for (const WarningCase& c : cases) {
        for (WireRole role : {WireRole::Server, WireRole::Client}) {
            SCOPED_TRACE(std::string(c.name) + " / " + RoleName(role));
            TransportSettings settings;
            settings.SetMessageHoleLimit(c.holeLimit);
            ReliabilityChannel ch(role, kT0, settings, CaptureLog);
            LogLines().clear();
            const bool breached = c.run(ch);
            if (role == WireRole::Server) {
                EXPECT_TRUE(breached);
                ASSERT_EQ(LogLines().size(), 1u);
                EXPECT_EQ(LogLines()[0], c.line);
            } else {
                EXPECT_FALSE(breached);
                EXPECT_TRUE(LogLines().empty());
            }
        }
    }
}

TEST(ChannelReceive, ServerRefusesSplitPiecesWithItsWarningAndReadsNoFurther) {
    const auto datagram =
        DatagramBuilder().Add(Piece(0, RELIABILITY_RELIABLE, 4, 0, 2, {1, 2, 3})).Add(Msg(1)).Bytes();

    ReliabilityChannel server(WireRole::Server, kT0, TransportSettings::Defaults(), CaptureLog);
    LogLines().clear();
    bool breach = true;
    EXPECT_FALSE(Feed(server, datagram, kT0 + 1000, &breach));
    EXPECT_FALSE(breach);
    ASSERT_EQ(LogLines().size(), 1u);
    EXPECT_EQ(LogLines()[0], "[warning] dropping a split packet from client");
    EXPECT_TRUE(Drain(server).empty());
    const NetworkStatistics s = server.GetStatistics(true);
    EXPECT_EQ(s.invalidMessagesReceived, 1u);
    EXPECT_EQ(s.messagesWaitingForReassembly, 0u);
    EXPECT_FALSE(server.AreAcksWaiting());

    ReliabilityChannel client(WireRole::Client, kT0, TransportSettings::Defaults(), CaptureLog);
    LogLines().clear();
    EXPECT_TRUE(Feed(client, datagram, kT0 + 1000));
    EXPECT_TRUE(LogLines().empty());
    EXPECT_EQ(Drain(client).size(), 1u);  // the whole message behind the piece
    EXPECT_EQ(client.GetStatistics(true).messagesWaitingForReassembly, 1u);
}

TEST(ChannelReceive, DatagramsShorterThanTwoBytesAreIgnored) {
    ReliabilityChannel ch(WireRole::Server, kT0);
    bool breach = true;
    const uint8_t one[1] = {0x00};
    EXPECT_TRUE(ch.ProcessDatagram(nullptr, 10, kPeer, kT0, breach));
    EXPECT_TRUE(ch.ProcessDatagram(one, 0, kPeer, kT0, breach));
    EXPECT_TRUE(ch.ProcessDatagram(one, 1, kPeer, kT0, breach));
    EXPECT_FALSE(breach);
    EXPECT_EQ(ch.GetStatistics(true).packetsReceived, 0u);
    // Two bytes of nothing: read, but it carried neither acks nor a message.
    const uint8_t two[2] = {0x00, 0x00};
    EXPECT_FALSE(ch.ProcessDatagram(two, 2, kPeer, kT0, breach));
    EXPECT_EQ(ch.GetStatistics(true).packetsReceived, 1u);
}

TEST(ChannelReceive, WindowAcceptsTheHoleLimitAndDropsDuplicatesUncounted) {
    ReliabilityChannel ch(WireRole::Server, kT0);
    const uint64_t t = kT0 + 1000;
    EXPECT_FALSE(FeedEach(ch, {Msg(3000)}, t)) << "exactly the hole limit ahead is fine";
    EXPECT_EQ(ch.ReceivedWindowSize(), 3001u);
    for (uint16_t n = 0; n < 20; ++n) EXPECT_FALSE(FeedEach(ch, {Msg(n, RELIABILITY_RELIABLE)}, t));
    EXPECT_EQ(Drain(ch).size(), 21u);
    const uint32_t counted = ch.GetStatistics(true).messagesWindowCount;

    // 10 below the base: a duplicate. Not delivered, not counted towards the limit, but
    // acknowledged again since its sender evidently missed our ack.
    Feed(ch, DatagramBuilder().Add(Msg(10, RELIABILITY_RELIABLE)).Bytes(), t + 10);
    EXPECT_TRUE(Drain(ch).empty());
    NetworkStatistics s = ch.GetStatistics(true);
    EXPECT_EQ(s.duplicateMessagesReceived, 1u);
    EXPECT_EQ(s.messagesWindowCount, counted);
    EXPECT_EQ(s.acksSent, 21u);
    // The same for one still inside the window.
    FeedEach(ch, {Msg(3000)}, t + 20);
    EXPECT_TRUE(Drain(ch).empty());
    EXPECT_EQ(ch.GetStatistics(true).duplicateMessagesReceived, 2u);
}

// A hole is given up after the timeout, but the sender of a reliable message resends it until it
// is acknowledged: when it finally comes it is new, and the ordered stream waiting for it must
// move on. A copy of it after that is a duplicate again.
TEST(ChannelReceive, MessageArrivingAfterItsHoleWasGivenUpIsDeliveredOnce) {
    for (WireRole role : {WireRole::Server, WireRole::Client}) {
        SCOPED_TRACE(RoleName(role));
        ReliabilityChannel ch(role, kT0);
        ch.SetTimeoutTime(10000);
        const uint64_t t = kT0 + 1000;
        FeedEach(ch, {Ordered(1, 1), Ordered(2, 2)}, t);
        EXPECT_TRUE(Drain(ch).empty());
        // Past the give-up time the next message moves the base beyond the hole.
        FeedEach(ch, {Ordered(3, 3)}, t + 10000001);
        EXPECT_EQ(ch.ReceivedWindowSize(), 0u);
        EXPECT_TRUE(Drain(ch).empty());

        FeedEach(ch, {Ordered(0, 0)}, t + 13000000);
        std::vector<std::vector<uint8_t>> got = Drain(ch);
        ASSERT_EQ(got.size(), 4u);
        for (uint8_t i = 0; i < 4; ++i) EXPECT_EQ(got[i], std::vector<uint8_t>{i});
        FeedEach(ch, {Ordered(0, 0), Ordered(2, 2)}, t + 13000100);
        EXPECT_TRUE(Drain(ch).empty());
        EXPECT_EQ(ch.GetStatistics(true).duplicateMessagesReceived, 2u);
    }
}

// A given-up number is forgotten once the base is 32768 past it: the number then means a newer
// message, and a copy of that one must stay a duplicate.
TEST(ChannelReceive, GivenUpNumberIsForgottenBeforeItsNumberComesRoundAgain) {
    ReliabilityChannel ch(WireRole::Client, kT0);
    ch.SetTimeoutTime(1);
    uint64_t t = kT0 + 1000;
    FeedEach(ch, {Msg(1)}, t);  // hole at 0, given up at the next message after 1 ms
    t += 5000;
    uint32_t number = 2;
    auto feedUpTo = [&](uint32_t end) {
        while (number < end) {
            DatagramBuilder d;
            for (int i = 0; i < 100 && number < end; ++i) d.Add(Msg(uint16_t(number++)));
            Feed(ch, d.Bytes(), t);
        }
    };
    feedUpTo(65536 + 1);  // numbers 2..65535 then 0 again: the new 0
    EXPECT_EQ(Drain(ch).size(), 65536u);
    FeedEach(ch, {Msg(0)}, t);
    EXPECT_TRUE(Drain(ch).empty()) << "the copy of the new 0 was taken for the old, given-up 0";
}

TEST(ChannelReceive, OrderedMessagesAreHeldUntilTheirTurn) {
    ReliabilityChannel ch(WireRole::Server, kT0);
    const uint64_t t = kT0 + 1000;
    FeedEach(ch, {Ordered(0, 2), Ordered(1, 0, 1), Ordered(2, 0)}, t);
    EXPECT_TRUE(ch.IsDataWaiting());
    std::vector<std::vector<uint8_t>> got = Drain(ch);
    ASSERT_EQ(got.size(), 2u);  // channel 1's index 0, then channel 0's index 0; 2 waits for 1
    EXPECT_EQ(got[1], std::vector<uint8_t>{0});
    FeedEach(ch, {Ordered(3, 1)}, t);
    got = Drain(ch);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], std::vector<uint8_t>{1});
    EXPECT_EQ(got[1], std::vector<uint8_t>{2});
    // Nothing held any more: a connection asked to close when idle can close.
    EXPECT_EQ(ch.HeldOrderingBytes(), 0u);
    CaptureSender out;
    ch.Update(out, kPeer, kMtu, t + 200000);  // flushes the acks
    EXPECT_FALSE(ch.IsDataWaiting());

    // A second message claiming an index whose turn has passed is dropped, never delivered
    // later out of place.
    FeedEach(ch, {Ordered(4, 1), Ordered(5, 4)}, t + 300000);
    EXPECT_TRUE(Drain(ch).empty());
    FeedEach(ch, {Ordered(6, 3)}, t + 300000);
    got = Drain(ch);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], std::vector<uint8_t>{3});
    EXPECT_EQ(got[1], std::vector<uint8_t>{4});
    const NetworkStatistics s = ch.GetStatistics(true);
    EXPECT_EQ(s.orderedInOrder, 4u);
    EXPECT_EQ(s.orderedOutOfOrder, 2u);
    EXPECT_EQ(s.invalidMessagesReceived, 1u);
}

TEST(ChannelReceive, SequencedMessagesDeliverOnlyNewerOnes) {
    for (MessageReliability kind : {RELIABILITY_UNRELIABLE_SEQUENCED, RELIABILITY_RELIABLE_SEQUENCED}) {
        ReliabilityChannel ch(WireRole::Server, kT0);
        std::vector<Message> ms;
        // 4 is older than 5; the second 5 is no newer than the first.
        const uint16_t indices[] = {5, 4, 5, 6};
        for (uint16_t i = 0; i < 4; ++i) {
            Message m = Msg(i, kind, {uint8_t(indices[i])});
            m.index = indices[i];
            ms.push_back(m);
        }
        FeedEach(ch, ms, kT0 + 1000);
        const auto got = Drain(ch);
        ASSERT_EQ(got.size(), 2u);
        EXPECT_EQ(got[0], std::vector<uint8_t>{5});
        EXPECT_EQ(got[1], std::vector<uint8_t>{6});
        const NetworkStatistics s = ch.GetStatistics(true);
        EXPECT_EQ(s.sequencedInOrder, 2u);
        EXPECT_EQ(s.sequencedOutOfOrder, 2u);
    }
}

TEST(ChannelReceive, OrderingAndSequencingSurviveTheIndexWrap) {
    ReliabilityChannel ch(WireRole::Client, kT0);
    const uint64_t t = kT0 + 1000;
    // Walk channel 0 up to index 65534 in order; message numbers wrap on the way too.
    for (uint32_t first = 0; first < 65534; first += 60) {
        DatagramBuilder d;
        for (uint32_t i = first; i < std::min<uint32_t>(65534, first + 60); ++i)
            d.Add(Ordered(uint16_t(i), uint16_t(i)));
        Feed(ch, d.Bytes(), t);
        Drain(ch);
    }
    FeedEach(ch, {Ordered(65534, 1), Ordered(65535, 0), Ordered(0, 65535)}, t);
    EXPECT_TRUE(Drain(ch).empty());
    FeedEach(ch, {Ordered(1, 65534)}, t);
    const auto got = Drain(ch);
    ASSERT_EQ(got.size(), 4u);
    const uint8_t expect[] = {uint8_t(65534), uint8_t(65535), 0, 1};  // payload is the index's low byte
    for (int i = 0; i < 4; ++i) EXPECT_EQ(got[i], std::vector<uint8_t>{expect[i]}) << i;

    ReliabilityChannel seq(WireRole::Client, kT0);
    std::vector<Message> ms;
    const uint16_t indices[] = {30000, 60000, 65535, 0, 65535};  // the last is older than 0
    for (uint16_t i = 0; i < 5; ++i) {
        Message m = Msg(i, RELIABILITY_UNRELIABLE_SEQUENCED, {uint8_t(i)});
        m.index = indices[i];
        ms.push_back(m);
    }
    FeedEach(seq, ms, t);
    EXPECT_EQ(Drain(seq).size(), 4u);
    EXPECT_EQ(seq.GetStatistics(true).sequencedOutOfOrder, 1u);
}

// Sends `count` small reliable messages and puts them on the wire so they await their acks.
void SendReliable(ReliabilityChannel& ch, int count, uint64_t time) {
    for (int i = 0; i < count; ++i) {
        uint8_t b = uint8_t(i);
        ch.Send(&b, 8, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0, true, kMtu, time);
    }
    CaptureSender out;
    ch.Update(out, kPeer, kMtu, time + 100000);
}

TEST(ChannelReceive, AckRangesReleaseExactlyTheWaitingMessagesTheyCover) {
    ReliabilityChannel ch(WireRole::Client, kT0);
    SendReliable(ch, 100, kT0);
    ASSERT_EQ(ch.GetStatistics(false).messagesWaitingForAck, 100u);
    const uint64_t t = kT0 + 200000;
    EXPECT_TRUE(Feed(ch, DatagramBuilder().Acks({{10, 60000}}).Bytes(), t));
    NetworkStatistics s = ch.GetStatistics(false);
    EXPECT_EQ(s.messagesWaitingForAck, 10u);
    EXPECT_EQ(s.acksReceived, 90u);
    EXPECT_EQ(s.duplicateAcksReceived, 60000u - 10 + 1 - 90);
    EXPECT_EQ(s.acksWindowCount, 59991u);

    Feed(ch, DatagramBuilder().Acks({{0, 4}, {9, 9}, {5, 8}}).Bytes(), t);
    EXPECT_FALSE(ch.AreMessagesAwaitingAck());
    // An ack for something already acknowledged changes nothing but the counters.
    Feed(ch, DatagramBuilder().Acks({{5, 5}}).Bytes(), t);
    s = ch.GetStatistics(false);
    EXPECT_EQ(s.acksReceived, 100u);
    EXPECT_EQ(s.duplicateAcksReceived, 59901u + 1);
    EXPECT_EQ(s.acksWindowCount, 59991u + 10 + 1);
    // Acknowledged messages are never resent.
    CaptureSender out;
    ch.Update(out, kPeer, kMtu, t + 5000000);
    EXPECT_TRUE(out.datagrams.empty());
}

TEST(ChannelReceive, AckRangeBeyondTheHoleLimitBreachesBeforeAcknowledgingAnything) {
    ReliabilityChannel ch(WireRole::Server, kT0);
    SendReliable(ch, 5, kT0);
    bool breach = false;
    EXPECT_TRUE(Feed(ch, DatagramBuilder().Acks({{0, 3001}}).Add(Msg(0)).Bytes(), kT0 + 200000, &breach));
    EXPECT_TRUE(breach);
    EXPECT_EQ(ch.GetStatistics(false).messagesWaitingForAck, 5u);
    EXPECT_TRUE(Drain(ch).empty()) << "nothing after the breach is read";
}

TEST(ChannelReceive, ReassemblyJoinsValidPiecesAndDropsInconsistentOnes) {
    ReliabilityChannel ch(WireRole::Client, kT0);
    const uint64_t t = kT0 + 1000;
    const auto a = Payload(7, 10), b = Payload(7, 20), c = Payload(3, 30);
    FeedEach(ch,
             {
                 Piece(0, RELIABILITY_RELIABLE, 9, 0, 3, a),
                 Piece(1, RELIABILITY_RELIABLE, 9, 1, 4, b),  // another count for the same id
                 Piece(2, RELIABILITY_RELIABLE, 9, 0, 3, c),  // index 0 again
                 Piece(3, RELIABILITY_RELIABLE, 9, 3, 3, c),  // index not below the count
                 Piece(4, RELIABILITY_RELIABLE, 9, 2, 3, c),
             },
             t);
    EXPECT_TRUE(Drain(ch).empty());
    EXPECT_EQ(ch.GetStatistics(true).invalidMessagesReceived, 3u);
    EXPECT_GT(ch.ReassemblyBytes(), 0u);
    FeedEach(ch, {Piece(5, RELIABILITY_RELIABLE, 9, 1, 3, b)}, t);
    const auto got = Drain(ch);
    ASSERT_EQ(got.size(), 1u);
    std::vector<uint8_t> whole = a;
    whole.insert(whole.end(), b.begin(), b.end());
    whole.insert(whole.end(), c.begin(), c.end());
    EXPECT_EQ(got[0], whole);
    EXPECT_EQ(ch.ReassemblyBytes(), 0u);
    EXPECT_EQ(ch.GetStatistics(true).messagesWaitingForReassembly, 0u);
}

TEST(ChannelReceive, ReassemblyJoinsPiecesCutOffTheByteGrid) {
    ReliabilityChannel ch(WireRole::Client, kT0);
    // 12 bits (0xABC), then 8 bits (0xDE): joined they are 0xAB 0xCD 0xE0 with 20 bits.
    Message p0 = Piece(0, RELIABILITY_RELIABLE, 1, 0, 2, {0xAB, 0xC0});
    p0.bitLength = 12;
    FeedEach(ch, {p0, Piece(1, RELIABILITY_RELIABLE, 1, 1, 2, {0xDE})}, kT0 + 1000);
    uint8_t* data = nullptr;
    ASSERT_EQ(ch.ReceiveMessage(data), 20u);
    EXPECT_EQ(data[0], 0xAB);
    EXPECT_EQ(data[1], 0xCD);
    EXPECT_EQ(data[2] & 0xF0, 0xE0);
    delete[] data;
}

TEST(ChannelReceive, UnreliableSplitsExpireReliableOnesDoNot) {
    for (MessageReliability kind : {RELIABILITY_UNRELIABLE, RELIABILITY_RELIABLE}) {
        ReliabilityChannel ch(WireRole::Client, kT0);
        const uint64_t t = kT0 + 1000;
        FeedEach(ch, {Piece(0, kind, 1, 0, 2, Payload(100, 1))}, t);
        FeedEach(ch, {Piece(1, kind, 2, 0, 2, Payload(100, 2))},
                 t + ReliabilityChannel::kUnreliableSplitTimeoutUs + 1);
        EXPECT_EQ(ch.GetStatistics(true).messagesWaitingForReassembly,
                  kind == RELIABILITY_UNRELIABLE ? 1u : 2u);
    }
}

TEST(ChannelReceive, ProgressMessagesReportEveryNthPiece) {
    ReliabilityChannel ch(WireRole::Client, kT0);
    ch.SetSplitMessageProgressInterval(2);
    std::vector<Message> pieces;
    std::vector<uint8_t> whole;
    for (uint32_t i = 0; i < 5; ++i) {
        const auto p = Payload(10, uint8_t(i * 40));
        whole.insert(whole.end(), p.begin(), p.end());
        pieces.push_back(Piece(uint16_t(i), RELIABILITY_RELIABLE, 3, i, 5, p));
    }
    FeedEach(ch, pieces, kT0 + 1000);
    const auto got = Drain(ch);
    ASSERT_EQ(got.size(), 3u);
    for (int k = 0; k < 2; ++k) {
        std::vector<uint8_t> expect = {92, uint8_t(2 + 2 * k), 0, 0, 0, 5, 0, 0, 0, 10, 0, 0, 0};
        const auto first = Payload(10, 0);
        expect.insert(expect.end(), first.begin(), first.end());
        EXPECT_EQ(got[k], expect);
    }
    EXPECT_EQ(got[2], whole);
}

TEST(ChannelReceive, StalePieceOfASequencedMessageDropsThatMessage) {
    ReliabilityChannel ch(WireRole::Client, kT0);
    const uint64_t t = kT0 + 1000;
    Message newer = Msg(0, RELIABILITY_RELIABLE_SEQUENCED, {5});
    newer.index = 5;
    Message stale0 = Piece(1, RELIABILITY_RELIABLE_SEQUENCED, 7, 0, 2, Payload(8, 1));
    stale0.index = 3;
    Message fresh0 = Piece(2, RELIABILITY_RELIABLE_SEQUENCED, 8, 0, 2, Payload(8, 2));
    fresh0.index = 6;
    FeedEach(ch, {fresh0, newer, stale0}, t);
    EXPECT_EQ(Drain(ch).size(), 1u);
    // Only the fresh message's channel is left; the stale piece was not kept.
    EXPECT_EQ(ch.GetStatistics(true).messagesWaitingForReassembly, 1u);
    Message fresh1 = Piece(3, RELIABILITY_RELIABLE_SEQUENCED, 8, 1, 2, Payload(8, 3));
    fresh1.index = 6;
    FeedEach(ch, {fresh1}, t);
    const auto got = Drain(ch);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].size(), 16u);
    EXPECT_EQ(ch.GetStatistics(true).sequencedOutOfOrder, 1u);
}

bool StartsAndEnds(const std::string& s, const std::string& head, const std::string& tail) {
    return s.size() >= head.size() + tail.size() && s.compare(0, head.size(), head) == 0 &&
           s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The limits count messages; these caps bound bytes, in both roles, whatever the sender does.
TEST(ChannelReceive, BytesHeldForOrderingAreCappedInBothRoles) {
    for (WireRole role : {WireRole::Server, WireRole::Client}) {
        SCOPED_TRACE(RoleName(role));
        TransportSettings settings;
        settings.SetOrderingHoldCapBytes(2000);
        ReliabilityChannel ch(role, kT0, settings, CaptureLog);
        LogLines().clear();
        EXPECT_FALSE(FeedEach(ch, {Ordered(0, 1, 0, 500), Ordered(1, 2, 0, 500)}, kT0 + 1000));
        EXPECT_LE(ch.HeldOrderingBytes(), 2000u);
        EXPECT_TRUE(FeedEach(ch, {Ordered(2, 3, 0, 500), Ordered(3, 4, 0, 500)}, kT0 + 1000));
        EXPECT_LE(ch.HeldOrderingBytes(), 2000u);
        ASSERT_FALSE(LogLines().empty());
        EXPECT_TRUE(StartsAndEnds(
            LogLines().back(), "[warning] Too many out-of-order message bytes from player 127.0.0.1:7777 (",
            ") Limit: 2000"))
            << LogLines().back();
    }
}

TEST(ChannelReceive, BytesUnderReassemblyAreCapped) {
    TransportSettings settings;
    settings.SetReassemblyCapBytes(2000);
    ReliabilityChannel ch(WireRole::Client, kT0, settings, CaptureLog);
    LogLines().clear();
    bool breach = false;
    uint16_t n = 0;
    for (uint32_t i = 0; i < 10 && !breach; ++i)
        breach =
            FeedEach(ch, {Piece(n++, RELIABILITY_RELIABLE, 1, i, 100, Payload(500, uint8_t(i)))}, kT0 + 1000);
    EXPECT_TRUE(breach);
    EXPECT_LT(n, 10);
    EXPECT_LE(ch.ReassemblyBytes(), 2000u);
    ASSERT_EQ(LogLines().size(), 1u);
    EXPECT_TRUE(StartsAndEnds(LogLines()[0],
                              "[warning] Too many split message bytes from player 127.0.0.1:7777 (",
                              ") Limit: 2000"))
        << LogLines()[0];
}

}  // namespace
