// Attacker scenarios against a server-role peer. Each drives the peer in-process with datagrams
// from addresses of its choosing (a spoofing sender writes any source it likes), the peer's
// answers landing in a tap: what a victim whose address was written on them would receive, what
// reaches the game, what the log and the ban list say.

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "tests/net/channel_test_util.h"
#include "tests/net/peer_test_util.h"

namespace velt {
namespace {

using namespace peertest;
using channeltest::DatagramBuilder;
using channeltest::Message;

constexpr uint32_t kSeed = 0x0BADC0DE;
constexpr uint16_t kServerPort = 7777;
constexpr uint8_t kKey[ConnectionCookie::kKeyBytes] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6};

PlayerID Addr(const char* dotted, uint16_t port) {
    in_addr a{};
    inet_pton(AF_INET, dotted, &a);
    return PlayerID{a.s_addr, port};
}

// The i-th of many spoofed senders: first.(i >> 16).(i >> 8).i
PlayerID Spoofed(uint8_t first, uint32_t i, uint16_t port = 9) {
    return PlayerID{uint32_t(first) | ((i >> 16) & 0xFF) << 8 | ((i >> 8) & 0xFF) << 16 | (i & 0xFF) << 24,
                    port};
}

std::vector<uint8_t> Open(uint16_t cookie) {
    const uint16_t masked = cookie ^ kCookieMask;
    return {ID_CONN_INCOMING, uint8_t(masked), uint8_t(masked >> 8)};
}

// The server under attack, socketless: everything it sends goes to the tap.
struct Target {
    ManualClock clock;
    Tap tap;
    NetPeer peer{SocketRole::Server};

    explicit Target(uint16_t slots = 8) {
        peer.SetClock(&clock);
        peer.SetManualCycle(true);
        peer.SetSocketless(true);
        peer.SetRawSendTap(Tap::Record, &tap);
        peer.SetLogHook(CaptureLog);
        peer.SetCookieKey(kKey);
        peer.Settings().SetCookieSeed(kSeed);
        peer.SetMaximumIncomingConnections(slots);
        EXPECT_TRUE(peer.Initialize(slots, kServerPort, 0, "127.0.0.1"));
        TakeLog();
    }
    ~Target() { peer.Disconnect(0, 0); }

    std::vector<SentDatagram> Feed(PlayerID from, const std::vector<uint8_t>& bytes) {
        peer.HandleDatagram(from.binaryAddress, from.port, bytes.data(), uint32_t(bytes.size()));
        return tap.Take();
    }
    // What a client learns from the [26] answer to a request without a cookie.
    uint16_t LearnCookie(PlayerID from) {
        const std::vector<SentDatagram> reply = Feed(from, {ID_CONN_INCOMING, 0, 0});
        EXPECT_EQ(reply.size(), 1u);
        if (reply.size() != 1 || reply[0].bytes.size() != 3 || reply[0].bytes[0] != ID_CONN_COOKIE_REPLY)
            return 0;
        return uint16_t(reply[0].bytes[1] | reply[0].bytes[2] << 8);
    }
    bool HasSlot(PlayerID who) { return peer.GetConnectedSystem(who, true) != nullptr; }
    void Pass(uint32_t ms = 10) {
        clock.AdvanceMs(ms);
        peer.RunCycle();
    }
    uint32_t Rejections(Rejected kind) { return peer.GetStatistics(UNASSIGNED_PLAYER_ID)->Rejections(kind); }
    // A pass after which the given players acknowledge what the server sent them reliably, so
    // that their connections stay alive however long a test runs. Everything else sent is dropped.
    void PassAndAck(uint32_t ms, std::initializer_list<struct Player*> players);
};

// A remote system that speaks just enough of the reliability layer: each message it says goes in
// a datagram of its own, numbered in order; it never reads what the server sends back.
struct Player {
    PlayerID id;
    uint16_t next = 0;

    explicit Player(PlayerID who) : id(who) {}

