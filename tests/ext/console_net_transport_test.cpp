// The console over the peer transport: console clients are plain peers on 127.0.0.1 that send
// and receive console line messages; the transport's own parser sets the password they need.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "net/MessageIdentifiers.h"
#include "net/NetworkFactory.h"
#include "net/ext/ConsoleServer.h"
#include "net/ext/LogCommandParser.h"
#include "net/ext/NetTransport.h"
#include "tests/net/iface_support.h"

namespace velt {
namespace {

using test::WaitFor;

// A console client: a peer of its own that types lines and keeps what comes back.
class ConsoleClient {
public:
    ConsoleClient() : peer_(CreateNetPeer()) { peer_->Initialize(1, 0, 1, "127.0.0.1"); }
    ~ConsoleClient() { DestroyNetPeer(peer_); }

    void Connect(uint16_t port, const char* password, int32_t length) {
        ASSERT_TRUE(peer_->Connect("127.0.0.1", port, password, length));
    }
    void SendBytes(const std::string& bytes) {
        ASSERT_TRUE(peer_->SendBytes(reinterpret_cast<const uint8_t*>(bytes.data()),
                                     static_cast<int32_t>(bytes.size()), MEDIUM_PRIORITY_LEVEL,
                                     RELIABILITY_RELIABLE_ORDERED, 0, server_, false));
    }
    void Type(const std::string& line) { SendBytes(std::string(1, char(ID_CONSOLE_TEXT)) + line + '\0'); }
    // Takes in what arrived: console text is appended to text, other ids noted.
    void Poll() {
        while (Packet* p = peer_->Receive()) {
            const uint8_t id = p->data[0];
            if (id == ID_CONSOLE_TEXT && p->length >= 2 && p->data[p->length - 1] == 0) {
                text.append(reinterpret_cast<char*>(p->data) + 1, p->length - 2);
            } else {
                ids.push_back(id);
                if (id == ID_CONN_ACCEPTED) server_ = p->sender;
            }
            peer_->FreePacket(p);
        }
    }
    bool Saw(uint8_t id) const {
        for (uint8_t seen : ids)
            if (seen == id) return true;
        return false;
    }

    std::string text;
    std::vector<uint8_t> ids;

private:
    NetPeerInterface* peer_;
    PlayerID server_ = UNASSIGNED_PLAYER_ID;
};

class NetTransportTest : public ::testing::Test {
protected:
    void SetUp() override {
        console.AddCommandParser(&log);
        console.SetTransport(&transport, 0);
        ASSERT_NE(transport.GetPeer(), nullptr);
        port = transport.GetPeer()->GetInternalID().port;
    }
    // Runs the console until the client's text holds want (true) or the time is up.
    bool Until(ConsoleClient& client, const std::string& want) {
        return WaitFor([&] {
            console.Update();
            client.Poll();
            return client.text.find(want) != std::string::npos;
        });
    }
    bool UntilId(ConsoleClient& client, uint8_t id) {
        return WaitFor([&] {
            console.Update();
            client.Poll();
            return client.Saw(id);
        });
    }

    LogCommandParser log;
    NetTransport transport;
    ConsoleServer console;
    uint16_t port = 0;
};

TEST_F(NetTransportTest, ASessionWithPasswordCommands) {
    ConsoleClient alice;
    alice.Connect(port, nullptr, 0);
    ASSERT_TRUE(Until(alice,
                      "Connected to remote command console.\r\nType 'help' for help.\r\n"
                      "INSTALLED PARSERS:\r\n1. Logger\r\n2. NetTransport\r\n"));

    alice.text.clear();
    alice.Type("help NetTransport");
    EXPECT_TRUE(Until(alice, "\r\n\r\n"));
    EXPECT_EQ(alice.text,
              "Provides a secure connection between your console\r\n"
              "and the console server.  Used to modify the console password.\r\n"
              "COMMAND LIST:\r\nClearPassword, GetPassword, SetPassword\r\n\r\n");

    alice.Type("GetPassword");
    EXPECT_TRUE(Until(alice, "No password is set.\r\n"));
    alice.Type("SetPassword abc");
    EXPECT_TRUE(Until(alice, "Password changed to abc\r\n"));
    alice.Type("GetPassword");
    EXPECT_TRUE(Until(alice, "Password is abc\r\n"));

    // The password is the word and its zero byte.
    ConsoleClient withoutZero, withZero;
    withoutZero.Connect(port, "abc", 3);
    EXPECT_TRUE(UntilId(withoutZero, ID_CONN_BAD_PASSWORD));
    withZero.Connect(port, "abc", 4);
    EXPECT_TRUE(Until(withZero, "Type 'help' for help.\r\n"));

    alice.Type("ClearPassword");
    EXPECT_TRUE(Until(alice, "Password cleared\r\n"));

    // Log lines reach the subscribers through the transport.
    alice.Type("Logger Subscribe");
    EXPECT_TRUE(Until(alice, "Subscribed to all channels.\r\n"));
    log.Log("Net", "over the peer %d%%", 100);
    EXPECT_TRUE(Until(alice, "over the peer 100%\r\n"));
    EXPECT_EQ(withZero.text.find("over the peer"), std::string::npos);

    alice.Type("quit");
    EXPECT_TRUE(Until(alice, "Goodbye!"));
    EXPECT_TRUE(UntilId(alice, ID_CONN_CLOSED));
}

TEST_F(NetTransportTest, MalformedLinesAndEmptyTextAreDropped) {
    ConsoleClient client;
    client.Connect(port, nullptr, 0);
    ASSERT_TRUE(Until(client, "2. NetTransport\r\n"));
    client.text.clear();

    client.SendBytes(std::string(1, char(ID_CONSOLE_TEXT)) + "GetPassword");  // no zero byte
    client.SendBytes(std::string(1, char(ID_CONSOLE_TEXT)));
    transport.Send(UNASSIGNED_PLAYER_ID, "%s", "");  // nothing to send
    client.Type("Logger Subscribe");
    ASSERT_TRUE(Until(client, "Subscribed to all channels.\r\n"));
    EXPECT_EQ(client.text, "Subscribed to all channels.\r\n");
    EXPECT_EQ(transport.GetRejectedLineCount(), 2u);
}

TEST(NetTransport, WithoutAPeerNothingHappens) {
    NetTransport transport;
    transport.Send(UNASSIGNED_PLAYER_ID, "x");
    transport.CloseConnection(PlayerID{1, 1});
    transport.DeallocatePacket(nullptr);
    transport.Stop();
    EXPECT_EQ(transport.Receive(), nullptr);
    EXPECT_EQ(transport.TakeNewConnection(), UNASSIGNED_PLAYER_ID);
    EXPECT_EQ(transport.TakeLostConnection(), UNASSIGNED_PLAYER_ID);
    EXPECT_STREQ(transport.GetTransportParser()->GetParserName(), "NetTransport");
}

}  // namespace
}  // namespace velt
