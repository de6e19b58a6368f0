// Sending side of the reliability channel: queuing, splitting, what goes into each datagram,
// resends and the dead link, the resend delay, pacing and the bandwidth measurement.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "tests/net/channel_test_util.h"

using namespace velt;
using namespace velt::channeltest;

namespace {

std::vector<Decoded> DecodeAll(const CaptureSender& out, size_t from = 0) {
    std::vector<Decoded> d;
    for (size_t i = from; i < out.datagrams.size(); ++i) d.push_back(Decode(out.datagrams[i]));
    return d;
}

bool SendBytes(ReliabilityChannel& c, const std::vector<uint8_t>& payload, MessageReliability r,
               uint64_t time, PacketPriority prio = HIGH_PRIORITY_LEVEL, uint8_t channel = 0) {
    return c.Send(const_cast<uint8_t*>(payload.data()), uint32_t(payload.size() * 8), prio, r, channel, true,
                  kMtu, time);
}

// The largest payload that goes whole, and the piece size of a split one, at MTU 576: the
// budget is 548 bytes less the header estimate (53 bits, 74 with ordering fields, 80 more with
// split fields) in whole bytes.
struct SplitCase {
    MessageReliability kind;
    uint32_t wholeLimit;
    uint32_t pieceBytes;
};

TEST(ChannelSend, SplitsExactlyAboveTheThresholdIntoConsecutivePieces) {
    const SplitCase cases[] = {
        {RELIABILITY_UNRELIABLE, 541, 531},           {RELIABILITY_RELIABLE, 541, 531},
        {RELIABILITY_UNRELIABLE_SEQUENCED, 538, 528}, {RELIABILITY_RELIABLE_ORDERED, 538, 528},
        {RELIABILITY_RELIABLE_SEQUENCED, 538, 528},
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(int(c.kind));
        ReliabilityChannel sender(WireRole::Server, kT0);
        ReliabilityChannel receiver(WireRole::Client, kT0);
        CaptureSender out;
        const auto whole = Payload(c.wholeLimit, 1);
        const auto split = Payload(c.wholeLimit + 1, 2);
        ASSERT_TRUE(SendBytes(sender, whole, c.kind, kT0));
        ASSERT_TRUE(SendBytes(sender, split, c.kind, kT0));
        NetworkStatistics s = sender.GetStatistics(true);
        EXPECT_EQ(s.messagesUnsplit, 1u);
        EXPECT_EQ(s.messagesSplit, 1u);
        EXPECT_EQ(s.splitsPerformed, 2u);

        sender.Update(out, kPeer, kMtu, kT0 + 100000);
        std::vector<Message> sent;
        for (const Decoded& d : DecodeAll(out))
            for (const Message& m : d.messages) sent.push_back(m);
        ASSERT_EQ(sent.size(), 3u);
        EXPECT_FALSE(sent[0].split);
        EXPECT_EQ(sent[0].payload, whole);
        for (uint32_t j = 0; j < 2; ++j) {
            const Message& piece = sent[1 + j];
            EXPECT_TRUE(piece.split);
            EXPECT_EQ(piece.number, 1 + j) << "pieces take consecutive message numbers";
            EXPECT_EQ(piece.splitId, 0);
            EXPECT_EQ(piece.splitIndex, j);
            EXPECT_EQ(piece.splitCount, 2u);
        }
        EXPECT_EQ(sent[1].payload.size(), c.pieceBytes);
        EXPECT_EQ(sent[2].payload.size(), c.wholeLimit + 1 - c.pieceBytes);
        for (const auto& datagram : out.datagrams) EXPECT_LE(datagram.size(), size_t(kMtu - 28));

        for (const auto& datagram : out.datagrams) Feed(receiver, datagram, kT0 + 200000);
        const auto got = Drain(receiver);
        ASSERT_EQ(got.size(), 2u);
        EXPECT_EQ(got[0], whole);
        EXPECT_EQ(got[1], split);
    }
}

TEST(ChannelSend, ClampsOutOfRangeArgumentsAndRefusesEmptyMessages) {
    struct Case {
        int32_t priority;
        int32_t reliability;
        uint8_t channel;
        uint32_t queue;  // send buffer that receives it
        MessageReliability wire;
        uint8_t wireChannel;
    };
    const Case cases[] = {
        {7, RELIABILITY_RELIABLE, 0, 1, RELIABILITY_RELIABLE, 0},
        {-1, RELIABILITY_RELIABLE, 0, 1, RELIABILITY_RELIABLE, 0},
        {3, 12, 0, 3, RELIABILITY_RELIABLE, 0},
        {0, 3, 0, 0, RELIABILITY_RELIABLE, 0},
        {2, RELIABILITY_RELIABLE_ORDERED, 40, 2, RELIABILITY_RELIABLE_ORDERED, 0},
        {2, RELIABILITY_UNRELIABLE_SEQUENCED, 31, 2, RELIABILITY_UNRELIABLE_SEQUENCED, 31},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.priority * 1000 + c.reliability);
        ReliabilityChannel ch(WireRole::Client, kT0);
        const auto payload = Payload(10, 3);
        ASSERT_TRUE(ch.Send(const_cast<uint8_t*>(payload.data()), 80, PacketPriority(c.priority),
                            MessageReliability(c.reliability), c.channel, true, kMtu, kT0));
        EXPECT_EQ(ch.GetStatistics(true).messagesInSendBuffer[c.queue], 1u);
        CaptureSender out;
        ch.Update(out, kPeer, kMtu, kT0 + 100000);
        ASSERT_EQ(out.datagrams.size(), 1u);
        const Decoded d = Decode(out.datagrams[0]);
        ASSERT_EQ(d.messages.size(), 1u);
        EXPECT_EQ(d.messages[0].reliability, c.wire);
        if (HasOrderingFields(uint32_t(c.wire))) {
            EXPECT_EQ(d.messages[0].channel, c.wireChannel);
        }
    }

