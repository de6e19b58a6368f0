// Length-prefixed compressed texts and the table of well-known texts: wire form, limits on both
// ends, and decoding of streams that lie about their length.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "net/BitStream.h"
#include "net/StringCompressor.h"
#include "net/StringTable.h"

using namespace velt;

namespace {

const StringCompressor& Sc() { return *StringCompressor::Instance(); }

// Encodes text (maxChars as given), appends a 32-bit marker, and decodes both back.
struct RoundTrip {
    int32_t encodedBits = 0;
    bool ok = false;
    std::string text;
    bool markerIntact = false;
};

RoundTrip EncodeThenDecode(const char* text, int32_t maxEncode, int32_t maxDecode) {
    BitStream s;
    Sc().EncodeString(text, maxEncode, s);
    RoundTrip r;
    r.encodedBits = s.GetNumberOfBitsUsed();
    s.Write(uint32_t(0xC0FFEE11));
    std::vector<char> out(size_t(maxDecode) + 1, '#');
    r.ok = Sc().DecodeString(out.data(), maxDecode, s);
    r.text = out.data();
    uint32_t marker = 0;
    r.markerIntact = s.Read(marker) && marker == 0xC0FFEE11;
    return r;
}

}  // namespace

TEST(StringCompressor, RoundTripsAndLimits) {
    const std::string ten = "abcdefghij";
    struct Case {
        const char* name;
        const char* text;
        int32_t maxEncode, maxDecode;
        const char* expect;
    };
    const Case cases[] = {
        {"empty", "", 1, 16, ""},
        {"null text is the empty text", nullptr, 1, 16, ""},
        {"one character", "a", 2, 16, "a"},
        {"whole text with length + 1", "Hello, world!", 14, 64, "Hello, world!"},
        {"limit 5 sends 4 characters", "abcdefghij", 5, 64, "abcd"},
        {"limit below 1 sends everything", "abcdefghij", 0, 64, "abcdefghij"},
        {"limit equal to the length drops the last", "abcdefghij", 10, 64, "abcdefghi"},
        {"decoding into 4 keeps 3 and the terminator", "abcdefghij", 11, 4, "abc"},
        {"decoding into 1 gives the empty text", "abcdefghij", 11, 1, ""},
        {"bytes above 127", "\xc3\xa9t\xc3\xa9 \xff\x80", 0, 64, "\xc3\xa9t\xc3\xa9 \xff\x80"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RoundTrip r = EncodeThenDecode(c.text, c.maxEncode, c.maxDecode);
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.text, c.expect);
        // The cursor must land right after the code, whatever the decode buffer kept.
        EXPECT_TRUE(r.markerIntact);
    }
    // The empty text is the compressed 16-bit 0: 6 bits.
    EXPECT_EQ(EncodeThenDecode("", 1, 4).encodedBits, 6);
    EXPECT_EQ(EncodeThenDecode(nullptr, 1, 4).encodedBits, 6);
    // One character is padded so that its code fills whole bytes.
    BitStream s;
    Sc().EncodeString("a", 2, s);
    uint16_t codeBits = 0;
    ASSERT_TRUE(s.ReadCompressed(codeBits));
    EXPECT_EQ(codeBits % 8, 0);
    EXPECT_EQ(int32_t(codeBits), s.GetNumberOfUnreadBits());
}

TEST(StringCompressor, TextTooLongForTheCountFieldIsCutNotDesynchronised) {
    // Byte 0xff has a 16-bit code: 4095 of them fill 65520 bits, 'a' then fits in the padded
    // last byte, and one more character would pass 65535.
    std::string text(4095, '\xff');
    text += "ab";
    const RoundTrip r = EncodeThenDecode(text.c_str(), 0, 70000);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.text, text.substr(0, 4096));
    EXPECT_TRUE(r.markerIntact);

    // A long ordinary text: cut to what fits, and the next field still reads correctly.
    std::string prose;
    while (prose.size() < 30000) prose += "the quick brown fox jumps over the lazy dog ";
    const RoundTrip p = EncodeThenDecode(prose.c_str(), 0, 40000);
    EXPECT_TRUE(p.ok);
    EXPECT_LT(p.text.size(), prose.size());
    EXPECT_GT(p.text.size(), 10000u);
    EXPECT_EQ(p.text, prose.substr(0, p.text.size()));
    EXPECT_TRUE(p.markerIntact);
}

TEST(StringCompressor, RejectsShortStreamsWithoutTouchingMoreThanTheFirstByte) {
    BitStream full;
    Sc().EncodeString("a text that needs several bytes", 0, full);
    // Every truncation of a valid encoding fails cleanly.
    for (int32_t keep = 0; keep < full.GetNumberOfBitsUsed(); ++keep) {
        BitStream cut(full.GetData(), uint32_t(full.GetNumberOfBytesUsed()), false);
        cut.SetWriteCursor(keep);
        char out[8];
        memset(out, '#', sizeof out);
        ASSERT_FALSE(Sc().DecodeString(out, 8, cut)) << keep;
        EXPECT_EQ(out[0], 0);
        for (int i = 1; i < 8; ++i) ASSERT_EQ(out[i], '#');
    }
    // A buffer of no characters is refused without a write.
    char untouched = '#';
    BitStream s;
    Sc().EncodeString("x", 2, s);
    EXPECT_FALSE(Sc().DecodeString(&untouched, 0, s));
    EXPECT_EQ(untouched, '#');
}

