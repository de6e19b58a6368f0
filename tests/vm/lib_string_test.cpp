// String library: comparisons and searches, the packed/unpacked conversions, numbers to and from
// text, the uuencoded line and raw byte copies, each run from a script.

#include "tests/vm/lib_fixture.h"

namespace velt::libtest {
namespace {

class StringLib : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(s.loadError, VM_ERR_NONE);
        ASSERT_EQ(s.attach({vm_AttachStringLib}), VM_ERR_NONE);
    }
    Script s{"lib_string"};
};

TEST_F(StringLib, CompareAndFind) {
    struct Case {
        const char* native;
        std::string a, b;
        bool packedA, packedB;
        cell flag, last;  // ignorecase, then length (strcmp) or pos (strfind)
        cell want;
    };
    const Case cases[] = {
        {"strcmp", "", "abc", false, false, 0, 100, 0},  // an empty string matches anything
        {"strcmp", "abc", "abd", false, false, 0, 100, -1},
        {"strcmp", "abd", "abc", false, true, 0, 100, 1},
        {"strcmp", "abc", "abcd", false, false, 0, 100, -1},  // length difference
        {"strcmp", "abc", "abcdef", true, false, 0, 100, -3},
        {"strcmp", "abc", "abcd", false, false, 0, 3, 0},
        {"strcmp", "ABC", "abc", false, true, 1, 100, 0},
        {"strcmp", "ABC", "abc", false, false, 0, 100, -1},
        {"strcmp", "\xC4", "\xE4", true, true, 1, 100, -1},  // only A-Z fold
        {"strcmp", "abc", "xyz", false, false, 0, 0, 0},
        {"strfind", "xxabc", "abc", false, false, 0, 0, 2},
        {"strfind", "xxabc", "abc", false, false, 0, 3, -1},
        {"strfind", "xxABC", "abc", true, false, 1, 0, 2},
        {"strfind", "xxABC", "abc", false, false, 0, 0, -1},
        {"strfind", "abab", "ab", false, true, 0, 1, 2},
        {"strfind", "abc", "", false, false, 0, 0, -1},
        {"strfind", "abc", "c", false, false, 0, -1, -1},  // negative start refused
        {"strfind", "ab", "abc", false, false, 0, 0, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.native) + " '" + c.a + "' '" + c.b + "'");
        const cell a = s.str(c.a, c.packedA), b = s.str(c.b, c.packedB);
        EXPECT_EQ(s.call(c.native, {a, b, c.flag, c.last}), (Outcome{VM_ERR_NONE, c.want}));
    }
}

TEST_F(StringLib, EditsKeepTheStringForm) {
    struct Case {
        const char* native;
        std::string dest;
        bool packed;
        std::string other;  // source, sub or "" when unused
        bool otherPacked;
        std::vector<cell> nums;  // arguments after the strings
        cell want;
        std::string result;
        bool resultPacked;
    };
    const Case cases[] = {
        {"strcat", "abc", false, "defg", true, {20}, 4, "abcdefg", false},
        {"strcat", "abc", true, "defg", false, {20}, 4, "abcdefg", true},
        {"strcat", "", false, "defg", true, {20}, 4, "defg", true},  // empty dest takes the source's form
        {"strcat", "abc", false, "defg", false, {5}, 1, "abcd", false},
        {"strcat", "abc", true, "defghij", false, {2}, 4, "abcdefg", true},
        {"strcat", "abcdef", false, "x", false, {3}, 0, "abcdef", false},  // already over: untouched
        {"strdel", "abcdef", false, "", false, {1, 3}, 1, "adef", false},
        {"strdel", "abcdefgh", true, "", false, {2, 100}, 1, "ab", true},
        {"strdel", "abcdef", true, "", false, {6, 8}, 0, "abcdef", true},
        {"strdel", "abcdef", false, "", false, {3, 3}, 0, "abcdef", false},
        {"strdel", "abcdef", false, "", false, {-1, 3}, 0, "abcdef", false},
        {"strins", "abcdef", false, "XY", true, {2, 20}, 1, "abXYcdef", false},
        {"strins", "abcdef", true, "XY", false, {6, 20}, 1, "abcdefXY", true},
        {"strins", "", false, "XY", true, {0, 20}, 1, "XY", true},
        {"strins", "abcdef", false, "XY", false, {2, 6}, 1, "abXYc", false},  // cut to maxlength
        {"strins", "abcdef", true, "XY", true, {4, 2}, 1, "abcdXYe", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.native) + " '" + c.dest + "' '" + c.other + "'");
        const cell dest = s.str(c.dest, c.packed, 20);
        std::vector<cell> args{dest};
        if (std::string(c.native) != "strdel") args.push_back(s.str(c.other, c.otherPacked));
        args.insert(args.end(), c.nums.begin(), c.nums.end());
        EXPECT_EQ(s.call(c.native, args), (Outcome{VM_ERR_NONE, c.want}));
        EXPECT_EQ(s.text(dest), c.result);
        EXPECT_EQ(s.call("ispacked", {dest}).value, c.resultPacked && !c.result.empty() ? 1 : 0);
    }
}

