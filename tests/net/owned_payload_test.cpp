// A message's bytes as an owned object: the same bytes whether they live inline or on the heap,
// through copies, moves and hand-overs, and nothing left behind (ASan would name a leak or a
// double free).

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "net/OwnedPayload.h"

namespace velt {
namespace {

std::vector<uint8_t> Bytes(const OwnedPayload& p) { return {p.Data(), p.Data() + p.ByteLength()}; }

TEST(OwnedPayload, KeepsItsBytesInlineOrOnTheHeapThroughMovesAndHandOvers) {
    struct Case {
        uint32_t bits;
        bool onHeap;
    };
    const Case cases[] = {{1, false},
                          {8 * OwnedPayload::kInlineBytes, false},
                          {8 * OwnedPayload::kInlineBytes + 1, true},
                          {8 * 4000, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        std::vector<uint8_t> source(OwnedPayload::BytesFor(c.bits));
        std::iota(source.begin(), source.end(), uint8_t(7));

        OwnedPayload copy = OwnedPayload::CopyOf(source.data(), c.bits);
        EXPECT_EQ(copy.BitLength(), c.bits);
        EXPECT_EQ(copy.OnHeap(), c.onHeap);
        EXPECT_EQ(Bytes(copy), source);

        OwnedPayload moved = std::move(copy);
        EXPECT_TRUE(copy.Empty());
        EXPECT_EQ(Bytes(moved), source);
        OwnedPayload clone = moved.Clone();
        EXPECT_EQ(Bytes(clone), source);
        moved = std::move(clone);  // replaces bytes it held
        EXPECT_EQ(Bytes(moved), source);

        uint8_t* released = moved.Release();
        EXPECT_TRUE(moved.Empty());
        OwnedPayload adopted = OwnedPayload::Adopt(released, c.bits);
        EXPECT_TRUE(adopted.OnHeap());
        EXPECT_EQ(Bytes(adopted), source);
    }
}

TEST(OwnedPayload, NothingToHoldIsEmpty) {
    EXPECT_TRUE(OwnedPayload::CopyOf(nullptr, 16).Empty());
    const uint8_t byte = 1;
    EXPECT_TRUE(OwnedPayload::CopyOf(&byte, 0).Empty());
    EXPECT_TRUE(OwnedPayload::Adopt(nullptr, 8).Empty());
    OwnedPayload empty;
    EXPECT_EQ(empty.Release(), nullptr);
}

}  // namespace
}  // namespace velt
