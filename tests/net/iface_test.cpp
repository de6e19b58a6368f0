// The peer interface as other programs of the library use it: the factory, the operations that
// are the peer's own (MTU, password, plugins), and two plain peers talking to each other.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "net/BitStream.h"
#include "net/MessageIdentifiers.h"
#include "net/NetworkFactory.h"
#include "net/NetworkStatistics.h"
#include "net/ext/ConnectionGraph.h"
#include "net/ext/ConsoleServer.h"
#include "net/ext/LogCommandParser.h"
#include "net/ext/NetCommandParser.h"
#include "net/ext/NetTransport.h"
#include "net/ext/PacketLogger.h"
#include "net/ext/ReplicaManager.h"
#include "net/ext/Router.h"
#include "net/ext/TelnetTransport.h"
#include "tests/net/iface_support.h"

namespace velt {
namespace {

using test::Drain;
using test::HasId;
using test::Received;
using test::WaitFor;

constexpr uint8_t kUserId = 150;  // any identifier the peer hands to the user

// ---- factory ------------------------------------------------------------------------------------

TEST(IfaceFactory, EveryDestroyIgnoresNull) {
    DestroyNetClient(nullptr);
    DestroyNetServer(nullptr);
    DestroyNetPeer(nullptr);
    DestroyConsoleServer(nullptr);
    DestroyReplicaManager(nullptr);
    DestroyLogCommandParser(nullptr);
    DestroyPacketLogger(nullptr);
    DestroyCommandParser(nullptr);
    DestroyTransport(nullptr);
    DestroyTelnetTransport(nullptr);
    DestroyPacketConsoleLogger(nullptr);
    DestroyPacketFileLogger(nullptr);
    DestroyRouter(nullptr);
    DestroyConnectionGraph(nullptr);
}

TEST(IfaceFactory, ExtensionsStartEmptyAndDestroyCleanly) {
    ConsoleServer* console = CreateConsoleServer();
    EXPECT_EQ(console->GetTransport(), nullptr);
    EXPECT_EQ(console->GetParserCount(), 0u);
    DestroyConsoleServer(console);

    LogCommandParser* log = CreateLogCommandParser();
    EXPECT_EQ(log->GetCommandCount(), 2u);
    EXPECT_TRUE(log->FindCommand("subscribe", nullptr));  // names match without case
    EXPECT_TRUE(log->FindCommand("Unsubscribe", nullptr));
    EXPECT_EQ(log->GetChannelCount(), 0u);
    DestroyLogCommandParser(log);

    NetCommandParser* net = CreateCommandParser();
    EXPECT_EQ(net->GetCommandCount(), 38u);  // one per mirrored peer operation, no duplicates
    CommandEntry entry{};
    ASSERT_TRUE(net->FindCommand("SetTimeoutTime", &entry));
    EXPECT_EQ(entry.parameterCount, 3);  // ms plus a PlayerID of two words
    EXPECT_EQ(net->GetNetPeerInterface(), nullptr);
    DestroyCommandParser(net);

    NetTransport* transport = CreateTransport();
    EXPECT_EQ(transport->GetPeer(), nullptr);
    DestroyTransport(transport);
    TelnetTransport* telnet = CreateTelnetTransport();
    EXPECT_EQ(telnet->GetClientCount(), 0u);
    DestroyTelnetTransport(telnet);

    Router* router = CreateRouter();
    uint8_t byte = 1;
    // An empty graph knows no route: a peer relying on it reports the send as failed.
    EXPECT_FALSE(
        router->Send(&byte, 8, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0, PlayerID{0x0100007F, 1234}));
    DestroyRouter(router);
    DestroyConnectionGraph(CreateConnectionGraph());
    ReplicaManager* replicas = CreateReplicaManager();
    EXPECT_EQ(replicas->GetParticipantCount() + replicas->GetObjectCount(), 0u);
    DestroyReplicaManager(replicas);
    PacketFileLogger* fileLogger = CreatePacketFileLogger();
    EXPECT_FALSE(fileLogger->HasFile());
    DestroyPacketFileLogger(fileLogger);
    PacketConsoleLogger* consoleLogger = CreatePacketConsoleLogger();
    EXPECT_EQ(consoleLogger->GetLogCommandParser(), nullptr);
    DestroyPacketConsoleLogger(consoleLogger);
    DestroyPacketLogger(CreatePacketLogger());
}

// Destroying through the interface pointer must reach the whole object, whichever base the
// interface is (the server's interface is its first base, the client's its second).
TEST(IfaceFactory, PeersDestroyThroughTheirInterfaces) {
    NetServerInterface* server = CreateNetServer();
    NetClientInterface* client = CreateNetClient();
    NetPeerInterface* peer = CreateNetPeer();
    ASSERT_TRUE(server->Start(4, 0, 1, 0, "127.0.0.1"));
    ASSERT_TRUE(peer->Initialize(1, 0, 1, "127.0.0.1"));
    EXPECT_TRUE(client->Connect("127.0.0.1", server->GetInternalID().port, 0, 0, 1));
    DestroyNetClient(client);
    DestroyNetPeer(peer);
    DestroyNetServer(server);
}

// ---- the peer's own settings ---------------------------------------------------------------------

TEST(IfacePeer, MtuIsClampedAndRefusedWhileRunning) {
    NetPeerInterface* peer = CreateNetPeer();
    EXPECT_EQ(peer->GetMTUSize(), 576);
    struct Case {
        int32_t asked, stored;
    } cases[] = {{100, 512}, {2000, 1492}, {-5, 512}, {512, 512}, {1492, 1492}, {1000, 1000}};
    for (const Case& c : cases) {
        EXPECT_TRUE(peer->SetMTUSize(c.asked)) << c.asked;
        EXPECT_EQ(peer->GetMTUSize(), c.stored) << c.asked;
    }
    ASSERT_TRUE(peer->Initialize(1, 0, 1, "127.0.0.1"));
    EXPECT_FALSE(peer->SetMTUSize(600));
    EXPECT_EQ(peer->GetMTUSize(), 1000);
    peer->Disconnect(0, 0);
    EXPECT_TRUE(peer->SetMTUSize(600));
    EXPECT_EQ(peer->GetMTUSize(), 600);
    DestroyNetPeer(peer);
}

TEST(IfacePeer, PasswordIsCappedAndCopiedOutByTheCallersLength) {
    NetPeerInterface* peer = CreateNetPeer();
    std::string longPassword(300, 'x');
    for (size_t i = 0; i < longPassword.size(); ++i) longPassword[i] = char('a' + i % 26);
    peer->SetIncomingPassword(longPassword.data(), 300);

    int32_t length = 0;
    peer->GetIncomingPassword(nullptr, &length);
    EXPECT_EQ(length, 255);

    char small[10];
    length = sizeof small;
    peer->GetIncomingPassword(small, &length);
    EXPECT_EQ(length, 10);
    EXPECT_EQ(std::string(small, 10), longPassword.substr(0, 10));

    std::vector<char> big(400, 0);
    length = 400;
    peer->GetIncomingPassword(big.data(), &length);
    EXPECT_EQ(length, 255);
    EXPECT_EQ(std::string(big.data(), 255), longPassword.substr(0, 255));

    peer->SetIncomingPassword(nullptr, 5);
    length = 99;
    peer->GetIncomingPassword(nullptr, &length);
    EXPECT_EQ(length, 0);
    peer->SetIncomingPassword("abc", 0);
    length = 99;
    peer->GetIncomingPassword(nullptr, &length);
    EXPECT_EQ(length, 0);
    DestroyNetPeer(peer);
}

TEST(IfacePeer, StatisticsNeedARunningPeer) {
    NetPeerInterface* peer = CreateNetPeer();
    EXPECT_EQ(peer->GetStatistics(UNASSIGNED_PLAYER_ID), nullptr);
    EXPECT_EQ(peer->GetStatistics(PlayerID{0x0100007F, 1}), nullptr);
    ASSERT_TRUE(peer->Initialize(1, 0, 1, "127.0.0.1"));
    EXPECT_EQ(peer->GetStatistics(PlayerID{0x0100007F, 1}), nullptr);  // no such connection
    DestroyNetPeer(peer);
}

// ---- plugins ----------------------------------------------------------------------------------

// Writes down every call in order; its Received answer is chosen per packet id.
class RecordingPlugin : public PluginInterface {
public:
    std::vector<std::string> calls;
    PluginReceiveResult answerFor[256];
    std::vector<Packet*> kept;