    ReliabilityChannel ch(WireRole::Client, kT0);
    uint8_t byte = 1;
    EXPECT_FALSE(ch.Send(&byte, 0, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0, false, kMtu, kT0));
    EXPECT_FALSE(ch.Send(nullptr, 8, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0, false, kMtu, kT0));
    EXPECT_FALSE(ch.IsDataWaiting());
}

TEST(ChannelSend, OrderedAndSequencedKindsCountSeparatelyPerChannel) {
    ReliabilityChannel ch(WireRole::Client, kT0);
    const auto p = Payload(4, 0);
    const std::pair<MessageReliability, uint8_t> sends[] = {
        {RELIABILITY_RELIABLE_ORDERED, 2},     {RELIABILITY_UNRELIABLE_SEQUENCED, 2},
        {RELIABILITY_RELIABLE_ORDERED, 2},     {RELIABILITY_RELIABLE_SEQUENCED, 2},
        {RELIABILITY_RELIABLE_ORDERED, 3},     {RELIABILITY_RELIABLE, 2},
        {RELIABILITY_UNRELIABLE_SEQUENCED, 2}, {RELIABILITY_RELIABLE_ORDERED, 2},
    };
    for (auto [kind, channel] : sends) ASSERT_TRUE(SendBytes(ch, p, kind, kT0, HIGH_PRIORITY_LEVEL, channel));
    CaptureSender out;
    ch.Update(out, kPeer, kMtu, kT0 + 100000);
    ASSERT_EQ(out.datagrams.size(), 1u);
    const Decoded d = Decode(out.datagrams[0]);
    ASSERT_EQ(d.messages.size(), 8u);
    // Ordered on channel 2: 0, 1, 2; sequenced (both kinds share it) on channel 2: 0, 1, 2;
    // ordered on channel 3 starts at 0 of its own.
    const uint16_t expect[] = {0, 0, 1, 1, 0, 0, 2, 2};
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(d.messages[i].number, i);
        if (HasOrderingFields(uint32_t(d.messages[i].reliability))) {
            EXPECT_EQ(d.messages[i].index, expect[i]) << i;
        }
    }
}

TEST(ChannelSend, IdleChannelSendsNothing) {
    ReliabilityChannel ch(WireRole::Server, kT0);
    CaptureSender out;
    for (uint64_t t = kT0; t < kT0 + 30000000; t += 10000) ch.Update(out, kPeer, kMtu, t);
    EXPECT_TRUE(out.datagrams.empty());

    // Once its only message is acknowledged, nothing more goes out either.
    const auto p = Payload(20, 1);
    uint64_t t = kT0 + 30000000;
    SendBytes(ch, p, RELIABILITY_RELIABLE, t);
    ch.Update(out, kPeer, kMtu, t += 10000);
    ASSERT_EQ(out.datagrams.size(), 1u);
    Feed(ch, DatagramBuilder().Acks({{0, 0}}).Bytes(), t += 10000);
    for (const uint64_t end = t + 30000000; t < end; t += 10000) ch.Update(out, kPeer, kMtu, t);
    EXPECT_EQ(out.datagrams.size(), 1u);
    EXPECT_FALSE(ch.IsDataWaiting());
}