TEST(StringCompressor, HostileStreamsStayInsideTheOutput) {
    std::mt19937 rng(99);
    for (int round = 0; round < 2000; ++round) {
        std::vector<uint8_t> junk(rng() % 40);
        for (auto& b : junk) b = uint8_t(rng());
        BitStream in(junk.data(), uint32_t(junk.size()), false);
        const int32_t max = int32_t(rng() % 8) + 1;
        std::vector<char> out(size_t(max) + 8, '#');
        if (Sc().DecodeString(out.data(), max, in)) {
            ASSERT_LT(strlen(out.data()), size_t(max));
        }
        for (size_t i = size_t(max); i < out.size(); ++i) ASSERT_EQ(out[i], '#');
        ASSERT_LE(in.GetReadOffset(), int32_t(junk.size() * 8));
    }
}

TEST(StringCompressor, LanguagesWithoutATree) {
    StringCompressor sc;
    BitStream s;
    sc.EncodeString("abc", 0, s, 7);
    EXPECT_EQ(s.GetNumberOfBitsUsed(), 0);
    sc.EncodeString("abc", 0, s, 0);
    char out[8] = "junk";
    EXPECT_FALSE(sc.DecodeString(out, 8, s, 7));
    EXPECT_EQ(out[0], 0);

    // A generated language decodes its own texts; generating from nothing drops it.
    const std::string sample = "zzzzzzzzqqq";
    sc.GenerateTreeFromStrings(reinterpret_cast<const uint8_t*>(sample.data()), uint32_t(sample.size()), 3);
    BitStream g;
    sc.EncodeString("zqz", 0, g, 3);
    EXPECT_TRUE(sc.DecodeString(out, 8, g, 3));
    EXPECT_STREQ(out, "zqz");
    sc.GenerateTreeFromStrings(nullptr, 0, 3);
    EXPECT_EQ(sc.TreeOf(3), nullptr);
    BitStream after;
    sc.EncodeString("zqz", 0, after, 3);
    EXPECT_EQ(after.GetNumberOfBitsUsed(), 0);
}

TEST(StringCompressor, ReferenceCountingKeepsTheInstanceWhileHeld) {
    StringCompressor::AddReference();
    StringCompressor* held = StringCompressor::Instance();
    StringCompressor::AddReference();
    StringCompressor::RemoveReference();
    EXPECT_EQ(StringCompressor::Instance(), held);
    StringCompressor::RemoveReference();
    // An unbalanced release is ignored; the instance is re-created on demand.
    StringCompressor::RemoveReference();
    ASSERT_NE(StringCompressor::Instance(), nullptr);
    EXPECT_NE(StringCompressor::Instance()->TreeOf(0), nullptr);
}

TEST(StringTable, IndexIsTheSortedPositionWithCompressedFallback) {
    StringTable table;
    static const char kept[] = "not copied";
    std::string temporary = "copied";
    EXPECT_TRUE(table.AddString("zebra", true));
    EXPECT_TRUE(table.AddString(temporary.c_str(), true));
    EXPECT_TRUE(table.AddString(kept, false));
    EXPECT_TRUE(table.AddString("Zebra", true));  // case-sensitive: sorts before lower case
    EXPECT_TRUE(table.AddString("zebra", true));  // already there
    temporary.assign("overwritten");
    ASSERT_EQ(table.Size(), 4u);
    EXPECT_EQ(table.IndexOf("Zebra"), 0);
    EXPECT_EQ(table.IndexOf("copied"), 1);
    EXPECT_EQ(table.IndexOf("not copied"), 2);
    EXPECT_EQ(table.IndexOf("zebra"), 3);

    struct Case {
        const char* text;
        int32_t maxChars;
        int32_t bits;  // -1: compressed fallback, length not checked
        const char* expect;
    };
    const Case cases[] = {
        {"copied", 64, 9, "copied"},
        {"zebra", 64, 9, "zebra"},
        {"zebra", 3, 9, "ze"},  // the decoder's limit cuts a table entry too
        {"unknown text", 64, -1, "unknown text"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        BitStream s;
        table.EncodeString(c.text, 64, s);
        if (c.bits >= 0) {
            EXPECT_EQ(s.GetNumberOfBitsUsed(), c.bits);
        }
        std::vector<char> out(size_t(c.maxChars) + 4, '#');
        ASSERT_TRUE(table.DecodeString(out.data(), c.maxChars, s));
        EXPECT_STREQ(out.data(), c.expect);
        EXPECT_EQ(s.GetNumberOfUnreadBits(), 0);
    }
}

TEST(StringTable, RejectsUnknownIndicesShortStreamsAndOverflow) {
    StringTable table;
    table.AddString("one", true);
    table.AddString("two", true);
    char out[16];
    {
        BitStream s;  // index equal to the size
        s.WriteOne();
        s.Write(uint8_t(2));
        EXPECT_FALSE(table.DecodeString(out, 16, s));
    }
    {
        BitStream s;  // index cut short
        s.WriteOne();
        s.WriteOne();
        EXPECT_FALSE(table.DecodeString(out, 16, s));
    }
    {
        BitStream empty;
        EXPECT_FALSE(table.DecodeString(out, 16, empty));
        BitStream s;
        table.EncodeString("one", 16, s);
        EXPECT_FALSE(table.DecodeString(out, 0, s));
    }
    // Indices travel in 8 bits: the table stops at 254 entries rather than wrap an index.
    StringTable full;
    for (int i = 0; i < 254; ++i) {
        ASSERT_TRUE(full.AddString(("s" + std::to_string(1000 + i)).c_str(), true));
    }
    EXPECT_FALSE(full.AddString("one more", true));
    EXPECT_EQ(full.Size(), 254u);
    EXPECT_EQ(full.IndexOf("one more"), -1);
}
