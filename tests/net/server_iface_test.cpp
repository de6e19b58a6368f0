// A small test server built the way the game core builds its own: CreateNetServer and nothing
// but NetServerInterface; its clients use nothing but NetClientInterface. Everything on
// 127.0.0.1 (and 127.0.0.2 where an address must be bannable), port 0, bounded waits.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "net/BitStream.h"
#include "net/ConnectedSystem.h"
#include "net/MessageIdentifiers.h"
#include "net/NetClient.h"
#include "net/NetServer.h"
#include "net/NetworkFactory.h"
#include "net/NetworkStatistics.h"
#include "net/PeerSettings.h"
#include "tests/net/iface_support.h"

namespace velt {
namespace {

using test::Drain;
using test::HasId;
using test::Received;
using test::WaitFor;

constexpr uint8_t kUserId = 150;
constexpr const char* kPassword = "secret";
// Low 16 bits unlike any slot index: a client that took its index from the challenge would
// show 0x5A5A.
constexpr uint32_t kChallenge = 0x12345A5Au;

struct ClientDeleter {
    void operator()(NetClientInterface* c) const { DestroyNetClient(c); }
};
using ClientPtr = std::unique_ptr<NetClientInterface, ClientDeleter>;

class ServerIface : public ::testing::Test {
protected:
    void SetUp() override {
        server = CreateNetServer();
        server->GetPeerSettings().SetConnCookies(1);
        server->GetPeerSettings().SetServerChallenge(kChallenge);
        server->SetPassword(kPassword);
        ASSERT_TRUE(server->Start(8, 0, 1, 0, "127.0.0.1"));
        port = server->GetInternalID().port;
        ASSERT_NE(port, 0);
    }
    void TearDown() override {
        clients.clear();
        server->Disconnect(0, 0);
        DestroyNetServer(server);
    }

    NetClientInterface* AddClient() {
        clients.emplace_back(CreateNetClient());
        atClient.emplace_back();
        return clients.back().get();
    }

    void PumpOnce() {
        Drain(server, atServer);
        for (size_t i = 0; i < clients.size(); ++i) Drain(clients[i].get(), atClient[i]);
    }

    size_t IndexOf(NetClientInterface* c) const {
        for (size_t i = 0; i < clients.size(); ++i)
            if (clients[i].get() == c) return i;
        return clients.size();
    }

    // Connects with the given password and waits for the outcome: the identifier of the first
    // connection answer the client gets (34 accepted, 37 bad password, 36 banned ...).
    uint8_t ConnectClient(NetClientInterface* c, const char* password) {
        size_t i = IndexOf(c);
        atClient[i].clear();
        c->SetPassword(password);
        if (!c->Connect("127.0.0.1", port, 0, 0, 1)) return 0;
        uint8_t outcome = 0;
        WaitFor([&] {
            PumpOnce();
            for (const Received& r : atClient[i]) {
                uint8_t id = r.id();
                if (id == ID_CONN_ACCEPTED || id == ID_CONN_BAD_PASSWORD || id == ID_CONN_BANNED ||
                    id == ID_CONN_NO_FREE_SLOT || id == ID_CONN_ATTEMPT_FAILED) {
                    outcome = id;
                    return true;
                }
            }
            return false;
        });
        return outcome;
    }

    // The server's address for a connected client (from its completion notice).
    PlayerID WaitForServerSide(NetClientInterface* c) {
        PlayerID found = UNASSIGNED_PLAYER_ID;
        WaitFor([&] {
            PumpOnce();
            for (const Received& r : atServer)
                if (r.id() == ID_CONN_HANDSHAKE_DONE &&
                    server->GetIndexFromPlayerID(r.sender) == c->GetPlayerIndex())
                    found = r.sender;
            return found != UNASSIGNED_PLAYER_ID;
        });
        return found;
    }