    RecordingPlugin() {
        for (auto& a : answerFor) a = PRR_CONTINUE;
    }
    ~RecordingPlugin() override {
        for (Packet* p : kept) FreePacket(p);
    }
    void Attached(NetPeerInterface*) override { calls.push_back("attached"); }
    void Detached(NetPeerInterface*) override { calls.push_back("detached"); }
    void Started(NetPeerInterface*) override { calls.push_back("started"); }
    void Update(NetPeerInterface*) override { calls.push_back("update"); }
    PluginReceiveResult Received(NetPeerInterface*, Packet* packet) override {
        calls.push_back("received " + std::to_string(packet->length > 1 ? packet->data[1] : -1));
        PluginReceiveResult r = answerFor[packet->length > 1 ? packet->data[1] : 0];
        if (r == PRR_KEEP) kept.push_back(packet);
        return r;
    }
    void Disconnecting(NetPeerInterface*) override { calls.push_back("disconnecting"); }
};

Packet* UserPacket(uint8_t tag) {
    Packet* p = NewPacket(2);
    p->data[0] = kUserId;
    p->data[1] = tag;
    return p;
}

TEST(IfacePlugin, AttachOnceDetachOnlyWhatIsAttached) {
    NetPeerInterface* peer = CreateNetPeer();
    RecordingPlugin a, b;
    peer->AttachPlugin(&a);
    peer->AttachPlugin(&a);
    peer->DetachPlugin(&b);  // never attached
    peer->DetachPlugin(nullptr);
    EXPECT_EQ(a.calls, (std::vector<std::string>{"attached"}));
    EXPECT_TRUE(b.calls.empty());
    peer->DetachPlugin(&a);
    peer->DetachPlugin(&a);
    EXPECT_EQ(a.calls, (std::vector<std::string>{"attached", "detached"}));
    DestroyNetPeer(peer);
}

// Each plugin's verdict: 0 frees the packet (nobody else sees it), 2 hands it over (the peer
// forgets it), 1 passes it on; Update comes first in every receive call.
TEST(IfacePlugin, VerdictsDecideWhoSeesEachPacket) {
    NetPeerInterface* peer = CreateNetPeer();
    RecordingPlugin first, second;
    first.answerFor[1] = PRR_DEALLOCATE;
    first.answerFor[2] = PRR_KEEP;
    peer->AttachPlugin(&first);
    peer->AttachPlugin(&second);
    ASSERT_TRUE(peer->Initialize(1, 0, 1, "127.0.0.1"));
    for (uint8_t tag : {1, 2, 3}) peer->PushBackPacket(UserPacket(tag), false);
    peer->PushBackPacket(UserPacket(0), true);  // at the head: handed out first

    std::vector<Received> got;
    Drain(peer, got);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].bytes[1], 0);
    EXPECT_EQ(got[1].bytes[1], 3);
    ASSERT_EQ(first.kept.size(), 1u);
    EXPECT_EQ(first.kept[0]->data[1], 2);