TEST_F(StringLib, StrinsRefusesPositionsOutsideTheString) {
    for (cell pos : {-1, 7, INT32_MIN}) {
        const cell dest = s.unpacked("abcdef", 20);
        EXPECT_EQ(s.call("strins", {dest, s.unpacked("XY"), pos, 20}).err, VM_ERR_NATIVE) << pos;
        EXPECT_EQ(s.text(dest), "abcdef");
    }
}

TEST_F(StringLib, CopiesBetweenForms) {
    struct Case {
        const char* native;
        std::string src;
        bool packed;
        std::vector<cell> nums;
        cell want;
        std::string result;
        bool resultPacked;
    };
    const Case cases[] = {
        {"strmid", "abcdefgh", false, {2, 5, 20}, 3, "cde", false},
        {"strmid", "abcdefgh", true, {-5, 100, 20}, 8, "abcdefgh", true},
        {"strmid", "abcdefgh", true, {1, 100, 2}, 7, "bcdefgh", true},
        {"strmid", "abcdefgh", false, {1, 100, 3}, 2, "bc", false},
        {"strmid", "abcdefgh", false, {5, 2, 20}, 0, "", false},
        {"strpack", "abcdefgh", false, {20}, 8, "abcdefgh", true},
        {"strpack", "abcdefgh", false, {2}, 7, "abcdefg", true},
        {"strunpack", "abcdefgh", true, {20}, 8, "abcdefgh", false},
        {"strunpack", "abcdefgh", true, {4}, 3, "abc", false},
        {"strunpack", "", false, {4}, 0, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.native) + " '" + c.src + "'");
        const cell dest = s.str("zzzzzzzzzzzzzzzzzzz", false, 24);
        std::vector<cell> args{dest, s.str(c.src, c.packed)};
        args.insert(args.end(), c.nums.begin(), c.nums.end());
        EXPECT_EQ(s.call(c.native, args), (Outcome{VM_ERR_NONE, c.want}));
        EXPECT_EQ(s.text(dest), c.result);
        EXPECT_EQ(s.call("ispacked", {dest}).value, c.resultPacked && !c.result.empty() ? 1 : 0);
    }
}

TEST_F(StringLib, PackedCellLayout) {
    // Packing ending on a cell boundary needs a zero cell of its own; the cell holding the end is
    // zero-filled behind it, and the cell after the terminator is left alone.
    const cell dest = s.alloc(std::vector<cell>(4, -1));
    EXPECT_EQ(s.call("strpack", {dest, s.unpacked("abcd"), 4}).value, 4);
    EXPECT_EQ(s.read(dest, 3), (std::vector<cell>{0x61626364, 0, -1}));
    EXPECT_EQ(s.call("strpack", {dest, s.unpacked("abcdef"), 4}).value, 6);
    EXPECT_EQ(s.read(dest, 3), (std::vector<cell>{0x61626364, 0x65660000, -1}));
    // Unpacked characters above a byte keep their low byte when packed.
    EXPECT_EQ(s.call("strpack", {dest, s.alloc({0x141, 0x42, 0}), 4}).value, 2);
    EXPECT_EQ(s.read(dest, 1)[0], 0x41420000);
    // Appending into a packed string keeps the leading characters of the partial cell.
    const cell cat = s.packed("abcde", 4);
    EXPECT_EQ(s.call("strcat", {cat, s.unpacked("xy"), 4}).value, 2);
    EXPECT_EQ(s.read(cat, 2), (std::vector<cell>{0x61626364, 0x65787900}));
}

