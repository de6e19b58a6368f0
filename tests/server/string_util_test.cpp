#include "server/shared/StringUtil.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

using namespace std::string_view_literals;

namespace velt {
namespace {

// A heap copy of the bytes with no terminator after them, so AddressSanitizer flags any read or
// write past the end of the text.
struct ExactBuffer {
    explicit ExactBuffer(std::string_view bytes) : size(bytes.size()), data(new char[bytes.size()]) {
        std::memcpy(data.get(), bytes.data(), bytes.size());
    }
    std::string_view View(std::size_t length) const { return {data.get(), length}; }
    std::size_t size;
    std::unique_ptr<char[]> data;
};

// Runs an in-place function on a terminated copy of `input` and returns the resulting C text.
template <typename Fn>
std::string InPlace(Fn fn, const std::string& input, std::size_t* returned = nullptr) {
    std::vector<char> buffer(input.begin(), input.end());
    buffer.push_back('\0');
    const std::size_t length = fn(buffer.data(), buffer.size());
    if (returned) *returned = length;
    return std::string(buffer.data());
}

TEST(StringUtil, CaseHelpersFoldAsciiOnly) {
    EXPECT_EQ(ToUpperAscii('a'), 'A');
    EXPECT_EQ(ToUpperAscii('z'), 'Z');
    for (char ch : {'`', '{', '@', '[', 'A', '0', '\0', '\xE9', '\xFF'}) EXPECT_EQ(ToUpperAscii(ch), ch);

    std::string name = "gm_Var\xE9.x1";
    StringToUpper(name);
    EXPECT_EQ(name, "GM_VAR\xE9.X1");

    ExactBuffer raw("abcd");  // no terminator: must stop at the buffer end
    StringToUpper(raw.data.get(), raw.size);
    EXPECT_EQ(raw.View(4), "ABCD");

    struct FindCase {
        std::string_view text, needle;
        long offset;  // -1: not found
    };
    const FindCase finds[] = {
        {"Content-Length: 12", "content-length", 0},
        {"xx\r\nLOCATION: /a", "Location:", 4},
        {"abc", "", -1},
        {"ab", "abc", -1},
        {"abc", "abd", -1},
        {"\xE9t\xE9", "\xC9T\xC9", -1},  // no folding above 0x7F
        {"aaab", "aab", 1},
    };
    for (const auto& c : finds) {
        const char* hit = FindNoCase(c.text, c.needle);
        EXPECT_EQ(hit ? hit - c.text.data() : -1, c.offset) << c.text << " / " << c.needle;
    }

    struct CompareCase {
        std::string_view a, b;
        std::size_t n;
        int expected;
    };
    const CompareCase compares[] = {
        {"content-type", "CONTENT-TYPE", 12, 0},
        {"abc", "abd", 3, 'C' - 'D'},
        {"abc", "abd", 2, 0},
        {"ab", "abc", 5, -'C'},  // end of a reads as a terminator
        {"abc", "ab", 5, 'C'},
        {"ab\0x"sv, "ab\0y"sv, 4, 0},  // stops after a's terminator
        {"\xFF", "a", 1, -1 - 'A'},    // signed characters
        {"x", "y", 0, 0},
    };
    for (const auto& c : compares) EXPECT_EQ(CompareNoCaseUpperN(c.a, c.b, c.n), c.expected) << c.a;
}

// Literal reading of the matching rule, memoised, used as an oracle for the real matcher.
bool ReferenceMatch(std::string_view p, std::string_view t, std::vector<int>& memo, std::size_t i,
                    std::size_t j) {
    int& slot = memo[i * (t.size() + 1) + j];
    if (slot >= 0) return slot;
    bool result;
    if (i == p.size())
        result = j == t.size();
    else if (p[i] == '*')
        result =
            ReferenceMatch(p, t, memo, i + 1, j) || (j < t.size() && ReferenceMatch(p, t, memo, i, j + 1));
    else
        result = j < t.size() && (p[i] == '?' || p[i] == t[j]) && ReferenceMatch(p, t, memo, i + 1, j + 1);
    slot = result;
    return result;
}

TEST(StringUtil, WildcardMatch) {
    struct Case {
        std::string_view pattern, text;
        bool match;
    };
    const Case cases[] = {
        {"*.vmb", "test.vmb", true},
        {"t?st", "toast", false},
        {"t?st", "test", true},
        {"*.vmb", "test.vmbx", false},
        {"", "", true},
        {"", "a", false},
        {"*", "", true},
        {"a**", "abc", true},
        {"a*", "a", true},
        {"*a", "", false},
        {"?", "", false},
        {"abc", "ABC", false},
        {"a*b*c", "axxbxxc", true},
        {"a*b*c", "axxbxx", false},
        {"*b*a", "abba", true},
        {"*?*", "x", true},
        {"\xE9*", "\xE9t\xE9", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WildcardMatch(c.pattern, c.text), c.match) << c.pattern << " ~ " << c.text;

    // A pattern that makes a backtracking matcher try every split: must still answer at once.
    std::string hostile;
    for (int i = 0; i < 40; ++i) hostile += "*a";
    hostile += "*b";
    EXPECT_FALSE(WildcardMatch(hostile, std::string(5000, 'a')));

    std::mt19937 rng(7);
    auto randomText = [&](std::string_view alphabet, std::size_t maxLength) {
        std::string s(rng() % (maxLength + 1), ' ');
        for (char& ch : s) ch = alphabet[rng() % alphabet.size()];
        return s;
    };
    for (int round = 0; round < 3000; ++round) {
        const std::string pattern = randomText("ab*?", 7);
        const std::string text = randomText("ab", 9);
        std::vector<int> memo((pattern.size() + 1) * (text.size() + 1), -1);
        ASSERT_EQ(WildcardMatch(pattern, text), ReferenceMatch(pattern, text, memo, 0, 0))
            << pattern << " ~ " << text;
    }
}

TEST(StringUtil, NumberToText) {
    struct Case {
        std::int32_t value;
        int radix;
        std::string_view text;
    };
    const Case signedCases[] = {
        {-255, 16, "-FF"},
        {0, 10, "0"},
        {123, 0, "123"},
        {255, 2, "11111111"},
        {34, 35, "Y"},
        {INT32_MAX, 10, "2147483647"},
        {INT32_MIN, 10, "-2147483648"},
        {INT32_MIN, 2, "-10000000000000000000000000000000"},
        {-255, 1, ""},
        {-255, 36, ""},
        {7, -2, ""},
    };
    for (const auto& c : signedCases) {
        char out[kIntTextSize];
        const std::size_t length = IntToString(c.value, out, sizeof out, c.radix);
        EXPECT_EQ(std::string_view(out), c.text) << c.value << " radix " << c.radix;
        EXPECT_EQ(length, c.text.size());
    }

    char out[kIntTextSize];
    EXPECT_EQ(UIntToString(0xFFFFFFFFu, out, sizeof out, 16), 8u);
    EXPECT_STREQ(out, "FFFFFFFF");
    UIntToString(0xFFFFFFFFu, out, sizeof out, 2);
    EXPECT_EQ(std::string(out), std::string(32, '1'));
    UIntToString(4294967295u, out, sizeof out, 0);
    EXPECT_STREQ(out, "4294967295");

    // A result that does not fit gives an empty text, and nothing is written past outSize.
    char guarded[8];
    std::memset(guarded, 'Z', sizeof guarded);
    EXPECT_EQ(IntToString(-255, guarded, 3, 16), 0u);
    EXPECT_EQ(guarded[0], '\0');
    EXPECT_EQ(std::string_view(guarded + 1, 7), "ZZZZZZZ");
    EXPECT_EQ(IntToString(-255, guarded, 4, 16), 3u);
    EXPECT_STREQ(guarded, "-FF");
    EXPECT_EQ(UIntToString(1, nullptr, 0, 10), 0u);
}

TEST(StringUtil, Base64Encode) {
    struct Case {
        std::string_view data, encoded;
    };
    const Case cases[] = {
        {"", ""},
        {"a", "YQ=="},
        {"ab", "YWI="},
        {"abc", "YWJj"},
        {"foobar", "Zm9vYmFy"},
        {"\xFF\xFE\xFD", "//79"},
        {"\xFB\xFF", "+/8="},
    };
    for (const auto& c : cases) {
        std::vector<char> out(Base64EncodedSize(c.data.size()));
        EXPECT_EQ(Base64Encode(c.data, out.data(), out.size()), c.encoded.size());
        EXPECT_EQ(std::string_view(out.data()), c.encoded);
    }
    char small[8];
    std::memset(small, 'Z', sizeof small);
    EXPECT_EQ(Base64Encode("abc", small, 4), 0u);  // needs 5 with the terminator
    EXPECT_EQ(small[0], '\0');
    EXPECT_EQ(small[4], 'Z');
}

TEST(StringUtil, NameRuleAndHexDigits) {
    struct Case {
        std::string_view name;
        bool invalid;
    };
    const Case cases[] = {
        {"Player_[1]", false}, {"$()=.@[]_09azAZ", false},
        {"", false},           {"has space", true},
        {"bad\x80", true},     {"caf\xC3\xA9", true},
        {"a-b", true},         {"a\\b", true},
        {"a^b", true},         {"a`b", true},
        {"a{b}", true},        {"ab\0c"sv, true},
    };
    for (const auto& c : cases) EXPECT_EQ(HasInvalidNameChar(c.name), c.invalid) << c.name;

    for (char ch : {'0', '9', 'A', 'F', 'a', 'f'}) EXPECT_TRUE(IsHexDigit(ch)) << ch;
    for (char ch : {'/', ':', '@', 'G', '`', 'g', '\0', '\xC1'}) EXPECT_FALSE(IsHexDigit(ch)) << ch;
}

// The removal rule read literally: passes that drop every embed found, until one drops nothing.
std::string ReferenceStrip(std::string text) {
    for (bool removed = true; removed;) {
        removed = false;
        std::string next;
        for (std::size_t i = 0; i < text.size();) {
            if (ParseColourEmbed(std::string_view(text).substr(i)) >= 0) {
                i += 8;
                removed = true;
            } else {
                next += text[i++];
            }
        }
        text = next;
    }
    return text;
}

TEST(StringUtil, ColourEmbeds) {
    struct ParseCase {
        std::string_view text;
        std::int32_t value;
    };
    const ParseCase parses[] = {
        {"{ff00FF}", 0xFF00FF}, {"{FFFFFF}", 0xFFFFFF}, {"{000000}x", 0},
        {"{12345}", -1},        {"{1234567}", -1},      {"{GGGGGG}", -1},
        {"x{123456}", -1},      {"{123456", -1},        {"{123456}"sv.substr(0, 7), -1},
    };
    for (const auto& c : parses) EXPECT_EQ(ParseColourEmbed(c.text), c.value) << c.text;

    struct StripCase {
        std::string input, output;
    };
    const StripCase strips[] = {
        {"{FF0000}Hi {00FF00}there", "Hi there"},
        {"{12{ABCDEF}3456}", ""},
        {"{{123456}123456}}", "}"},
        {"{12345}", "{12345}"},
        {"keep {ABCDEF", "keep {ABCDEF"},
        {"\xE9{aBcDeF}\xFF", "\xE9\xFF"},
    };
    for (const auto& c : strips) {
        std::size_t length = 0;
        EXPECT_EQ(InPlace(StripColourEmbeds, c.input, &length), c.output) << c.input;
        EXPECT_EQ(length, c.output.size());
    }

    // Unterminated buffers: the text ends at the buffer end and nothing outside is touched.
    ExactBuffer whole("{123456}");
    EXPECT_EQ(StripColourEmbeds(whole.data.get(), whole.size), 0u);
    EXPECT_EQ(whole.data[0], '\0');
    ExactBuffer plain("abc");
    EXPECT_EQ(StripColourEmbeds(plain.data.get(), plain.size), 3u);
    EXPECT_EQ(plain.View(3), "abc");

    // Texts built from embed fragments, against the literal rule.
    std::mt19937 rng(11);
    const std::string_view pieces[] = {"{", "}", "A", "f", "0", "{ABCDEF}", "{12", "3456}", "x"};
    for (int round = 0; round < 2000; ++round) {
        std::string text;
        for (unsigned n = rng() % 12; n > 0; --n) text += pieces[rng() % std::size(pieces)];
        ASSERT_EQ(InPlace(StripColourEmbeds, text), ReferenceStrip(text)) << text;
    }
}

TEST(StringUtil, ChatTextAndUrlDecoding) {
    struct Case {
        std::string input, output;
    };
    const Case chats[] = {
        {"100% ~k~", "100# #k~"}, {"~K~ stays", "~K~ stays"}, {"~~k", "~#k"},
        {"{FF0000}%", "#"},       {"~{123456}k~", "#k~"},  // the token formed once the embed is gone is caught too
        {"end ~", "end ~"},
    };
    for (const auto& c : chats) EXPECT_EQ(InPlace(SanitiseChatText, c.input), c.output) << c.input;

    const Case urls[] = {
        {"a%2fb+c", "a/b c"}, {"%41%4a%4A", "AJJ"}, {"%", "%"},     {"%4", "%4"},
        {"100%", "100%"},     {"%zz%g1", "%zz%g1"}, {"%%41", "%A"}, {"%E9", "\xE9"},
    };
    for (const auto& c : urls) EXPECT_EQ(InPlace(UrlDecode, c.input), c.output) << c.input;

    std::size_t length = 0;
    std::vector<char> nul = {'%', '0', '0', 'x', '\0'};
    length = UrlDecode(nul.data(), nul.size());
    EXPECT_EQ(length, 2u);  // the decoded NUL is counted, so callers can see it
    EXPECT_EQ(nul[0], '\0');
    EXPECT_EQ(nul[1], 'x');

    ExactBuffer cut("%4");  // escape cut by the buffer end
    EXPECT_EQ(UrlDecode(cut.data.get(), cut.size), 2u);
    ExactBuffer full("%41");
    EXPECT_EQ(UrlDecode(full.data.get(), full.size), 1u);
    EXPECT_EQ(full.View(2), "A\0"sv);

    EXPECT_EQ(InPlace(
                  [](char* t, std::size_t n) {
                      ReverseString(t, n);
                      return std::size_t{0};
                  },
                  "abc"),
              "cba");
    ExactBuffer odd("abcd");
    ReverseString(odd.data.get(), odd.size);
    EXPECT_EQ(odd.View(4), "dcba");
}

}  // namespace
}  // namespace velt
