// The in-game remote console: the login word and password, what a login tells the scripts and the
// player, commands run with their log lines mirrored back, and packets that are not accepted.

#include "server/protocol/InGameRcon.h"

#include <algorithm>

#include "server/game/RconLoginGuard.h"
#include "tests/server/dispatch_fixture.h"

namespace velt::test {
namespace {

std::vector<uint8_t> RconPacket(const std::string& text, int64_t declared = -1) {
    uint32_t length = uint32_t(declared < 0 ? text.size() : uint64_t(declared));
    std::vector<uint8_t> out = {kRconCommandPacketId, uint8_t(length), uint8_t(length >> 8),
                                uint8_t(length >> 16), uint8_t(length >> 24)};
    out.insert(out.end(), text.begin(), text.end());
    return out;
}

class RconTest : public ProtocolTest {
protected:
    void SetUp() override {
        ProtocolTest::SetUp();
        console_->SetStringVariable("rcon_password", "s3cret");
        scripts_.gameModePublics["OnRconLoginAttempt"] = 1;
        StartProtocol();
        Join(0, "Alice");
        Join(1, "Bob");
        net_->sent.clear();
        scripts_.Clear();
    }
    void Login(uint16_t slot) {
        SendPacket(slot, RconPacket("login s3cret"));
        ASSERT_TRUE(pool()->IsAdmin(slot));
        net_->sent.clear();
        scripts_.Clear();
    }
};

TEST_F(RconTest, LoginWordIsCaseFreeThePasswordIsNot) {
    const std::string ip = FakeNetServer::AddressOf(0).ToString(false);
    struct Case {
        const char* text;
        int outcome;  // 1 logged in, 0 refused, -1 nothing at all
    };
    const Case cases[] = {
        {"login", -1},       {"hello s3cret", -1}, {"loginx s3cret", -1},
        {"login S3cret", 0}, {"login s3cre", 0},   {"LOGIN s3cret", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        scripts_.Clear();
        net_->sent.clear();
        SendPacket(0, RconPacket(c.text));
        EXPECT_EQ(pool()->IsAdmin(0), c.outcome == 1);
        std::vector<std::string> messages = ClientMessagesTo(0);
        if (c.outcome < 0) {
            EXPECT_TRUE(Calls().empty());
            EXPECT_TRUE(messages.empty());
            continue;
        }
        std::string attempt = std::string(c.text).substr(6);
        EXPECT_EQ(CallsNamed("OnRconLoginAttempt"),
                  (std::vector<std::string>{"gm:OnRconLoginAttempt(" + ip + "," + attempt + "," +
                                            std::to_string(c.outcome) + ")"}));
        EXPECT_EQ(messages, (std::vector<std::string>{
                                c.outcome == 1
                                    ? "SERVER: You are logged in as admin."
                                    : "SERVER: Bad admin password. Repeated attempts will get you banned."}));
    }
    EXPECT_TRUE(Logged("RCON (In-Game): Player #0 (Alice) failed login."));
    EXPECT_TRUE(Logged("RCON (In-Game): Player #0 (Alice) has logged in."));
    EXPECT_FALSE(pool()->IsAdmin(1));
}

TEST_F(RconTest, GuessersAreBannedAfterAFewFailuresFromOneAddress) {
    const std::string ip = FakeNetServer::AddressOf(0).ToString(false);
    const std::string banned = "AddToBanList " + ip + " 0";
    auto guess = [&](uint16_t slot, int times) {
        for (int i = 0; i < times; ++i) SendPacket(slot, RconPacket("login guess" + std::to_string(i)));
    };
    auto isBanned = [&] {
        return std::find(net_->calls.begin(), net_->calls.end(), banned) != net_->calls.end();
    };

    // Failures further apart than the window never add up.
    guess(0, int(RconLoginGuard::kMaxFailures) - 1);
    now_ += RconLoginGuard::kWindowMs;
    guess(0, int(RconLoginGuard::kMaxFailures) - 1);
    EXPECT_FALSE(isBanned());
    EXPECT_FALSE(Kicked(0));

    // A good login clears the count; rights end with the connection, the count does not.
    SendPacket(0, RconPacket("login s3cret"));
    ASSERT_TRUE(pool()->IsAdmin(0));
    pool()->Disconnect(0, 1);
    Join(0, "Alice");
    guess(0, int(RconLoginGuard::kMaxFailures) - 1);
    pool()->Disconnect(0, 1);
    Join(0, "Alice");
    EXPECT_FALSE(isBanned());
    guess(0, 1);
    EXPECT_TRUE(isBanned());
    EXPECT_TRUE(Kicked(0));
    EXPECT_FALSE(pool()->IsConnected(0));
    EXPECT_TRUE(Logged("RCON (In-Game): Player #0 (Alice) banned after 5 failed logins."));
    EXPECT_NE(ReadFile("velt.ban").find(ip + " ["), std::string::npos);
    // The last answer still went out, and the scripts heard every attempt.
    EXPECT_EQ(ClientMessagesTo(0).back(),
              "SERVER: Bad admin password. Repeated attempts will get you banned.");
    EXPECT_EQ(CallsNamed("OnRconLoginAttempt").size(), 3 * (RconLoginGuard::kMaxFailures - 1) + 2);
    // Another player's count is his own.
    EXPECT_FALSE(Kicked(1));
}

TEST_F(RconTest, AdminCommandRunsWithItsOutputMirroredToHimAlone) {
    Login(0);
    SendPacket(0, RconPacket("echo hello %s world"));
    EXPECT_TRUE(Logged("RCON (In-Game): Player [Alice] sent command: echo hello %s world"));
    EXPECT_EQ(ClientMessagesTo(0), (std::vector<std::string>{"hello %s world"}));
    EXPECT_TRUE(ClientMessagesTo(1).empty());
    // The mirror ends with the command: later log lines stay in the log.
    net_->sent.clear();
    LogPrintf("after the command");
    EXPECT_TRUE(ClientMessagesTo(0).empty());

    // Commands act on the server: "kick" through the console reaches the game.
    SendPacket(0, Timestamped(RconPacket("kick 1")));
    EXPECT_FALSE(pool()->IsConnected(1));

    SendPacket(0, RconPacket(std::string(1, '\0')));
    EXPECT_EQ(ClientMessagesTo(0).back(), "You forgot the RCON command!");
}

TEST_F(RconTest, MalformedPacketsAreIgnored) {
    Login(0);
    const std::vector<uint8_t> cases[] = {
        RconPacket("", 0),
        RconPacket(std::string(257, 'e')),
        RconPacket("echo x", 7),  // one byte missing
        {kRconCommandPacketId, 3, 0},
        {kRconCommandPacketId},
    };
    for (const auto& packet : cases) SendPacket(0, packet);
    EXPECT_TRUE(ClientMessagesTo(0).empty());
    EXPECT_EQ(net_->freedPackets, int(std::size(cases)) + 1);
    // 256 bytes are accepted (the console then takes a line of at most 255).
    const std::string longest = "echo " + std::string(251, 'e');
    SendPacket(0, RconPacket(longest));
    EXPECT_TRUE(Logged("RCON (In-Game): Player [Alice] sent command: " + longest));
    EXPECT_EQ(ClientMessagesTo(0).size(), 1u);
}

TEST_F(RconTest, RightsLastAsLongAsTheSlotAndWorkInTheIntermission) {
    Login(0);
    game_->EndGameMode();
    SendPacket(0, RconPacket("echo between"));
    EXPECT_EQ(ClientMessagesTo(0), (std::vector<std::string>{"between"}));

    pool()->Disconnect(0, 1);
    Join(0, "Carol");
    EXPECT_FALSE(pool()->IsAdmin(0));
    net_->sent.clear();
    SendPacket(0, RconPacket("echo again"));
    EXPECT_TRUE(ClientMessagesTo(0).empty());
}

}  // namespace
}  // namespace velt::test
