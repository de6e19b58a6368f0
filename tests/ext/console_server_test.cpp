// The console server and the command-line splitting it relies on, driven through a transport
// held in memory.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "net/ext/CommandParser.h"
#include "net/ext/ConsoleServer.h"
#include "tests/ext/console_test_support.h"

namespace velt {
namespace {

using test::MemoryTransport;

constexpr PlayerID kAlice{0x0100007F, 5000};
constexpr PlayerID kBob{0x0200007F, 5001};

// ---- splitting ---------------------------------------------------------------------------------------

std::vector<std::string> Split(std::string line, uint32_t listLength = 20, bool* allFit = nullptr) {
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    std::vector<char*> words(listLength + 1, reinterpret_cast<char*>(1));
    uint32_t count = 99;
    const bool fit =
        CommandParserInterface::ParseConsoleString(buffer.data(), ' ', '"', &count, words.data(), listLength);
    if (allFit != nullptr) *allFit = fit;
    std::vector<std::string> out;
    for (uint32_t i = 0; i < count; ++i) out.emplace_back(words[i]);
    EXPECT_EQ(words[count], nullptr) << "the list ends with a null entry";
    return out;
}

TEST(ConsoleSplit, WordsQuotesAndLineEnds) {
    struct Case {
        const char* line;
        std::vector<std::string> words;
    } cases[] = {
        {"set \"a b\" c", {"set", "a b", "c"}},
        {"x\"y z\"w", {"x", "y z", "w"}},  // a quote ends the word before it
        {"\"\"", {}},
        {"   ", {}},
        {"", {}},
        {"  a   b  ", {"a", "b"}},
        {"a\r\nb\n", {"a", "b"}},  // CR and LF split even inside quotes
        {"\"open to the end", {"open to the end"}},
        {"\"a\rb\"", {"a", "b"}},
    };
    for (const Case& c : cases) EXPECT_EQ(Split(c.line), c.words) << c.line;
}

TEST(ConsoleSplit, AListOfTwentyHoldsNineteenWords) {
    std::string line;
    for (int i = 0; i < 25; ++i) line += "w" + std::to_string(i) + " ";
    bool allFit = true;
    const std::vector<std::string> words = Split(line, 20, &allFit);
    EXPECT_FALSE(allFit);
    ASSERT_EQ(words.size(), 19u);
    EXPECT_EQ(words.back(), "w18");

    std::string nineteen;
    for (int i = 0; i < 19; ++i) nineteen += "w ";
    EXPECT_EQ(Split(nineteen, 20, &allFit).size(), 19u);
    EXPECT_TRUE(allFit);
}

// ---- the server ----------------------------------------------------------------------------------------

// Registers the commands it is given and notes every call and notice.
class NotingParser : public CommandParserInterface {
public:
    explicit NotingParser(const char* name) : name_(name) {}
    const char* GetParserName() const override { return name_; }
    void Register(uint8_t count, const char* command, const char* help) { AddCommand(count, command, help); }
    void WriteHelp(TransportInterface* transport, PlayerID client) override {
        transport->Send(client, "help of %s\r\n", name_);
    }
    bool ExecuteCommand(const char* command, uint32_t count, char** parameters, TransportInterface* transport,
                        PlayerID client, const char* lineCopy) override {
        std::string call = std::string(name_) + ":" + command;
        for (uint32_t i = 0; i < count; ++i) call += std::string(" ") + parameters[i];
        EXPECT_EQ(parameters[count], nullptr);
        calls.push_back(call);
        lastLineCopy = lineCopy;
        ReportResult(command, transport, client);
        return true;
    }
    void OnRemoteConnect(PlayerID client, TransportInterface*) override {
        notices.push_back("+" + Name(client));
    }
    void OnRemoteDisconnect(PlayerID client, TransportInterface*) override {
        notices.push_back("-" + Name(client));
    }
    void OnTransportSet(TransportInterface* transport) override { transportSet = transport; }

    static std::string Name(PlayerID id) { return id == kAlice ? "alice" : id == kBob ? "bob" : "?"; }

    std::vector<std::string> calls;
    std::vector<std::string> notices;
    std::string lastLineCopy;
    TransportInterface* transportSet = nullptr;

private:
    const char* name_;
};

class ConsoleServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        first.Register(2, "Two", "<a> <b> - two words");
        first.Register(VARIABLE_PARAMETER_COUNT, "Shared", "- in both");
        second.Register(VARIABLE_PARAMETER_COUNT, "Shared", "- in both");
        second.Register(0, "Zero", "- no words");
        console.AddCommandParser(&first);
        console.AddCommandParser(&second);
        console.SetTransport(&transport, 4321);
    }

