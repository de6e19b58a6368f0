// Admission and the connection handshake. Most cases run against a socketless server-role peer
// fed datagrams by hand: raw replies and everything its channels send land in a tap, and a fake
// remote system speaks the reliability layer through a channel of its own. The full exchange
// between two real peers over loopback closes the file.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "net/BitStream.h"
#include "net/ReliabilityWire.h"
#include "tests/net/peer_test_util.h"

namespace velt {
namespace {

using namespace peertest;

constexpr uint32_t kSeed = 0x12345678;
constexpr uint16_t kServerPort = 7777;
constexpr uint8_t kCookieKey[ConnectionCookie::kKeyBytes] = {1, 2,  3,  4,  5,  6,  7,  8,
                                                             9, 10, 11, 12, 13, 14, 15, 16};

PlayerID Addr(const char* dotted, uint16_t port) {
    in_addr a{};
    inet_pton(AF_INET, dotted, &a);
    return PlayerID{a.s_addr, port};
}

std::vector<uint8_t> B(std::initializer_list<int> bytes) {
    std::vector<uint8_t> v;
    for (int b : bytes) v.push_back(uint8_t(b));
    return v;
}

// A socketless server-role peer and what it sends.
struct Admission {
    ManualClock clock;
    Tap tap;
    NetPeer peer{SocketRole::Server};

    explicit Admission(uint16_t slots = 8, const char* password = nullptr) {
        peer.SetClock(&clock);
        peer.SetManualCycle(true);
        peer.SetSocketless(true);
        peer.SetRawSendTap(Tap::Record, &tap);
        peer.SetLogHook(CaptureLog);
        peer.SetCookieKey(kCookieKey);
        peer.Settings().SetCookieSeed(kSeed);
        peer.Settings().SetServerChallenge(0xCAFEBABE);
        if (password != nullptr) peer.SetIncomingPassword(password, int32_t(std::strlen(password)));
        peer.SetMaximumIncomingConnections(slots);
        EXPECT_TRUE(peer.Initialize(slots, kServerPort, 0, "127.0.0.1"));
        TakeLog();
    }

    // The cookie the peer hands `from` at the clock's start (good for the first minute).
    static uint16_t Cookie(PlayerID from, uint32_t seed = kSeed) {
        ConnectionCookie cookie;
        cookie.SetKey(kCookieKey);
        return cookie.For(from, seed, ManualClock{}.NowUs());
    }
    static std::vector<uint8_t> OpenRequest(PlayerID from) {
        const uint16_t c = Cookie(from) ^ kCookieMask;
        return B({ID_CONN_INCOMING, c & 0xFF, c >> 8});
    }
    std::vector<SentDatagram> Feed(PlayerID from, const std::vector<uint8_t>& bytes) {
        peer.HandleDatagram(from.binaryAddress, from.port, bytes.data(), uint32_t(bytes.size()));
        return tap.Take();
    }
    std::vector<Got> Packets() { return Drain(peer); }
    bool HasSlot(PlayerID who) { return peer.GetConnectedSystem(who, true) != nullptr; }
};

// A remote system that speaks the reliability layer to an Admission peer.
struct FakeRemote {
    PlayerID id;
    ReliabilityChannel channel{WireRole::Client};
    std::vector<std::vector<uint8_t>> received;

    struct Capture final : DatagramSender {
        std::vector<std::vector<uint8_t>> out;
        void SendDatagram(const uint8_t* d, uint32_t n) override { out.emplace_back(d, d + n); }
    };

    explicit FakeRemote(PlayerID who) : id(who) {}