    static std::vector<uint8_t> Datagram(uint16_t number, const std::vector<uint8_t>& payload) {
        Message m;
        m.number = number;
        m.reliability = RELIABILITY_RELIABLE;
        m.payload = payload;
        return DatagramBuilder().Add(m).Bytes();
    }
    std::vector<SentDatagram> Say(Target& t, const std::vector<uint8_t>& payload) {
        return t.Feed(id, Datagram(next++, payload));
    }
    // Cookie, connection request and completion; the game then marks the player as joined.
    void Join(Target& t, bool loggedOn = true) {
        ASSERT_EQ(t.Feed(id, Open(t.LearnCookie(id)))[0].bytes,
                  (std::vector<uint8_t>{ID_CONN_OPEN_REPLY, 0}));
        Say(t, {ID_CONN_REQUEST});
        t.Pass();
        Say(t, {ID_CONN_HANDSHAKE_DONE, 127, 0, 0, 1, kServerPort & 0xFF, kServerPort >> 8});
        t.Pass();
        ConnectedSystem* slot = t.peer.GetConnectedSystem(id, true);
        ASSERT_NE(slot, nullptr);
        ASSERT_EQ(slot->connectMode.load(), CM_CONNECTED);
        slot->loggedOn.store(loggedOn ? 1 : 0);
        Drain(t.peer);
        t.tap.Take();
    }
    bool Connected(Target& t) {
        ConnectedSystem* slot = t.peer.GetConnectedSystem(id, true);
        return slot != nullptr && slot->connectMode.load() == CM_CONNECTED;
    }
};

void Target::PassAndAck(uint32_t ms, std::initializer_list<Player*> players) {
    Pass(ms);
    const std::vector<SentDatagram> sent = tap.Take();
    for (Player* p : players) {
        std::vector<std::pair<uint16_t, uint16_t>> ranges;
        for (const SentDatagram& d : sent) {
            if (d.to != p->id) continue;
            for (const Message& m : channeltest::Decode(d.bytes).messages)
                if (m.reliability >= RELIABILITY_RELIABLE) ranges.emplace_back(m.number, m.number);
        }
        if (!ranges.empty()) Feed(p->id, DatagramBuilder().Acks(ranges).Bytes());
    }
}

// ---- amplification ---------------------------------------------------------------------------------

// Bytes a victim receives for the bytes sent in its name, over the exchange and 15 s of the
// server's passes after it (long enough for every resend). Wire bytes in: each datagram a client
// sends carries the scrambler's checksum byte in front.
struct Exchange {
    const char* name;
    std::function<void(Target&, PlayerID)> prepare;
    std::function<std::vector<std::vector<uint8_t>>(Target&, PlayerID)> datagrams;
    bool bounded = true;  // ratio at most 1
};

TEST(TransportAttack, NoUnconnectedExchangeAmplifies) {
    const PlayerID victim = Addr("10.1.0.1", 5000);
    auto repeat = [](std::vector<uint8_t> d, int n) {
        return std::vector<std::vector<uint8_t>>(size_t(n), d);
    };
    const uint16_t predicted = uint16_t(kSeed ^ victim.binaryAddress);  // the old cookie rule
    std::vector<uint8_t> oversized(513, 0x41);
    const Exchange exchanges[] = {
        {"open request, no cookie", nullptr,
         [&](Target&, PlayerID) {
             return repeat({ID_CONN_INCOMING, 0, 0}, 1);
         }},
        {"open request, predicted cookie", nullptr,
         [&](Target&, PlayerID) { return repeat(Open(predicted), 1); }},
        {"open request, 250 guessed cookies", nullptr,
         [&](Target&, PlayerID) {
             std::vector<std::vector<uint8_t>> out;
             for (int i = 0; i < 250; ++i) out.push_back(Open(uint16_t(i * 263)));
             return out;
         }},
        {"open request, right cookie", nullptr,
         [&](Target& t, PlayerID from) { return repeat(Open(t.LearnCookie(from)), 1); }},
        {"open request, server full",
         [&](Target& t, PlayerID) {
             for (int i = 0; i < 2; ++i) {
                 const PlayerID other = Addr(("10.9.0." + std::to_string(i + 1)).c_str(), 1);
                 t.Feed(other, Open(t.LearnCookie(other)));
             }
         },
         [&](Target& t, PlayerID from) { return repeat(Open(t.LearnCookie(from)), 1); }},
        {"open request, already connected", [&](Target& t, PlayerID from) { Player(from).Join(t); },
         [&](Target& t, PlayerID from) { return repeat(Open(t.LearnCookie(from)), 1); }},
        {"banned, one 2-byte datagram", [&](Target& t, PlayerID) { t.peer.AddToBanList("10.1.0.1", 0); },
         [&](Target&, PlayerID) {
             return repeat({ID_UNCONNECTED_PING, 0}, 1);
         }},
        {"banned, 1-byte datagram", [&](Target& t, PlayerID) { t.peer.AddToBanList("10.1.0.1", 0); },
         [&](Target&, PlayerID) { return repeat({ID_UNCONNECTED_PING}, 1); }},
        {"banned, 1000 datagrams", [&](Target& t, PlayerID) { t.peer.AddToBanList("10.1.0.1", 0); },
         [&](Target&, PlayerID) {
             return repeat({ID_CONN_INCOMING, 0, 0}, 1000);
         }},
        {"offline ping", nullptr,
         [&](Target&, PlayerID) {
             return repeat({ID_UNCONNECTED_PING, 1, 2, 3, 4}, 1);
         }},
        {"offline ping, open only", nullptr,
         [&](Target&, PlayerID) {
             return repeat({ID_UNCONNECTED_PING_OPEN, 1, 2, 3, 4}, 1);
         }},
        {"oversized datagram", nullptr, [&](Target&, PlayerID) { return repeat(oversized, 1); }},
        {"pong and advertisement", nullptr,
         [&](Target&, PlayerID) {
             return std::vector<std::vector<uint8_t>>{{ID_UNCONNECTED_PONG, 1, 2, 3, 4}, {ID_ADVERTISE, 0}};
         }},
        {"connection request without a slot", nullptr,
         [&](Target&, PlayerID) { return repeat(Player::Datagram(0, {ID_CONN_REQUEST}), 250); }},
        {"cookies off: 250 connection requests in one slot",
         [&](Target& t, PlayerID) { t.peer.Settings().SetConnCookies(0); },
         [&](Target&, PlayerID) {
             std::vector<std::vector<uint8_t>> out{{ID_CONN_INCOMING, 0, 0}};
             for (uint16_t n = 0; n < 250; ++n) out.push_back(Player::Datagram(n, {ID_CONN_REQUEST}));
             return out;
         }},
        // With the cookie switched off nothing proves that the requester receives where it says:
        // the one answer the slot gets is sent reliably, and resent.
        {"cookies off: one connection request",
         [&](Target& t, PlayerID) { t.peer.Settings().SetConnCookies(0); },
         [&](Target&, PlayerID) {
             return std::vector<std::vector<uint8_t>>{{ID_CONN_INCOMING, 0, 0},
                                                      Player::Datagram(0, {ID_CONN_REQUEST})};
         },
         false},
    };
    // Bytes the victim receives with and without the exchange: a connection it holds sends keep-
    // alives and pings of its own, which are not the exchange's doing.
    auto measure = [&](const Exchange& e, bool send) {
        Target t(3);
        if (e.prepare) e.prepare(t, victim);
        const std::vector<std::vector<uint8_t>> datagrams = e.datagrams(t, victim);
        t.tap.Take();
        uint64_t in = 0, out = 0;
        auto collect = [&] {
            for (const SentDatagram& d : t.tap.Take())
                if (d.to.binaryAddress == victim.binaryAddress) out += d.bytes.size();
        };
        for (const std::vector<uint8_t>& d : datagrams) {
            in += d.size() + 1;
            if (send) t.peer.HandleDatagram(victim.binaryAddress, victim.port, d.data(), uint32_t(d.size()));
            collect();
            t.Pass(1);
            collect();
        }
        for (int i = 0; i < 1500; ++i) {
            t.Pass(10);
            collect();
        }
        return std::pair<uint64_t, uint64_t>{in, out};
    };
    std::printf("%-52s %8s %8s %6s\n", "exchange", "in (B)", "out (B)", "ratio");
    for (const Exchange& e : exchanges) {
        SCOPED_TRACE(e.name);
        const auto [in, out] = measure(e, true);
        const uint64_t own = measure(e, false).second;
        const uint64_t caused = out > own ? out - own : 0;
        const double ratio = double(caused) / double(in);
        std::printf("%-52s %8llu %8llu %6.2f\n", e.name, static_cast<unsigned long long>(in),
                    static_cast<unsigned long long>(caused), ratio);
        if (e.bounded) {
            EXPECT_LE(ratio, 1.0);
        }
    }
}

// ---- cookies ---------------------------------------------------------------------------------------

TEST(TransportAttack, CookiesCannotBePredictedOrMoved) {
    Target t(16);
    // Ten thousand spoofed senders, each with the cookie the old rule (seed XOR address) gave.
    for (uint32_t i = 0; i < 10000; ++i) {
        const PlayerID from = Spoofed(10, i, 5000);
        const std::vector<SentDatagram> reply = t.Feed(from, Open(uint16_t(kSeed ^ from.binaryAddress)));
        ASSERT_EQ(reply.size(), 1u);
        ASSERT_EQ(reply[0].bytes[0], ID_CONN_COOKIE_REPLY);
    }
    EXPECT_EQ(t.Rejections(Rejected::WrongCookie), 10000u);
    EXPECT_TRUE(Drain(t.peer).empty());  // no slot, no notice of one

    // A cookie belongs to its address and port, and stops working after a minute at most.
    const PlayerID a = Addr("10.3.0.1", 6000);
    const uint16_t cookie = t.LearnCookie(a);
    for (PlayerID other : {Addr("10.3.0.2", 6000), Addr("10.3.1.1", 6000), Addr("10.3.0.1", 6001)}) {
        EXPECT_EQ(t.Feed(other, Open(cookie))[0].bytes[0], ID_CONN_COOKIE_REPLY);
        EXPECT_FALSE(t.HasSlot(other));
    }
    t.clock.AdvanceMs(30000);  // the next time bucket: still good
    EXPECT_EQ(t.Feed(a, Open(cookie))[0].bytes[0], ID_CONN_OPEN_REPLY);
    const PlayerID b = Addr("10.3.0.3", 6000);
    const uint16_t old = t.LearnCookie(b);
    t.clock.AdvanceMs(60000);
    EXPECT_EQ(t.Feed(b, Open(old))[0].bytes[0], ID_CONN_COOKIE_REPLY);
    EXPECT_EQ(t.Feed(b, Open(t.LearnCookie(b)))[0].bytes[0], ID_CONN_OPEN_REPLY);
}

TEST(TransportAttack, SlotFillingFloodLeavesARealClientAbleToJoin) {
    PeerPair pair(4, nullptr, 1);
    ASSERT_TRUE(pair.ok);
    // Guessed cookies from spoofed senders: none gets a slot.
    for (uint32_t i = 0; i < 20000; ++i) {
        const uint8_t open[3] = {ID_CONN_INCOMING, uint8_t(i * 7), uint8_t(i >> 3)};
        const PlayerID from = Spoofed(11, i, uint16_t(1000 + i));
        pair.server.HandleDatagram(from.binaryAddress, from.port, open, 3);
    }
    EXPECT_TRUE(pair.Connect(0));
}

// ---- bans ------------------------------------------------------------------------------------------

TEST(TransportAttack, SpoofedOversizedDatagramDoesNotLockOutAPlayer) {
    Target t;
    Player player(Addr("10.5.0.1", 4000));
    player.Join(t);
    // The player's address on another port, as anyone can write it.
    std::vector<uint8_t> oversized(513, 0x41);
    t.Feed(Addr("10.5.0.1", 4001), oversized);
    EXPECT_FALSE(t.peer.IsBanned("10.5.0.1"));
    EXPECT_TRUE(player.Connected(t));
    player.Say(t, {200, 1, 2});
    t.Pass();
    std::vector<Got> got = Drain(t.peer);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].Id(), 200);
    EXPECT_EQ(t.Rejections(Rejected::BanSpared), 1u);
    // An address without a connected player is banned as before.
    t.Feed(Addr("10.5.0.2", 4001), oversized);
    EXPECT_TRUE(t.peer.IsBanned("10.5.0.2"));
}

