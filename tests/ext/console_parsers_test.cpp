// The "Net" and "Logger" parsers behind a console server, on a transport held in memory. The Net
// parser acts on a real peer whose operations of interest note their arguments.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/NetPeer.h"
#include "net/ext/ConsoleServer.h"
#include "net/ext/LogCommandParser.h"
#include "net/ext/NetCommandParser.h"
#include "tests/ext/console_test_support.h"

namespace velt {
namespace {

using test::MemoryTransport;

constexpr PlayerID kAlice{0x0100007F, 5000};
constexpr PlayerID kBob{0x0200007F, 5001};

std::string Id(PlayerID id) { return std::to_string(id.binaryAddress) + ":" + std::to_string(id.port); }

class NotingPeer : public NetPeer {
public:
    bool GetConnectionList(PlayerID* remoteSystems, uint16_t* numberOfSystems) const override {
        for (size_t i = 0; i < systems.size() && i < *numberOfSystems; ++i) remoteSystems[i] = systems[i];
        *numberOfSystems = static_cast<uint16_t>(systems.size());
        return listAnswer;
    }
    void Disconnect(uint32_t blockDuration, uint8_t channel) override {
        Note("Disconnect " + std::to_string(blockDuration) + " " + std::to_string(channel));
    }
    void SetTimeoutTime(uint32_t timeMs, PlayerID target) override {
        Note("SetTimeoutTime " + std::to_string(timeMs) + " " + Id(target));
    }
    void CloseConnection(PlayerID target, bool notify, uint8_t channel) override {
        Note("CloseConnection " + Id(target) + " " + std::to_string(notify) + " " + std::to_string(channel));
    }
    bool Connect(const char* host, uint16_t port, const char*, int32_t length) override {
        Note("Connect " + std::string(host) + " " + std::to_string(port) + " " + std::to_string(length));
        return true;
    }
    void AdvertiseSystem(const char*, uint16_t, const uint8_t*, int32_t length) override {
        Note("AdvertiseSystem " + std::to_string(length));
    }
    void SetOfflinePingResponse(const uint8_t*, uint32_t length) override {
        Note("SetOfflinePingResponse " + std::to_string(length));
    }
    void ApplyNetworkSimulator(double bps, uint16_t minPing, uint16_t variance) override {
        Note("ApplyNetworkSimulator " + std::to_string(static_cast<int>(bps)) + " " +
             std::to_string(minPing) + " " + std::to_string(variance));
    }

    void Note(std::string call) const { calls.push_back(std::move(call)); }

    std::vector<PlayerID> systems;
    bool listAnswer = true;
    mutable std::vector<std::string> calls;
};

class ParsersTest : public ::testing::Test {
protected:
    void SetUp() override {
        console.AddCommandParser(&net);
        console.AddCommandParser(&log);
        console.SetTransport(&transport, 0);
    }
    std::string Run(const std::string& line, PlayerID client = kAlice) {
        transport.lines.emplace_back(client, line);
        console.Update();
        return transport.TakeOutput(client);
    }

