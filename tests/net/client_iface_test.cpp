// The client interface as the bot program sees it: what fails before there is a connection, the
// password it connects with, and the library messages its receive call takes out of the stream
// (fed in through PushBackPacket, exactly as the peer would hand them over).

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "net/BitStream.h"
#include "net/Clock.h"
#include "net/MessageIdentifiers.h"
#include "net/NetworkFactory.h"
#include "tests/net/iface_support.h"

namespace velt {
namespace {

using test::Drain;
using test::HasId;
using test::Received;
using test::WaitFor;

constexpr uint8_t kUserId = 150;
constexpr uint8_t kSomeRpc = 90;

void ExpectEverythingAddressedToTheServerFails(NetClientInterface* c) {
    uint8_t bytes[4] = {kUserId, 1, 2, 3};
    BitStream bs;
    bs.Write(uint8_t(kUserId));
    EXPECT_FALSE(c->SendBytes(bytes, 4, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0));
    EXPECT_FALSE(c->Send(&bs, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0));
    EXPECT_FALSE(c->Rpc(&kSomeRpc, &bs, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0, false));
    EXPECT_FALSE(c->RpcBytes(&kSomeRpc, bytes, 32, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0, false,
                             UNASSIGNED_NETWORK_ID, nullptr));
    EXPECT_FALSE(c->RpcWithObject(&kSomeRpc, &bs, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0, false,
                                  UNASSIGNED_NETWORK_ID, nullptr));
    EXPECT_EQ(c->GetAveragePing(), -1);
    EXPECT_EQ(c->GetLastPing(), -1);
    EXPECT_EQ(c->GetLowestPing(), -1);
    EXPECT_EQ(c->GetServerID(), UNASSIGNED_PLAYER_ID);
    EXPECT_EQ(c->GetPlayerID(), UNASSIGNED_PLAYER_ID);
    EXPECT_EQ(c->GetStatistics(), nullptr);
    EXPECT_EQ(c->GetStaticServerData(), nullptr);
    EXPECT_FALSE(c->IsConnected());
    EXPECT_EQ(c->Receive(), nullptr);
    // Nothing to address: these do nothing rather than fail loudly.
    c->PingServer();
    c->SetTimeoutTime(1000);
    c->SendStaticClientDataToServer();
    c->SetStaticServerData(bytes, 4);
}

TEST(ClientIface, OperationsFailCleanlyBeforeConnectAndAfterDisconnect) {
    NetClientInterface* client = CreateNetClient();
    ExpectEverythingAddressedToTheServerFails(client);

    NetServerInterface* server = CreateNetServer();
    ASSERT_TRUE(server->Start(2, 0, 1, 0, "127.0.0.1"));
    ASSERT_TRUE(client->Connect("127.0.0.1", server->GetInternalID().port, 0, 0, 1));
    std::vector<Received> atClient, atServer;
    ASSERT_TRUE(WaitFor([&] {
        Drain(server, atServer);
        Drain(client, atClient);
        return client->IsConnected();
    }));
    EXPECT_EQ(client->GetServerID(), server->GetInternalID());
    EXPECT_NE(client->GetPlayerID(), UNASSIGNED_PLAYER_ID);
    EXPECT_NE(client->GetStatistics(), nullptr);
    client->Disconnect(0, 0);
    ExpectEverythingAddressedToTheServerFails(client);
    DestroyNetClient(client);
    DestroyNetServer(server);
}

// The client sends its password with the terminating zero, so an empty text would be a password
// of one zero byte; the client treats it as none. The server keeps that one byte.
TEST(ClientIface, EmptyPasswordMeansNoneOnTheClientOnly) {
    NetClientInterface* client = CreateNetClient();
    NetServerInterface* server = CreateNetServer();
    struct Case {
        const char* text;
        bool client, server;
    } cases[] = {{"x", true, true}, {"", false, true}, {nullptr, false, false}, {"pw", true, true}};
    for (const Case& c : cases) {
        client->SetPassword(c.text);
        server->SetPassword(c.text);
        EXPECT_EQ(client->HasPassword(), c.client) << (c.text ? c.text : "(null)");
        EXPECT_EQ(server->HasPassword(), c.server) << (c.text ? c.text : "(null)");
    }
    DestroyNetServer(server);
    DestroyNetClient(client);
}

// ---- what Receive takes out of the stream --------------------------------------------------------

class ClientFilter : public ::testing::Test {
protected:
    void SetUp() override {
        server = CreateNetServer();
        ASSERT_TRUE(server->Start(2, 0, 1, 0, "127.0.0.1"));
        client = CreateNetClient();
        ASSERT_TRUE(client->Connect("127.0.0.1", server->GetInternalID().port, 0, 0, 1));
        std::vector<Received> atClient, atServer;
        // The server's static data follows the handshake as a user message; wait for it so
        // that nothing but what a test pushes comes out afterwards.
        ASSERT_TRUE(WaitFor([&] {
            Drain(server, atServer);
            Drain(client, atClient);
            return client->IsConnected() && HasId(atClient, ID_STATIC_DATA);
        }));
    }
    void TearDown() override {
        DestroyNetClient(client);
        DestroyNetServer(server);
    }

