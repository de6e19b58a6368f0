// The query port's answers as the main thread gives them: byte-exact replies for every opcode, the
// rate gates on the game server's clock, the player-list limit, the switches, and the remote
// console with its password check, output lines and throttled log lines.

#include <cstring>
#include <string>
#include <vector>

#include "common/LittleEndian.h"
#include "server/protocol/QueryResponder.h"
#include "tests/server/game_server_fixture.h"

namespace velt::test {
namespace {

constexpr uint32_t kSender = 0x0900007Fu;  // 127.0.0.9, network order
using Bytes = std::vector<uint8_t>;

Bytes Header(char opcode) {
    Bytes h = {'V', 'E', 'L', 'T', 127, 0, 0, 1, 0x00, 0x20, uint8_t(opcode)};
    return h;
}
Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Bytes U16(uint16_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }
Bytes U32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes RconRequest(const std::string& password, const std::string& command) {
    return Cat(Cat(Cat(Cat(Header('x'), U16(uint16_t(password.size()))), Text(password)),
                   U16(uint16_t(command.size()))),
               Text(command));
}

class QueryTest : public GameServerTest {
protected:
    void SetUp() override {
        GameServerTest::SetUp();
        console_->SetStringVariable("rcon_password", "Secret-1");
        Start();
        game_->SetClock([this] { return now_; });
        responder_ = game_->GetQueryResponder();
        responder_->SetReplySink([this](const QueuedQuery& q, const uint8_t* data, size_t n) {
            EXPECT_EQ(q.binaryAddress, kSender);
            replies_.emplace_back(data, data + n);
        });
    }
    // Offers one datagram from 127.0.0.9 and returns the replies it got.
    std::vector<Bytes> Ask(const Bytes& datagram) {
        replies_.clear();
        QueuedQuery q;
        q.binaryAddress = kSender;
        q.port = 40000;
        q.length = uint16_t(datagram.size());
        std::memcpy(q.data, datagram.data(), datagram.size());
        responder_->Answer(q);
        return replies_;
    }
    Bytes AskOne(const Bytes& datagram) {
        std::vector<Bytes> got = Ask(datagram);
        EXPECT_EQ(got.size(), 1u);
        return got.empty() ? Bytes{} : got[0];
    }
    int CountLogged(const std::string& line) const {
        int n = 0;
        for (const std::string& l : LogLines()) n += l == line;
        return n;
    }

