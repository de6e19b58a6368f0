#include "net/BitStream.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace velt {
namespace {

bool IsInline(const BitStream& bs) {
    auto* self = reinterpret_cast<const uint8_t*>(&bs);
    return bs.GetData() >= self && bs.GetData() < self + sizeof(bs);
}

std::string Bits(const BitStream& bs) {
    char text[4096];
    bs.PrintBits(text, sizeof(text));
    return text;
}

// ---- growth -----------------------------------------------------------------------------------

TEST(BitStreamGrowth, InlineBufferUntil2048BitsThenHeapOfTwiceTheNeed) {
    BitStream bs;
    EXPECT_EQ(bs.GetNumberOfBitsAllocated(), 2048);
    for (int i = 0; i < 2048; ++i) bs.Write((i % 3) == 0);
    EXPECT_TRUE(IsInline(bs));
    EXPECT_EQ(bs.GetNumberOfBitsAllocated(), 2048);
    bs.WriteOne();  // bit 2049
    EXPECT_FALSE(IsInline(bs));
    EXPECT_EQ(bs.GetNumberOfBitsAllocated(), 4098);  // 513 bytes
    EXPECT_EQ(bs.GetNumberOfBitsUsed(), 2049);
    for (int i = 0; i < 2049; ++i) {
        bool bit = false;
        ASSERT_TRUE(bs.ReadOneBit(bit));
        ASSERT_EQ(bit, i == 2048 || (i % 3) == 0) << i;
    }
    // Growth is decided per byte: up to the last bit of the 513th byte (4104) nothing moves;
    // one more asks for twice what is needed.
    for (int i = 2049; i < 4104; ++i) bs.WriteZero();
    EXPECT_EQ(bs.GetNumberOfBitsAllocated(), 4098);
    bs.WriteZero();
    EXPECT_EQ(bs.GetNumberOfBitsAllocated(), 2 * 4105);
}

TEST(BitStreamGrowth, ConstructorsPickInlineOrHeapAtTheirBoundaries) {
    struct Case {
        uint32_t bytes;
        bool copyInline;   // BitStream(buffer, n, true)
        int32_t copyBits;  // its capacity
        bool sizedInline;  // BitStream(n)
        int32_t sizedBits;
    };
    const Case cases[] = {
        {1, true, 2048, true, 2048},     {255, true, 2048, true, 2048},      {256, false, 2048, true, 2048},
        {257, false, 2056, false, 2056}, {5000, false, 40000, false, 40000},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> src(c.bytes);
        for (uint32_t i = 0; i < c.bytes; ++i) src[i] = uint8_t(i * 7 + 1);
        BitStream copied(src.data(), c.bytes, true);
        EXPECT_EQ(IsInline(copied), c.copyInline) << c.bytes;
        EXPECT_EQ(copied.GetNumberOfBitsAllocated(), c.copyBits) << c.bytes;
        EXPECT_EQ(copied.GetNumberOfBitsUsed(), int32_t(c.bytes * 8));
        EXPECT_EQ(std::memcmp(copied.GetData(), src.data(), c.bytes), 0);
        // Appending grows the copy without losing it (the heap copy is exactly full).
        copied.Write(uint8_t(0xA5));
        EXPECT_EQ(std::memcmp(copied.GetData(), src.data(), c.bytes), 0);
        EXPECT_EQ(copied.GetData()[c.bytes], 0xA5);

        BitStream sized{int32_t(c.bytes)};
        EXPECT_EQ(IsInline(sized), c.sizedInline) << c.bytes;
        EXPECT_EQ(sized.GetNumberOfBitsAllocated(), c.sizedBits) << c.bytes;
        EXPECT_EQ(sized.GetNumberOfBitsUsed(), 0);
    }
    BitStream empty(static_cast<const uint8_t*>(nullptr), 0, true);
    EXPECT_EQ(empty.GetData(), nullptr);
    EXPECT_EQ(empty.GetNumberOfBitsAllocated(), 0);
    empty.Write(uint16_t(0xBEEF));  // first write finds storage
    uint16_t v = 0;
    ASSERT_TRUE(empty.Read(v));
    EXPECT_EQ(v, 0xBEEF);
}

// Byte runs of 255/256/257 and several kilobytes, aligned and at every bit offset, read back.
TEST(BitStreamGrowth, ByteRunsAroundTheInlineBoundaryAtEveryOffset) {
    for (uint32_t size : {255u, 256u, 257u, 6000u}) {
        std::vector<uint8_t> src(size);
        for (uint32_t i = 0; i < size; ++i) src[i] = uint8_t(i ^ (i >> 8) ^ 0x5A);
        for (int lead = 0; lead < 8; ++lead) {
            BitStream bs;
            for (int i = 0; i < lead; ++i) bs.WriteOne();
            bs.WriteBytes(src.data(), int32_t(size));
            ASSERT_EQ(bs.GetNumberOfBitsUsed(), int32_t(lead + size * 8));
            bs.SkipBits(lead);
            std::vector<uint8_t> back(size);
            ASSERT_TRUE(bs.ReadBytes(back.data(), int32_t(size))) << size << "/" << lead;
            EXPECT_EQ(back, src) << size << "/" << lead;
            EXPECT_EQ(bs.GetNumberOfUnreadBits(), 0);
        }
    }
}

// A long random mix of every form, checked against what was written.
TEST(BitStreamGrowth, RandomMixedRecordOfManyKilobytesRoundTrips) {
    std::mt19937 rng(1234);
    struct Item {
        int kind;
        uint32_t value;
        int32_t bits;
    };
    std::vector<Item> items;
    BitStream bs;
    while (bs.GetNumberOfBitsUsed() < 8 * 24000) {
        Item it{int(rng() % 7), uint32_t(rng()), 0};
        if (rng() % 2) it.value >>= rng() % 32;
        switch (it.kind) {
            case 0: bs.Write((it.value & 1) != 0); break;
            case 1: bs.Write(uint8_t(it.value)); break;
            case 2: bs.Write(uint16_t(it.value)); break;
            case 3: bs.Write(it.value); break;
            case 4: bs.WriteCompressed(it.value); break;
            case 5: bs.WriteCompressed(int32_t(it.value)); break;
            case 6: {
                it.bits = int32_t(1 + rng() % 32);
                uint8_t raw[4] = {uint8_t(it.value), uint8_t(it.value >> 8), uint8_t(it.value >> 16),
                                  uint8_t(it.value >> 24)};
                bs.WriteRawBits(raw, it.bits, true);
                break;
            }
        }
        items.push_back(it);
    }
    EXPECT_FALSE(IsInline(bs));
    for (size_t i = 0; i < items.size(); ++i) {
        const Item& it = items[i];
        bool ok = false;
        switch (it.kind) {
            case 0: {
                bool v;
                ok = bs.Read(v) && v == ((it.value & 1) != 0);
                break;
            }
            case 1: {
                uint8_t v;
                ok = bs.Read(v) && v == uint8_t(it.value);
                break;
            }
            case 2: {
                uint16_t v;
                ok = bs.Read(v) && v == uint16_t(it.value);
                break;
            }
            case 3: {
                uint32_t v;
                ok = bs.Read(v) && v == it.value;
                break;
            }
            case 4: {
                uint32_t v;
                ok = bs.ReadCompressed(v) && v == it.value;
                break;
            }
            case 5: {
                int32_t v;
                ok = bs.ReadCompressed(v) && v == int32_t(it.value);
                break;
            }
            case 6: {
                uint8_t raw[4] = {0, 0, 0, 0};
                ok = bs.ReadRawBits(raw, it.bits, true);
                uint32_t got = uint32_t(raw[0]) | uint32_t(raw[1]) << 8 | uint32_t(raw[2]) << 16 |
                               uint32_t(raw[3]) << 24;
                // Right-aligned: full bytes, then the low bits of the last one.
                uint32_t full = uint32_t(it.bits / 8), rest = uint32_t(it.bits % 8);
                uint32_t want = full == 4 ? it.value : it.value & ((1u << (8 * full)) - 1);
                if (rest) want |= ((it.value >> (8 * full)) & ((1u << rest) - 1)) << (8 * full);
                ok = ok && got == want;
                break;
            }
        }
        ASSERT_TRUE(ok) << "item " << i << " kind " << it.kind;
    }
    EXPECT_EQ(bs.GetNumberOfUnreadBits(), 0);
    uint8_t byte = 0x77;
    EXPECT_FALSE(bs.Read(byte));
    EXPECT_EQ(byte, 0x77);
}

// Compressed integers of any byte width (the typed forms are checked bit for bit by the
// oracle): wide values take the byte walk, narrow ones the register form; both agree.
TEST(BitStreamCompressed, AnyWidthRoundTripsAndMatchesTheTypedForm) {
    std::mt19937_64 rng(99);
    for (int32_t width : {8, 16, 24, 32, 40, 64, 128}) {
        const size_t bytes = size_t(width / 8);
        for (int trial = 0; trial < 300; ++trial) {
            for (bool isUnsigned : {true, false}) {
                uint8_t value[16];
                for (size_t i = 0; i < bytes; ++i) value[i] = uint8_t(rng());
                // Runs of filler bytes from the top, and small low bytes, are the interesting part.
                const size_t fill = size_t(rng() % (bytes + 1));
                for (size_t i = bytes - fill; i < bytes; ++i) value[i] = isUnsigned ? 0x00 : 0xFF;
                if (trial % 3 == 0) value[0] = uint8_t((isUnsigned ? 0x00 : 0xF0) | (value[0] & 0x0F));
                BitStream bs;
                bs.WriteOne();  // off the byte grid
                bs.WriteCompressedBytes(value, width, isUnsigned);
                const int32_t end = bs.GetNumberOfBitsUsed();
                bs.SkipBits(1);
                uint8_t back[16];
                std::memset(back, 0xEE, sizeof(back));
                ASSERT_TRUE(bs.ReadCompressedBytes(back, width, isUnsigned)) << width;
                ASSERT_EQ(std::memcmp(back, value, bytes), 0) << width << " trial " << trial;
                ASSERT_EQ(bs.GetReadOffset(), end);
                // One bit short of the value: refused in place, target untouched.
                bs.SetWriteCursor(end - 1);
                bs.SetReadOffset(1);
                std::memset(back, 0xEE, sizeof(back));
                ASSERT_FALSE(bs.ReadCompressedBytes(back, width, isUnsigned));
                ASSERT_EQ(bs.GetReadOffset(), 1);
                ASSERT_EQ(back[0], 0xEE);
                ASSERT_EQ(back[bytes - 1], 0xEE);
                if (width == 32) {
                    BitStream typed;
                    typed.WriteOne();
                    uint32_t v = uint32_t(value[0]) | uint32_t(value[1]) << 8 | uint32_t(value[2]) << 16 |
                                 uint32_t(value[3]) << 24;
                    isUnsigned ? typed.WriteCompressed(v) : typed.WriteCompressed(int32_t(v));
                    ASSERT_EQ(typed.GetNumberOfBitsUsed(), end);
                    ASSERT_EQ(std::memcmp(typed.GetData(), bs.GetData(), size_t((end + 7) / 8)), 0);
                }
            }
        }
    }
}

// ---- truncation -------------------------------------------------------------------------------

// Every reader, run on every prefix of a message holding all forms: the read that crosses the
// end fails, leaves the cursor where it was and its destination untouched; all earlier succeed.
TEST(BitStreamTruncation, EveryCutFailsInPlaceWithoutTouchingTheDestination) {
    BitStream full;
    full.WriteOne();
    full.Write(uint8_t(0xC3));
    full.WriteCompressed(uint16_t(5));
    full.Write(int16_t(-2));
    full.WriteCompressed(int32_t(-200));
    full.Write(3.5f);
    full.WriteCompressedVector(1.0f, -2.0f, 0.5f);
    full.WriteCompressed(uint32_t(0x12345));
    full.WriteCompressedQuaternion(0.5f, -0.5f, 0.5f, 0.5f);
    full.WriteCompressed(-0.25f);
    const uint8_t tail[3] = {1, 2, 3};
    full.WriteBytes(tail, 3);
    full.WriteBytesAligned(tail, 2);
    full.Write(uint32_t(0xDEADBEEF));
    full.WriteCompressed(uint8_t(0xF0));

    // A read either succeeds with the right value, or fails with its target untouched.
    enum Outcome { kRead, kFailed, kWrong };
    constexpr uint8_t S = 0xEE;  // sentinel filling every target
    auto judge = [](bool ok, bool right, const void* target, size_t n) {
        if (ok) return right ? kRead : kWrong;
        auto* bytes = static_cast<const uint8_t*>(target);
        for (size_t i = 0; i < n; ++i)
            if (bytes[i] != S) return kWrong;
        return kFailed;
    };
    using Reader = std::function<Outcome(BitStream&)>;
    std::vector<Reader> readers = {
        [&](BitStream& s) {
            bool b = false;
            bool ok = s.ReadOneBit(b);
            return ok ? (b ? kRead : kWrong) : kFailed;
        },
        [&](BitStream& s) {
            uint8_t v = S;
            bool ok = s.Read(v);
            return judge(ok, v == 0xC3, &v, 1);
        },
        [&](BitStream& s) {
            uint16_t v;
            std::memset(&v, S, 2);
            bool ok = s.ReadCompressed(v);
            return judge(ok, v == 5, &v, 2);
        },
        [&](BitStream& s) {
            int16_t v;
            std::memset(&v, S, 2);
            bool ok = s.Read(v);
            return judge(ok, v == -2, &v, 2);
        },
        [&](BitStream& s) {
            int32_t v;
            std::memset(&v, S, 4);
            bool ok = s.ReadCompressed(v);
            return judge(ok, v == -200, &v, 4);
        },
        [&](BitStream& s) {
            float v;
            std::memset(&v, S, 4);
            bool ok = s.Read(v);
            return judge(ok, v == 3.5f, &v, 4);
        },
        [&](BitStream& s) {
            float v[3];
            std::memset(v, S, sizeof(v));
            bool ok = s.ReadCompressedVector(v[0], v[1], v[2]);
            return judge(ok, std::fabs(v[1] + 2.0f) < 0.001f, v, sizeof(v));
        },
        [&](BitStream& s) {
            uint32_t v;
            std::memset(&v, S, 4);
            bool ok = s.ReadCompressed(v);
            return judge(ok, v == 0x12345, &v, 4);
        },
        [&](BitStream& s) {
            float q[4];
            std::memset(q, S, sizeof(q));
            bool ok = s.ReadCompressedQuaternion(q[0], q[1], q[2], q[3]);
            return judge(ok, std::fabs(q[1] + 0.5f) < 0.001f && q[0] > 0.49f, q, sizeof(q));
        },
        [&](BitStream& s) {
            float v;
            std::memset(&v, S, 4);
            bool ok = s.ReadCompressed(v);
            return judge(ok, std::fabs(v + 0.25f) < 0.0001f, &v, 4);
        },
        [&](BitStream& s) {
            uint8_t v[3];
            std::memset(v, S, 3);
            bool ok = s.ReadBytes(v, 3);
            return judge(ok, v[2] == 3, v, 3);
        },
        [&](BitStream& s) {
            uint8_t v[2];
            std::memset(v, S, 2);
            bool ok = s.ReadAlignedBytes(v, 2);
            return judge(ok, v[1] == 2, v, 2);
        },
        [&](BitStream& s) {
            uint32_t v;
            std::memset(&v, S, 4);
            bool ok = s.Read(v);
            return judge(ok, v == 0xDEADBEEF, &v, 4);
        },
        [&](BitStream& s) {
            uint8_t v = S;
            bool ok = s.ReadCompressed(v);
            return judge(ok, v == 0xF0, &v, 1);
        },
    };
    const int32_t total = full.GetNumberOfBitsUsed();
    for (int32_t cut = 0; cut <= total; ++cut) {
        // A received message: read in place from a buffer holding only the bytes of the cut.
        std::vector<uint8_t> bytes(full.GetData(), full.GetData() + (cut + 7) / 8);
        BitStream bs(bytes.data(), uint32_t(bytes.size()), false);
        bs.SetWriteCursor(cut);
        size_t i = 0;
        for (; i < readers.size(); ++i) {
            int32_t before = bs.GetReadOffset();
            Outcome outcome = readers[i](bs);
            ASSERT_NE(outcome, kWrong) << "cut " << cut << " reader " << i;
            if (outcome == kFailed) {
                ASSERT_EQ(bs.GetReadOffset(), before) << "cut " << cut << " reader " << i;
                break;
            }
            ASSERT_LE(bs.GetReadOffset(), cut);
        }
        if (cut == total) {
            EXPECT_EQ(i, readers.size());
            EXPECT_EQ(bs.GetNumberOfUnreadBits(), 0);
        } else {
            EXPECT_LT(i, readers.size()) << "cut " << cut << " read everything";
        }
    }
}

TEST(BitStreamTruncation, HostileCountsAreRefusedAndCursorsStayInRange) {
    uint8_t buffer[4] = {0xAB, 0xCD, 0xEF, 0x01};
    BitStream bs(buffer, 4, false);
    uint8_t out[8] = {};
    EXPECT_FALSE(bs.ReadRawBits(out, 0));
    EXPECT_FALSE(bs.ReadRawBits(out, -8));
    EXPECT_FALSE(bs.ReadRawBits(out, INT32_MAX));
    EXPECT_FALSE(bs.ReadRawBits(nullptr, 8));
    EXPECT_FALSE(bs.ReadBytes(out, -1));
    EXPECT_FALSE(bs.ReadBytes(out, INT32_MAX));  // INT32_MAX x 8 does not wrap
    EXPECT_FALSE(bs.ReadBytes(out, 5));
    EXPECT_FALSE(bs.ReadAlignedBytes(out, 0));
    EXPECT_FALSE(bs.ReadAlignedBytes(out, INT32_MAX));
    EXPECT_FALSE(bs.ReadCompressedBytes(out, 7, true));
    EXPECT_FALSE(bs.ReadCompressedBytes(out, -32, true));
    EXPECT_EQ(bs.GetReadOffset(), 0);
    EXPECT_TRUE(bs.ReadBytes(out, 0));  // nothing asked, nothing read

    bs.SkipBits(INT32_MAX);
    EXPECT_EQ(bs.GetReadOffset(), 32);
    bs.SkipBits(INT32_MIN);
    EXPECT_EQ(bs.GetReadOffset(), 0);
    bs.SetReadOffset(-5);
    EXPECT_EQ(bs.GetReadOffset(), 0);
    bs.SkipBits(3);
    // A zero-byte read succeeds wherever the cursor is.
    EXPECT_TRUE(bs.ReadBytes(out, 0));
    bs.AlignReadToByte();
    EXPECT_EQ(bs.GetReadOffset(), 8);
    bs.SetWriteCursor(10);
    bs.AlignReadToByte();
    bs.AlignReadToByte();
    EXPECT_EQ(bs.GetReadOffset(), 8);
    bs.SkipBits(2);
    bs.AlignReadToByte();  // never past the end
    EXPECT_EQ(bs.GetReadOffset(), 10);

    // The write cursor cannot leave the buffer: reads are bounded by it.
    bs.SetWriteCursor(INT32_MAX);
    EXPECT_EQ(bs.GetNumberOfBitsUsed(), 32);
    bs.SetWriteCursor(-1);
    EXPECT_EQ(bs.GetNumberOfBitsUsed(), 0);
    BitStream own;
    own.SetWriteCursor(INT32_MAX);
    EXPECT_EQ(own.GetNumberOfBitsUsed(), 2048);

    // Invalid construction gives an empty stream, never a read of the pointer.
    BitStream bogus(static_cast<const uint8_t*>(nullptr), 100, false);
    EXPECT_EQ(bogus.GetNumberOfBitsUsed(), 0);
    BitStream huge(buffer, 0xFFFFFFFFu, false);
    EXPECT_EQ(huge.GetNumberOfBitsUsed(), 0);
    EXPECT_FALSE(huge.Read(out[0]));
}

// ---- buffers of the caller --------------------------------------------------------------------

TEST(BitStreamOwnership, CallerBuffersAreReadInPlaceAndNeverOverrun) {
    // Writable buffer: a field is rewritten in place, as a receive path rewrites a timestamp.
    uint8_t message[6] = {40, 1, 2, 3, 4, 200};
    BitStream inPlace(message, 6, false);
    EXPECT_EQ(inPlace.GetData(), message);
    inPlace.SetWriteCursor(8);
    inPlace.Write(uint32_t(0x0A0B0C0D));
    inPlace.SetWriteCursor(48);
    EXPECT_EQ(inPlace.GetData(), message);
    const uint8_t rewritten[6] = {40, 0x0D, 0x0C, 0x0B, 0x0A, 200};
    EXPECT_EQ(std::memcmp(message, rewritten, 6), 0);

    // Appending past the caller's buffer moves the stream to storage of its own first.
    inPlace.Write(uint16_t(0x1122));
    EXPECT_NE(inPlace.GetData(), message);
    EXPECT_EQ(std::memcmp(inPlace.GetData(), rewritten, 6), 0);
    EXPECT_EQ(inPlace.GetData()[6], 0x22);

    // A const buffer is never written, not even within its length.
    const uint8_t frozen[3] = {1, 2, 3};
    BitStream reader(frozen, 3, false);
    reader.SetWriteCursor(0);
    reader.Write(uint8_t(9));
    EXPECT_EQ(frozen[0], 1);
    EXPECT_EQ(reader.GetData()[0], 9);
    EXPECT_EQ(reader.GetData()[1], 2);

    // TakeOwnership copies; SetData switches back to reading a caller buffer.
    uint8_t other[2] = {0xF0, 0x0F};
    BitStream bs(other, 2, false);
    bs.TakeOwnership();
    other[0] = 0;
    EXPECT_EQ(bs.GetData()[0], 0xF0);
    bs.SetData(other, 1);
    EXPECT_EQ(bs.GetNumberOfBitsUsed(), 8);
    uint8_t v = 0;
    ASSERT_TRUE(bs.Read(v));
    EXPECT_EQ(v, 0);
    EXPECT_FALSE(bs.Read(v));

    // CopyData hands over exactly the used bytes.
    BitStream src;
    src.Write(uint16_t(0xABCD));
    src.WriteOne();
    uint8_t* copy = nullptr;
    EXPECT_EQ(src.CopyData(copy), 17);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy[0], 0xCD);
    EXPECT_EQ(copy[2], 0x80);
    delete[] copy;