TEST(TransportAttack, FloodOfSpoofedBansStaysCappedAndPingsAreAnswered) {
    Target t;
    t.peer.AddToBanList("10.8.0.1", 0);
    std::vector<uint8_t> oversized(513, 0x41);
    for (uint32_t i = 0; i < 100000; ++i) t.Feed(Spoofed(12, i), oversized);
    EXPECT_EQ(t.Rejections(Rejected::OversizedUnconnected), 100000u);
    // The latest offenders stay banned, the oldest gave way; a ban someone asked for stays.
    char text[PlayerID::kStringSize];
    EXPECT_TRUE(t.peer.IsBanned(Spoofed(12, 99999).ToString(false, text, sizeof text)));
    EXPECT_FALSE(t.peer.IsBanned(Spoofed(12, 0).ToString(false, text, sizeof text)));
    EXPECT_TRUE(t.peer.IsBanned("10.8.0.1"));
    const std::vector<SentDatagram> pong = t.Feed(Addr("10.7.0.1", 1), {ID_UNCONNECTED_PING, 1, 2, 3, 4});
    ASSERT_EQ(pong.size(), 1u);
    EXPECT_EQ(pong[0].bytes[0], ID_UNCONNECTED_PONG);
}

// ---- what reaches the game -------------------------------------------------------------------------