    NotingPeer peer;
    NetCommandParser net;
    LogCommandParser log;
    MemoryTransport transport;
    ConsoleServer console;
};

// ---- Net -------------------------------------------------------------------------------------------------

TEST_F(ParsersTest, NetWithoutAPeerStaysSilent) {
    EXPECT_EQ(Run("Net IsActive"), "");
    EXPECT_EQ(Run("help Net").rfind("Parser not active.  Call SetNetPeerInterface.\r\nCOMMAND LIST:\r\n", 0),
              0u);
}

TEST_F(ParsersTest, NetWordsBecomeArguments) {
    net.SetNetPeerInterface(&peer);
    const PlayerID negative{static_cast<uint32_t>(-16777343), 7777};
    struct Case {
        const char* line;
        const char* call;
    } cases[] = {
        {"Net Disconnect 5 300", "Disconnect 5 44"},  // an 8-bit word keeps its low bits
        {"Net SetTimeoutTime 1500 -16777343 7777", nullptr},
        {"Net CloseConnection 16777343 80 1 2", "CloseConnection 16777343:80 1 2"},
        {"Net CloseConnection x y z w", "CloseConnection 0:0 0 0"},  // not numbers: 0
        {"Net ApplyNetworkSimulator 1e3 70000 3", "ApplyNetworkSimulator 1000 4464 3"},
        // Typed lengths never reach past the typed word and its terminator.
        {"Net Connect host 7777 pw 1000", "Connect host 7777 3"},
        {"Net Connect host 7777 pw -4", "Connect host 7777 0"},
        {"Net AdvertiseSystem h 1 data 2", "AdvertiseSystem 2"},
        {"Net SetOfflinePingResponse xyz 99", "SetOfflinePingResponse 4"},
    };
    for (const Case& c : cases) {
        peer.calls.clear();
        const std::string reply = Run(c.line);
        ASSERT_EQ(peer.calls.size(), 1u) << c.line;
        const std::string expected = c.call != nullptr ? c.call : "SetTimeoutTime 1500 " + Id(negative);
        EXPECT_EQ(peer.calls[0], expected) << c.line;
        EXPECT_TRUE(reply.rfind("Successfully called ", 0) == 0 || reply == "Connect returned true.\r\n")
            << c.line << ": " << reply;
    }
}

TEST_F(ParsersTest, NetResultLines) {
    net.SetNetPeerInterface(&peer);
    struct Case {
        const char* line;
        const char* reply;
    } cases[] = {
        {"Net IsActive", "IsActive returned false.\r\n"},
        {"Net SetMTUSize 100", "SetMTUSize returned true.\r\n"},
        {"Net GetMTUSize", "GetMTUSize returned 512.\r\n"},
        {"Net GetPlayerIDFromIndex 0", "GetPlayerIDFromIndex returned 255.255.255.255 -1:65535\r\n"},
        {"Net PlayerIDToDottedIP 50462986 1", "PlayerIDToDottedIP returned 10.1.2.3.\r\n"},
        {"Net IPToPlayerID 10.1.2.3 80", "IPToPlayerID(): 10.1.2.3 50462986:80\r\n"},
        {"Net IPToPlayerID nonsense 80", "IPToPlayerID(): UNASSIGNED_PLAYER_ID.\r\n"},
        {"Net GetAveragePing 1 2", "GetAveragePing returned -1.\r\n"},
        {"Net GetIncomingPassword", "GetIncomingPassword returned 0.\r\n"},
        {"Net SetIncomingPassword abc 100", "Successfully called SetIncomingPassword.\r\n"},
        {"Net GetIncomingPassword", "GetIncomingPassword returned abc.\r\n"},
        {"Net SetIncomingPassword %s%s%n 3", "Successfully called SetIncomingPassword.\r\n"},
        {"Net GetIncomingPassword", "GetIncomingPassword returned %s%.\r\n"},
        {"Net IsBanned 1.2.3.4", "IsBanned returned false.\r\n"},
        {"Net AddToBanList 1.2.3.* 0", "Successfully called AddToBanList.\r\n"},
        {"Net IsBanned 1.2.3.4", "IsBanned returned true.\r\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(Run(c.line), c.reply) << c.line;

    // The stored password is the word and its terminator, however long the typed length.
    Run("Net SetIncomingPassword abc 100");
    int32_t length = 0;
    peer.GetIncomingPassword(nullptr, &length);
    EXPECT_EQ(length, 4);
}

TEST_F(ParsersTest, NetConnectionList) {
    net.SetNetPeerInterface(&peer);
    peer.listAnswer = false;
    EXPECT_EQ(Run("Net GetConnectionList"), "GetConnectionList() returned false.\r\n");
    peer.listAnswer = true;
    EXPECT_EQ(Run("Net GetConnectionList"), "GetConnectionList() returned no systems connected.\r\n");

    peer.systems = {PlayerID{0x0100007F, 80}, PlayerID{0xFFFFFF0A, 81}};
    EXPECT_EQ(Run("Net GetConnectionList"),
              "GetConnectionList() returned:\r\n0 127.0.0.1 16777343:80\r\n1 10.255.255.255 -246:81\r\n");

    // More systems than the list holds: the first 32 are listed, no more.
    peer.systems.assign(40, PlayerID{0x0100007F, 1});
    for (uint16_t i = 0; i < 40; ++i) peer.systems[i].port = i;
    const std::string reply = Run("Net GetConnectionList");
    EXPECT_NE(reply.find("\r\n31 127.0.0.1 16777343:31\r\n"), std::string::npos);
    EXPECT_EQ(reply.find("\r\n32 "), std::string::npos);
}

// ---- Logger --------------------------------------------------------------------------------------------

TEST_F(ParsersTest, LoggerSubscriptions) {
    EXPECT_EQ(log.GetTransport(), &transport);
    EXPECT_EQ(log.AddChannel("Alpha"), 0);
    EXPECT_EQ(log.AddChannel("alpha"), 0);  // present already
    struct Case {
        const char* line;
        const char* reply;
    } cases[] = {
        {"Logger Unsubscribe Alpha",
         "Cannot find channel Alpha.\r\nCHANNELS:\r\n1. Alpha\r\n"},  // never subscribed
        {"Logger Subscribe nothing", "Cannot find channel nothing.\r\nCHANNELS:\r\n1. Alpha\r\n"},
        {"Logger Subscribe ALPHA", "You are now subscribed to channel Alpha.\r\n"},
        {"Logger Subscribe a b", "Subscribe takes either 0 or 1 parameters.\r\n"},
        {"Logger Unsubscribe a b", "Unsubscribe takes either 0 or 1 parameters.\r\n"},
        {"Logger Unsubscribe", "Unsubscribed from all channels.\r\n"},
        {"Logger Subscribe", "Subscribed to all channels.\r\n"},
        {"Logger Unsubscribe alpha", "You are now unsubscribed from channel Alpha.\r\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(Run(c.line), c.reply) << c.line;
    EXPECT_EQ(Run("help Logger"),
              "The logger will accept user log data via the Log(...) function.\r\n"
              "Each log is associated with a named channel.\r\n"
              "You can subscribe to or unsubscribe from named channels.\r\n"
              "CHANNELS:\r\n1. Alpha\r\nCOMMAND LIST:\r\nSubscribe, Unsubscribe\r\n\r\n");

    // Alice: every channel but Alpha, so one made later reaches her. Bob: Beta only, after
    // dropping everything.
    log.Log("Beta", "made now");
    Run("Logger Unsubscribe", kBob);
    EXPECT_EQ(Run("Logger Subscribe beta", kBob), "You are now subscribed to channel Beta.\r\n");
    transport.TakeOutput(kAlice);
    log.Log("Alpha", "to alpha");
    log.Log("BETA", "to beta");
    log.Log("Gamma", "to gamma");
    EXPECT_EQ(transport.TakeOutput(kAlice), "to beta\r\nto gamma\r\n");
    EXPECT_EQ(transport.TakeOutput(kBob), "to beta\r\n");

    // A lost client keeps no subscription.
    transport.left.push_back(kBob);
    console.Update();
    EXPECT_EQ(log.UnsubscribeClient(kBob, nullptr), -1);
}

TEST_F(ParsersTest, LoggerLineShapes) {
    log.SubscribeClient(kAlice, nullptr);
    struct Case {
        std::string text;
        std::string sent;
    } cases[] = {
        {std::string(507, 'a'), std::string(507, 'a') + "\r\n"},
        {std::string(508, 'b'), std::string(505, 'b') + "\r\n"},
        {std::string(600, 'c'), std::string(508, 'c') + "\r\n"},
        {"ends in LF\n", "ends in LF\r\n"},
        {"100% sure %s %n", "100% sure %s %n\r\n"},
        {"", ""},
    };
    for (const Case& c : cases) {
        log.Log("Chan", "%s", c.text.c_str());
        EXPECT_EQ(transport.TakeOutput(kAlice), c.sent) << c.text.size();
    }
    log.Log(nullptr, "x");
    log.Log("Chan", nullptr);
    EXPECT_EQ(transport.TakeOutput(kAlice), "");
}

TEST(LogCommandParser, ChannelSlotsRunOut) {
    LogCommandParser log;
    static std::vector<std::string> names;
    for (int i = 0; i < 40; ++i) names.push_back("c" + std::to_string(i));
    for (int i = 0; i < 32; ++i) EXPECT_EQ(log.AddChannel(names[i].c_str()), i);
    EXPECT_EQ(log.AddChannel(names[32].c_str()), -1);
    EXPECT_EQ(log.GetChannelCount(), 32u);
    MemoryTransport transport;
    log.OnTransportSet(&transport);
    log.SubscribeClient(kAlice, nullptr);
    log.Log(names[33].c_str(), "nowhere to go");  // no slot left: dropped
    log.Log("C31", "last slot");
    EXPECT_EQ(transport.TakeOutput(kAlice), "last slot\r\n");
    EXPECT_EQ(log.FindChannel(names[33].c_str()), -1);
}

}  // namespace
}  // namespace velt