TEST_F(StringLib, IsPackedAndLength) {
    EXPECT_EQ(s.call("ispacked", {s.packed("abc")}).value, 1);
    EXPECT_EQ(s.call("ispacked", {s.unpacked("abc")}).value, 0);
    EXPECT_EQ(s.call("ispacked", {s.packed("\x80xyz")}).value, 0);  // signed test of the first cell
    EXPECT_EQ(s.call("strlen", {s.packed("abcdefg")}).value, 7);
    EXPECT_EQ(s.call("strlen", {s.unpacked("abcdefg")}).value, 7);
    EXPECT_EQ(s.call("strlen", {s.alloc({0})}).value, 0);
    EXPECT_EQ(s.run("local_copy", {s.unpacked("stack side")}), (Outcome{VM_ERR_NONE, 10}));
}

TEST_F(StringLib, NumbersToAndFromText) {
    const std::pair<std::string, cell> strvals[] = {
        {"  -42x", -42},
        {"+7", 7},
        {"\x01\xA0"
         "12",
         12},
        {"-", 0},
        {"x12", 0},
        {"2147483647", 2147483647},
        {"4294967297", 1},  // wraps
        {"-2147483648", INT32_MIN},
        {std::string(49, ' '), 0},
        {std::string(47, ' ') + "12", 12},
        {std::string(48, ' ') + "12", 0},  // 50 characters or more give 0
    };
    for (const auto& [text, want] : strvals) {
        EXPECT_EQ(s.call("strval", {s.unpacked(text)}).value, want) << text;
        EXPECT_EQ(s.call("strval", {s.packed(text)}).value, want) << text;
    }
    const std::pair<cell, std::string> valstrs[] = {
        {0, "0"}, {-7, "-7"}, {INT32_MIN, "-2147483648"}, {2147483647, "2147483647"}};
    for (const auto& [value, text] : valstrs) {
        for (cell pack : {0, 1}) {
            const cell dest = s.alloc(std::vector<cell>(12, -1));
            EXPECT_EQ(s.call("valstr", {dest, value, pack}),
                      (Outcome{VM_ERR_NONE, static_cast<cell>(text.size())}));
            EXPECT_EQ(s.text(dest), text);
            EXPECT_EQ(s.call("ispacked", {dest}).value, pack);
        }
    }
}

TEST_F(StringLib, UuencodeLines) {
    struct Case {
        std::vector<unsigned char> bytes;
        std::string line;
    };
    const Case cases[] = {
        {{0x43, 0x61, 0x74}, "#0V%T\n"}, {{}, "`\n"},
        {{0x00, 0x00, 0x00}, "#````\n"}, {{0x43}, "!0P\n"},
        {{0x43, 0x61}, "\"0V$\n"},       {{0xFF, 0xFE, 0xFD, 0xFC}, "$__[]_`\n"},
    };
    for (const Case& c : cases) {
        std::vector<cell> cells((c.bytes.size() + 3) / 4 + 1, 0);
        std::copy(c.bytes.begin(), c.bytes.end(), reinterpret_cast<unsigned char*>(cells.data()));
        const cell src = s.alloc(cells);
        const cell dest = s.alloc(std::vector<cell>(24, -1));
        EXPECT_EQ(s.call("uuencode", {dest, src, static_cast<cell>(c.bytes.size()), 24}),
                  (Outcome{VM_ERR_NONE, static_cast<cell>(c.line.size())}));
        EXPECT_EQ(s.text(dest), c.line);
        // ... and back: the decoded bytes land raw in memory order.
        const cell back = s.alloc(std::vector<cell>(4, -1));
        EXPECT_EQ(s.call("uudecode", {back, dest, 4}).value, static_cast<cell>(c.bytes.size()));
        const std::vector<cell> got = s.read(back, 4);
        EXPECT_TRUE(
            std::equal(c.bytes.begin(), c.bytes.end(), reinterpret_cast<const unsigned char*>(got.data())))
            << c.line;
    }
}