    void Push(const std::vector<uint8_t>& bytes) {
        Packet* p = NewPacket(uint32_t(bytes.size()));
        std::memcpy(p->data, bytes.data(), bytes.size());
        client->PushBackPacket(p, false);
    }
    // Everything one receive loop hands out.
    std::vector<Received> ReceiveAll() {
        std::vector<Received> out;
        Drain(client, out);
        return out;
    }
    static void Put(std::vector<uint8_t>& m, uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) m.push_back(uint8_t(v >> (8 * i)));
    }
    static std::vector<uint8_t> Seeds(uint32_t length, uint8_t innerId, uint32_t stamp, uint32_t seed,
                                      uint32_t next) {
        std::vector<uint8_t> m{ID_TIMESTAMPED};
        Put(m, stamp, 4);
        m.push_back(innerId);
        Put(m, seed, 4);
        Put(m, next, 4);
        m.resize(length, 0);
        return m;
    }
    static std::vector<uint8_t> Marker(uint8_t tag) { return {kUserId, tag}; }

    NetServerInterface* server = nullptr;
    NetClientInterface* client = nullptr;
};

TEST_F(ClientFilter, OnlyA14ByteSeedMessageIsConsumed) {
    uint32_t now = GetTimeMs();
    struct Case {
        uint32_t length;
        uint8_t innerId;
        bool consumed;
    } cases[] = {
        {14, ID_RANDOM_SEEDS, true},
        {15, ID_RANDOM_SEEDS, false},
        {13, ID_RANDOM_SEEDS, false},
        {14, kUserId, false},
    };
    for (const Case& c : cases) {
        Push(Seeds(c.length, c.innerId, now, 1001, 2003));
        Push(Marker(7));  // queued behind it: must come out in the same receive loop
        std::vector<Received> got = ReceiveAll();
        ASSERT_FALSE(got.empty());
        EXPECT_EQ(got.back().bytes, Marker(7));
        EXPECT_EQ(got.size(), c.consumed ? 1u : 2u) << c.length << " " << int(c.innerId);
    }
}

TEST_F(ClientFilter, SeedSwitchesToTheNextOne9000MsAfterItsStamp) {
    uint32_t now = GetTimeMs();
    Push(Seeds(14, ID_RANDOM_SEEDS, now, 1001, 2003));
    ReceiveAll();
    EXPECT_EQ(client->GetSynchronizedSeed(), 1001u);
    Push(Seeds(14, ID_RANDOM_SEEDS, now - 9100, 3005, 4007));
    ReceiveAll();
    EXPECT_EQ(client->GetSynchronizedSeed(), 4007u);
}

TEST_F(ClientFilter, PingListFillsOtherClientsAndIsConsumed) {
    auto record = [](std::vector<uint8_t>& m, uint32_t address, uint16_t port, uint16_t ping) {
        Put(m, address, 4);
        Put(m, port, 2);
        Put(m, ping, 2);
    };
    std::vector<uint8_t> list{ID_PING_LIST};
    // 33 records: only 32 are read. Then 4 bytes of a cut record, which must not be misread.
    for (uint16_t i = 0; i < 33; ++i) record(list, 0x0A000001u + i, uint16_t(7000 + i), uint16_t(40 + i));
    Put(list, 0x0B000001u, 4);
    Push(list);
    Push(Marker(1));
    std::vector<Received> got = ReceiveAll();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].bytes, Marker(1));
    EXPECT_EQ(client->GetPlayerPing(PlayerID{0x0A000001u, 7000}), 40);
    EXPECT_EQ(client->GetPlayerPing(PlayerID{0x0A000001u + 31, 7031}), 71);
    EXPECT_EQ(client->GetPlayerPing(PlayerID{0x0A000001u + 32, 7032}), -1);
    EXPECT_EQ(client->GetPlayerPing(PlayerID{0x0A000001u, 7001}), -1);  // port matters
    EXPECT_EQ(client->GetPlayerPing(UNASSIGNED_PLAYER_ID), -1);

    // A later list updates the same entry.
    std::vector<uint8_t> update{ID_PING_LIST};
    record(update, 0x0A000001u, 7000, 55);
    Push(update);
    ReceiveAll();
    EXPECT_EQ(client->GetPlayerPing(PlayerID{0x0A000001u, 7000}), 55);
}

