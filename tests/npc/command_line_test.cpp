// The bot's command line: how the joined arguments are scanned into the five values.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "npc/NpcCommandLine.h"

namespace velt {
namespace {

struct Case {
    std::vector<std::string> args;
    std::string host, port, name, mode, password;
};

NpcCommandLine Parse(const std::vector<std::string>& args, std::string* joined = nullptr) {
    std::vector<const char*> argv{"velt-npc"};
    for (const std::string& a : args) argv.push_back(a.c_str());
    char line[kNpcCommandLineMax + 1];
    JoinNpcArguments(int(argv.size()), argv.data(), line, sizeof line);
    if (joined != nullptr) *joined = line;
    NpcCommandLine out;
    ParseNpcCommandLine(line, out);
    return out;
}

TEST(NpcCommandLine, ScansTheJoinedArguments) {
    const Case cases[] = {
        {{"-h", "127.0.0.1", "-p", "7777", "-n", "Bot", "-m", "idle"},
         "127.0.0.1",
         "7777",
         "Bot",
         "idle",
         ""},
        {{"/n", "Bot"}, "", "", "Bot", "", ""},
        {{"-n", "Bot-1"}, "", "", "Bot", "", ""},
        {{"-x", "5", "-n", "Bot"}, "", "", "Bot", "", ""},
        {{"-z", "secret", "-m", "walker"}, "", "", "", "walker", "secret"},
        // Values need no blank after the letter; the last of two wins.
        {{"-nFirst", "-n", "Second"}, "", "", "Second", "", ""},
        // A letter without a value gives the empty text, also when the next option follows at once.
        {{"-h", "-p", "8192"}, "", "8192", "", "", ""},
        {{"-n"}, "", "", "", "", ""},
        // '/' ends a value: a path cannot sneak into the script name.
        {{"-m", "../../etc/x"}, "", "", "", "..", ""},
        // Arguments may carry several words.
        {{"-h 10.0.0.1 -p 9"}, "10.0.0.1", "9", "", "", ""},
        {{}, "", "", "", "", ""},
    };
    for (const Case& c : cases) {
        std::string joined;
        const NpcCommandLine o = Parse(c.args, &joined);
        SCOPED_TRACE("line: [" + joined + "]");
        EXPECT_EQ(o.host, c.host);
        EXPECT_EQ(o.port, c.port);
        EXPECT_EQ(o.name, c.name);
        EXPECT_EQ(o.mode, c.mode);
        EXPECT_EQ(o.password, c.password);
    }
}

TEST(NpcCommandLine, JoinedLineEndsInABlankAndIsBounded) {
    std::string joined;
    Parse({"-n", "Bot"}, &joined);
    EXPECT_EQ(joined, "-n Bot ");
    Parse({}, &joined);
    EXPECT_EQ(joined, "");

    // Far more than the line holds: cut at 1023 characters, never past the buffer.
    std::vector<std::string> many(400, "-n");
    many.push_back("Late");
    Parse(many, &joined);
    EXPECT_EQ(joined.size(), kNpcCommandLineMax);
}

TEST(NpcCommandLine, LongValueKeepsItsFirst256Characters) {
    const std::string longName(1000, 'a');
    const NpcCommandLine o = Parse({"-m", longName, "-n", "Bot"});
    EXPECT_EQ(std::string(o.mode), std::string(kNpcOptionMax, 'a'));
    EXPECT_EQ(std::string(o.name), "Bot");
}

TEST(NpcCommandLine, PortText) {
    const struct {
        const char* text;
        uint16_t port;
    } cases[] = {
        {"7777", 7777},
        {"", 0},
        {"abc", 0},
        {"12abc", 12},
        {"  8192", 8192},
        {"+80", 80},
        // As an int converted to 16 bits: the value modulo 65536, also for texts no int holds.
        {"65536", 0},
        {"70000", 4464},
        {"99999999999999999999", 65535},
    };
    for (const auto& c : cases) EXPECT_EQ(NpcPortFromText(c.text), c.port) << c.text;
}

}  // namespace
}  // namespace velt