    // Queues one reliable message and delivers what the channel emits to the peer.
    void Say(Admission& a, const std::vector<uint8_t>& message) {
        std::vector<uint8_t> copy = message;
        channel.Send(copy.data(), uint32_t(copy.size() * 8), SYSTEM_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0,
                     true, 576, a.clock.NowUs());
        Flush(a);
    }
    void Flush(Admission& a) {
        a.clock.AdvanceMs(20);
        Capture cap;
        channel.Update(cap, Addr("127.0.0.1", kServerPort), 576, a.clock.NowUs());
        for (auto& d : cap.out)
            a.peer.HandleDatagram(id.binaryAddress, id.port, d.data(), uint32_t(d.size()));
    }
    // Runs the peer's passes and keeps every message its channel sends to us.
    void Listen(Admission& a, int passes = 4) {
        for (int i = 0; i < passes; ++i) {
            a.clock.AdvanceMs(20);
            a.peer.RunCycle();
            for (const SentDatagram& d : a.tap.Take()) {
                if (d.to != id) continue;
                bool breached = false;
                channel.ProcessDatagram(d.bytes.data(), uint32_t(d.bytes.size()),
                                        Addr("127.0.0.1", kServerPort), a.clock.NowUs(), breached);
            }
            uint8_t* data = nullptr;
            while (uint32_t bits = channel.ReceiveMessage(data)) {
                received.emplace_back(data, data + (bits + 7) / 8);
                delete[] data;
            }
        }
    }
    bool Heard(uint8_t id0) const {
        for (auto& m : received)
            if (!m.empty() && m[0] == id0) return true;
        return false;
    }
};

// ---- the refusal table ----------------------------------------------------------------------------

TEST(HandshakeAdmission, RefusalTable) {
    const PlayerID from = Addr("10.0.0.2", 5000);
    struct Case {
        const char* name;
        std::function<void(Admission&)> prepare;
        std::vector<uint8_t> datagram;
        std::vector<std::vector<uint8_t>> replies;  // raw datagrams back to the sender, in order
        bool bannedAfter;
        int noticeIndex;  // slot index of the [24] notice to the user, -1 for none
    };
    const uint16_t cookie = Admission::Cookie(from);
    const std::vector<uint8_t> wrongCookie = B({ID_CONN_COOKIE_REPLY, cookie & 0xFF, cookie >> 8});
    std::vector<uint8_t> big512(512, 0x77), big513(513, 0x77);
    const Case cases[] = {
        {"valid cookie gets a slot",
         nullptr,
         Admission::OpenRequest(from),
         {B({ID_CONN_OPEN_REPLY, 0})},
         false,
         0},
        {"wrong cookie", nullptr, B({ID_CONN_INCOMING, 0, 0}), {wrongCookie}, false, -1},
        {"cookies off take any cookie",
         [](Admission& a) { a.peer.Settings().SetConnCookies(0); },
         B({ID_CONN_INCOMING, 1, 2}),
         {B({ID_CONN_OPEN_REPLY, 0})},
         false,
         0},
        {"banned sender",
         [](Admission& a) { a.peer.AddToBanList("10.0.0.2", 0); },
         Admission::OpenRequest(from),
         {B({ID_CONN_BANNED, 0})},
         true,
         -1},
        {"banned by pattern, any datagram",
         [](Admission& a) { a.peer.AddToBanList("10.0.*", 0); },
         B({ID_UNCONNECTED_PING, 1, 2, 3, 4}),
         {B({ID_CONN_BANNED, 0})},
         true,
         -1},
        {"no free slot",
         [](Admission& a) {
             for (int i = 1; i <= 8; ++i) {
                 const PlayerID other = Addr(("10.9.0." + std::to_string(i)).c_str(), 1);
                 a.Feed(other, Admission::OpenRequest(other));
             }
             a.Packets();
         },
         Admission::OpenRequest(from),
         {B({ID_CONN_NO_FREE_SLOT, 0})},
         false,
         -1},
        {"repeat while unverified: our answer was lost, answered again",
         [&](Admission& a) { a.Feed(from, Admission::OpenRequest(from)), a.Packets(); },
         Admission::OpenRequest(from),
         {B({ID_CONN_OPEN_REPLY, 0})},
         false,
         -1},
        {"2-byte request", nullptr, B({ID_CONN_INCOMING, 0}), {}, false, -1},
        {"4-byte request", nullptr, B({ID_CONN_INCOMING, 0, 0, 0}), {}, false, -1},
        {"512 bytes without a slot", nullptr, big512, {}, false, -1},
        {"513 bytes without a slot", nullptr, big513, {}, true, -1},
        {"unconnected ping",
         [](Admission& a) {
             a.peer.SetOfflinePingResponse(B({'h', 'i'}).data(), 2);
         },
         B({ID_UNCONNECTED_PING, 9, 8, 7, 6}),
         {B({ID_UNCONNECTED_PONG, 9, 8, 7, 6, 'h', 'i'})},
         false,
         -1},
        {"open-only ping while accepting",
         nullptr,
         B({ID_UNCONNECTED_PING_OPEN, 1, 0, 0, 0}),
         {B({ID_UNCONNECTED_PONG, 1, 0, 0, 0})},
         false,
         -1},
        {"open-only ping while full",
         [](Admission& a) { a.peer.SetMaximumIncomingConnections(0); },
         B({ID_UNCONNECTED_PING_OPEN, 1, 0, 0, 0}),
         {},
         false,
         -1},
        {"ping of the wrong length", nullptr, B({ID_UNCONNECTED_PING, 1, 0, 0}), {}, false, -1},
        {"unsolicited open reply", nullptr, B({ID_CONN_OPEN_REPLY, 0}), {}, false, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Admission a;
        if (c.prepare) c.prepare(a);
        a.tap.Take();
        const std::vector<SentDatagram> sent = a.Feed(from, c.datagram);
        ASSERT_EQ(sent.size(), c.replies.size());
        for (size_t i = 0; i < sent.size(); ++i) {
            EXPECT_EQ(sent[i].to, from);
            EXPECT_EQ(sent[i].bytes, c.replies[i]);
        }
        EXPECT_EQ(a.peer.IsBanned("10.0.0.2"), c.bannedAfter);
        const std::vector<Got> got = a.Packets();
        if (c.noticeIndex < 0) {
            EXPECT_TRUE(got.empty());
        } else {
            ASSERT_EQ(got.size(), 1u);
            EXPECT_EQ(got[0].bytes, B({ID_CONN_INCOMING}));
            EXPECT_EQ(got[0].index, c.noticeIndex);
            EXPECT_EQ(got[0].sender, from);
        }
    }
}

TEST(HandshakeAdmission, CookieFollowsTheSeedAndIsLoggedWhenAsked) {
    Admission a;
    const PlayerID from = Addr("10.0.0.3", 6000);
    const std::vector<uint8_t> oldRequest = Admission::OpenRequest(from);
    a.peer.Settings().SetCookieLogging(1);
    a.peer.Settings().SetCookieSeed(kSeed + 0x10001);  // redrawn: the old cookie is stale

    const std::vector<SentDatagram> sent = a.Feed(from, oldRequest);
    ASSERT_EQ(sent.size(), 1u);
    const uint16_t fresh = Admission::Cookie(from, kSeed + 0x10001);
    EXPECT_EQ(sent[0].bytes, B({ID_CONN_COOKIE_REPLY, fresh & 0xFF, fresh >> 8}));
    EXPECT_EQ(TakeLog(), std::vector<std::string>{"[connection] 10.0.0.3:6000 requests connection cookie."});

    // Repeating with the fresh cookie, masked, is accepted.
    const uint16_t answer = fresh ^ kCookieMask;
    EXPECT_EQ(a.Feed(from, B({ID_CONN_INCOMING, answer & 0xFF, answer >> 8}))[0].bytes,
              B({ID_CONN_OPEN_REPLY, 0}));
}

TEST(HandshakeAdmission, MinimumTimeBetweenRequests) {
    Admission a;
    a.peer.Settings().SetMinConnectionTime(1000);
    auto request = [&](const char* ip) {
        const PlayerID p = Addr(ip, 1234);
        return a.Feed(p, Admission::OpenRequest(p)).size();
    };
    EXPECT_EQ(request("10.1.0.1"), 1u);
    a.clock.AdvanceMs(500);
    EXPECT_EQ(request("10.1.0.2"), 0u);  // any address: the limit is global
    const std::string warning =
        "Warning: Minimum time between new connections (1000) exceeded for 10.1.0.2:1234. Ignoring the "
        "request.";
    EXPECT_EQ(TakeLog(), std::vector<std::string>{warning});
    a.clock.AdvanceMs(300);
    EXPECT_EQ(request("10.1.0.3"), 0u);
    EXPECT_TRUE(TakeLog().empty());  // not repeated within the period
    a.clock.AdvanceMs(201);
    EXPECT_EQ(request("10.1.0.4"), 1u);  // 1001 ms after the last accepted request
}

TEST(HandshakeAdmission, ServerFullDefences) {
    {
        SCOPED_TRACE("more than 30 slots from one address");
        Admission a(40);
        for (uint16_t port = 1; port <= 31; ++port)
            ASSERT_EQ(a.Feed(Addr("10.0.0.7", port), Admission::OpenRequest(Addr("10.0.0.7", port))).size(),
                      1u);
        TakeLog();
        EXPECT_TRUE(a.Feed(Addr("10.0.0.7", 99), Admission::OpenRequest(Addr("10.0.0.7", 99))).empty());
        EXPECT_EQ(TakeLog(), std::vector<std::string>{"Blocking 10.0.0.7 due to a 'server full' attack (1)"});
        EXPECT_TRUE(a.peer.IsBanned("10.0.0.7"));
        a.clock.AdvanceMs(120001);
        EXPECT_FALSE(a.peer.IsBanned("10.0.0.7"));
    }
    {
        SCOPED_TRACE("the same address again for the last free slot");
        Admission a(4);
        a.Feed(Addr("10.0.1.1", 1), Admission::OpenRequest(Addr("10.0.1.1", 1)));
        a.Feed(Addr("10.0.1.2", 1), Admission::OpenRequest(Addr("10.0.1.2", 1)));
        a.Feed(Addr("10.0.1.3", 1), Admission::OpenRequest(Addr("10.0.1.3", 1)));
        TakeLog();
        EXPECT_TRUE(a.Feed(Addr("10.0.1.3", 2), Admission::OpenRequest(Addr("10.0.1.3", 2))).empty());
        EXPECT_EQ(TakeLog(), std::vector<std::string>{"Blocking 10.0.1.3 due to a 'server full' attack (2)"});
        EXPECT_TRUE(a.peer.IsBanned("10.0.1.3"));
        // Another address may still take the last slot.
        EXPECT_EQ(a.Feed(Addr("10.0.1.4", 1), Admission::OpenRequest(Addr("10.0.1.4", 1)))[0].bytes,
                  B({ID_CONN_OPEN_REPLY, 0}));
    }
}

TEST(HandshakeAdmission, UnconnectedPacketsToTheUserAreCapped) {
    Admission a;
    std::vector<uint8_t> pong = B({ID_UNCONNECTED_PONG, 1, 2, 3, 4, 'x'});
    for (int i = 0; i < 1000; ++i) a.Feed(Addr("10.0.2.1", uint16_t(1000 + i)), pong);
    EXPECT_EQ(a.peer.QueuedUnconnectedPackets(), NetPeer::kMaxQueuedUnconnectedPackets);
    std::vector<Got> got = a.Packets();
    EXPECT_EQ(got.size(), NetPeer::kMaxQueuedUnconnectedPackets);
    EXPECT_EQ(got[0].bytes, pong);
    EXPECT_EQ(got[0].index, 0xFFFF);
    // Drained: room again.
    a.Feed(Addr("10.0.2.1", 1), B({ID_ADVERTISE, 0}));
    EXPECT_EQ(a.Packets().size(), 1u);
    // Outside the accepted lengths nothing is queued at all.
    a.Feed(Addr("10.0.2.1", 2), B({ID_UNCONNECTED_PONG, 1, 2, 3}));
    a.Feed(Addr("10.0.2.1", 3), std::vector<uint8_t>(402, ID_ADVERTISE));
    EXPECT_TRUE(a.Packets().empty());

    // A sender with a slot whose datagrams its channel rejects: one tamper notice, not one per
    // datagram, and the datagrams count towards the messages limit until the sender is banned.
    const PlayerID slotted = Addr("10.0.2.2", 1);
    a.Feed(slotted, Admission::OpenRequest(slotted));
    a.Packets();
    for (int i = 0; i < 1000; ++i) a.Feed(slotted, B({0, 0}));
    got = a.Packets();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].bytes, B({ID_PACKET_MODIFIED}));
    EXPECT_EQ(got[0].index, 0);
    EXPECT_TRUE(a.peer.IsBanned("10.0.2.2"));
}

// ---- the connection request over a fake remote's channel ------------------------------------------

TEST(HandshakeRequest, AcceptedRequestCompletesTheHandshake) {
    Admission a(8, "secret");
    const PlayerID from = Addr("10.0.3.1", 4100);
    FakeRemote remote(from);
    ASSERT_EQ(a.Feed(from, Admission::OpenRequest(from)).size(), 1u);
    a.Packets();

    remote.Say(a, B({ID_CONN_REQUEST, 's', 'e', 'c', 'r', 'e', 't'}));
    remote.Listen(a);
    ASSERT_TRUE(remote.Heard(ID_CONN_ACCEPTED));
    std::vector<uint8_t> accepted;
    for (auto& m : remote.received)
        if (m[0] == ID_CONN_ACCEPTED) accepted = m;
    ASSERT_EQ(accepted.size(), 13u);
    const std::vector<uint8_t> tail(accepted.begin() + 1, accepted.end());
    const uint32_t addr = from.binaryAddress;
    EXPECT_EQ(tail, B({int(addr & 0xFF), int(addr >> 8 & 0xFF), int(addr >> 16 & 0xFF), int(addr >> 24),
                       4100 & 0xFF, 4100 >> 8, 0, 0, 0xBE, 0xBA, 0xFE, 0xCA}));
    EXPECT_EQ(a.peer.GetConnectedSystem(from, true)->connectMode, CM_HANDLING_CONNECTION_REQUEST);
    uint16_t n = 0;
    a.peer.GetConnectionList(nullptr, &n);
    EXPECT_EQ(n, 0u);  // not yet: the completion is missing

    remote.Say(a, B({ID_CONN_HANDSHAKE_DONE, 127, 0, 0, 1, 7777 & 0xFF, 7777 >> 8}));
    remote.Listen(a);
    std::vector<Got> got = a.Packets();
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got[0].Id(), ID_CONN_HANDSHAKE_DONE);
    EXPECT_EQ(got[0].bytes.size(), 7u);
    EXPECT_EQ(got[0].index, 0);
    a.peer.GetConnectionList(nullptr, &n);
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(a.peer.GetExternalID(from), Addr("127.0.0.1", 7777));
    // The server follows the completion with a ping and its static data.
    EXPECT_TRUE(remote.Heard(ID_INTERNAL_PING));
    EXPECT_TRUE(remote.Heard(ID_STATIC_DATA));

