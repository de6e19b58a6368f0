// The peer between two real sockets on loopback, driven pass by pass with a clock the test
// moves: sends and broadcasts, RPCs, the ways a connection ends, the timers of the network pass,
// pings and clock differentials, plugins, and the life cycle.

#include <gtest/gtest.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "net/BitStream.h"
#include "tests/net/peer_test_util.h"

namespace velt {
namespace {

using namespace peertest;

std::vector<uint8_t> B(std::initializer_list<int> bytes) {
    std::vector<uint8_t> v;
    for (int b : bytes) v.push_back(uint8_t(b));
    return v;
}

size_t CountId(const std::vector<Got>& got, uint8_t id) { return PeerPair::Count(got, id); }

// ---- life cycle -------------------------------------------------------------------------------------

TEST(PeerLifeCycle, StartStopAndRefusals) {
    NetPeer peer(SocketRole::Library);
    peer.Disconnect(0, 0);  // never started: returns at once
    EXPECT_FALSE(peer.IsActive());
    const uint8_t byte = 99;
    EXPECT_FALSE(
        peer.SendBytes(&byte, 1, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0, UNASSIGNED_PLAYER_ID, true));
    EXPECT_FALSE(peer.Connect("127.0.0.1", 1234, nullptr, 0));
    EXPECT_FALSE(peer.Initialize(0, 0, 0, "127.0.0.1"));

    ASSERT_TRUE(peer.Initialize(2, 0, 0, "127.0.0.1"));
    EXPECT_TRUE(peer.IsActive());
    EXPECT_NE(peer.GetInternalID().port, 0);
    EXPECT_EQ(peer.GetMaximumNumberOfPeers(), 2);
    EXPECT_FALSE(peer.Initialize(2, 0, 0, "127.0.0.1"));  // already running
    EXPECT_FALSE(peer.SetMTUSize(600));
    EXPECT_FALSE(
        peer.SendBytes(&byte, 1, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0, UNASSIGNED_PLAYER_ID, false));
    EXPECT_FALSE(
        peer.SendBytes(&byte, 0, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0, UNASSIGNED_PLAYER_ID, true));
    EXPECT_TRUE(
        peer.SendBytes(&byte, 1, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0, UNASSIGNED_PLAYER_ID, true));
    // Its own port on loopback is not somewhere to connect to.
    EXPECT_FALSE(peer.Connect("127.0.0.1", peer.GetInternalID().port, nullptr, 0));
    peer.Disconnect(0, 0);
    EXPECT_FALSE(peer.IsActive());
    EXPECT_EQ(peer.GetMaximumNumberOfPeers(), 0);
    EXPECT_TRUE(peer.SetMTUSize(100));
    EXPECT_EQ(peer.GetMTUSize(), 512);
    // Started again with a fresh slot array.
    ASSERT_TRUE(peer.Initialize(3, 0, 5, "127.0.0.1"));
    EXPECT_EQ(peer.GetMaximumNumberOfPeers(), 3);
    peer.Disconnect(0, 0);
}

// A server's socket buffers grow with its slots; where the system caps them, the operator is told
// which limit to raise, and not otherwise.
TEST(PeerLifeCycle, SocketBuffersFollowTheSlotCountAndCapsAreLogged) {
    uint64_t receiveMax = 0;
    if (FILE* f = std::fopen("/proc/sys/net/core/rmem_max", "r")) {
        if (std::fscanf(f, "%" SCNu64, &receiveMax) != 1) receiveMax = 0;
        std::fclose(f);
    }
    const uint64_t overCap = receiveMax / NetPeer::kSocketBufferBytesPerSlot + 1;
    if (receiveMax == 0 || overCap > 65535) GTEST_SKIP() << "no cap below the largest slot count";

    struct Case {
        uint16_t slots;
        bool capped;
    };
    for (const Case c : {Case{100, false}, Case{uint16_t(overCap), true}}) {
        SCOPED_TRACE(c.slots);
        TakeLog();
        NetPeer server(SocketRole::Server);
        server.SetLogHook(CaptureLog);
        ASSERT_TRUE(server.Initialize(c.slots, 0, 0, "127.0.0.1"));
        server.Disconnect(0, 0);
        bool receiveCapLogged = false;
        for (const std::string& line : TakeLog())
            if (line.find("caps the socket's receive buffer") != std::string::npos &&
                line.find("net.core.rmem_max") != std::string::npos)
                receiveCapLogged = true;
        EXPECT_EQ(receiveCapLogged, c.capped);
    }
}

// ---- sends, broadcasts and RPCs -------------------------------------------------------------------

struct Recorded {
    std::vector<std::vector<uint8_t>> payloads;
    std::vector<uint32_t> bits;
    std::vector<PlayerID> senders;
};
Recorded g_rpc;
void RecordRpc(RpcCallParams* p) {
    g_rpc.payloads.emplace_back(p->payload, p->payload + (p->payload ? (p->payloadBits + 7) / 8 : 0));
    g_rpc.bits.push_back(p->payloadBits);
    g_rpc.senders.push_back(p->sender);
}

TEST(PeerSend, MessagesAndCallsBothWays) {
    PeerPair pair;
    ASSERT_TRUE(pair.Connect());
    const uint8_t rpcId = 42;
    pair.server.RegisterRpc(&rpcId, RecordRpc);
    pair.client().RegisterRpc(&rpcId, RecordRpc);
    g_rpc = {};

    BitStream message;
    message.Write(uint8_t(200));
    message.Write(uint32_t(0xA1B2C3D4));
    ASSERT_TRUE(pair.client().Send(&message, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE_ORDERED, 0,
                                   pair.ServerId(), false));
    const uint8_t odd[1] = {0xA0};  // 3 bits: 101
    ASSERT_TRUE(pair.client().RpcBytes(&rpcId, odd, 3, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE_ORDERED, 0,
                                       pair.ServerId(), false, true, UNASSIGNED_NETWORK_ID, nullptr));
    ASSERT_TRUE(pair.server.RpcNow(&rpcId, nullptr, 0, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0,
                                   pair.ClientId(), false));
    ASSERT_TRUE(pair.server.SendNow(message.GetData(), 40, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0,
                                    pair.ClientId(), false));
    pair.serverGot.clear();
    pair.clientGot[0].clear();
    ASSERT_TRUE(pair.RoundsUntil([&] {
        return g_rpc.bits.size() == 2 && CountId(pair.serverGot, 200) == 1 &&
               CountId(pair.clientGot[0], 200) == 1;
    }));

    const Got& atServer = pair.serverGot[0];
    EXPECT_EQ(atServer.bytes, B({200, 0xD4, 0xC3, 0xB2, 0xA1}));
    EXPECT_EQ(atServer.index, 0);
    EXPECT_EQ(atServer.sender, pair.ClientId());
    // Both calls arrived, each once: the timestamped 3-bit one at the server, the empty one at
    // the client.
    ASSERT_EQ(g_rpc.bits.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        if (g_rpc.senders[i] == pair.ClientId()) {
            EXPECT_EQ(g_rpc.bits[i], 3u);
            EXPECT_EQ(g_rpc.payloads[i][0] & 0xE0, 0xA0);
        } else {
            EXPECT_EQ(g_rpc.senders[i], pair.ServerId());
            EXPECT_EQ(g_rpc.bits[i], 0u);
        }
    }
    for (int i = 0; i < 20; ++i) pair.Round();
    EXPECT_EQ(g_rpc.bits.size(), 2u);

    // Targets without a connection.
    EXPECT_FALSE(pair.server.RpcBytes(&rpcId, nullptr, 0, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0,
                                      PlayerID{Loopback(9), 9}, false, false, UNASSIGNED_NETWORK_ID,
                                      nullptr));
    EXPECT_FALSE(pair.server.RpcNow(&rpcId, nullptr, 0, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0,
                                    PlayerID{Loopback(9), 9}, false));
    EXPECT_FALSE(pair.server.RpcBytes(nullptr, nullptr, 0, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0,
                                      pair.ClientId(), false, false, UNASSIGNED_NETWORK_ID, nullptr));
}

TEST(PeerSend, QueuedPayloadsOfEverySizeArriveIntact) {
    // Small payloads travel inside the queued command, the message record and the entry that
    // takes them to the user thread, larger ones in blocks of their own: each size sits on one
    // side of one of those limits. A broadcast hands one payload to several channels. (The
    // server accepts no split messages, so every size fits one datagram; the split path has
    // tests of its own.)
    PeerPair pair(4, nullptr, 2);
    ASSERT_TRUE(pair.Connect(0));
    ASSERT_TRUE(pair.Connect(1));
    const uint32_t sizes[] = {1, 56, 57, 95, 96, 97, 128, 129, 400};
    auto payload = [](uint32_t size) {
        std::vector<uint8_t> bytes(size);
        bytes[0] = 201;
        for (uint32_t i = 1; i < size; ++i) bytes[i] = uint8_t(i * 7 + size);
        return bytes;
    };
    for (uint32_t size : sizes) {
        const std::vector<uint8_t> bytes = payload(size);
        ASSERT_TRUE(pair.client(0).SendBytes(bytes.data(), int32_t(size), HIGH_PRIORITY_LEVEL,
                                             RELIABILITY_RELIABLE_ORDERED, 0, pair.ServerId(), false));
        ASSERT_TRUE(pair.server.SendBytes(bytes.data(), int32_t(size), HIGH_PRIORITY_LEVEL,
                                          RELIABILITY_RELIABLE_ORDERED, 0, UNASSIGNED_PLAYER_ID, true));
    }
    const size_t n = std::size(sizes);
    ASSERT_TRUE(pair.RoundsUntil([&] {
        return CountId(pair.serverGot, 201) == n && CountId(pair.clientGot[0], 201) == n &&
               CountId(pair.clientGot[1], 201) == n;
    }));
    for (const std::vector<Got>* got : {&pair.serverGot, &pair.clientGot[0], &pair.clientGot[1]}) {
        size_t k = 0;
        for (const Got& g : *got) {
            if (g.bytes.empty() || g.bytes[0] != 201) continue;
            EXPECT_EQ(g.bytes, payload(sizes[k])) << sizes[k];
            ++k;
        }
    }
}

TEST(PeerSend, BroadcastsReachConnectedSystemsOnly) {
    PeerPair pair(8, nullptr, 3);
    ASSERT_TRUE(pair.Connect(0));
    ASSERT_TRUE(pair.Connect(1));
    // The third is admitted to a slot but never gets past the open-connection exchange.
    pair.client(2).Disconnect(0, 0);
    pair.server.Settings().SetConnCookies(0);  // no cookie exchange for a sender with no socket
    const uint8_t open[3] = {ID_CONN_INCOMING, 0, 0};
    pair.server.HandleDatagram(Loopback(3), 3333, open, 3);
    ASSERT_NE(pair.server.GetConnectedSystem(PlayerID{Loopback(3), 3333}, true), nullptr);

    const uint8_t rpcId = 43;
    for (auto& client : pair.clients) client->RegisterRpc(&rpcId, RecordRpc);
    g_rpc = {};
    Tap tap;
    pair.server.SetRawSendTap(Tap::Record, &tap);
    const uint8_t payload[2] = {1, 2};
    ASSERT_TRUE(pair.server.RpcBytes(&rpcId, payload, 16, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE_ORDERED,
                                     2, UNASSIGNED_PLAYER_ID, true, false, UNASSIGNED_NETWORK_ID, nullptr));
    const uint8_t game[2] = {201, 7};
    ASSERT_TRUE(pair.server.SendBytes(game, 2, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0,
                                      UNASSIGNED_PLAYER_ID, true));
    ASSERT_TRUE(
        pair.server.SendNow(game, 16, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0, pair.ClientId(0), true));
    for (int i = 0; i < 30; ++i) pair.Round();

    ASSERT_EQ(g_rpc.bits.size(), 2u);                // one call per connected client
    EXPECT_EQ(CountId(pair.clientGot[0], 201), 1u);  // the immediate broadcast excluded client 0
    EXPECT_EQ(CountId(pair.clientGot[1], 201), 2u);
    for (const SentDatagram& d : tap.sent) EXPECT_NE(d.to.port, 3333) << "data went to an unverified slot";
}

// ---- how a connection ends -----------------------------------------------------------------------

TEST(PeerClosing, GracefulCloseNotifiesBothSides) {
    PeerPair pair;
    ASSERT_TRUE(pair.Connect());
    pair.client().CloseConnection(pair.ServerId(), true, 0);
    ASSERT_TRUE(pair.RoundsUntil([&] {
        return PeerPair::Has(pair.serverGot, ID_CONN_CLOSED) &&
               PeerPair::Has(pair.clientGot[0], ID_CONN_CLOSED);
    }));
    EXPECT_EQ(pair.server.GetIndexFromPlayerID(pair.ClientId()), -1);
    EXPECT_FALSE(PeerPair::Has(pair.serverGot, ID_CONN_LOST));
}

TEST(PeerClosing, CloseWithoutNoticeIsSilentHere) {
    PeerPair pair;
    ASSERT_TRUE(pair.Connect());
    pair.server.CloseConnection(pair.ClientId(), false, 0);
    pair.Round();
    EXPECT_EQ(pair.server.GetIndexFromPlayerID(pair.ClientId()), -1);
    EXPECT_FALSE(PeerPair::Has(pair.serverGot, ID_CONN_CLOSED));
}

TEST(PeerClosing, SilentRemoteIsLostAfterTheTimeout) {
    PeerPair pair;
    ASSERT_TRUE(pair.Connect());
    const uint8_t game[1] = {210};
    pair.server.SendBytes(game, 1, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0, pair.ClientId(), false);
    pair.client().Disconnect(0, 0);  // gone without a word
    pair.clients.clear();
    pair.clientGot.clear();
    for (int i = 0; i < 300 && !PeerPair::Has(pair.serverGot, ID_CONN_LOST); ++i) pair.Round(100);
    EXPECT_TRUE(PeerPair::Has(pair.serverGot, ID_CONN_LOST));
    EXPECT_GE(pair.clock.NowUs(), 5'000'000u + 10'000'000u);  // not before "playertimeout"
}

TEST(PeerClosing, DisconnectWithBlockNotifiesEveryConnection) {
    PeerPair pair(4, nullptr, 2);
    ASSERT_TRUE(pair.Connect(0));
    ASSERT_TRUE(pair.Connect(1));
    // The clients' passes (and time) must run while the server blocks in Disconnect, so they
    // get a thread.
    std::atomic<bool> stop{false};
    std::thread clients([&] {
        while (!stop) {
            pair.clock.AdvanceMs(2);
            for (auto& c : pair.clients) c->RunCycle();
            SleepMs(2);
        }
    });
    const NetTime start = GetTimeMs();
    pair.server.Disconnect(500, 0);
    const NetTime took = GetTimeMs() - start;
    stop = true;
    clients.join();
    pair.Collect();
    EXPECT_LT(took, 2000u);
    EXPECT_TRUE(PeerPair::Has(pair.clientGot[0], ID_CONN_CLOSED));
    EXPECT_TRUE(PeerPair::Has(pair.clientGot[1], ID_CONN_CLOSED));
}

// ---- timers of the network pass -----------------------------------------------------------------

TEST(PeerTimers, ClientThatNeverLogsOnIsKickedAtThirtySeconds) {
    PeerPair pair(4, nullptr, 2);
    ASSERT_TRUE(pair.Connect(0));
    ASSERT_TRUE(pair.Connect(1));
    pair.server.GetConnectedSystem(pair.ClientId(1))->loggedOn = 1;  // this one joined
    TakeLog();
    // Idle up to 30 s after the slots were given, in 1 s steps (pings and keep-alives keep both
    // links alive).
    const NetTime kickAfter = pair.server.GetConnectedSystem(pair.ClientId(0))->connectionTime + 30000;
    while (TimeBefore(pair.clock.NowMs(), kickAfter))
        pair.Round(std::min<uint32_t>(1000, kickAfter - pair.clock.NowMs()));
    EXPECT_TRUE(TakeLog().empty());
    EXPECT_EQ(pair.server.GetIndexFromPlayerID(pair.ClientId(0)), 0);
    pair.Round(1);
    EXPECT_EQ(TakeLog(),
              std::vector<std::string>{"Kicking 127.0.0.1 because they didn't logon to the game."});
    ASSERT_TRUE(pair.RoundsUntil([&] { return PeerPair::Has(pair.clientGot[0], ID_CONN_CLOSED); }));
    EXPECT_EQ(pair.server.GetIndexFromPlayerID(pair.ClientId(0)), -1);
    EXPECT_GE(pair.server.GetIndexFromPlayerID(pair.ClientId(1)), 0);
    EXPECT_FALSE(PeerPair::Has(pair.clientGot[1], ID_CONN_CLOSED));
}

TEST(PeerTimers, KeepAliveAndOccasionalPing) {
    PeerPair pair;
    ASSERT_TRUE(pair.Connect());
    pair.server.GetConnectedSystem(pair.ClientId())->loggedOn = 1;
    for (int i = 0; i < 20; ++i) pair.Round();  // settle: first ping measured, all acknowledged
    auto sent = [&](int priority) {
        return pair.server.GetStatistics(pair.ClientId())->messagesSent[priority];
    };
    const uint32_t keepAlives = sent(LOW_PRIORITY_LEVEL);
    const uint32_t system = sent(SYSTEM_PRIORITY_LEVEL);
    EXPECT_EQ(keepAlives, 0u);

    // Idle 5.5 s: one keep-alive; the next one not before the timeout (10 s) plus 5 s later.
    for (int i = 0; i < 11; ++i) pair.Round(500);
    EXPECT_EQ(sent(LOW_PRIORITY_LEVEL), keepAlives + 1);
    for (int i = 0; i < 28; ++i) pair.Round(500);  // 14 s more
    EXPECT_EQ(sent(LOW_PRIORITY_LEVEL), keepAlives + 1);
    for (int i = 0; i < 4; ++i) pair.Round(500);
    EXPECT_EQ(sent(LOW_PRIORITY_LEVEL), keepAlives + 2);
    // Occasional ping off: once measured, no more pings.
    EXPECT_EQ(sent(SYSTEM_PRIORITY_LEVEL), system);

    pair.server.SetOccasionalPing(true);
    for (int i = 0; i < 40; ++i) pair.Round(500);  // 20 s
    const uint32_t pings = sent(SYSTEM_PRIORITY_LEVEL) - system;
    EXPECT_GE(pings, 3u);
    EXPECT_LE(pings, 5u);
}

// A settled connection sits out passes until its next deadline. Whatever reaches it before
// then must bring it back at the very next pass: a send from the user thread straight into its
// channel, a queued send, a setting, or a clock that stepped back.
TEST(PeerTimers, IdleConnectionIsServedAtTheNextPassOnceAnythingReachesIt) {
    PeerPair pair;
    ASSERT_TRUE(pair.Connect());
    pair.server.GetConnectedSystem(pair.ClientId())->loggedOn = 1;
    for (int i = 0; i < 20; ++i) pair.Round();  // settled: nothing due for seconds
    const uint8_t message[] = {200, 1, 2, 3};
    auto arrived = [&] { return CountId(pair.clientGot[0], 200); };

    ASSERT_TRUE(pair.server.SendNow(message, sizeof message * 8, HIGH_PRIORITY_LEVEL,
                                    RELIABILITY_RELIABLE_ORDERED, 0, pair.ClientId(), false));
    pair.Round(1);
    EXPECT_EQ(arrived(), 1u);

    for (int i = 0; i < 5; ++i) pair.Round();
    ASSERT_TRUE(pair.server.SendBytes(message, sizeof message, HIGH_PRIORITY_LEVEL,
                                      RELIABILITY_RELIABLE_ORDERED, 0, pair.ClientId(), false));
    pair.Round(1);
    EXPECT_EQ(arrived(), 2u);

    // A shorter timeout moves the dead-link check forward: a silent client is now lost at 1 s.
    for (int i = 0; i < 5; ++i) pair.Round();
    pair.server.SetTimeoutTime(1000, pair.ClientId());
    ASSERT_TRUE(pair.server.SendNow(message, sizeof message * 8, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0,
                                    pair.ClientId(), false));
    for (int i = 0; i < 12; ++i) {
        pair.clock.AdvanceMs(100);
        pair.server.RunCycle();  // the client is silent
        pair.Collect();
    }
    EXPECT_EQ(CountId(pair.serverGot, ID_CONN_LOST), 1u);
}

// ---- pings and clock differentials ---------------------------------------------------------------

TEST(PeerPing, GettersFillInOnceMeasured) {
    PeerPair pair;
    const PlayerID stranger{Loopback(8), 8};
    EXPECT_EQ(pair.server.GetAveragePing(stranger), -1);
    EXPECT_EQ(pair.server.GetLastPing(stranger), -1);
    EXPECT_EQ(pair.server.GetLowestPing(stranger), -1);
    ASSERT_TRUE(pair.Connect());
    for (int i = 0; i < 20; ++i) pair.Round(10);
    for (NetPeer* peer : {&pair.server, &pair.client()}) {
        const PlayerID other = peer == &pair.server ? pair.ClientId() : pair.ServerId();
        const int32_t last = peer->GetLastPing(other);
        EXPECT_GE(last, 0);
        EXPECT_LT(last, 1200);
        EXPECT_EQ(peer->GetLowestPing(other), last);
        EXPECT_EQ(peer->GetAveragePing(other), last);
    }
    pair.server.Ping(pair.ClientId());
    for (int i = 0; i < 20; ++i) pair.Round(10);
    EXPECT_GE(pair.server.GetAveragePing(pair.ClientId()), 0);
}

TEST(PeerPing, ConnectionsMadeAfter25DaysOfUptimeArePingedToo) {
    PeerPair pair;
    pair.clock.us = (uint64_t{1} << 31) * 1000 + 5'000'000;  // the ms clock is past 2^31
    pair.server.SetOccasionalPing(true);
    ASSERT_TRUE(pair.Connect());
    pair.server.GetConnectedSystem(pair.ClientId())->loggedOn = 1;
    for (int i = 0; i < 20; ++i) pair.Round(10);
    const uint32_t before = pair.server.GetStatistics(pair.ClientId())->messagesSent[SYSTEM_PRIORITY_LEVEL];
    for (int i = 0; i < 40; ++i) pair.Round(500);  // 20 s
    EXPECT_GE(pair.server.GetStatistics(pair.ClientId())->messagesSent[SYSTEM_PRIORITY_LEVEL] - before, 3u);
}

TEST(PeerPing, AcceptanceRuleAndClockDifferential) {
    struct Step {
        NetTime sent, remote, now;
        bool accepted;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"1300 ms into an empty entry is discarded", {{1000, 0, 2300, false}}},
        {"1100 ms into an empty entry is kept", {{1000, 0, 2100, true}}},
        {"an answer from the future counts as 0 ms", {{5000, 0, 4000, true}}},
        {"after 100 ms in the same entry, 300 is refused and 299 kept",
         {{0, 0, 100, true},
          {0, 0, 5, true},
          {0, 0, 5, true},
          {0, 0, 5, true},
          {0, 0, 5, true},
          {1000, 0, 1300, false},
          {1000, 0, 1299, true}}},
        {"an entry holding 0 takes anything",
         {{7, 0, 7, true},
          {0, 0, 5, true},
          {0, 0, 5, true},
          {0, 0, 5, true},
          {0, 0, 5, true},
          {0, 0, 5000, true}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ConnectedSystem slot;
        for (auto& p : slot.pingHistory) p = {kNoPing, 0};
        for (const Step& s : c.steps) EXPECT_EQ(RecordPing(slot, s.sent, s.remote, s.now), s.accepted);
    }

    // The remote clock is compared with the middle of the round trip, also past 2^31 ms.
    ConnectedSystem slot;
    for (auto& p : slot.pingHistory) p = {kNoPing, 0};
    const NetTime sent = 0x90000000u;  // about 28 days after the origin
    ASSERT_TRUE(RecordPing(slot, sent, 0x10000000u, sent + 200));
    EXPECT_EQ(slot.pingHistory[0].clockDifferential, int32_t(0x10000000u - (sent + 100)));
    ASSERT_TRUE(RecordPing(slot, 50, 5000, 90));  // 40 ms: now the best
    EXPECT_EQ(BestClockDifferential(slot), 5000 - 70);
    EXPECT_EQ(slot.lowestPing, 40);
}

TEST(PeerPing, TimestampsArriveInTheReceiversClock) {
    PeerPair pair(4, nullptr, 0);
    const PeerClock& clientClock = *pair.OffsetBy(3'600'000);  // an hour ahead
    NetPeer& client = pair.AddClient("127.0.0.1", &clientClock);
    ASSERT_TRUE(pair.Connect());
    for (int i = 0; i < 30; ++i) pair.Round(10);

    const NetTime clientNow = clientClock.NowMs();
    uint8_t message[6] = {ID_TIMESTAMPED, 0, 0, 0, 0, 205};
    std::memcpy(message + 1, &clientNow, 4);  // x86: little-endian, as on the wire
    pair.serverGot.clear();
    ASSERT_TRUE(
        client.SendBytes(message, 6, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0, pair.ServerId(), false));
    ASSERT_TRUE(pair.RoundsUntil([&] { return !pair.serverGot.empty(); }));
    const NetTime seen = ReadLe32(pair.serverGot[0].bytes, 1);
    const NetTime serverThen = NetTime(pair.clock.NowMs());
    // Within the few passes the message took, in the server's own clock.
    EXPECT_LE(int32_t(serverThen - seen), 200);
    EXPECT_GE(int32_t(serverThen - seen), -200);
    EXPECT_EQ(pair.serverGot[0].bytes[5], 205);
}

// ---- plugins and the user-side queue ---------------------------------------------------------------

struct KeepingPlugin final : PluginInterface {
    std::vector<Packet*> kept;
    std::vector<uint8_t> seen;
    int updates = 0;
    void Update(NetPeerInterface*) override { ++updates; }
    PluginReceiveResult Received(NetPeerInterface*, Packet* p) override {
        seen.push_back(p->data[0]);
        if (p->data[0] == 211) {
            kept.push_back(p);
            return PRR_KEEP;
        }
        return p->data[0] == 212 ? PRR_DEALLOCATE : PRR_CONTINUE;
    }
};

TEST(PeerPlugins, ReceivedDecidesWhatTheUserSees) {
    PeerPair pair;
    ASSERT_TRUE(pair.Connect());
    KeepingPlugin plugin;
    pair.server.AttachPlugin(&plugin);
    pair.server.AttachPlugin(&plugin);  // once only
    pair.serverGot.clear();
    for (uint8_t id : {211, 212, 213}) {
        const uint8_t m[1] = {id};
        pair.client().SendBytes(m, 1, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE_ORDERED, 0, pair.ServerId(),
                                false);
    }
    ASSERT_TRUE(pair.RoundsUntil([&] { return plugin.seen.size() == 3; }));
    ASSERT_EQ(pair.serverGot.size(), 1u);
    EXPECT_EQ(pair.serverGot[0].Id(), 213);
    EXPECT_GT(plugin.updates, 0);
    ASSERT_EQ(plugin.kept.size(), 1u);

    // A kept packet is the plugin's; it may hand it back, at the head of the queue.
    pair.server.DetachPlugin(&plugin);
    Packet* other = NewPacket(1);
    other->data[0] = 214;
    pair.server.PushBackPacket(other, false);
    pair.server.PushBackPacket(plugin.kept[0], true);
    std::vector<Got> got = Drain(pair.server);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].Id(), 211);
    EXPECT_EQ(got[1].Id(), 214);
}

// The user takes received messages one at a time; a packet handed back at the tail still
// goes behind every message the network thread has received by then.
TEST(PeerPlugins, PacketHandedBackAtTheTailFollowsEverythingReceived) {
    PeerPair pair;
    ASSERT_TRUE(pair.Connect());
    for (int i = 0; i < 10; ++i) pair.Round();
    pair.serverGot.clear();
    for (uint8_t id : {221, 222, 223}) {
        const uint8_t m[1] = {id};
        pair.client().SendBytes(m, 1, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE_ORDERED, 0, pair.ServerId(),
                                false);
    }
    Packet* first = nullptr;
    for (int i = 0; i < 500 && first == nullptr; ++i) {
        pair.clock.AdvanceMs(10);
        pair.client().RunCycle();
        pair.server.RunCycle();
        first = pair.server.Receive();
        if (first != nullptr && first->data[0] != 221) {  // anything else of the handshake
            pair.server.FreePacket(first);
            first = nullptr;
        }
        if (first == nullptr) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_NE(first, nullptr);
    pair.server.FreePacket(first);
    Packet* back = NewPacket(1);
    back->data[0] = 224;
    pair.server.PushBackPacket(back, false);
    std::vector<Got> got = Drain(pair.server);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].Id(), 222);
    EXPECT_EQ(got[1].Id(), 223);
    EXPECT_EQ(got[2].Id(), 224);
}

}  // namespace
}  // namespace velt
