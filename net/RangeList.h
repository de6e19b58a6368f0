#pragma once

#include <cstdint>

#include "net/BitStream.h"
#include "net/OrderedList.h"

namespace velt::DataStructures {

template <class RangeType>
struct RangeNode {
    RangeType minIndex;
    RangeType maxIndex;
};

template <class RangeType>
int RangeNodeComp(const RangeType& key, const RangeNode<RangeType>& node) {
    if (key < node.minIndex) return -1;
    if (key == node.minIndex) return 0;
    return 1;
}

// Sorted, disjoint, never adjacent ranges of numbers (acknowledged message numbers). Numbers are
// compared without wrap: the highest number and 0 stay in separate ranges.
template <class RangeType>
class RangeList {
public:
    // Starts fetching the last range, where numbers arriving in order land (a hint).
    void PrefetchEnd() const { ranges_.PrefetchEnd(); }
    using Node = RangeNode<RangeType>;
    using Ranges = OrderedList<RangeType, Node, RangeNodeComp<RangeType>>;

    // Room kept free in the budget for the range count and the widest range (16 + 33 bits).
    static constexpr int32_t kSerializeReserveBits = 49;

    void Insert(RangeType n) {
        const uint32_t size = ranges_.Size();
        if (size == 0) {
            ranges_.InsertAtEnd(Node{n, n});
            return;
        }
        bool exists;
        const uint32_t index = ranges_.GetIndexFromKey(n, &exists);
        if (exists) return;  // n starts a range

        // The range before the insertion point may already hold n or end right below it; checking
        // it keeps the ranges disjoint and non-adjacent when numbers arrive out of order or twice.
        if (index > 0) {
            Node& previous = ranges_[index - 1];
            if (n <= previous.maxIndex) return;
            if (n == static_cast<RangeType>(previous.maxIndex + 1)) {
                previous.maxIndex = n;
                if (index < size && ranges_[index].minIndex == static_cast<RangeType>(n + 1)) {
                    previous.maxIndex = ranges_[index].maxIndex;
                    ranges_.RemoveAtIndex(index);
                }
                return;
            }
        }
        if (index == size) {
            ranges_.InsertAtEnd(Node{n, n});
            return;
        }
        Node& next = ranges_[index];  // next.minIndex > n
        if (next.minIndex == static_cast<RangeType>(n + 1)) {
            next.minIndex = n;
            return;
        }
        ranges_.InsertAtIndex(Node{n, n}, index);
    }

    // Writes as many ranges from the front as the budget allows (a range is added while the bits
    // of the ranges so far plus kSerializeReserveBits stay within maxBits): the compressed count,
    // then per range the min-equals-max bit, min and, for a wider range, max. The written ranges
    // are removed when clearSerialized is set. Returns the number of bits appended.
    int32_t Serialize(BitStream* out, int32_t maxBits, bool clearSerialized) {
        VELT_DS_ASSERT(ranges_.Size() < static_cast<uint16_t>(-1), "ranges.Size() < (unsigned short)-1");
        const int32_t start = out->GetNumberOfBitsUsed();
        int64_t rangeBits = 0;
        uint16_t count = 0;
        for (uint32_t i = 0; i < ranges_.Size(); ++i) {
            if (rangeBits + kSerializeReserveBits > maxBits) break;
            rangeBits += RangeBits(ranges_[i]);
            ++count;
        }
        out->WriteCompressed(count);
        for (uint16_t i = 0; i < count; ++i) {
            const Node& node = ranges_[i];
            const bool single = node.minIndex == node.maxIndex;
            out->Write(single);
            out->Write(node.minIndex);
            if (!single) out->Write(node.maxIndex);
        }
        if (clearSerialized) {
            for (uint16_t i = 0; i < count; ++i) ranges_.RemoveAtIndex(0);
        }
        return out->GetNumberOfBitsUsed() - start;
    }

    // Replaces the list with the ranges read from in. False, with the list left empty, when the
    // stream ends early or a range's max lies below its min. Ranges are kept in the order they
    // arrive: a received list is only walked, never inserted into.
    bool Deserialize(BitStream* in) {
        ranges_.Clear();
        uint16_t count;
        if (!in->ReadCompressed(count)) return false;
        for (uint16_t i = 0; i < count; ++i) {
            bool single;
            Node node;
            if (!in->Read(single) || !in->Read(node.minIndex)) return Fail();
            if (single) {
                node.maxIndex = node.minIndex;
            } else {
                if (!in->Read(node.maxIndex)) return Fail();
                if (node.maxIndex < node.minIndex) return Fail();
            }
            ranges_.InsertAtEnd(node);
        }
        return true;
    }

    uint32_t Size() const { return ranges_.Size(); }
    const Node& operator[](uint32_t index) const { return ranges_[index]; }
    void Clear() { ranges_.Clear(); }

private:
    static int32_t RangeBits(const Node& node) {
        constexpr int32_t width = static_cast<int32_t>(sizeof(RangeType) * 8);
        return node.minIndex == node.maxIndex ? 1 + width : 1 + 2 * width;
    }
    bool Fail() {
        ranges_.Clear();
        return false;
    }

    Ranges ranges_;
};

}  // namespace velt::DataStructures