    // A repeated open request from a connected system: "already connected".
    const std::vector<SentDatagram> again = a.Feed(from, Admission::OpenRequest(from));
    ASSERT_FALSE(again.empty());
    EXPECT_EQ(again[0].bytes, B({ID_CONN_ATTEMPT_FAILED, 0}));
}

TEST(HandshakeRequest, LostOpenReplyIsAnsweredAgainAndTheHandshakeGoesOn) {
    Admission a(8);
    const PlayerID from = Addr("10.0.3.2", 4100);
    FakeRemote remote(from);
    ASSERT_EQ(a.Feed(from, Admission::OpenRequest(from)).size(), 1u);  // the [25] that gets lost
    ASSERT_EQ(a.Packets().size(), 1u);
    TakeLog();

    // The client's next request a second later: answered on the handshake's path, so neither a
    // second slot nor a warning about a malformed channel datagram.
    a.clock.AdvanceMs(1000);
    const std::vector<SentDatagram> again = a.Feed(from, Admission::OpenRequest(from));
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].bytes, B({ID_CONN_OPEN_REPLY, 0}));
    EXPECT_TRUE(a.Packets().empty());
    EXPECT_TRUE(TakeLog().empty());

    remote.Say(a, B({ID_CONN_REQUEST}));
    remote.Listen(a);
    EXPECT_TRUE(remote.Heard(ID_CONN_ACCEPTED));
    EXPECT_EQ(a.peer.GetConnectedSystem(from, true)->connectMode, CM_HANDLING_CONNECTION_REQUEST);
}

