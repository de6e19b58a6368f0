// NAT punch-through: the facilitator's timeline, the requester's and the target's records, and
// the messages it must not act on. The peer is a stand-in and the clock is the test's.

#include <gtest/gtest.h>

#include <vector>

#include "net/MessageIdentifiers.h"
#include "net/ext/NatPunchthrough.h"
#include "tests/ext/graph_fake_peer.h"

namespace velt {
namespace {

using test::FakePeer;
using test::HeldPacket;
using test::Loop;

NetTime g_now = 1000;
NetTime TestClock() { return g_now; }

const PlayerID kRequester = Loop(2, 2000);
const PlayerID kFacilitator = Loop(3, 3000);
const PlayerID kTarget = Loop(4, 4000);

std::vector<uint8_t> AddressMessage(uint8_t id, PlayerID address) {
    BitStream out;
    out.Write(id);
    out.Write(address.binaryAddress);
    out.Write(address.port);
    return std::vector<uint8_t>(out.GetData(), out.GetData() + out.GetNumberOfBytesUsed());
}

std::vector<uint8_t> TimedMessage(uint8_t id, NetTime time, const PlayerID* address = nullptr) {
    BitStream out;
    out.Write(uint8_t(ID_TIMESTAMPED));
    out.Write(time);
    out.Write(id);
    if (address != nullptr) {
        out.Write(address->binaryAddress);
        out.Write(address->port);
    }
    return std::vector<uint8_t>(out.GetData(), out.GetData() + out.GetNumberOfBytesUsed());
}

class PunchTest : public ::testing::Test {
protected:
    explicit PunchTest(PlayerID self = kFacilitator) : peer(self) {
        g_now = 1000;
        punch.SetClock(&TestClock);
        punch.Attached(&peer);
    }
    PluginReceiveResult Offer(const std::vector<uint8_t>& bytes, PlayerID sender, uint16_t slot = 0) {
        HeldPacket packet(bytes, sender, slot);
        return punch.Received(&peer, packet.get());
    }
    // Runs Update every 10 ms of test time up to until.
    void RunUntil(NetTime until) {
        while (TimeBefore(g_now, until)) {
            g_now += 10;
            punch.Update(&peer);
        }
    }
    FakePeer peer;
    NatPunchthrough punch;
};

TEST_F(PunchTest, FacilitatorTimeline) {
    peer.connected = {kRequester, kTarget};
    peer.ping = 100;
    EXPECT_EQ(Offer(AddressMessage(ID_PUNCH_REQUEST, kTarget), kRequester), PRR_DEALLOCATE);

    // Five rounds of pings to both sides, 100 ms apart, the first at the request.
    std::vector<NetTime> pingTimes;
    std::vector<NetTime> sendTimes;
    while (TimeBefore(g_now, 3000) && sendTimes.empty()) {
        if (!peer.pinged.empty()) {
            EXPECT_EQ(peer.pinged, (std::vector<PlayerID>{kTarget, kRequester}));
            pingTimes.push_back(g_now);
            peer.pinged.clear();
        }
        if (!peer.sent.empty()) sendTimes.push_back(g_now);
        if (sendTimes.empty()) {
            g_now += 10;
            punch.Update(&peer);
        }
    }
    EXPECT_EQ(pingTimes, (std::vector<NetTime>{1000, 1100, 1200, 1300, 1400}));
    // Then a wait of 1.5 pings, and both sides learn one moment 5 pings ahead.
    ASSERT_EQ(sendTimes, (std::vector<NetTime>{1650}));
    const std::vector<test::SentMessage> sent = peer.TakeSent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].target, kRequester);
    EXPECT_EQ(sent[0].bytes, TimedMessage(ID_PUNCH_CONNECT_AT, 2150));
    EXPECT_EQ(sent[0].priority, SYSTEM_PRIORITY_LEVEL);
    EXPECT_EQ(sent[1].target, kTarget);
    EXPECT_EQ(sent[1].bytes, TimedMessage(ID_PUNCH_EXPECT_AT, 2150, &kRequester));
    EXPECT_EQ(punch.GetRecordCount(), 0u);
}

TEST_F(PunchTest, FacilitatorAnswersWhatItCannotArrange) {
    peer.connected = {kRequester};
    Offer(AddressMessage(ID_PUNCH_REQUEST, kTarget), kRequester);
    std::vector<test::SentMessage> sent = peer.TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].bytes, AddressMessage(ID_PUNCH_TARGET_NOT_CONNECTED, kTarget));
    EXPECT_EQ(sent[0].target, kRequester);

    // The target goes while the facilitator measures: the requester hears of it.
    peer.connected = {kRequester, kTarget};
    Offer(AddressMessage(ID_PUNCH_REQUEST, kTarget), kRequester);
    peer.connected = {kRequester};
    punch.ConnectionClosed(&peer, kTarget);
    EXPECT_TRUE(peer.TakeSent().empty());  // not from the network thread
    punch.Update(&peer);
    sent = peer.TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].bytes, AddressMessage(ID_PUNCH_TARGET_LOST, kTarget));
    EXPECT_EQ(punch.GetRecordCount(), 0u);

    // Switched off, it answers nothing.
    punch.SetFacilitator(false);
    peer.pinged.clear();
    peer.connected = {kRequester, kTarget};
    Offer(AddressMessage(ID_PUNCH_REQUEST, kTarget), kRequester);
    RunUntil(3000);
    EXPECT_TRUE(peer.TakeSent().empty());
    EXPECT_TRUE(peer.pinged.empty());
}

class RequesterTest : public PunchTest {
protected:
    RequesterTest() : PunchTest(kRequester) {}
};