    BitStream reserved;
    reserved.SetCapacityBits(100000);
    EXPECT_GE(reserved.GetNumberOfBitsAllocated(), 100000);
    std::vector<uint8_t> big(12500, 0x3C);
    reserved.WriteBytes(big.data(), 12500);
    EXPECT_EQ(reserved.GetNumberOfBitsAllocated(), 100000);  // no further growth
}

// ---- cursors and stream copies ----------------------------------------------------------------

TEST(BitStreamCursor, AlignPlaceholderAndStreamCopies) {
    BitStream bs;
    bs.AlignWriteToByte();
    EXPECT_EQ(bs.GetNumberOfBitsUsed(), 0);
    bs.WriteOne();
    bs.AlignWriteToByte();
    EXPECT_EQ(bs.GetNumberOfBitsUsed(), 8);
    EXPECT_EQ(Bits(bs), "10000000 \n");

    // Placeholder overwritten once the length is known, then the cursor restored.
    const int32_t at = bs.GetNumberOfBitsUsed();
    bs.Write(uint32_t(0));
    for (int i = 0; i < 13; ++i) bs.WriteOne();
    const int32_t end = bs.GetNumberOfBitsUsed();
    bs.SetWriteCursor(at);
    bs.Write(uint32_t(13));
    bs.SetWriteCursor(end);
    bs.SkipBits(8);
    uint32_t count = 0;
    ASSERT_TRUE(bs.Read(count));
    EXPECT_EQ(count, 13u);
    EXPECT_EQ(bs.GetNumberOfUnreadBits(), 13);

    // WriteFromStream takes what is left of the other stream and advances it.
    BitStream other;
    other.Write(uint8_t(0xAA));
    other.WriteOne();
    other.SkipBits(3);
    BitStream dest;
    dest.WriteZero();
    dest.WriteFromStream(other, 100);
    EXPECT_EQ(other.GetNumberOfUnreadBits(), 0);
    EXPECT_EQ(Bits(dest), "0010101 \n");  // 0, then 010101

    // A stream copied onto itself while it grows past the inline buffer.
    BitStream self;
    for (int i = 0; i < 200; ++i) self.Write(uint8_t(i));
    self.WriteStream(self);
    ASSERT_EQ(self.GetNumberOfBitsUsed(), 3200);
    for (int i = 0; i < 200; ++i) {
        uint8_t v = 0;
        ASSERT_TRUE(self.Read(v));
        ASSERT_EQ(v, uint8_t(i));
    }
}