TEST(TransportAttack, InjectedNoticeIdentifiersDoNothing) {
    Target t;
    Player player(Addr("10.10.0.1", 4000));
    player.Join(t);
    const std::vector<std::vector<uint8_t>> forged = {
        {ID_CONN_LOST},
        {ID_CONN_INCOMING},
        {ID_PACKET_MODIFIED},
        {ID_CONN_BANNED, 0},
        {ID_CONN_ATTEMPT_FAILED, 0},
        {ID_PUBLIC_KEY_MISMATCH},
        {ID_TIMESTAMPED, 1, 2, 3, 4, ID_CONN_CLOSED},
        {ID_TIMESTAMPED, 1, 2, 3, 4, ID_CONN_LOST},
        {ID_TIMESTAMPED, 1, 2, 3, 4, ID_CONN_INCOMING},
        {ID_TIMESTAMPED, 1, 2, 3, 4, ID_PACKET_MODIFIED},
    };
    for (const auto& message : forged) player.Say(t, message);
    player.Say(t, {ID_TIMESTAMPED, 1, 2, 3, 4, 207, 9});  // game data behind a timestamp still passes
    t.Pass();
    const std::vector<Got> got = Drain(t.peer);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(GetPacketIdentifier(got[0].bytes.data(), uint32_t(got[0].bytes.size())), 207);
    EXPECT_TRUE(player.Connected(t));
    EXPECT_EQ(t.Rejections(Rejected::ReservedIdentifier), forged.size());
}