// Feeds reliable messages with the given numbers so the channel owes acknowledgements for them.
void OweAcks(ReliabilityChannel& ch, const std::vector<uint16_t>& numbers, uint64_t time) {
    for (size_t i = 0; i < numbers.size(); i += 60) {
        DatagramBuilder b;
        for (size_t j = i; j < std::min(numbers.size(), i + 60); ++j) {
            Message m;
            m.number = numbers[j];
            b.Add(m);
        }
        Feed(ch, b.Bytes(), time);
    }
    Drain(ch);
}

TEST(ChannelSend, AcknowledgementsRideInTheFirstDatagramsOfAnUpdate) {
    // Few: all in the first datagram, the datagrams after it carry none.
    {
        ReliabilityChannel ch(WireRole::Client, kT0);
        OweAcks(ch, {0, 1, 2, 3, 4}, kT0 + 1000);
        for (int i = 0; i < 3; ++i) SendBytes(ch, Payload(500, uint8_t(i)), RELIABILITY_RELIABLE, kT0 + 1000);
        CaptureSender out;
        ch.Update(out, kPeer, kMtu, kT0 + 100000);
        const auto d = DecodeAll(out);
        ASSERT_EQ(d.size(), 3u);
        EXPECT_TRUE(d[0].hasAcks);
        EXPECT_EQ(d[0].acks, (std::vector<std::pair<uint16_t, uint16_t>>{{0, 4}}));
        EXPECT_EQ(d[0].messages.size(), 1u);
        EXPECT_FALSE(d[1].hasAcks);
        EXPECT_FALSE(d[2].hasAcks);
        EXPECT_FALSE(ch.AreAcksWaiting());
    }
    // Too many for one datagram: the rest follow in the next datagrams of the same Update.
    {
        ReliabilityChannel ch(WireRole::Client, kT0);
        std::vector<uint16_t> even;
        for (uint16_t n = 0; n < 600; n += 2) even.push_back(n);
        OweAcks(ch, even, kT0 + 1000);
        for (int i = 0; i < 3; ++i) SendBytes(ch, Payload(500, uint8_t(i)), RELIABILITY_RELIABLE, kT0 + 1000);
        CaptureSender out;
        ch.Update(out, kPeer, kMtu, kT0 + 100000);
        const auto d = DecodeAll(out);
        std::vector<uint16_t> acked;
        size_t messages = 0, withAcks = 0;
        for (size_t i = 0; i < d.size(); ++i) {
            if (d[i].hasAcks) {
                EXPECT_EQ(withAcks, i) << "acks only in a run of leading datagrams";
                ++withAcks;
            }
            for (auto [min, max] : d[i].acks)
                for (uint32_t n = min; n <= max; ++n) acked.push_back(uint16_t(n));
            messages += d[i].messages.size();
        }
        EXPECT_GE(withAcks, 2u);
        EXPECT_EQ(acked, even);
        EXPECT_EQ(messages, 3u);
        for (const auto& datagram : out.datagrams) EXPECT_LE(datagram.size(), size_t(kMtu - 28));
    }
}

TEST(ChannelSend, DueResendThatDoesNotFitEndsTheDatagram) {
    ReliabilityChannel ch(WireRole::Client, kT0);
    CaptureSender out;
    const uint64_t t1 = kT0 + 100000;
    SendBytes(ch, Payload(300, 1), RELIABILITY_RELIABLE, t1);  // number 0, never acknowledged
    ch.Update(out, kPeer, kMtu, t1);
    ASSERT_EQ(out.datagrams.size(), 1u);

    // 150 single-number acks leave room for a tiny message but not for the resend.
    std::vector<uint16_t> even;
    for (uint16_t n = 0; n < 300; n += 2) even.push_back(n);
    OweAcks(ch, even, t1 + 10000);
    SendBytes(ch, Payload(1, 2), RELIABILITY_UNRELIABLE, t1 + 20000, SYSTEM_PRIORITY_LEVEL);  // number 1

    ch.Update(out, kPeer, kMtu, t1 + ch.ResendDelayUs() + 1000);
    const auto d = DecodeAll(out, 1);
    ASSERT_EQ(d.size(), 2u);
    EXPECT_TRUE(d[0].hasAcks);
    EXPECT_TRUE(d[0].messages.empty()) << "nothing new may overtake the resend";
    ASSERT_EQ(d[1].messages.size(), 2u);
    EXPECT_EQ(d[1].messages[0].number, 0);  // the resend first
    EXPECT_EQ(d[1].messages[1].number, 1);
    EXPECT_EQ(ch.GetStatistics(true).messagesResent, 1u);
}

