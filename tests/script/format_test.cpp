// The script format engine: every conversion and flag as one table, the output bound, SQL quoting
// checked against the sqlite3 command-line tool, and hostile formats and addresses.

#include "server/natives/ScriptFormat.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "tests/script/natives_test_util.h"

namespace velt::scripttest {
namespace {

struct Arg {
    enum Kind { Int, Flt, Text } kind;
    cell i = 0;
    float f = 0;
    std::string s;
};
Arg I(cell v) { return {Arg::Int, v, 0, {}}; }
Arg F(float v) { return {Arg::Flt, 0, v, {}}; }
Arg S(std::string v) { return {Arg::Text, 0, 0, std::move(v)}; }

class Format : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(mem.loadError, VM_ERR_NONE); }

    // Formats through the natives' entry, with the format as the first argument.
    std::string Run(const std::string& format, const std::vector<Arg>& args, int32_t* length = nullptr) {
        std::vector<cell> cells{mem.Str(format)};
        for (const Arg& a : args) {
            switch (a.kind) {
                case Arg::Int: cells.push_back(mem.Value(a.i)); break;
                case Arg::Flt: cells.push_back(mem.Float(a.f)); break;
                case Arg::Text: cells.push_back(mem.Str(a.s)); break;
            }
        }
        const std::vector<cell> params = Params(cells);
        int32_t len = -1;
        const char* out = FormatScriptString(&mem.vm, params.data(), 1, &len);
        if (length != nullptr) *length = len;
        return std::string(out, static_cast<size_t>(len));
    }

    ScriptMemory mem{"format_host"};
};

struct Case {
    const char* format;
    std::vector<Arg> args;
    std::string expected;
};

TEST_F(Format, ConversionsFlagsWidthsAndPrecisions) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<Case> cases = {
        // plain text, "%%" and conversions the engine does not know
        {"plain text", {}, "plain text"},
        {"%d%%", {I(5)}, "5%"},
        {"%z", {}, "z"},
        {"%5z|", {}, "z|"},
        {"abc%", {}, "abc%"},
        {"ab%5", {I(1)}, "ab%"},
        {"ab%.", {I(1)}, "ab%"},
        // decimal: the width counts digits only, the sign comes on top; "-" does not left-align
        {"%d|%i", {I(-42), I(7)}, "-42|7"},
        {"%5d", {I(-3)}, "-    3"},
        {"%05d", {I(-3)}, "-00003"},
        {"%-5d|", {I(5)}, "    5|"},
        {"%3d", {I(12345)}, "12345"},
        {"%d", {I(std::numeric_limits<cell>::min())}, "-2147483648"},
        {"%d", {I(std::numeric_limits<cell>::max())}, "2147483647"},
        // hex and binary: unsigned, upper case, no prefix
        {"%x", {I(255)}, "FF"},
        {"%04x", {I(255)}, "00FF"},
        {"%4h", {I(255)}, "  FF"},
        {"%x", {I(-1)}, "FFFFFFFF"},
        {"%b", {I(5)}, "101"},
        {"%08b", {I(5)}, "00000101"},
        {"%b", {I(std::numeric_limits<cell>::min())}, "1" + std::string(31, '0')},
        // floats: truncated, never rounded; the width covers the integer part and its sign
        {"%f", {F(0.5f)}, "0.500000"},
        {"%.0f", {F(2.7f)}, "2"},
        {"%.f", {F(2.7f)}, "2"},
        {"%.2f", {F(1.999f)}, "1.99"},
        {"%f", {F(nan)}, "NaN"},
        {"%5.2f", {F(-1.5f)}, "   -1.50"},
        {"%05.2f", {F(-1.5f)}, "000-1.50"},
        {"%.3f", {F(-0.25f)}, "-0.250"},
        {"%.1f", {F(100.0f)}, "100.0"},
        // beyond the 32-bit integer range the integer part saturates
        {"%.1f", {F(1e10f)}, "2147483647.0"},
        {"%.1f", {F(-std::numeric_limits<float>::infinity())}, "-2147483647.0"},
        // texts: left-aligned, the precision cuts, the zero flag does not apply
        {"%5s|", {S("ab")}, "ab   |"},
        {"%.1s", {S("ab")}, "a"},
        {"%3s|", {S("")}, "   |"},
        {"%05s|", {S("ab")}, "ab   |"},
        {"[%s]", {S("hello world")}, "[hello world]"},
        // SQL quoting: every ' doubled; an empty text writes nothing, not even padding
        {"%q", {S("it's")}, "it''s"},
        {"%3q|", {S("")}, "|"},
        {"%7q|", {S("a'b")}, "a''b   |"},
        {"%.3q", {S("'''")}, "'''"},
        // characters: the low byte of the value
        {"%c%c", {I('A'), I(0x142)}, "AB"},
        // width and precision from arguments; a negative precision counts as none
        {"%*d|", {I(4), I(7)}, "   7|"},
        {"%.*s", {I(2), S("abcdef")}, "ab"},
        {"%.*s", {I(-1), S("abcdef")}, "abcdef"},
        {"%*.*f", {I(3), I(1), F(2.25f)}, "  2.2"},
        // a conversion with no argument left writes nothing and takes nothing
        {"%d %d", {I(5)}, "5 "},
        {"%s|%c|%f|%q|%x", {}, "||||"},
        {"%*d", {}, ""},
    };
    for (const Case& c : cases) {
        int32_t length = -1;
        EXPECT_EQ(Run(c.format, c.args, &length), c.expected) << c.format;
        EXPECT_EQ(length, static_cast<int32_t>(c.expected.size())) << c.format;
    }
}