    // Runs one line from alice and returns what she got back.
    std::string Run(const std::string& line) {
        transport.lines.emplace_back(kAlice, line);
        console.Update();
        return transport.TakeOutput(kAlice);
    }

    NotingParser first{"First"};
    NotingParser second{"Second"};
    MemoryTransport transport;
    ConsoleServer console;
};

const char kParserList[] = "INSTALLED PARSERS:\r\n1. First\r\n2. Second\r\n";
const char kUnknown[] = "Unknown command:  Type 'help' for help.\r\n";

TEST_F(ConsoleServerTest, ConnectionsAreGreetedAndTold) {
    EXPECT_TRUE(transport.started);
    EXPECT_EQ(transport.lastPort, 4321);
    EXPECT_EQ(first.transportSet, &transport);
    transport.joined.push_back(kAlice);
    transport.left.push_back(kBob);
    console.Update();
    EXPECT_EQ(transport.TakeOutput(kAlice),
              std::string("Connected to remote command console.\r\nType 'help' for help.\r\n") + kParserList);
    EXPECT_EQ(first.notices, (std::vector<std::string>{"+alice", "-bob"}));
    EXPECT_EQ(second.notices, first.notices);
}

TEST_F(ConsoleServerTest, Help) {
    const std::string overview = Run("HeLp");
    EXPECT_EQ(overview.rfind("\r\nINSTRUCTIONS:\r\n", 0), 0u);
    EXPECT_NE(overview.find("[<ParserNumber>] <Command> [<Parameters>]   Execute a command\r\n"),
              std::string::npos);
    EXPECT_EQ(overview.substr(overview.size() - std::strlen(kParserList)), kParserList);

    struct Case {
        const char* line;
        const char* reply;
    } cases[] = {
        {"help second", "help of Second\r\nCOMMAND LIST:\r\nShared, Zero\r\n\r\n"},
        {"help two", "(2 parms): Two <a> <b> - two words\r\n"},
        {"help shared", "(Variable parms): Shared - in both\r\n"},
        {"help %s%n", "Unknown help topic: %s%n.\r\n"},  // typed text is never a format
    };
    for (const Case& c : cases) EXPECT_EQ(Run(c.line), c.reply) << c.line;
}

TEST_F(ConsoleServerTest, Quit) {
    EXPECT_EQ(Run("QUIT"), "Goodbye!");
    ASSERT_EQ(transport.closed.size(), 1u);
    EXPECT_EQ(transport.closed[0], kAlice);
    // With a second word it is an ordinary command line, which no parser knows.
    EXPECT_EQ(Run("quit now"), kUnknown);
    EXPECT_EQ(transport.closed.size(), 1u);
}

TEST_F(ConsoleServerTest, DispatchToParsers) {
    struct Case {
        const char* line;
        const char* reply;
        std::vector<std::string> firstCalls;
        std::vector<std::string> secondCalls;
    } cases[] = {
        {"Two x y", "Successfully called Two.\r\n", {"First:Two x y"}, {}},
        {"first two \"x y\" z", "Successfully called Two.\r\n", {"First:Two x y z"}, {}},
        {"2 zero", "Successfully called Zero.\r\n", {}, {"Second:Zero"}},
        {"shared a",
         "Successfully called Shared.\r\nSuccessfully called Shared.\r\n",
         {"First:Shared a"},
         {"Second:Shared a"}},
        {"Second Shared", "Successfully called Shared.\r\n", {}, {"Second:Shared"}},
        {"Two x", "Invalid parameter count.\r\n(2 parms): Two <a> <b> - two words\r\n", {}, {}},
        {"First Zero", kUnknown, {}, {}},  // the named parser lacks it: no other parser is asked
        {"0 Zero", "Invalid index.\r\nUnknown command:  Type 'help' for help.\r\n", {}, {}},
        {"9 Zero", "Invalid index.\r\nUnknown command:  Type 'help' for help.\r\n", {}, {}},
        {"99999999999999999999 Zero",
         "Invalid index.\r\nUnknown command:  Type 'help' for help.\r\n",
         {},
         {}},
        {"Zero", "Successfully called Zero.\r\n", {}, {"Second:Zero"}},
        {"nothing", kUnknown, {}, {}},
        {"", "", {}, {}},
        {"  \"\"  ", "", {}, {}},
    };
    for (const Case& c : cases) {
        first.calls.clear();
        second.calls.clear();
        EXPECT_EQ(Run(c.line), c.reply) << c.line;
        EXPECT_EQ(first.calls, c.firstCalls) << c.line;
        EXPECT_EQ(second.calls, c.secondCalls) << c.line;
    }
}