    // Three receive calls: packet 0, then packet 3 (1 freed and 2 kept on the way), then none.
    EXPECT_EQ(first.calls, (std::vector<std::string>{"attached", "started", "update", "received 0", "update",
                                                     "received 1", "received 2", "received 3", "update"}));
    EXPECT_EQ(second.calls, (std::vector<std::string>{"attached", "started", "update", "received 0", "update",
                                                      "received 3", "update"}));

    peer->Disconnect(0, 0);
    EXPECT_EQ(first.calls.back(), "disconnecting");
    peer->DetachPlugin(&first);
    peer->DetachPlugin(&second);
    DestroyNetPeer(peer);
}

// ---- two plain peers --------------------------------------------------------------------------

// Peers made for other programs of the library scramble nothing and accept split messages, so
// two of them talk to each other; messages larger than the MTU arrive whole and in order.
TEST(IfaceLibraryPeers, ExchangeSplitMessagesLargerThanTheMtu) {
    NetPeerInterface* a = CreateNetPeer();
    NetPeerInterface* b = CreateNetPeer();
    ASSERT_TRUE(a->Initialize(2, 0, 1, "127.0.0.1"));
    ASSERT_TRUE(b->Initialize(2, 0, 1, "127.0.0.1"));
    a->SetMaximumIncomingConnections(2);
    ASSERT_TRUE(b->Connect("127.0.0.1", a->GetInternalID().port, nullptr, 0));

    std::vector<Received> atA, atB;
    ASSERT_TRUE(WaitFor([&] {
        Drain(a, atA);
        Drain(b, atB);
        return HasId(atB, ID_CONN_ACCEPTED) && HasId(atA, ID_CONN_HANDSHAKE_DONE);
    }));
    PlayerID bAtA{}, aAtB = a->GetInternalID();
    for (const Received& r : atA)
        if (r.id() == ID_CONN_HANDSHAKE_DONE) bAtA = r.sender;
    // Each side learned from the other how it is seen; both are bound to 127.0.0.1 itself.
    EXPECT_EQ(a->GetExternalID(bAtA), a->GetInternalID());
    EXPECT_EQ(b->GetExternalID(aAtB), b->GetInternalID());
    EXPECT_EQ(a->GetExternalID(PlayerID{0x0200007F, 1}), UNASSIGNED_PLAYER_ID);

    const uint32_t sizes[] = {600, 1500, 4096, 20000};
    auto message = [](uint32_t size, uint32_t salt) {
        std::vector<uint8_t> m(size);
        for (uint32_t i = 0; i < size; ++i) m[i] = uint8_t(i * 7 + salt);
        m[0] = kUserId;
        return m;
    };
    for (uint32_t s : sizes) {
        auto m = message(s, 1);
        ASSERT_TRUE(a->SendBytes(m.data(), int32_t(m.size()), HIGH_PRIORITY_LEVEL,
                                 RELIABILITY_RELIABLE_ORDERED, 0, bAtA, false));
        auto n = message(s, 2);
        ASSERT_TRUE(b->SendBytes(n.data(), int32_t(n.size()), HIGH_PRIORITY_LEVEL,
                                 RELIABILITY_RELIABLE_ORDERED, 0, aAtB, false));
    }
    atA.clear();
    atB.clear();
    auto userMessages = [](const std::vector<Received>& all) {
        std::vector<std::vector<uint8_t>> out;
        for (const Received& r : all)
            if (r.id() == kUserId) out.push_back(r.bytes);
        return out;
    };
    ASSERT_TRUE(WaitFor([&] {
        Drain(a, atA);
        Drain(b, atB);
        return userMessages(atA).size() >= 4 && userMessages(atB).size() >= 4;
    }));
    auto gotAtB = userMessages(atB), gotAtA = userMessages(atA);
    ASSERT_EQ(gotAtB.size(), 4u);
    ASSERT_EQ(gotAtA.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(gotAtB[i], message(sizes[i], 1)) << sizes[i];
        EXPECT_EQ(gotAtA[i], message(sizes[i], 2)) << sizes[i];
    }
    DestroyNetPeer(b);
    DestroyNetPeer(a);
}