    NetServerInterface* server = nullptr;
    uint16_t port = 0;
    std::vector<ClientPtr> clients;
    std::vector<Received> atServer;
    std::vector<std::vector<Received>> atClient;
};

// ---- connection ----------------------------------------------------------------------------

TEST_F(ServerIface, PasswordDecidesAdmission) {
    struct Case {
        const char* password;
        uint8_t outcome;
    } cases[] = {
        {kPassword, ID_CONN_ACCEPTED},
        {"wrong", ID_CONN_BAD_PASSWORD},
        {"secre", ID_CONN_BAD_PASSWORD},  // a prefix is not the password
        {nullptr, ID_CONN_BAD_PASSWORD},
    };
    for (const Case& c : cases) {
        NetClientInterface* client = AddClient();
        EXPECT_EQ(ConnectClient(client, c.password), c.outcome) << (c.password ? c.password : "(none)");
    }
    EXPECT_TRUE(server->HasPassword());
}

TEST_F(ServerIface, AcceptedClientKnowsItsSlotAndTheServerSeesIt) {
    NetClientInterface* first = AddClient();
    NetClientInterface* second = AddClient();
    ASSERT_EQ(ConnectClient(first, kPassword), ID_CONN_ACCEPTED);
    ASSERT_EQ(ConnectClient(second, kPassword), ID_CONN_ACCEPTED);
    ASSERT_TRUE(WaitFor([&] {
        PumpOnce();
        return first->IsConnected() && second->IsConnected() && server->GetConnectedCount() == 2;
    }));

    for (NetClientInterface* c : {first, second}) {
        PlayerID at = WaitForServerSide(c);
        ASSERT_NE(at, UNASSIGNED_PLAYER_ID);
        int32_t slot = server->GetIndexFromPlayerID(at);
        ASSERT_GE(slot, 0);
        // The index comes from the connection-accepted message's index field, not the challenge.
        EXPECT_EQ(c->GetPlayerIndex(), uint16_t(slot));
        for (const Received& r : atClient[IndexOf(c)]) {
            if (r.id() == ID_CONN_ACCEPTED) {
                EXPECT_EQ(r.playerIndex, uint16_t(slot));
            }
        }
        EXPECT_EQ(server->GetPlayerIDFromIndex(slot), at);
        EXPECT_TRUE(server->IsActivePlayerID(at));
        ConnectedSystem* cs = server->GetConnectedSystem(at);
        ASSERT_NE(cs, nullptr);
        EXPECT_EQ(cs->connectMode.load(), CM_CONNECTED);
        char text[16];
        uint16_t p = 0;
        server->GetPlayerAddress(at, text, &p);
        EXPECT_STREQ(text, "127.0.0.1");
        EXPECT_EQ(p, at.port);
        EXPECT_EQ(c->GetServerID().port, port);
    }
    EXPECT_NE(first->GetPlayerIndex(), second->GetPlayerIndex());
}

// ---- RPCs ----------------------------------------------------------------------------------

constexpr uint8_t kEchoRpc = 77;
constexpr uint8_t kQueuedReplyRpc = 78;
constexpr uint8_t kNowReplyRpc = 79;

NetServerInterface* gRpcServer = nullptr;
struct Payload {
    std::vector<uint8_t> bytes;
    uint32_t bits = 0;
    bool seen = false;
};
Payload gAtServer, gQueuedReply, gNowReply;

Payload Capture(const RpcCallParams* p) {
    Payload out;
    out.bits = p->payloadBits;
    if (p->payload != nullptr) out.bytes.assign(p->payload, p->payload + (p->payloadBits + 7) / 8);
    out.seen = true;
    return out;
}

// Sends the arguments straight back, once queued and once from this thread at once.
void EchoHandler(RpcCallParams* p) {
    gAtServer = Capture(p);
    BitStream args(p->payload, (p->payloadBits + 7) / 8, true);
    args.SetWriteCursor(int32_t(p->payloadBits));
    gRpcServer->Rpc(&kQueuedReplyRpc, &args, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE_ORDERED, 2, p->sender,
                    false, false);
    gRpcServer->RpcNow(&kNowReplyRpc, &args, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE_ORDERED, 2, p->sender,
                       false, false, UNASSIGNED_NETWORK_ID, nullptr);
}
void QueuedReplyHandler(RpcCallParams* p) { gQueuedReply = Capture(p); }
void NowReplyHandler(RpcCallParams* p) { gNowReply = Capture(p); }

TEST_F(ServerIface, RpcEchoThroughRpcAndRpcNow) {
    gRpcServer = server;
    gAtServer = gQueuedReply = gNowReply = Payload{};
    server->RegisterRpc(&kEchoRpc, EchoHandler);
    // Unregistering has no effect: the call below is still dispatched.
    server->UnregisterRpc(&kEchoRpc);
    NetClientInterface* client = AddClient();
    client->RegisterRpc(&kQueuedReplyRpc, QueuedReplyHandler);
    client->RegisterRpc(&kNowReplyRpc, NowReplyHandler);
    ASSERT_EQ(ConnectClient(client, kPassword), ID_CONN_ACCEPTED);

    // 29 bits: the arguments are not a whole number of bytes and must survive bit for bit.
    BitStream args;
    args.Write(uint16_t(0xBEEF));
    args.Write(uint8_t(0x5C));
    args.WriteOne();
    args.WriteZero();
    args.WriteOne();
    args.WriteOne();
    args.WriteZero();
    ASSERT_EQ(args.GetNumberOfBitsUsed(), 29);
    ASSERT_TRUE(client->Rpc(&kEchoRpc, &args, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE_ORDERED, 0, false));
    ASSERT_TRUE(WaitFor([&] {
        PumpOnce();
        return gQueuedReply.seen && gNowReply.seen;
    }));
    std::vector<uint8_t> expected(args.GetData(), args.GetData() + 4);
    expected[3] &= 0xF8;  // bits past the 29th are not part of the call
    for (Payload* p : {&gAtServer, &gQueuedReply, &gNowReply}) {
        EXPECT_EQ(p->bits, 29u);
        ASSERT_EQ(p->bytes.size(), 4u);
        p->bytes[3] &= 0xF8;
        EXPECT_EQ(p->bytes, expected);
    }
    gRpcServer = nullptr;
}

// ---- kicks and bans --------------------------------------------------------------------------

TEST_F(ServerIface, KickedClientIsToldAndItsSlotEmpties) {
    NetClientInterface* client = AddClient();
    ASSERT_EQ(ConnectClient(client, kPassword), ID_CONN_ACCEPTED);
    PlayerID at = WaitForServerSide(client);
    ASSERT_NE(at, UNASSIGNED_PLAYER_ID);
    int32_t slot = server->GetIndexFromPlayerID(at);

    server->Kick(at);
    size_t i = IndexOf(client);
    ASSERT_TRUE(WaitFor([&] {
        PumpOnce();
        return HasId(atClient[i], ID_CONN_CLOSED) && server->GetConnectedCount() == 0 &&
               !server->IsActivePlayerID(at);
    }));
    EXPECT_TRUE(WaitFor([&] {
        PumpOnce();
        return !client->IsConnected();
    }));
    // The slot is no longer connected, but still holds the address it had.
    EXPECT_EQ(server->GetPlayerIDFromIndex(slot), UNASSIGNED_PLAYER_ID);
    EXPECT_EQ(server->GetSlotPlayerID(slot), at);
}

TEST_F(ServerIface, BannedAddressCannotReconnectUntilUnbanned) {
    // 127.0.0.1 can never be banned (the server's own bots come from there), so this client
    // connects from a second loopback address.
    auto* concrete = new NetClient();
    concrete->SetLocalAddress("127.0.0.2");
    clients.emplace_back(concrete);
    atClient.emplace_back();
    NetClientInterface* client = concrete;

    ASSERT_EQ(ConnectClient(client, kPassword), ID_CONN_ACCEPTED);
    PlayerID at = WaitForServerSide(client);
    ASSERT_NE(at, UNASSIGNED_PLAYER_ID);
    server->AddToBanList("127.0.0.2", 0);
    EXPECT_TRUE(server->IsBanned("127.0.0.2"));
    server->Kick(at);
    ASSERT_TRUE(WaitFor([&] {
        PumpOnce();
        return HasId(atClient[0], ID_CONN_CLOSED);
    }));

    EXPECT_EQ(ConnectClient(client, kPassword), ID_CONN_BANNED);
    server->RemoveFromBanList("127.0.0.2");
    EXPECT_FALSE(server->IsBanned("127.0.0.2"));
    EXPECT_EQ(ConnectClient(client, kPassword), ID_CONN_ACCEPTED);
}

// ---- statistics -------------------------------------------------------------------------------

TEST_F(ServerIface, StatisticsTotalsAreTheSumsOverConnections) {
    NetClientInterface* a = AddClient();
    NetClientInterface* b = AddClient();
    ASSERT_EQ(ConnectClient(a, kPassword), ID_CONN_ACCEPTED);
    ASSERT_EQ(ConnectClient(b, kPassword), ID_CONN_ACCEPTED);
    PlayerID atA = WaitForServerSide(a), atB = WaitForServerSide(b);
    ASSERT_NE(atA, UNASSIGNED_PLAYER_ID);
    ASSERT_NE(atB, UNASSIGNED_PLAYER_ID);

    // Different amounts each way, so a total that counted one connection twice shows.
    uint8_t m[40] = {kUserId};
    for (int i = 0; i < 5; ++i)
        server->SendBytes(m, sizeof m, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0, atA, false);
    for (int i = 0; i < 9; ++i)
        server->SendBytes(m, sizeof m, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0, atB, false);
    for (int i = 0; i < 3; ++i) a->SendBytes(m, sizeof m, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0);

    // The counters move while acknowledgements and pings go on: compare a snapshot that held
    // still while it was taken.
    bool matched = false;
    NetworkStatistics sa{}, sb{}, total{};
    WaitFor([&] {
        PumpOnce();
        const NetworkStatistics* pa = server->GetStatistics(atA);
        if (pa == nullptr) return false;
        sa = *pa;  // the record may be shared between calls: copy at once
        const NetworkStatistics* pb = server->GetStatistics(atB);
        if (pb == nullptr) return false;
        sb = *pb;
        const NetworkStatistics* pt = server->GetStatistics(UNASSIGNED_PLAYER_ID);
        if (pt == nullptr) return false;
        total = *pt;
        NetworkStatistics again = *server->GetStatistics(atA);
        NetworkStatistics againB = *server->GetStatistics(atB);
        if (again.totalBitsSent != sa.totalBitsSent || againB.totalBitsSent != sb.totalBitsSent ||
            again.messagesReceived != sa.messagesReceived || againB.messagesReceived != sb.messagesReceived)
            return false;
        if (sa.messagesSent[HIGH_PRIORITY_LEVEL] < 5 || sb.messagesSent[HIGH_PRIORITY_LEVEL] < 9)
            return false;
        matched = true;
        return true;
    });
    ASSERT_TRUE(matched);
    for (int p = 0; p < kStatisticsPriorities; ++p) {
        EXPECT_EQ(total.messagesSent[p], sa.messagesSent[p] + sb.messagesSent[p]) << p;
        EXPECT_EQ(total.messageTotalBitsSent[p], sa.messageTotalBitsSent[p] + sb.messageTotalBitsSent[p])
            << p;
    }
    EXPECT_EQ(total.totalBitsSent, sa.totalBitsSent + sb.totalBitsSent);
    EXPECT_EQ(total.messagesReceived, sa.messagesReceived + sb.messagesReceived);
    EXPECT_EQ(total.bitsReceived, sa.bitsReceived + sb.bitsReceived);
    EXPECT_EQ(total.acksSent, sa.acksSent + sb.acksSent);
    EXPECT_NE(sa.totalBitsSent, sb.totalBitsSent);
}

// ---- plugins -----------------------------------------------------------------------------------

class CallLog : public PluginInterface {
public:
    std::vector<std::string> calls;
    void Started(NetPeerInterface*) override { calls.push_back("started"); }
    void Update(NetPeerInterface*) override { calls.push_back("update"); }
    PluginReceiveResult Received(NetPeerInterface*, Packet* packet) override {
        if (packet->length == 2 && packet->data[0] == kUserId)
            calls.push_back("message " + std::to_string(packet->data[1]));
        else
            calls.push_back("other");
        return PRR_CONTINUE;
    }
};

TEST_F(ServerIface, PluginSeesUpdateThenEachMessageInOrder) {
    CallLog log;
    server->AttachPlugin(&log);
    NetClientInterface* client = AddClient();
    ASSERT_EQ(ConnectClient(client, kPassword), ID_CONN_ACCEPTED);
    for (uint8_t tag = 0; tag < 6; ++tag) {
        uint8_t m[2] = {kUserId, tag};
        ASSERT_TRUE(client->SendBytes(m, 2, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE_ORDERED, 0));
    }
    std::vector<uint8_t> delivered;
    ASSERT_TRUE(WaitFor([&] {
        while (Packet* p = server->Receive()) {
            if (p->length == 2 && p->data[0] == kUserId) delivered.push_back(p->data[1]);
            server->FreePacket(p);
        }
        Drain(client, atClient[0]);
        return delivered.size() == 6;
    }));
    server->DetachPlugin(&log);

    // Every receive call starts with one Update; the plugin sees the messages before the user,
    // in the order they were sent.
    std::vector<std::string> messages;
    bool sawUpdate = false;
    for (const std::string& c : log.calls) {
        if (c == "update") sawUpdate = true;
        if (c.rfind("message ", 0) == 0) {
            EXPECT_TRUE(sawUpdate);
            messages.push_back(c);
        }
    }
    EXPECT_EQ(messages, (std::vector<std::string>{"message 0", "message 1", "message 2", "message 3",
                                                  "message 4", "message 5"}));
    EXPECT_EQ(delivered, (std::vector<uint8_t>{0, 1, 2, 3, 4, 5}));
    EXPECT_GT(std::count(log.calls.begin(), log.calls.end(), "update"), 1);
}

// ---- seeds -------------------------------------------------------------------------------------

// The seed broadcast goes out on the first receive call, then every 9 s and to each new
// connection, always rotating: the announced next seed becomes the current one. The client
// takes the messages out of its receive stream and serves the same seed.
TEST(ServerIfaceSeeds, BroadcastRotatesAndReachesClients) {
    SteppedPeerClock clock;
    NetServer server;
    server.SetClock(&clock);
    NetServerInterface& s = server;
    ASSERT_TRUE(s.Start(4, 0, 1, 0, "127.0.0.1"));
    uint32_t announced = server.GetNextSynchronizedSeed();
    EXPECT_EQ(s.GetSynchronizedSeed() & 1u, 1u);

    s.FreePacket(s.Receive());  // switched off: nothing happens
    EXPECT_EQ(server.GetNextSynchronizedSeed(), announced);

    s.StartSynchronizedSeeds();
    s.FreePacket(s.Receive());
    EXPECT_EQ(s.GetSynchronizedSeed(), announced);
    announced = server.GetNextSynchronizedSeed();
    EXPECT_EQ(announced & 1u, 1u);
    clock.AdvanceMs(8000);
    s.FreePacket(s.Receive());
    EXPECT_EQ(server.GetNextSynchronizedSeed(), announced);  // not yet due
    clock.AdvanceMs(1500);
    s.FreePacket(s.Receive());
    EXPECT_EQ(s.GetSynchronizedSeed(), announced);

    NetClientInterface* client = CreateNetClient();
    ASSERT_TRUE(client->Connect("127.0.0.1", s.GetInternalID().port, 0, 0, 1));
    std::vector<Received> atClient;
    bool handshakeSeen = false;
    ASSERT_TRUE(WaitFor([&] {
        for (;;) {
            uint32_t nextBefore = server.GetNextSynchronizedSeed();
            Packet* p = s.Receive();
            if (p == nullptr) break;
            if (p->length >= 1 && p->data[0] == ID_CONN_HANDSHAKE_DONE) {
                handshakeSeen = true;
                // The new connection got a message of its own, which rotated the seeds.
                EXPECT_EQ(s.GetSynchronizedSeed(), nextBefore);
            }
            s.FreePacket(p);
        }
        Drain(client, atClient);
        return handshakeSeen && client->GetSynchronizedSeed() == s.GetSynchronizedSeed();
    }));
    for (const Received& r : atClient) EXPECT_NE(r.id(), ID_TIMESTAMPED);
    DestroyNetClient(client);
    s.Disconnect(0, 0);
}

}  // namespace
}  // namespace velt