TEST(TransportAttack, RefusedCallsAndDatagramsAreCountedByName) {
    Target t;
    Player player(Addr("10.10.1.1", 4000));
    player.Join(t);
    BitStream call;
    WriteRpcMessage(call, 99, nullptr, 0, false, 0);  // nobody registered 99
    player.Say(t, std::vector<uint8_t>(call.GetData(), call.GetData() + call.GetNumberOfBytesUsed()));
    player.Say(t, {ID_RPC_CALL});  // the id is cut off
    t.Feed(player.id, {0, 0});     // a datagram that carries nothing
    t.Feed(Addr("10.10.1.2", 1), {99, 1, 2});
    t.Pass();
    EXPECT_TRUE(Drain(t.peer).size() == 1);  // the tamper notice
    EXPECT_EQ(t.Rejections(Rejected::RpcUnregistered), 1u);
    EXPECT_EQ(t.Rejections(Rejected::RpcUnreadable), 1u);
    EXPECT_EQ(t.Rejections(Rejected::ChannelRejected), 1u);
    EXPECT_EQ(t.Rejections(Rejected::OtherUnconnected), 1u);
    // The connection's refusals stay in the totals once it is gone.
    t.peer.CloseConnection(player.id, false, 0);
    t.Pass();
    EXPECT_EQ(t.Rejections(Rejected::ChannelRejected), 1u);
    char text[4096];
    statsToString(t.peer.GetStatistics(UNASSIGNED_PLAYER_ID), text, sizeof text, 2);
    EXPECT_NE(std::string(text).find("Rejected: calls to an unregistered id:\t1\n"), std::string::npos);
}