TEST_F(RequesterTest, ConnectsAtTheMomentTheFacilitatorNames) {
    EXPECT_FALSE(punch.RequestPunch(kTarget, "pw", 2, kFacilitator));  // facilitator not connected
    EXPECT_TRUE(peer.TakeSent().empty());

    peer.connected = {kFacilitator};
    ASSERT_TRUE(punch.RequestPunch("127.0.0.4", 4000, "pw", 2, kFacilitator));
    const std::vector<test::SentMessage> sent = peer.TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].bytes, AddressMessage(ID_PUNCH_REQUEST, kTarget));
    EXPECT_EQ(sent[0].target, kFacilitator);

    // A time from another connected system is nobody's answer.
    peer.connected = {kFacilitator, kTarget};
    EXPECT_EQ(Offer(TimedMessage(ID_PUNCH_CONNECT_AT, 1500), kTarget, 1), PRR_DEALLOCATE);
    EXPECT_EQ(punch.Rejections().unexpected, 1u);
    peer.connected = {kFacilitator};
    EXPECT_EQ(Offer(TimedMessage(ID_PUNCH_CONNECT_AT, 1500), kFacilitator), PRR_DEALLOCATE);
    RunUntil(1490);
    EXPECT_TRUE(peer.attempts.empty());
    RunUntil(1500);
    ASSERT_EQ(peer.attempts.size(), 1u);
    EXPECT_EQ(peer.attempts[0].host, "127.0.0.4");
    EXPECT_EQ(peer.attempts[0].port, 4000);
    EXPECT_EQ(peer.attempts[0].password, "pw");
    EXPECT_EQ(punch.GetRecordCount(), 0u);
}

TEST_F(RequesterTest, FailuresEndTheRecordAndReachTheUser) {
    peer.connected = {kFacilitator, kTarget};
    ASSERT_TRUE(punch.RequestPunch(kTarget, nullptr, 0, kFacilitator));
    // Only the facilitator speaks for the record.
    EXPECT_EQ(Offer(AddressMessage(ID_PUNCH_TARGET_LOST, kTarget), kTarget, 1), PRR_DEALLOCATE);
    EXPECT_EQ(punch.GetRecordCount(), 1u);
    EXPECT_EQ(Offer(AddressMessage(ID_PUNCH_TARGET_NOT_CONNECTED, kTarget), kFacilitator), PRR_CONTINUE);
    EXPECT_EQ(punch.GetRecordCount(), 0u);

    // Unanswered, a record goes after its time-out without a word.
    ASSERT_TRUE(punch.RequestPunch(kTarget, nullptr, 0, kFacilitator));
    RunUntil(g_now + NatPunchthrough::kRecordTimeoutMs);
    EXPECT_EQ(punch.GetRecordCount(), 1u);
    RunUntil(g_now + 20);
    EXPECT_EQ(punch.GetRecordCount(), 0u);
    EXPECT_TRUE(peer.attempts.empty());
}

class TargetTest : public PunchTest {
protected:
    TargetTest() : PunchTest(kTarget) {}
};

TEST_F(TargetTest, PingsTheRequesterAtTheMoment) {
    peer.connected = {kFacilitator};
    EXPECT_EQ(Offer(TimedMessage(ID_PUNCH_EXPECT_AT, 1200, &kRequester), kFacilitator), PRR_DEALLOCATE);
    RunUntil(1190);
    EXPECT_TRUE(peer.unconnectedPings.empty());
    RunUntil(1200);
    ASSERT_EQ(peer.unconnectedPings.size(), 1u);
    EXPECT_EQ(peer.unconnectedPings[0].host, "127.0.0.2");
    EXPECT_EQ(peer.unconnectedPings[0].port, 2000);
    EXPECT_TRUE(peer.attempts.empty());
}

TEST_F(TargetTest, ActsOnlyOnTheWordOfAConnectedFacilitator) {
    const std::vector<uint8_t> expect = TimedMessage(ID_PUNCH_EXPECT_AT, 1200, &kRequester);
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        uint16_t slot;
        bool connected;
        uint32_t NatPunchthroughRejections::*counter;
    };
    const std::vector<Case> cases = {
        {"sender without a connection", expect, 0xFFFF, false, &NatPunchthroughRejections::notConnected},
        {"routed: names a connected source", expect, 0xFFFF, true, &NatPunchthroughRejections::notConnected},
        {"connected, requester address cut off", std::vector<uint8_t>(expect.begin(), expect.end() - 3), 0,
         true, &NatPunchthroughRejections::truncated},
        {"connected, no time prefix", AddressMessage(ID_PUNCH_EXPECT_AT, kRequester), 0, true,
         &NatPunchthroughRejections::truncated},
    };
    for (const Case& c : cases) {
        peer.connected.clear();
        if (c.connected) peer.connected = {kFacilitator};
        const uint32_t before = punch.Rejections().*c.counter;
        EXPECT_EQ(Offer(c.bytes, kFacilitator, c.slot), PRR_DEALLOCATE) << c.name;
        EXPECT_EQ(punch.Rejections().*c.counter, before + 1) << c.name;
        EXPECT_EQ(punch.GetRecordCount(), 0u) << c.name;
    }

    // A connected system flooding times gets a bounded number of records.
    peer.connected = {kFacilitator};
    for (uint32_t i = 0; i < 3 * NatPunchthrough::kMaxRecords; ++i) Offer(expect, kFacilitator);
    EXPECT_EQ(punch.GetRecordCount(), NatPunchthrough::kMaxRecords);
    EXPECT_EQ(punch.Rejections().tooManyRecords, 2 * NatPunchthrough::kMaxRecords);
}

}  // namespace
}  // namespace velt