TEST(HandshakeRequest, RefusedRequestsCloseSilently) {
    struct Case {
        const char* name;
        std::vector<uint8_t> request;
        uint16_t incomingLimit;
        uint8_t reply;
    };
    const Case cases[] = {
        {"wrong password", B({ID_CONN_REQUEST, 'n', 'o', 'p', 'e', '!', '!'}), 8, ID_CONN_BAD_PASSWORD},
        {"right password and one byte more", B({ID_CONN_REQUEST, 's', 'e', 'c', 'r', 'e', 't', 0}), 8,
         ID_CONN_BAD_PASSWORD},
        {"no password", B({ID_CONN_REQUEST}), 8, ID_CONN_BAD_PASSWORD},
        {"no free incoming slot", B({ID_CONN_REQUEST, 's', 'e', 'c', 'r', 'e', 't'}), 0,
         ID_CONN_NO_FREE_SLOT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Admission a(8, "secret");
        a.peer.SetMaximumIncomingConnections(c.incomingLimit);
        const PlayerID from = Addr("10.0.3.2", 4200);
        FakeRemote remote(from);
        a.Feed(from, Admission::OpenRequest(from));
        a.Packets();
        // The request and game data right behind it, in one datagram: the data arrives while
        // the slot is already refused and must not reach the game.
        std::vector<uint8_t> call = B({210, 1, 2, 3});
        std::vector<uint8_t> request = c.request;
        remote.channel.Send(request.data(), uint32_t(request.size() * 8), SYSTEM_PRIORITY_LEVEL,
                            RELIABILITY_RELIABLE, 0, true, 576, a.clock.NowUs());
        remote.channel.Send(call.data(), 32, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0, true, 576,
                            a.clock.NowUs());
        remote.Flush(a);
        remote.Listen(a);
        ASSERT_TRUE(remote.Heard(c.reply));
        EXPECT_FALSE(remote.Heard(ID_CONN_ACCEPTED));
        EXPECT_TRUE(a.Packets().empty());
        // It is closed without a notice once its answer is acknowledged.
        for (int i = 0; i < 20 && a.HasSlot(from); ++i) remote.Listen(a, 1), remote.Flush(a);
        EXPECT_FALSE(a.HasSlot(from));
        EXPECT_TRUE(a.Packets().empty());
        EXPECT_FALSE(a.peer.IsBanned("10.0.3.2"));
    }
}

TEST(HandshakeRequest, FirstMessageOtherThanTheRequestBansForTheTimeout) {
    Admission a;
    const PlayerID from = Addr("10.0.3.3", 4300);
    FakeRemote remote(from);
    a.Feed(from, Admission::OpenRequest(from));
    a.Packets();
    remote.Say(a, B({ID_RPC_CALL, 7, 0xF0, 0xF0}));
    a.clock.AdvanceMs(10);
    a.peer.RunCycle();
    EXPECT_FALSE(a.HasSlot(from));
    EXPECT_TRUE(a.Packets().empty());
    EXPECT_TRUE(a.peer.IsBanned("10.0.3.3"));
    a.clock.AdvanceMs(10001);  // the channel's timeout, "playertimeout"
    EXPECT_FALSE(a.peer.IsBanned("10.0.3.3"));
}

TEST(HandshakeRequest, BreachingAFloodLimitBansForAMinute) {
    Admission a;
    const PlayerID from = Addr("10.0.3.5", 4500);
    a.Feed(from, Admission::OpenRequest(from));
    TakeLog();
    // Acknowledgements for 5001 message numbers at once: wider than "messageholelimit" (3000).
    AckRangeList acks;
    for (uint32_t n = 0; n <= 5000; ++n) acks.Insert(MessageNumberType(n));
    BitStream datagram;
    WriteAckBlock(datagram, acks, 576, false);
    a.Feed(from,
           std::vector<uint8_t>(datagram.GetData(), datagram.GetData() + datagram.GetNumberOfBytesUsed()));
    EXPECT_TRUE(a.peer.IsBanned("10.0.3.5"));
    const std::vector<std::string> log = TakeLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_NE(log[0].find("messageholelimit"), std::string::npos);
    a.clock.AdvanceMs(60001);
    EXPECT_FALSE(a.peer.IsBanned("10.0.3.5"));
}

TEST(HandshakeRequest, OpenExchangeWithoutRequestClosesAfterTenSeconds) {
    Admission a;
    const PlayerID from = Addr("10.0.3.4", 4400);
    a.Feed(from, Admission::OpenRequest(from));
    a.Packets();
    a.clock.AdvanceMs(10000);
    a.peer.RunCycle();
    EXPECT_TRUE(a.HasSlot(from));
    a.clock.AdvanceMs(1);
    a.peer.RunCycle();
    EXPECT_FALSE(a.HasSlot(from));
    EXPECT_TRUE(a.Packets().empty());  // silently
}

// ---- two real peers ----------------------------------------------------------------------------------

TEST(HandshakePeers, ClientAnswersTheCookieAndConnects) {
    PeerPair pair(4, "pw");
    ASSERT_TRUE(pair.ok);
    Tap clientTap;
    pair.client().SetRawSendTap(Tap::Record, &clientTap);
    Tap serverTap;
    pair.server.SetRawSendTap(Tap::Record, &serverTap);

    ASSERT_TRUE(pair.Connect(0, "pw"));
    // The first request carries no cookie; the server answers [26]; the client repeats with the
    // cookie it got, masked; the server answers [25].
    std::vector<std::vector<uint8_t>> clientRaw, serverRaw;
    for (auto& d : clientTap.sent)
        if (d.bytes[0] == ID_CONN_INCOMING) clientRaw.push_back(d.bytes);
    for (auto& d : serverTap.sent)
        if (d.to == pair.ClientId() &&
            (d.bytes[0] == ID_CONN_COOKIE_REPLY || d.bytes[0] == ID_CONN_OPEN_REPLY))
            serverRaw.push_back(d.bytes);
    ASSERT_FALSE(serverRaw.empty());
    const uint16_t cookie = uint16_t(serverRaw[0][1] | serverRaw[0][2] << 8);
    const uint16_t answer = cookie ^ kCookieMask;
    ASSERT_GE(clientRaw.size(), 2u);
    EXPECT_EQ(clientRaw[0], B({ID_CONN_INCOMING, 0, 0}));
    EXPECT_EQ(clientRaw[1], B({ID_CONN_INCOMING, answer & 0xFF, answer >> 8}));
    ASSERT_EQ(serverRaw.size(), 2u);
    EXPECT_EQ(serverRaw[0], B({ID_CONN_COOKIE_REPLY, cookie & 0xFF, cookie >> 8}));
    EXPECT_EQ(serverRaw[1], B({ID_CONN_OPEN_REPLY, 0}));

    // What each side's user saw.
    ASSERT_TRUE(PeerPair::Has(pair.serverGot, ID_CONN_INCOMING));
    const Got* accepted = nullptr;
    for (const Got& g : pair.clientGot[0])
        if (g.Id() == ID_CONN_ACCEPTED) accepted = &g;
    ASSERT_NE(accepted, nullptr);
    ASSERT_EQ(accepted->bytes.size(), 13u);
    EXPECT_EQ(ReadLe32(accepted->bytes, 9), 0xCAFEBABEu);
    EXPECT_EQ(accepted->bytes[7] | accepted->bytes[8] << 8, 0);  // slot index
    EXPECT_EQ(pair.client().GetExternalID(pair.ServerId()), pair.ClientId());
    EXPECT_EQ(pair.server.GetIndexFromPlayerID(pair.ClientId()), 0);
    EXPECT_EQ(pair.server.GetPlayerIDFromIndex(0), pair.ClientId());

    // A second connect to the same server is refused while the slot exists.
    EXPECT_FALSE(pair.client().Connect("127.0.0.1", pair.serverPort, "pw", 2));
}

TEST(HandshakePeers, ConnectAttemptFailsAfterSixRequests) {
    PeerPair pair;
    Tap tap;
    pair.client().SetRawSendTap(Tap::Record, &tap);
    // Nobody listens on this port.
    ASSERT_TRUE(pair.client().Connect("127.0.0.1", 9, nullptr, 0));
    ASSERT_TRUE(
        pair.RoundsUntil([&] { return PeerPair::Has(pair.clientGot[0], ID_CONN_ATTEMPT_FAILED); }, 100, 250));
    EXPECT_EQ(tap.sent.size(), 6u);
    EXPECT_EQ(pair.clientGot[0][0].index, 0xFFFF);
}

TEST(HandshakePeers, BannedClientIsToldSo) {
    PeerPair pair(4, nullptr, 0);
    pair.AddClient("127.0.0.2");
    pair.server.AddToBanList("127.0.0.2", 0);
    ASSERT_TRUE(pair.client(0).Connect("127.0.0.1", pair.serverPort, nullptr, 0));
    ASSERT_TRUE(pair.RoundsUntil([&] { return PeerPair::Has(pair.clientGot[0], ID_CONN_BANNED); }));
    EXPECT_TRUE(pair.serverGot.empty());
    uint16_t n = 9;
    pair.client(0).GetConnectionList(nullptr, &n);
    EXPECT_EQ(n, 0u);
}

TEST(HandshakeRequest, LookupChangesBetweenABatchHintAndItsDatagramAreSeen) {
    // In a batch the network thread looks up the next datagram's sender before it handles the
    // current one, which may add or remove that very connection.
    Admission a(8);
    const PlayerID from = Addr("10.0.3.9", 4100);
    FakeRemote remote(from);
    a.peer.ExpectDatagram(from.binaryAddress, from.port);  // no connection yet
    ASSERT_EQ(a.Feed(from, Admission::OpenRequest(from)).size(), 1u);
    ASSERT_TRUE(a.HasSlot(from));
    remote.Say(a, B({ID_CONN_REQUEST}));
    remote.Listen(a);
    EXPECT_TRUE(remote.Heard(ID_CONN_ACCEPTED));

    // The hint is looked up while another sender's datagram is handled: the connection's slot.
    a.peer.ExpectDatagram(from.binaryAddress, from.port);
    a.Feed(Addr("10.0.3.10", 4100), B({ID_UNCONNECTED_PONG}));
    a.peer.CloseConnection(from, false, 0);
    a.clock.AdvanceMs(20);
    a.peer.RunCycle();
    a.tap.Take();
    ASSERT_FALSE(a.HasSlot(from));
    // A fresh open request, not "already connected".
    const std::vector<SentDatagram> reply = a.Feed(from, Admission::OpenRequest(from));
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_NE(reply[0].bytes, B({ID_CONN_ATTEMPT_FAILED, 0}));
    EXPECT_TRUE(a.HasSlot(from));
}

}  // namespace
}  // namespace velt