TEST_F(StringLib, UuRoundTripOfEveryLength) {
    std::vector<unsigned char> bytes(63);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 37 + 11);
    std::vector<cell> srcCells(16);
    std::memcpy(srcCells.data(), bytes.data(), bytes.size());
    const cell src = s.alloc(srcCells);
    for (cell n = 0; n <= 63; ++n) {
        const cell line = s.alloc(std::vector<cell>(24, -1));
        const cell back = s.alloc(std::vector<cell>(16, 0));
        ASSERT_EQ(s.call("uuencode", {line, src, n, 24}).err, VM_ERR_NONE);
        EXPECT_EQ(s.call("uudecode", {back, line, 16}).value, n);
        std::vector<cell> got = s.read(back, 16);
        EXPECT_EQ(std::memcmp(got.data(), bytes.data(), static_cast<size_t>(n)), 0) << n;
    }
}

TEST_F(StringLib, UuEdges) {
    const cell src = s.alloc(std::vector<cell>(20, 0x41414141));
    const cell dest = s.packed("untouched?", 24);
    // Counts outside 0-63 leave an empty string and give 0.
    EXPECT_EQ(s.call("uuencode", {dest, src, 64, 24}), (Outcome{VM_ERR_NONE, 0}));
    EXPECT_EQ(s.text(dest), "");
    // A short maxlength cuts the stored line; the count of the whole line comes back.
    const cell small = s.alloc(std::vector<cell>(3, -1));
    EXPECT_EQ(s.call("uuencode", {small, src, 9, 2}).value, 14);
    EXPECT_EQ(s.text(small), ")04%!04");
    EXPECT_EQ(s.read(small, 3)[2], -1);
    // uudecode copies at most maxlength cells of bytes, but reports the line's count.
    const cell out = s.alloc({-1, -1, -1});
    EXPECT_EQ(s.call("uudecode", {out, s.packed("&86)C9&5F\n"), 1}).value, 6);
    EXPECT_EQ(s.read(out, 2), (std::vector<cell>{0x64636261, -1}));
    // A line cut short decodes its missing characters as zero bits; an empty one holds nothing.
    EXPECT_EQ(s.call("uudecode", {out, s.packed("#86)"), 3}).value, 3);
    EXPECT_EQ(s.read(out, 1)[0] & 0xFFFFFF, 0x406261);
    EXPECT_EQ(s.call("uudecode", {out, s.packed(""), 3}).value, 0);
}

TEST_F(StringLib, MemcpyBounds) {
    const cell src = s.alloc({0x04030201, 0x08070605});
    const cell dest = s.alloc({0, 0, 0});
    EXPECT_EQ(s.call("memcpy", {dest, src, 1, 6, 2}).value, 1);
    EXPECT_EQ(s.read(dest, 3), (std::vector<cell>{0x03020100, 0x00060504, 0}));
    // Overlapping blocks move like memmove.
    EXPECT_EQ(s.call("memcpy", {dest, dest, 2, 8, 3}).value, 1);
    EXPECT_EQ(s.read(dest, 3), (std::vector<cell>{0x01000100, 0x05040302, 0x00000006}));
    // index + numbytes one byte beyond maxlength * 4 copies nothing.
    const cell fresh = s.alloc({0, 0, 0});
    for (const std::vector<cell>& bad :
         std::vector<std::vector<cell>>{{fresh, src, 1, 8, 2},
                                        {fresh, src, -1, 4, 3},
                                        {fresh, src, 0, -4, 3},
                                        {fresh, src, 0, 4, -1},
                                        {fresh, src, INT32_MAX, 2, INT32_MAX}}) {
        EXPECT_EQ(s.call("memcpy", bad), (Outcome{VM_ERR_NONE, 0}));
        EXPECT_EQ(s.read(fresh, 3), (std::vector<cell>{0, 0, 0}));
    }
}

}  // namespace
}  // namespace velt::libtest