TEST_F(Format, ArgumentsAreConsumedInOrderAcrossConversions) {
    // "*" takes an argument before the value it pads; a missing value leaves later ones unread.
    EXPECT_EQ(Run("%*d,%s,%x", {I(3), I(1), S("t"), I(10)}), "  1,t,A");
    int32_t next = 2;
    const std::vector<cell> params = Params({mem.Str("%d%d"), mem.Value(1), mem.Value(2), mem.Value(3)});
    char out[16];
    EXPECT_EQ(ScriptFormatter(out, 15, &mem.vm, params[1], params.data(), next), 2);
    EXPECT_STREQ(out, "12");
    EXPECT_EQ(next, 4);  // two values taken, the third is left for the caller
}

TEST_F(Format, OutputIsBoundedAndCut) {
    // 5000 characters of text are cut at 4095.
    int32_t length = 0;
    const std::string big(5000, 'x');
    std::string out = Run("%s", {S(big)}, &length);
    EXPECT_EQ(length, kFormatMaxChars);
    EXPECT_EQ(out, big.substr(0, kFormatMaxChars));
    // A cut in the middle of a number or of a quoted text keeps what fits.
    out = Run(std::string(4093, '.') + "%d", {I(12345)}, &length);
    EXPECT_EQ(out.substr(4093), "12");
    out = Run(std::string(4094, '.') + "%q", {S("''")}, &length);
    EXPECT_EQ(out.substr(4094), "'");
    EXPECT_EQ(length, kFormatMaxChars);

    // A small output of the engine itself.
    const std::vector<cell> params = Params({mem.Str("abcdefg%d"), mem.Value(99)});
    char small[6] = "#####";
    int32_t next = 2;
    EXPECT_EQ(ScriptFormatter(small, 4, &mem.vm, params[1], params.data(), next), 4);
    EXPECT_STREQ(small, "abcd");
}

TEST_F(Format, HostileFormatsStayBounded) {
    const std::vector<Case> cases = {
        // widths of any size give at most one scratch buffer of a number
        {"%99999999999d", {I(5)}, std::string(63, ' ') + "5"},
        {"%2147483648d", {I(-5)}, "-" + std::string(62, ' ') + "5"},
        {"%099999999999x", {I(255)}, std::string(62, '0') + "FF"},
        {"%99999999999b", {I(1)}, std::string(63, ' ') + "1"},
        {"%99999999999.99999999999f", {F(1.5f)}, std::string(63, ' ') + "1"},
        {"%.99999999999f", {F(0.5f)}, "0." + std::string(62, '0').replace(0, 1, "5")},
        // digits past the eleventh are not part of the width: the twelfth is the conversion
        {"%123456789012d", {I(5)}, "2d"},
        // a negative width from an argument pads nothing
        {"%*d", {I(std::numeric_limits<cell>::min()), I(5)}, "5"},
        {"%-*s|", {I(-20), S("x")}, "x|"},
        // flags only, then the end of the format
        {"%00--00", {}, "%"},
        {"%*", {I(3)}, "%"},
        {"%.*", {I(3)}, "%"},
    };
    for (const Case& c : cases) EXPECT_EQ(Run(c.format, c.args), c.expected) << c.format;

    // Huge text widths stop at the output bound.
    int32_t length = 0;
    std::string out = Run("%99999999999s", {S("a")}, &length);
    EXPECT_EQ(length, kFormatMaxChars);
    EXPECT_EQ(out, "a" + std::string(kFormatMaxChars - 1, ' '));
    out = Run("%*s", {I(std::numeric_limits<cell>::max()), S("b")}, &length);
    EXPECT_EQ(length, kFormatMaxChars);
}