TEST(TransportAttack, AServersRefusalOverTheConnectionStillReachesTheClient) {
    // The server answers a connection request it has no room for with [31] over the connection:
    // the same identifier as the peer's own notice of a raw refusal, and it must get through.
    PeerPair pair(4, nullptr, 1);
    ASSERT_TRUE(pair.ok);
    pair.server.SetMaximumIncomingConnections(0);
    ASSERT_TRUE(pair.client(0).Connect("127.0.0.1", pair.serverPort, nullptr, 0));
    EXPECT_TRUE(pair.RoundsUntil([&] { return PeerPair::Has(pair.clientGot[0], ID_CONN_NO_FREE_SLOT); }));
}

TEST(TransportAttack, AReconnectingPlayerIsNoServerFullAttack) {
    // Five slots; the earlier connection was the last slot handed out, and when its address asks
    // again one slot is left.
    struct Case {
        const char* name;
        int others;
        std::function<void(Target&, Player&)> earlier;  // the earlier connection
        bool refused;
        bool banned;
    };
    const auto join = [](Target& t, Player& p) { p.Join(t); };
    const Case cases[] = {
        {"left the server", 4,
         [&](Target& t, Player& p) {
             join(t, p);
             t.peer.CloseConnection(p.id, false, 0);
             t.Pass();
         },
         false, false},
        {"still playing (a second player behind the same address)", 3, join, false, false},
        {"never got past the open request", 3,
         [](Target& t, Player& p) { t.Feed(p.id, Open(t.LearnCookie(p.id))); }, true, true},
        // Refused, but a connected system holds the address: no ban.
        {"connected, never joined the game", 3, [](Target& t, Player& p) { p.Join(t, false); }, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Target t(5);
        for (int i = 1; i <= c.others; ++i) Player(Addr(("10.11.0." + std::to_string(i)).c_str(), 1)).Join(t);
        Player earlier(Addr("10.11.1.1", 1000));
        c.earlier(t, earlier);
        TakeLog();
        t.clock.AdvanceMs(5000);  // well within the 30 s of the rule
        const PlayerID again = Addr("10.11.1.1", 1001);
        const std::vector<SentDatagram> reply = t.Feed(again, Open(t.LearnCookie(again)));
        EXPECT_EQ(t.peer.IsBanned("10.11.1.1"), c.banned);
        if (c.refused) {
            EXPECT_TRUE(reply.empty());
            EXPECT_EQ(TakeLog(),
                      std::vector<std::string>{"Blocking 10.11.1.1 due to a 'server full' attack (2)"});
        } else {
            ASSERT_EQ(reply.size(), 1u);
            EXPECT_EQ(reply[0].bytes, (std::vector<uint8_t>{ID_CONN_OPEN_REPLY, 0}));
        }
    }
}

TEST(TransportAttack, OnlyTheFirstConnectionRequestOfASlotIsAnswered) {
    Target t;
    Player player(Addr("10.16.0.1", 4000));
    ASSERT_EQ(t.Feed(player.id, Open(t.LearnCookie(player.id))).size(), 1u);
    size_t accepted = 0;
    for (int i = 0; i < 250; ++i) {
        player.Say(t, {ID_CONN_REQUEST});
        t.Pass();
        for (const SentDatagram& d : t.tap.Take())
            for (const Message& m : channeltest::Decode(d.bytes).messages)
                accepted += !m.payload.empty() && m.payload[0] == ID_CONN_ACCEPTED ? 1 : 0;
    }
    EXPECT_EQ(accepted, 1u);
    EXPECT_EQ(t.peer.GetStatistics(player.id)->Rejections(Rejected::RepeatedRequest), 249u);
}

TEST(TransportAttack, AFullServerReportsOnceAnIntervalWithTheHalfOpenSlotsThatExpired) {
    Target t(2);
    // Both slots taken by open requests that go no further.
    for (int i = 1; i <= 2; ++i) {
        const PlayerID p = Addr(("10.17.0." + std::to_string(i)).c_str(), 1);
        t.Feed(p, Open(t.LearnCookie(p)));
    }
    TakeLog();
    auto refused = [&](int count) {
        for (int i = 0; i < count; ++i) {
            const PlayerID p = Addr("10.17.1.1", uint16_t(100 + i));
            ASSERT_EQ(t.Feed(p, Open(t.LearnCookie(p)))[0].bytes,
                      (std::vector<uint8_t>{ID_CONN_NO_FREE_SLOT, 0}));
        }
    };
    refused(50);
    EXPECT_EQ(TakeLog(),
              std::vector<std::string>{"[connection] server full: 1 connection requests refused, 0 "
                                       "half-open connections expired since the last report"});
    // The half-open slots expire after 10 s; the next report, 10 s after the first, tells.
    for (int i = 0; i < 1001; ++i) t.Pass(10);
    EXPECT_EQ(TakeLog(),
              std::vector<std::string>{"[connection] server full: 49 connection requests refused, 2 "
                                       "half-open connections expired since the last report"});
    for (int i = 0; i < 1500; ++i) t.Pass(10);
    EXPECT_TRUE(TakeLog().empty());  // nothing refused since: nothing to report
}

// ---- flood limits ----------------------------------------------------------------------------------

TEST(TransportAttack, TwoMegabyteBurstIsRefusedWithinItsWindow) {
    Target t;
    Player player(Addr("10.12.0.1", 4000));
    player.Join(t);
    TakeLog();
    t.clock.AdvanceMs(1100);  // a window of its own
    const std::vector<uint8_t> payload(500, 210);
    uint32_t sent = 0;
    for (; sent < 4096 && !t.peer.IsBanned("10.12.0.1"); ++sent) player.Say(t, payload);
    // All of it within one millisecond: refused once the window holds more than 500.
    EXPECT_TRUE(t.peer.IsBanned("10.12.0.1"));
    EXPECT_LE(sent, 502u);
    t.Pass();
    EXPECT_LE(Drain(t.peer).size(), 501u);
    const std::vector<std::string> log = TakeLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].rfind("[warning] client exceeded 'messageslimit' 10.12.0.1:4000 ", 0), 0u);
}