TEST(ChannelSend, ResendsEveryDelayUntilTheTimeoutKillsTheLink) {
    ReliabilityChannel ch(WireRole::Server, kT0);
    ASSERT_EQ(ch.GetTimeoutTime(), 10000u);
    ASSERT_EQ(ch.ResendDelayUs(), 3000000u);
    CaptureSender out;
    SendBytes(ch, Payload(40, 9), RELIABILITY_RELIABLE, kT0);
    std::vector<uint64_t> sentAt;
    uint64_t deadAt = 0;
    for (uint64_t t = kT0 + 10000; t <= kT0 + 12000000; t += 10000) {
        const size_t before = out.datagrams.size();
        ch.Update(out, kPeer, kMtu, t);
        if (out.datagrams.size() > before) sentAt.push_back(t - kT0);
        if (ch.IsDead() && !deadAt) deadAt = t - kT0;
    }
    EXPECT_EQ(sentAt, (std::vector<uint64_t>{10000, 3010000, 6010000, 9010000}));
    // Ten seconds after the first send with no acknowledgement at all.
    EXPECT_EQ(deadAt, 10020000u);
    EXPECT_EQ(ch.GetStatistics(true).messagesResent, 3u);
}

TEST(ChannelSend, FirstPingBringsPendingResendsForward) {
    // Two reliable messages sent before any ping wait the initial 3 s; the first measured ping
    // (100 ms: 300 ms of delay) moves both by the difference, keeping their order, and a later
    // longer ping moves nothing back.
    ReliabilityChannel ch(WireRole::Server, kT0);
    CaptureSender out;
    SendBytes(ch, Payload(40, 1), RELIABILITY_RELIABLE, kT0);
    ch.Update(out, kPeer, kMtu, kT0 + 10000);
    SendBytes(ch, Payload(40, 2), RELIABILITY_RELIABLE, kT0 + 50000);
    ch.Update(out, kPeer, kMtu, kT0 + 60000);
    ASSERT_EQ(out.datagrams.size(), 2u);
    ch.SetPing(100);
    ch.SetPing(400);
    std::vector<std::pair<uint64_t, uint16_t>> resent;
    for (uint64_t t = kT0 + 70000; t <= kT0 + 1000000; t += 10000) {
        const size_t before = out.datagrams.size();
        ch.Update(out, kPeer, kMtu, t);
        for (size_t i = before; i < out.datagrams.size(); ++i)
            for (const Message& m : Decode(out.datagrams[i]).messages) resent.emplace_back(t - kT0, m.number);
    }
    // Sent at 10 ms and 60 ms, due again at 310 ms and 360 ms; then at 3 x 400 ms after that.
    EXPECT_EQ(resent, (std::vector<std::pair<uint64_t, uint16_t>>{{310000, 0}, {360000, 1}}));
    EXPECT_FALSE(ch.IsDead());
}