TEST_F(ConsoleServerTest, OverlongLinesAndTooManyWords) {
    // The parsers see the line cut to what a console line holds.
    const std::string longWord(700, 'q');
    EXPECT_EQ(Run("Shared " + longWord), "Successfully called Shared.\r\nSuccessfully called Shared.\r\n");
    EXPECT_EQ(first.lastLineCopy.size(), 511u);
    ASSERT_EQ(first.calls.size(), 1u);
    EXPECT_EQ(first.calls[0].size(), std::string("First:Shared ").size() + 511 - 7);

    std::string crowded = "Shared";
    for (int i = 0; i < 30; ++i) crowded += " w";
    first.calls.clear();
    EXPECT_EQ(Run(crowded), "Too many words: at most 19 fit on a line.\r\n");
    EXPECT_TRUE(first.calls.empty());
}

TEST(ConsoleServer, ParserListChangesAndTransportSwaps) {
    NotingParser a{"A"}, b{"B"}, c{"C"}, own{"Own"}, own2{"Own2"};
    MemoryTransport one, two;
    one.ownParser = &own;
    two.ownParser = &own2;
    ConsoleServer console;
    console.Update();  // no transport: nothing happens

    console.AddCommandParser(&a);
    console.AddCommandParser(&b);
    console.AddCommandParser(&a);  // already there
    console.AddCommandParser(nullptr);
    console.AddCommandParser(&c);
    console.RemoveCommandParser(&a);
    console.RemoveCommandParser(&a);  // gone already
    console.SetTransport(nullptr, 1);
    EXPECT_EQ(console.GetTransport(), nullptr);

    console.SetTransport(&one, 1);
    EXPECT_EQ(console.GetParserCount(), 3u);  // C, B and the transport's own
    EXPECT_EQ(own.transportSet, &one);
    one.lines.emplace_back(kBob, "help");
    console.Update();
    const std::string help = one.TakeOutput(kBob);
    EXPECT_NE(help.find("INSTALLED PARSERS:\r\n1. C\r\n2. B\r\n3. Own\r\n"), std::string::npos);

    console.SetTransport(&two, 2);
    EXPECT_EQ(one.stops, 1);
    EXPECT_TRUE(two.started);
    EXPECT_EQ(c.transportSet, &two);
    two.lines.emplace_back(kBob, "help");
    console.Update();
    EXPECT_NE(two.TakeOutput(kBob).find("INSTALLED PARSERS:\r\n1. C\r\n2. B\r\n3. Own2\r\n"),
              std::string::npos);
}

TEST(ConsoleServer, WithoutParsersOnlyABadIndexIsAnswered) {
    MemoryTransport transport;
    ConsoleServer console;
    console.SetTransport(&transport, 0);
    transport.lines.emplace_back(kAlice, "anything at all");
    transport.lines.emplace_back(kAlice, "0 x");
    console.Update();
    EXPECT_EQ(transport.TakeOutput(kAlice), "Invalid index.\r\n");
}

// A packet whose text is not terminated where its length says is read only up to its length.
TEST(ConsoleServer, LinesAreReadWithinTheirLength) {
    class RawTransport final : public TransportInterface {
    public:
        bool Start(uint16_t, bool) override { return true; }
        void Stop() override {}
        void CloseConnection(PlayerID) override {}
        Packet* Receive() override {
            if (given) return nullptr;
            given = true;
            Packet* p = NewPacket(4);
            std::memcpy(p->data, "Zero", 4);  // no terminator
            p->sender = kAlice;
            return p;
        }
        void DeallocatePacket(Packet* packet) override { FreePacket(packet); }
        PlayerID TakeNewConnection() override { return UNASSIGNED_PLAYER_ID; }
        PlayerID TakeLostConnection() override { return UNASSIGNED_PLAYER_ID; }
        CommandParserInterface* GetTransportParser() override { return nullptr; }
        std::string out;
        bool given = false;

    protected:
        void SendText(PlayerID, const char* text, uint32_t length) override { out.append(text, length); }
    } transport;
    NotingParser parser{"P"};
    parser.Register(0, "Zero", "");
    ConsoleServer console;
    console.AddCommandParser(&parser);
    console.SetTransport(&transport, 0);
    console.Update();
    EXPECT_EQ(transport.out, "Successfully called Zero.\r\n");
}

}  // namespace
}  // namespace velt