// Refused pieces of input, each in a datagram of its own, sent at a given rate.
struct BadInput {
    const char* name;
    std::function<std::vector<uint8_t>(uint16_t number)> datagram;
};

TEST(TransportAttack, BadSplitPiecesAndAckRangesEndInABanWithFewLogLines) {
    const BadInput inputs[] = {
        {"split pieces",
         [](uint16_t n) {
             Message m;
             m.number = n;
             m.split = true;
             m.splitId = n;
             m.splitCount = 2;
             return DatagramBuilder().Add(m).Bytes();
         }},
        {"backwards acknowledgement ranges",
         [](uint16_t n) {
             return DatagramBuilder().Acks({{uint16_t(n + 10), n}}).Bytes();
         }},
    };
    for (const BadInput& input : inputs) {
        SCOPED_TRACE(input.name);
        Target t;
        Player player(Addr("10.13.0.1", 4000));
        player.Join(t);
        TakeLog();
        // A thousand a second for twenty seconds: the flood limit ends it within the first.
        uint32_t sent = 0;
        for (; sent < 20000 && !t.peer.IsBanned("10.13.0.1"); ++sent) {
            t.Feed(player.id, input.datagram(uint16_t(sent)));
            if (sent % 10 == 9) t.PassAndAck(10, {&player});
        }
        EXPECT_TRUE(t.peer.IsBanned("10.13.0.1"));
        EXPECT_LE(sent, 501u);
        for (int i = 0; i < 2000; ++i) t.Pass(10);
        const std::vector<Got> got = Drain(t.peer);
        size_t notices = 0;
        for (const Got& g : got) notices += g.Id() == ID_PACKET_MODIFIED ? 1 : 0;
        EXPECT_LE(notices, 1u);
        const std::vector<std::string> log = TakeLog();
        for (const std::string& line : log) std::printf("  log: %s\n", line.c_str());
        EXPECT_LE(log.size(), 4u);
    }
}

