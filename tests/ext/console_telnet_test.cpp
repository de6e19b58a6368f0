// The telnet transport against plain sockets: line editing and echo, option replies, hostile
// input, and clients that come and go around the console's own pace.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/Clock.h"
#include "net/ext/TCPInterface.h"
#include "net/ext/TelnetTransport.h"
#include "tests/ext/tcp_test_client.h"
#include "tests/net/iface_support.h"

namespace velt {
namespace {

using test::Client;
using test::WaitFor;

const std::string kWillEcho = "\xFF\xFB\x01";

struct Line {
    PlayerID sender;
    std::string text;
};

class TelnetTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(telnet.Start(0, true)); }

    // Takes the next new connection, waiting for it.
    PlayerID Join() {
        PlayerID id = UNASSIGNED_PLAYER_ID;
        WaitFor([&] { return (id = telnet.TakeNewConnection()) != UNASSIGNED_PLAYER_ID; });
        return id;
    }
    // Lines received within a short while; at least want of them.
    std::vector<Line> Lines(size_t want, int timeoutMs = 10000) {
        std::vector<Line> lines;
        WaitFor(
            [&] {
                while (Packet* p = telnet.Receive()) {
                    EXPECT_EQ(p->data[p->length], 0);
                    lines.push_back(
                        Line{p->sender, std::string(reinterpret_cast<char*>(p->data), p->length)});
                    telnet.DeallocatePacket(p);
                }
                return lines.size() >= want;
            },
            timeoutMs);
        return lines;
    }
    std::vector<std::string> Texts(size_t want, int timeoutMs = 10000) {
        std::vector<std::string> texts;
        for (const Line& line : Lines(want, timeoutMs)) texts.push_back(line.text);
        return texts;
    }

    TelnetTransport telnet;
};

TEST_F(TelnetTest, EditingAndEcho) {
    Client client(telnet.GetListenPort());
    const PlayerID id = Join();
    EXPECT_EQ(client.Read(3), kWillEcho);

    client.Write("ab\bc\n");
    const std::vector<Line> lines = Lines(1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "ac");
    EXPECT_EQ(lines[0].sender, id);
    // The chunk comes back as typed, then a blank and a backspace rub out the character.
    EXPECT_EQ(client.Read(7), "ab\bc\n \b");

    struct Case {
        std::string typed;
        std::vector<std::string> lines;
    } cases[] = {
        {"one\ntwo\n", {"one", "two"}},  // nothing typed ahead is lost
        {"\n\r\n", {}},
        {"x\r\n", {"x"}},
        {std::string("a\0b\x01"
                     "c\x7f\n",
                     7),
         {"abc"}},
        {std::string(600, 'w') + "\n", {std::string(511, 'w')}},
        {"\b\b\bz\n", {"z"}},
        {"\xFF\xFD\x01", {}},  // an option reply alone: neither echoed nor edited
        {"\xFF\xFD\x01\xFF\xFA\x18\x01\xFF\xF0typed\n", {"typed"}},  // typing read with the replies
        {"\x1B[A\n", {}},
        {"\tx\n", {}},
        {std::string(1 << 16, 'e') + "\nafter\n", {std::string(511, 'e'), "after"}},  // an endless line
        {"par", {}},
        {"tial\n", {"partial"}},
    };
    for (const Case& c : cases) {
        client.Read(SIZE_MAX, 50);  // drop the echo so far
        client.Write(c.typed);
        EXPECT_EQ(Texts(c.lines.size(), c.lines.empty() ? 200 : 10000), c.lines) << c.typed;
    }
    // Once the last echo is in, an option reply gets nothing back.
    std::string echoed;
    ASSERT_TRUE(WaitFor([&] {
        echoed += client.Read(SIZE_MAX, 20);
        return echoed.size() >= 5 && echoed.compare(echoed.size() - 5, 5, "tial\n") == 0;
    }));
    client.Write("\xFF\xFB\x03");
    SleepMs(100);
    EXPECT_EQ(client.Read(1, 200), "");
}

TEST_F(TelnetTest, ClientsComeAndGoAroundTheConsole) {
    // Typed before the console took the connection: the line is its sender's all the same.
    Client early(telnet.GetListenPort());
    early.Write("early\n");
    const std::vector<Line> lines = Lines(1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "early");
    const PlayerID earlyId = telnet.TakeNewConnection();
    EXPECT_EQ(lines[0].sender, earlyId);
    EXPECT_EQ(telnet.TakeNewConnection(), UNASSIGNED_PLAYER_ID);

    // A connection that came and went before the console looked is never reported at all.
    {
        Client brief(telnet.GetListenPort());
        ASSERT_TRUE(WaitFor([&] { return telnet.GetTCPInterface()->GetConnectionCount() == 2; }));
    }
    ASSERT_TRUE(WaitFor([&] { return telnet.GetTCPInterface()->GetConnectionCount() == 1; }));
    EXPECT_EQ(telnet.TakeLostConnection(), UNASSIGNED_PLAYER_ID);
    EXPECT_EQ(telnet.TakeNewConnection(), UNASSIGNED_PLAYER_ID);
    EXPECT_EQ(telnet.GetClientCount(), 1u);

    early.Close();
    PlayerID lost = UNASSIGNED_PLAYER_ID;
    WaitFor([&] { return (lost = telnet.TakeLostConnection()) != UNASSIGNED_PLAYER_ID; });
    EXPECT_EQ(lost, earlyId);
    EXPECT_EQ(telnet.GetClientCount(), 0u);
}

TEST_F(TelnetTest, CloseAndStop) {
    Client a(telnet.GetListenPort()), b(telnet.GetListenPort());
    const PlayerID first = Join();
    ASSERT_NE(Join(), UNASSIGNED_PLAYER_ID);
    Client& closed = first.port == a.LocalPort() ? a : b;
    Client& open = &closed == &a ? b : a;
    telnet.Send(first, "bye %s", "now");
    telnet.CloseConnection(first);
    EXPECT_EQ(closed.Read(3 + 7), kWillEcho + "bye now");
    EXPECT_TRUE(closed.SeesEnd());
    telnet.Send(UNASSIGNED_PLAYER_ID, "%d%%", 100);
    EXPECT_EQ(open.Read(3 + 4), kWillEcho + "100%");

    telnet.Stop();
    EXPECT_FALSE(telnet.IsRunning());
    EXPECT_EQ(telnet.GetClientCount(), 0u);
    EXPECT_TRUE(open.SeesEnd());
    EXPECT_EQ(telnet.Receive(), nullptr);
    EXPECT_FALSE(telnet.Start(0, false));  // only server mode is offered
    EXPECT_TRUE(telnet.Start(0, true));
}

TEST(TelnetTransport, WithoutStartNothingHappens) {
    TelnetTransport telnet;
    telnet.Send(UNASSIGNED_PLAYER_ID, "x");
    telnet.CloseConnection(PlayerID{1, 1});
    EXPECT_EQ(telnet.Receive(), nullptr);
    EXPECT_EQ(telnet.TakeNewConnection(), UNASSIGNED_PLAYER_ID);
    EXPECT_EQ(telnet.TakeLostConnection(), UNASSIGNED_PLAYER_ID);
    EXPECT_EQ(telnet.GetTransportParser(), nullptr);
    EXPECT_FALSE(telnet.IsRunning());
    telnet.Stop();
}

}  // namespace
}  // namespace velt