TEST(ChannelSend, ResendDelayFollowsThePing) {
    struct Case {
        uint32_t timeoutMs;
        uint32_t pingMs;
        uint32_t basis;
    };
    const Case cases[] = {
        {10000, 100, 100},    // three pings
        {10000, 10, 30},      // never below 30 ms of basis
        {10000, 20000, 500},  // a ping above the timeout is not believed
        {10000, 10000, 10000},
    };
    for (const Case& c : cases) {
        ReliabilityChannel ch(WireRole::Client, kT0);
        ch.SetTimeoutTime(c.timeoutMs);
        ch.SetPing(c.pingMs);
        EXPECT_EQ(ch.PingBasisMs(), c.basis) << c.pingMs;
        EXPECT_EQ(ch.ResendDelayUs(), uint64_t(c.basis) * 3000) << c.pingMs;
    }
    // A fresh channel waits 3 s; one whose timeout is below a second starts at a basis of 500.
    TransportSettings shortTimeout;
    shortTimeout.SetPlayerTimeout(800);
    ReliabilityChannel quick(WireRole::Client, kT0, shortTimeout);
    EXPECT_EQ(quick.ResendDelayUs(), 1500000u);
    // The simulator's latencies set a floor under the basis.
    ReliabilityChannel sim(WireRole::Client, kT0);
    sim.ApplyNetworkSimulator(0, 100, 50);
    sim.SetPing(40);
    EXPECT_EQ(sim.PingBasisMs(), 300u);
}

TEST(ChannelSend, UnreliableMessagesPastTheirTimeoutAreDroppedUnsent) {
    ReliabilityChannel ch(WireRole::Client, kT0);
    ch.SetUnreliableTimeout(100);
    SendBytes(ch, Payload(8, 1), RELIABILITY_UNRELIABLE, kT0);
    SendBytes(ch, Payload(8, 2), RELIABILITY_UNRELIABLE_SEQUENCED, kT0 + 150000);
    SendBytes(ch, Payload(8, 3), RELIABILITY_RELIABLE, kT0);
    CaptureSender out;
    ch.Update(out, kPeer, kMtu, kT0 + 200000);
    ASSERT_EQ(out.datagrams.size(), 1u);
    const Decoded d = Decode(out.datagrams[0]);
    ASSERT_EQ(d.messages.size(), 2u);
    EXPECT_EQ(d.messages[0].number, 1);
    EXPECT_EQ(d.messages[1].number, 2);
}

TEST(ChannelSend, PacesDatagramsByEarnedCreditAndCountsWhatItSends) {
    ReliabilityChannel ch(WireRole::Client, kT0);
    for (int i = 0; i < 300; ++i) SendBytes(ch, Payload(500, uint8_t(i)), RELIABILITY_RELIABLE, kT0);
    CaptureSender out;
    // 100 ms at 512 kbit/s: 51200 bits, one datagram of ~4040 bits plus 224 of overhead each,
    // sent while more than one full datagram's worth (576 x 8 + 224) is left.
    ch.Update(out, kPeer, kMtu, kT0 + 100000);
    EXPECT_GE(out.datagrams.size(), 11u);
    EXPECT_LE(out.datagrams.size(), 12u);
    // Credit never exceeds one second's worth, however long the channel waited.
    const size_t first = out.datagrams.size();
    ch.Update(out, kPeer, kMtu, kT0 + 5000000);
    EXPECT_GE(out.datagrams.size() - first, 115u);
    EXPECT_LE(out.datagrams.size() - first, 121u);

    const NetworkStatistics s = ch.GetStatistics(false);
    uint64_t bytes = 0;
    for (const auto& d : out.datagrams) bytes += d.size();
    EXPECT_EQ(s.packetsSent, out.datagrams.size());
    EXPECT_EQ(s.totalBitsSent, bytes * 8);
    EXPECT_EQ(s.messagesSent[1] + s.messagesResent, out.datagrams.size());
    EXPECT_EQ(s.reliableMessagesSent[1], s.messagesSent[1]);
    EXPECT_EQ(s.messageDataBitsSent[1], uint64_t(s.messagesSent[1]) * 4000);
    EXPECT_GT(s.messageTotalBitsSent[1], s.messageDataBitsSent[1]);
    EXPECT_EQ(s.messagesWaitingForAck, s.messagesSent[1]);
    EXPECT_EQ(s.messagesInSendBuffer[1], 300 - s.messagesSent[1]);
}