// Both directions compressed with one shared code; the per-byte send counters see the raw bytes.
TEST(IfaceLibraryPeers, CompressedLinkDeliversIntactAndCountsBytes) {
    uint32_t frequencies[kFrequencyTableSize];
    for (uint32_t i = 0; i < kFrequencyTableSize; ++i) frequencies[i] = 1;
    for (char ch : std::string("etaoin shrdlu")) frequencies[uint8_t(ch)] = 1000;
    frequencies[kUserId] = 500;

    NetPeerInterface* a = CreateNetPeer();
    NetPeerInterface* b = CreateNetPeer();
    for (NetPeerInterface* p : {a, b}) {
        ASSERT_TRUE(p->BuildCompressionTree(frequencies, true));
        ASSERT_TRUE(p->BuildCompressionTree(frequencies, false));
    }
    a->SetTrackFrequencyTable(true);
    ASSERT_TRUE(a->Initialize(2, 0, 1, "127.0.0.1"));
    ASSERT_TRUE(b->Initialize(2, 0, 1, "127.0.0.1"));
    // The trees and the counters may only change while the peer is stopped.
    EXPECT_FALSE(a->BuildCompressionTree(frequencies, true));
    EXPECT_FALSE(a->DeleteCompressionTree(true));
    uint32_t table[kFrequencyTableSize];
    EXPECT_FALSE(a->GetSendFrequencyTable(table));

    a->SetMaximumIncomingConnections(2);
    ASSERT_TRUE(b->Connect("127.0.0.1", a->GetInternalID().port, nullptr, 0));
    std::vector<Received> atA, atB;
    PlayerID bAtA = UNASSIGNED_PLAYER_ID;
    ASSERT_TRUE(WaitFor([&] {
        Drain(a, atA);
        Drain(b, atB);
        for (const Received& r : atA)
            if (r.id() == ID_CONN_HANDSHAKE_DONE) bAtA = r.sender;
        return HasId(atB, ID_CONN_ACCEPTED) && bAtA != UNASSIGNED_PLAYER_ID;
    }));
    std::string text = "the rain in spain stays mainly on the plain; ";
    std::vector<uint8_t> m{kUserId};
    while (m.size() < 3000) m.insert(m.end(), text.begin(), text.end());
    const int kMessages = 4;
    for (int i = 0; i < kMessages; ++i)
        ASSERT_TRUE(a->SendBytes(m.data(), int32_t(m.size()), HIGH_PRIORITY_LEVEL,
                                 RELIABILITY_RELIABLE_ORDERED, 0, bAtA, false));
    std::vector<std::vector<uint8_t>> got;
    ASSERT_TRUE(WaitFor([&] {
        Drain(a, atA);
        atB.clear();
        Drain(b, atB);
        for (const Received& r : atB)
            if (r.id() == kUserId) got.push_back(r.bytes);
        return got.size() >= kMessages;
    }));
    for (const auto& g : got) EXPECT_EQ(g, m);
    float sent = a->GetCompressionRatio();
    float received = b->GetDecompressionRatio();
    EXPECT_GT(sent, 0.0f);
    EXPECT_LT(sent, 0.8f);  // common letters cost few bits
    EXPECT_GT(received, 1.2f);

    a->Disconnect(0, 0);
    ASSERT_TRUE(a->GetSendFrequencyTable(table));
    EXPECT_GE(table[kUserId], uint32_t(kMessages));
    EXPECT_GE(table[uint8_t('n')], uint32_t(kMessages) * 300);
    EXPECT_TRUE(a->DeleteCompressionTree(true));
    DestroyNetPeer(b);
    DestroyNetPeer(a);
}