    uint32_t now_ = 1000;
    QueryResponder* responder_ = nullptr;
    std::vector<Bytes> replies_;
};

TEST_F(QueryTest, InformationCountsHumansCutsTextsAndSubtractsBots) {
    settings_.maxPlayers = 50;
    console_->SetStringVariable("password", "join");
    console_->SetStringVariable("hostname", std::string(60, 'h').c_str());
    console_->SetStringVariable("gamemodetext", "Racing");
    console_->SetStringVariable("language", "");
    Join(0, "Alice");
    Join(1, "Bob");
    Join(2, "Bot_1", true);
    Join(3, "Bot_2", true);
    Join(4, "Bot_3", true);
    const Bytes expected = Cat(Cat(Cat(Cat(Cat(Cat(Cat(Cat(Header('i'), {1}), U16(2)), U16(47)), U32(50)),
                                           Text(std::string(50, 'h'))),
                                       U32(6)),
                                   Text("Racing")),
                               U32(0));
    EXPECT_EQ(AskOne(Header('i')), expected);
    EXPECT_EQ(expected.size(), 28u + 50 + 6);
}

TEST_F(QueryTest, PlayerListsShowHumansInIdOrderWithScoreAndPing) {
    Join(3, "Carol");
    Join(1, "Bob");
    Join(2, "Bot_1", true);
    pool()->SetScore(1, 7);
    pool()->SetScore(3, -2);
    const Bytes clients = Cat(Cat(Cat(Cat(Cat(Cat(Header('c'), U16(2)), {3}), Text("Bob")), U32(7)), {5}),
                              Cat(Text("Carol"), U32(uint32_t(-2))));
    EXPECT_EQ(AskOne(Header('c')), clients);
    now_ += 25;
    // The fake transport reports a last ping of 42 for everybody.
    const Bytes detailed =
        Cat(Cat(Cat(Cat(Header('d'), U16(2)), {1, 3}), Text("Bob")),
            Cat(Cat(Cat(U32(7), U32(42)), Cat({3, 5}, Text("Carol"))), Cat(U32(uint32_t(-2)), U32(42))));
    EXPECT_EQ(AskOne(Header('d')), detailed);
}

TEST_F(QueryTest, ListsGoUnansweredAboveAHundredHumans) {
    for (uint16_t id = 0; id < 100; ++id) Join(id, ("P" + std::to_string(id) + "xx").c_str());
    EXPECT_EQ(Ask(Header('c')).size(), 1u);
    Join(100, "Straw");
    for (char op : {'c', 'd'}) {
        now_ += 25;
        EXPECT_TRUE(Ask(Header(op)).empty()) << op;
    }
}

TEST_F(QueryTest, PingEchoesExactlyFifteenBytesEvenWithQueriesOff) {
    settings_.query = 0;
    const Bytes ping = Cat(Header('p'), {9, 8, 7, 6});
    EXPECT_EQ(AskOne(ping), ping);
    for (const Bytes& wrong : {Cat(Header('p'), {9, 8, 7}), Cat(Header('p'), {9, 8, 7, 6, 5})}) {
        now_ += 1;
        EXPECT_TRUE(Ask(wrong).empty()) << wrong.size() << " bytes";
    }
    // Everything else needs "query".
    for (char op : {'i', 'r', 'c', 'd', 'x'}) EXPECT_TRUE(Ask(Header(op)).empty()) << op;
}

TEST_F(QueryTest, GatesDropRequestsThatComeTooSoonAndRecordOnlyAcceptedOnes) {
    struct Case {
        const char* what;
        char opcode;
        std::vector<uint32_t> gaps;  // ms before each request after the first
        std::vector<bool> answered;  // first request included
    };
    const Case cases[] = {
        {"rules 10 ms apart", 'r', {10}, {true, false}},
        {"rules 25 ms apart", 'r', {25}, {true, true}},
        // A dropped request records nothing: 20 + 20 ms after the accepted one passes.
        {"rules dropped, then 40 ms after the last accepted", 'r', {20, 20}, {true, false, true}},
        {"information in the same ms", 'i', {0, 2}, {true, false, true}},
        {"ping in the same ms", 'p', {0, 1}, {true, false, true}},
    };
    for (const Case& c : cases) {
        now_ += 1000;  // every gate is open again
        const Bytes request = c.opcode == 'p' ? Cat(Header('p'), {1, 2, 3, 4}) : Header(c.opcode);
        std::vector<bool> got = {!Ask(request).empty()};
        for (uint32_t gap : c.gaps) {
            now_ += gap;
            got.push_back(!Ask(request).empty());
        }
        EXPECT_EQ(got, c.answered) << c.what;
    }
}

TEST_F(QueryTest, ClientAndDetailedListsShareOneGateWithTheRemoteConsole) {
    EXPECT_EQ(Ask(Header('c')).size(), 1u);
    now_ += 10;
    EXPECT_TRUE(Ask(Header('d')).empty());
    EXPECT_TRUE(Ask(RconRequest("Secret-1", "echo hi")).empty());
    now_ += 20;
    EXPECT_EQ(Ask(RconRequest("Secret-1", "echo hi")).size(), 1u);
}

TEST_F(QueryTest, WrongRemoteConsolePasswordGetsOneReplyAndAThrottledLogLine) {
    const Bytes invalid = Cat(Cat(Header('x'), U16(22)), Text("Invalid RCON password."));
    EXPECT_EQ(Ask(RconRequest("secret-1", "exit")), std::vector<Bytes>{invalid});
    EXPECT_EQ(ExitRequested.load(), 0);
    for (const char* guess : {"Secret-", "Secret-12", ""}) {
        now_ += 25;
        EXPECT_EQ(Ask(RconRequest(guess, "exit")), std::vector<Bytes>{invalid}) << guess;
    }
    EXPECT_EQ(CountLogged("BAD RCON ATTEMPT BY: 127.0.0.9"), 1);
    // The guesses held back are counted once the interval has passed.
    now_ += 10000;
    responder_->AnswerPending();
    EXPECT_EQ(CountLogged("BAD RCON ATTEMPT BY: 127.0.0.9 3 more times"), 1);
}

TEST_F(QueryTest, RightPasswordRunsTheCommandAndSendsEachOutputLine) {
    EXPECT_EQ(Ask(RconRequest("Secret-1", "echo hello there")),
              std::vector<Bytes>{Cat(Cat(Header('x'), U16(11)), Text("hello there"))});
    now_ += 25;
    const std::vector<Bytes> lines = Ask(RconRequest("Secret-1", "varlist"));
    ASSERT_GT(lines.size(), 2u);
    EXPECT_EQ(lines.front(), Cat(Cat(Header('x'), U16(18)), Text("Console Variables:")));
    EXPECT_EQ(lines.back(), Cat(Header('x'), U16(0)));
    // A command without output gets no reply; the line still runs.
    now_ += 25;
    EXPECT_TRUE(Ask(RconRequest("Secret-1", "hostname Renamed")).empty());
    EXPECT_STREQ(console_->GetStringVariable("hostname"), "Renamed");
    // Lines logged after the command are not sent anywhere.
    LogPrintf("after the command");
    EXPECT_TRUE(replies_.empty());
}

TEST_F(QueryTest, MalformedOrSwitchedOffRemoteConsoleRequestsAreIgnored) {
    const Bytes full = RconRequest("Secret-1", "echo x");
    const std::vector<std::pair<const char*, Bytes>> cases = {
        {"12 bytes", Cat(Header('x'), {8})},
        {"password cut short", Bytes(full.begin(), full.begin() + 13 + 4)},
        {"no command length", Bytes(full.begin(), full.begin() + 13 + 8)},
        {"command cut short", Bytes(full.begin(), full.end() - 1)},
    };
    for (const auto& [what, datagram] : cases) {
        now_ += 25;
        EXPECT_TRUE(Ask(datagram).empty()) << what;
    }
    settings_.rcon = 0;
    now_ += 25;
    EXPECT_TRUE(Ask(full).empty());
    EXPECT_EQ(CountLogged("BAD RCON ATTEMPT BY: 127.0.0.9"), 0);
}

TEST_F(QueryTest, LoggedQueriesShowOncePerSenderAndOpcodeInEachInterval) {
    settings_.logQueries = 1;
    for (int i = 0; i < 5; ++i) {
        now_ += 3;
        Ask(Header('i'));
    }
    Ask(Header('z'));
    EXPECT_EQ(CountLogged("[query:i] from 127.0.0.9"), 1);
    EXPECT_EQ(CountLogged("[query:z] from 127.0.0.9"), 1);
    now_ += 10000;
    responder_->AnswerPending();
    EXPECT_EQ(CountLogged("[query:i] from 127.0.0.9 4 more times"), 1);
}

TEST_F(QueryTest, TheTransportSortsQueriesOnlyWhileTheGameRuns) {
    QueryInbox& inbox = responder_->Inbox();
    EXPECT_TRUE(inbox.GameRunning());
    game_->EndGameMode();
    EXPECT_FALSE(inbox.GameRunning());
    game_->RestartGameMode();
    EXPECT_TRUE(inbox.GameRunning());
}

TEST_F(QueryTest, QueuedDatagramsAreAnsweredOnTheNextPass) {
    const Bytes ping = Cat(Header('p'), {1, 2, 3, 4});
    ASSERT_TRUE(responder_->Inbox().Offer(kSender, 40000, ping.data(), uint32_t(ping.size()), -1));
    replies_.clear();
    game_->Process(0.005f);
    EXPECT_EQ(replies_, std::vector<Bytes>{ping});
}

}  // namespace
}  // namespace velt::test