TEST(ChannelSend, MeasurementWithoutAcksOrResendsCountsAsNoLoss) {
    ReliabilityChannel ch(WireRole::Client, kT0);
    for (int i = 0; i < 2000; ++i) SendBytes(ch, Payload(500, uint8_t(i)), RELIABILITY_RELIABLE, kT0);
    CaptureSender out;
    // Bandwidth-limited from the first step: a measurement runs from 2 s to 2.25 s later and,
    // seeing neither acks nor resends of its own epoch, doubles the bandwidth.
    const uint64_t first = kT0 + 10000;
    for (uint64_t t = first; t < first + 2250000; t += 10000) {
        ch.Update(out, kPeer, kMtu, t);
        ASSERT_EQ(ch.CurrentBandwidth(), ReliabilityChannel::kInitialBandwidth) << t - first;
    }
    ch.Update(out, kPeer, kMtu, first + 2250000);
    EXPECT_EQ(ch.CurrentBandwidth(), 2 * ReliabilityChannel::kInitialBandwidth);
    EXPECT_EQ(ch.GetStatistics(true).bitsPerSecond, 2 * ReliabilityChannel::kInitialBandwidth);
}

// Once 65536 message numbers have gone by, a new reliable message may share its number with one
// still waiting for its ack; it must wait rather than make one ack stand for both.
TEST(ChannelSend, ReliableMessageWaitsWhileItsNumberIsStillUnacknowledged) {
    ReliabilityChannel ch(WireRole::Client, kT0);
    ch.SetTimeoutTime(600000);
    CaptureSender out;
    uint64_t t = kT0;
    SendBytes(ch, Payload(4, 0xAA), RELIABILITY_RELIABLE, t);  // number 0, left unacknowledged
    ch.Update(out, kPeer, kMtu, t += 10000);
    for (int i = 1; i < 65536; ++i) SendBytes(ch, Payload(1, 1), RELIABILITY_UNRELIABLE, t);
    for (int i = 0; i < 200 && ch.GetStatistics(true).messagesInSendBuffer[1] > 0; ++i)
        ch.Update(out, kPeer, kMtu, t += 100000);
    ASSERT_EQ(ch.GetStatistics(true).messagesInSendBuffer[1], 0u);
    const auto second = Payload(4, 0xBB);
    SendBytes(ch, second, RELIABILITY_RELIABLE, t);  // number 0 again
    ch.Update(out, kPeer, kMtu, t += 1000000);
    const size_t mark = out.datagrams.size();
    ch.Update(out, kPeer, kMtu, t += 500000);
    auto newSends = [&](size_t from) {
        int n = 0;
        for (const Decoded& d : DecodeAll(out, from))
            for (const Message& m : d.messages) n += m.payload == second;
        return n;
    };
    EXPECT_EQ(newSends(0), 0);
    EXPECT_EQ(ch.GetStatistics(true).messagesInSendBuffer[1], 1u);

    Feed(ch, DatagramBuilder().Acks({{0, 0}}).Bytes(), t += 1000);
    ch.Update(out, kPeer, kMtu, t += 10000);
    EXPECT_EQ(newSends(mark), 1);
}

TEST(ChannelSend, ResetStartsAFreshConnection) {
    ReliabilityChannel ch(WireRole::Client, kT0);
    CaptureSender out;
    SendBytes(ch, Payload(2000, 1), RELIABILITY_RELIABLE_ORDERED, kT0);  // split, partly sent
    ch.Update(out, kPeer, kMtu, kT0 + 10000);
    DatagramBuilder held;
    Message ordered;
    ordered.number = 0;
    ordered.reliability = RELIABILITY_RELIABLE_ORDERED;
    ordered.index = 3;
    held.Add(ordered);
    Message piece;
    piece.number = 1;
    piece.split = true;
    piece.splitId = 2;
    piece.splitCount = 2;
    held.Add(piece);
    Feed(ch, held.Bytes(), kT0 + 20000);
    ASSERT_TRUE(ch.IsDataWaiting());
    ASSERT_GT(ch.HeldOrderingBytes() + ch.ReassemblyBytes(), 0u);

    const uint64_t t = kT0 + 50000000;
    ch.Reset(t);
    EXPECT_FALSE(ch.IsDataWaiting());
    EXPECT_EQ(ch.HeldOrderingBytes() + ch.ReassemblyBytes(), 0u);
    const NetworkStatistics s = ch.GetStatistics(false);
    EXPECT_EQ(s.packetsSent, 0u);
    EXPECT_EQ(s.messagesReceived, 0u);
    EXPECT_EQ(s.connectionStartTime, uint32_t(t / 1000));
    EXPECT_EQ(ch.ResendDelayUs(), 3000000u);

    // Numbers and indices start over on both sides of the new connection.
    Feed(ch, DatagramBuilder().Add(ordered).Bytes(), t + 1000);
    ordered.number = 1;
    ordered.index = 0;
    Feed(ch, DatagramBuilder().Add(ordered).Bytes(), t + 1000);
    EXPECT_EQ(Drain(ch).size(), 1u) << "index 0 of the new connection, not the old one's held 3";
    SendBytes(ch, Payload(10, 2), RELIABILITY_RELIABLE_ORDERED, t);
    out.datagrams.clear();
    ch.Update(out, kPeer, kMtu, t + 100000);
    ASSERT_EQ(out.datagrams.size(), 1u);
    const Decoded d = Decode(out.datagrams[0]);
    ASSERT_EQ(d.messages.size(), 1u);
    EXPECT_EQ(d.messages[0].number, 0);
    EXPECT_EQ(d.messages[0].index, 0);
}