class FakeRouter : public RouterInterface {
public:
    bool answer = true;
    int calls = 0;
    uint32_t lastBits = 0;
    PlayerID lastTarget{};
    bool Send(const uint8_t*, uint32_t bitLength, PacketPriority, MessageReliability, uint8_t,
              PlayerID target) override {
        ++calls;
        lastBits = bitLength;
        lastTarget = target;
        return answer;
    }
};

TEST(IfacePeer, SendsWithoutAConnectionGoThroughTheRouterWhileOneIsSet) {
    NetPeerInterface* peer = CreateNetPeer();
    ASSERT_TRUE(peer->Initialize(1, 0, 1, "127.0.0.1"));
    FakeRouter router, other;
    PlayerID stranger{0x0300007F, 4444};
    uint8_t m[3] = {kUserId, 1, 2};
    peer->SetRouter(&router);
    EXPECT_TRUE(peer->SendBytes(m, 3, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0, stranger, false));
    EXPECT_EQ(router.calls, 1);
    EXPECT_EQ(router.lastBits, 24u);
    EXPECT_EQ(router.lastTarget, stranger);
    router.answer = false;
    EXPECT_FALSE(peer->SendBytes(m, 3, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0, stranger, false));

    peer->RemoveRouter(&other);  // not the one set: stays
    peer->SendBytes(m, 3, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0, stranger, false);
    EXPECT_EQ(router.calls, 3);
    peer->RemoveRouter(&router);
    peer->SendBytes(m, 3, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0, stranger, false);
    EXPECT_EQ(router.calls, 3);
    EXPECT_EQ(other.calls, 0);
    DestroyNetPeer(peer);
}

TEST(IfacePeer, SimulatorIsActiveWhileAnySettingIsNonZero) {
    NetPeerInterface* peer = CreateNetPeer();
    EXPECT_FALSE(peer->IsNetworkSimulatorActive());
    struct Case {
        double bps;
        uint16_t ping, variance;
        bool active;
    } cases[] = {{0, 0, 5, true}, {0, 20, 0, true}, {1e6, 0, 0, true}, {0, 0, 0, false}};
    for (const Case& c : cases) {
        peer->ApplyNetworkSimulator(c.bps, c.ping, c.variance);
        EXPECT_EQ(peer->IsNetworkSimulatorActive(), c.active);
    }
    DestroyNetPeer(peer);
}

TEST(IfacePeer, LocalAddressesPastTheTableGiveItsLastEntry) {
    NetPeerInterface* peer = CreateNetPeer();
    uint32_t n = peer->GetNumberOfAddresses();
    EXPECT_LE(n, 10u);
    std::string last = peer->GetLocalIP(9);
    EXPECT_EQ(std::string(peer->GetLocalIP(10)), last);
    EXPECT_EQ(std::string(peer->GetLocalIP(1000)), last);
    DestroyNetPeer(peer);
}

}  // namespace
}  // namespace velt