TEST(TransportAttack, BadInputBelowTheLimitLogsOnceAnIntervalWithACount) {
    Target t;
    Player player(Addr("10.14.0.1", 4000));
    player.Join(t);
    TakeLog();
    // 300 split pieces a second for 30 s: under the messages limit, so no ban; and no line each.
    Message piece;
    piece.split = true;
    piece.splitCount = 2;
    const std::vector<uint8_t> datagram = DatagramBuilder().Add(piece).Bytes();
    std::vector<Got> got;
    for (uint32_t i = 0; i < 9000; ++i) {
        t.Feed(player.id, datagram);
        if (i % 3 == 2) t.PassAndAck(10, {&player});
        for (Got& g : Drain(t.peer)) got.push_back(std::move(g));
    }
    EXPECT_FALSE(t.peer.IsBanned("10.14.0.1"));
    EXPECT_TRUE(player.Connected(t));
    size_t lines = 0, counts = 0, modifiedCounts = 0;
    for (const std::string& line : TakeLog()) {
        lines += line == "[warning] dropping a split packet from client" ? 1 : 0;
        counts += line.rfind("[warning] dropping a split packet: ", 0) == 0 ? 1 : 0;
        modifiedCounts += line.rfind("Packet was modified ", 0) == 0 ? 1 : 0;
    }
    size_t notices = 0;
    for (const Got& g : got) notices += g.Id() == ID_PACKET_MODIFIED ? 1 : 0;
    // One of each per 10 s, and the count of the rest.
    EXPECT_GE(lines, 3u);
    EXPECT_LE(lines, 4u);
    EXPECT_GE(counts, 2u);
    EXPECT_GE(notices, 3u);
    EXPECT_LE(notices, 4u);
    EXPECT_GE(modifiedCounts, 2u);
    EXPECT_GE(t.peer.GetStatistics(player.id)->Rejections(Rejected::RefusedSplit), 9000u);
}

// ---- the queue to the game --------------------------------------------------------------------------

TEST(TransportAttack, GameThatFallsBehindDropsCountsAndLogsOnce) {
    TransportSettings caps;
    caps.SetIncomingQueueCapBytes(64 * 1024);
    caps.SetIncomingTotalCapBytes(100 * 1024);
    Target t;
    t.peer.SetTransportSettings(&caps);
    Player a(Addr("10.15.0.1", 1)), b(Addr("10.15.0.2", 1));
    a.Join(t);
    b.Join(t);
    TakeLog();
    // Nobody takes anything while both say 400 messages a second.
    for (int second = 0; second < 3; ++second)
        for (int i = 0; i < 400; ++i) {
            a.Say(t, {210, uint8_t(i)});
            b.Say(t, std::vector<uint8_t>(300, 211));
            if (i % 4 == 3) t.PassAndAck(10, {&a, &b});
        }
    EXPECT_LE(t.peer.QueuedIncomingBytes(), 100u * 1024);
    EXPECT_GT(t.Rejections(Rejected::GameBehind), 0u);
    std::vector<std::string> log = TakeLog();
    EXPECT_EQ(log.size(), 2u);  // the game behind; b over its share
    // b stayed over its share for more than 5 s: closed. a never was over its own.
    for (int i = 0; i < 300; ++i) {
        b.Say(t, std::vector<uint8_t>(300, 211));
        t.PassAndAck(20, {&a, &b});
    }
    EXPECT_FALSE(b.Connected(t));
    EXPECT_TRUE(a.Connected(t));
    EXPECT_EQ(t.Rejections(Rejected::KickedGameBehind), 1u);
    // Once the game catches up, what was queued is handed over in order and the shares are back.
    size_t got = Drain(t.peer).size();
    EXPECT_GT(got, 100u);
    EXPECT_EQ(t.peer.QueuedIncomingBytes(), 0u);
}

}  // namespace
}  // namespace velt