TEST(BitStreamCursor, PrintBitsAndReverseBytes) {
    BitStream bs;
    EXPECT_EQ(Bits(bs), "No bits\n");
    bs.Write(uint8_t(0xAA));
    bs.WriteOne();
    bs.WriteZero();
    EXPECT_EQ(Bits(bs), "10101010 10 \n");

    const uint8_t src[4] = {1, 2, 3, 4};
    uint8_t dst[4];
    BitStream::ReverseBytes(src, dst, 4);
    EXPECT_EQ(dst[0], 4);
    EXPECT_EQ(dst[3], 1);
    BitStream::ReverseBytes(dst, dst, 4);
    EXPECT_EQ(dst[0], 1);
    EXPECT_FALSE(BitStream::NeedsByteSwap());
}

// ---- float forms --------------------------------------------------------------------------------

TEST(BitStreamFloats, VectorsAndQuaternionsRoundTripAndOddInputsStaySafe) {
    BitStream bs;
    bs.WriteCompressedVector(0.0f, 0.0f, 0.0f);
    EXPECT_EQ(bs.GetNumberOfBitsUsed(), 32);
    bs.WriteCompressedVector(3.0f, -4.0f, 12.0f);
    EXPECT_EQ(bs.GetNumberOfBitsUsed(), 32 + 80);
    bs.WriteCompressedQuaternion(-1.0f, 0.0f, 0.0f, 0.0f);
    bs.WriteCompressedQuaternion(0.5f, 0.5f, -0.5f, 0.5f);
    EXPECT_EQ(bs.GetNumberOfBitsUsed(), 32 + 80 + 104);
    const float inf = INFINITY;
    bs.WriteCompressedVector(inf, 0.0f, 0.0f);  // inf / inf: not a number
    bs.WriteCompressed(NAN);
    bs.WriteCompressed(7.0f);
    bs.WriteCompressedQuaternion(NAN, 2.5f, -inf, 1e30f);

    float x, y, z, w;
    ASSERT_TRUE(bs.ReadCompressedVector(x, y, z));
    EXPECT_EQ(x, 0.0f);
    EXPECT_EQ(z, 0.0f);
    ASSERT_TRUE(bs.ReadCompressedVector(x, y, z));
    EXPECT_NEAR(x, 3.0f, 0.001f);
    EXPECT_NEAR(y, -4.0f, 0.001f);
    EXPECT_NEAR(z, 12.0f, 0.001f);
    ASSERT_TRUE(bs.ReadCompressedQuaternion(w, x, y, z));
    EXPECT_EQ(w, -1.0f);
    EXPECT_EQ(x, 0.0f);
    ASSERT_TRUE(bs.ReadCompressedQuaternion(w, x, y, z));
    EXPECT_NEAR(w, 0.5f, 0.001f);
    EXPECT_NEAR(y, -0.5f, 0.0001f);
    ASSERT_TRUE(bs.ReadCompressedVector(x, y, z));
    EXPECT_TRUE(std::isinf(x) || std::isnan(x));  // magnitude infinite, components not-a-number x inf
    float f = 0;
    ASSERT_TRUE(bs.ReadCompressed(f));
    EXPECT_NEAR(f, 0.0f, 0.0001f);  // not-a-number goes out as the middle value
    ASSERT_TRUE(bs.ReadCompressed(f));
    EXPECT_EQ(f, 1.0f);  // clamped
    ASSERT_TRUE(bs.ReadCompressedQuaternion(w, x, y, z));
    EXPECT_EQ(bs.GetNumberOfUnreadBits(), 0);
}

}  // namespace
}  // namespace velt