TEST_F(Format, BadAddressesAndUnterminatedTexts) {
    const cell value = mem.Value(7);
    const cell outside[] = {-4, mem.vm.heap + 256, mem.vm.stack_top, 0x7FFFFFFC};
    for (cell bad : outside) {
        // A bad format address formats nothing.
        std::vector<cell> params = Params({bad, value});
        int32_t length = -1;
        EXPECT_STREQ(FormatScriptString(&mem.vm, params.data(), 1, &length), "") << bad;
        EXPECT_EQ(length, 0);
        // A bad value address takes the argument and writes nothing for it.
        params = Params({mem.Str("[%d|%d|%s|%q]"), bad, value, bad, bad});
        EXPECT_STREQ(FormatScriptString(&mem.vm, params.data(), 1, &length), "[|7||]") << bad;
    }
    // A format string must start on a cell.
    const cell fmt = mem.Str("abc");
    std::vector<cell> params = Params({fmt + 2});
    EXPECT_STREQ(FormatScriptString(&mem.vm, params.data(), 1, nullptr), "");
    // No format argument at all, or a format index past the arguments.
    params = Params({});
    EXPECT_STREQ(FormatScriptString(&mem.vm, params.data(), 1, nullptr), "");
    params = Params({fmt});
    EXPECT_STREQ(FormatScriptString(&mem.vm, params.data(), 2, nullptr), "");

    // A text that runs up to the heap top without a terminator reads as empty, and so does a
    // format string like it: nothing past the heap top is read.
    const cell withText = mem.Str("<%s>");
    const cell unterminated = mem.Alloc(std::vector<cell>(8, 'z'));
    ASSERT_EQ(unterminated + 8 * 4, mem.vm.heap);
    params = Params({withText, unterminated});
    EXPECT_STREQ(FormatScriptString(&mem.vm, params.data(), 1, nullptr), "<>");
    params = Params({unterminated});
    EXPECT_STREQ(FormatScriptString(&mem.vm, params.data(), 1, nullptr), "");
}

TEST_F(Format, FormatStringIsReadOneCharacterPerCell) {
    // Cells carry the character in their low byte; a packed format is not a format this engine
    // reads as text, so only its low bytes show.
    const cell fmt = mem.Alloc({0x141, 0x242, '%', 'd', 0});
    std::vector<cell> params = Params({fmt, mem.Value(3)});
    EXPECT_STREQ(FormatScriptString(&mem.vm, params.data(), 1, nullptr), "AB3");
    // "%q" reads its text like every other text native, packed texts included.
    params = Params({mem.Str("%q"), mem.Packed("o'k")});
    EXPECT_STREQ(FormatScriptString(&mem.vm, params.data(), 1, nullptr), "o''k");
}

std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// The sqlite3 tool's own %q of a text given as hex bytes, as hex; empty when the tool is missing.
std::string ToolQuote(const std::string& text) {
    const std::string cmd =
        "sqlite3 :memory: \"SELECT hex(printf('%q', CAST(X'" + Hex(text) + "' AS TEXT)));\" 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr) return {};
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    if (pclose(p) != 0) return {};
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

TEST_F(Format, QuotingMatchesTheSqliteTool) {
    if (ToolQuote("a") != Hex("a")) GTEST_SKIP() << "sqlite3 command-line tool not available";
    const std::vector<std::string> texts = {
        "it's",         "''",         "'",         "no quotes",       "back\\slash",          "percent %d %q",
        "semi;colon--", "\"double\"", "tab\there", "caf\xc3\xa9 'x'", std::string(300, '\''), "a'b'c'd'e",
    };
    for (const std::string& text : texts) {
        const std::string ours = Run("%q", {S(text)});
        EXPECT_EQ(Hex(ours), ToolQuote(text)) << text;
    }
}

TEST(FormatNumbers, ScratchSizeBoundsEveryConversion) {
    char buf[kFormatScratchSize];
    const int32_t widths[] = {0, 1, 63, 64, 65, 1000, std::numeric_limits<int32_t>::max()};
    for (int32_t w : widths) {
        for (bool zero : {false, true}) {
            EXPECT_LE(FormatDecimal(buf, sizeof buf, std::numeric_limits<cell>::min(), w, zero), sizeof buf);
            EXPECT_LE(FormatHex(buf, sizeof buf, 0xFFFFFFFFu, w, zero), sizeof buf);
            EXPECT_LE(FormatBinary(buf, sizeof buf, 0xFFFFFFFFu, w, zero), sizeof buf);
            EXPECT_LE(FormatFloat(buf, sizeof buf, -3.4e38f, w, 1000, zero), sizeof buf);
        }
    }
    // Padding never eats the digits.
    size_t n = FormatBinary(buf, sizeof buf, 0xFFFFFFFFu, 1000, true);
    EXPECT_EQ(std::string(buf, n), std::string(32, '0') + std::string(32, '1'));
    n = FormatDecimal(buf, sizeof buf, -1234567890, 1000, false);
    EXPECT_EQ(std::string(buf, n), "-" + std::string(53, ' ') + "1234567890");
    // A scratch of two characters or less has no room for a float.
    EXPECT_EQ(FormatFloat(buf, 2, 1.0f, 0, -1, false), 0u);
}

}  // namespace
}  // namespace velt::scripttest