// A cipher of the test's own: a 7-byte tag and a checksum byte in front, the payload XORed.
struct TagCipher final : DatagramCipher {
    void Encrypt(uint8_t* data, uint32_t length, uint32_t& outLength) override {
        uint8_t sum = 0;
        for (uint32_t i = 0; i < length; ++i) sum = uint8_t(sum + data[i]);
        std::memmove(data + 8, data, length);
        for (uint32_t i = 0; i < length; ++i) data[8 + i] ^= 0x5A;
        std::memset(data, 0xA5, 7);
        data[7] = sum;
        outLength = length + 8;
    }
    bool Decrypt(uint8_t* data, uint32_t length, uint32_t& outLength) override {
        if (length < 8) return false;
        for (int i = 0; i < 7; ++i)
            if (data[i] != 0xA5) return false;
        uint8_t sum = 0;
        for (uint32_t i = 8; i < length; ++i) sum = uint8_t(sum + (data[i] ^ 0x5A));
        if (sum != data[7]) return false;
        for (uint32_t i = 8; i < length; ++i) data[i - 8] = data[i] ^ 0x5A;
        outLength = length - 8;
        return true;
    }
};

TEST(ChannelSend, CipherShrinksTheBudgetAndGuardsEveryDatagram) {
    TagCipher cipher;
    ReliabilityChannel a(WireRole::Client, kT0), b(WireRole::Client, kT0);
    a.SetEncryption(&cipher);
    b.SetEncryption(&cipher);
    const auto whole = Payload(533, 1), split = Payload(534, 2);  // 8 bytes less room than plain
    SendBytes(a, whole, RELIABILITY_RELIABLE, kT0);
    SendBytes(a, split, RELIABILITY_RELIABLE, kT0);
    EXPECT_EQ(a.GetStatistics(true).messagesUnsplit, 1u);
    EXPECT_EQ(a.GetStatistics(true).messagesSplit, 1u);
    CaptureSender out;
    a.Update(out, kPeer, kMtu, kT0 + 100000);
    ASSERT_EQ(out.datagrams.size(), 3u);
    for (const auto& d : out.datagrams) {
        EXPECT_LE(d.size(), size_t(kMtu - 28));
        EXPECT_TRUE(Feed(b, d, kT0 + 200000));
    }
    const auto got = Drain(b);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], whole);
    EXPECT_EQ(got[1], split);
    EXPECT_EQ(a.GetStatistics(true).encryptionBitsSent, 3u * 64);

    auto bad = out.datagrams[0];
    bad[20] ^= 1;
    EXPECT_FALSE(Feed(b, bad, kT0 + 300000));
    const NetworkStatistics s = b.GetStatistics(true);
    EXPECT_EQ(s.packetsReceivedBad, 1u);
    EXPECT_EQ(s.bitsReceivedBad, bad.size() * 8);
    EXPECT_EQ(s.packetsReceived, 3u);
}

TEST(ChannelSend, SimulatedLatencyHoldsDatagramsBack) {
    ReliabilityChannel ch(WireRole::Client, kT0);
    ch.ApplyNetworkSimulator(0, 100, 0);
    SendBytes(ch, Payload(10, 1), RELIABILITY_RELIABLE, kT0);
    CaptureSender out;
    ch.Update(out, kPeer, kMtu, kT0 + 10000);
    ch.Update(out, kPeer, kMtu, kT0 + 109000);
    EXPECT_TRUE(out.datagrams.empty());
    ch.Update(out, kPeer, kMtu, kT0 + 110000);
    EXPECT_EQ(out.datagrams.size(), 1u);
}

}  // namespace