TEST_F(ClientFilter, RemoteClientNoticesNameTheirClientOrAreDropped) {
    for (uint8_t id :
         {ID_REMOTE_CLIENT_CLOSED, ID_REMOTE_CLIENT_LOST, ID_REMOTE_CLIENT_NEW, ID_REMOTE_CLIENT_EXISTING}) {
        std::vector<uint8_t> m{id};
        Put(m, 0x0C000001u, 4);
        Put(m, 9000, 2);
        Put(m, 17, 2);
        Push(m);
        std::vector<uint8_t> cut(m.begin(), m.end() - 1);  // index cut off
        Push(cut);
        Push(Marker(2));
        std::vector<Received> got = ReceiveAll();
        ASSERT_EQ(got.size(), 2u) << int(id);
        EXPECT_EQ(got[0].id(), id);
        EXPECT_EQ(got[0].sender, (PlayerID{0x0C000001u, 9000}));
        EXPECT_EQ(got[0].playerIndex, 17);
        EXPECT_EQ(got[1].bytes, Marker(2));
    }
}

TEST_F(ClientFilter, StaticDataOfAnotherClientIsKept) {
    PlayerID other{0x0D000001u, 9100};
    std::vector<uint8_t> m{ID_STATIC_DATA_OF};
    Put(m, other.binaryAddress, 4);
    Put(m, other.port, 2);
    Put(m, 3, 2);
    for (char ch : std::string("hello")) m.push_back(uint8_t(ch));
    Push(m);
    std::vector<Received> got = ReceiveAll();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].sender, other);
    EXPECT_EQ(got[0].playerIndex, 3);

    BitStream* data = client->GetStaticClientData(other);
    ASSERT_NE(data, nullptr);
    ASSERT_EQ(data->GetNumberOfBytesUsed(), 5);
    EXPECT_EQ(std::memcmp(data->GetData(), "hello", 5), 0);
    client->SetStaticClientData(other, reinterpret_cast<const uint8_t*>("xy"), 2);
    EXPECT_EQ(client->GetStaticClientData(other)->GetNumberOfBytesUsed(), 2);
    EXPECT_EQ(client->GetStaticClientData(PlayerID{0x0D000002u, 9100}), nullptr);
    EXPECT_NE(client->GetStaticClientData(UNASSIGNED_PLAYER_ID), nullptr);  // our own
}

}  // namespace
}  // namespace velt
