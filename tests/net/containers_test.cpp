// List, Queue, OrderedList, RangeList and the circular list: growth, wraparound, ordering and
// the range merge rules the reliability layer's acknowledgements depend on.

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "net/BitStream.h"
#include "net/CircularList.h"
#include "net/List.h"
#include "net/OrderedList.h"
#include "net/Queue.h"
#include "net/RangeList.h"

using namespace velt;
using namespace velt::DataStructures;

namespace {

template <class T>
std::vector<T> Contents(const List<T>& list) {
    std::vector<T> out;
    for (uint32_t i = 0; i < list.Size(); ++i) out.push_back(list[i]);
    return out;
}

template <class T>
std::vector<T> Contents(const Queue<T>& queue) {
    std::vector<T> out;
    for (uint32_t i = 0; i < queue.Size(); ++i) out.push_back(queue[i]);
    return out;
}

using Ranges = std::vector<std::pair<uint16_t, uint16_t>>;

Ranges Contents(const RangeList<uint16_t>& list) {
    Ranges out;
    for (uint32_t i = 0; i < list.Size(); ++i) out.emplace_back(list[i].minIndex, list[i].maxIndex);
    return out;
}

// Canonical ranges of a set of numbers: maximal runs of consecutive values.
Ranges RangesOf(const std::set<uint16_t>& numbers) {
    Ranges out;
    for (uint16_t n : numbers) {
        if (!out.empty() && out.back().second + 1 == n)
            out.back().second = n;
        else
            out.emplace_back(n, n);
    }
    return out;
}

}  // namespace

// ---- List ---------------------------------------------------------------------------------------

TEST(List, GrowsFrom16ByDoublingAndKeepsOrderThroughInsertsAndRemoves) {
    List<int> list;
    std::vector<uint32_t> allocations;
    for (int i = 0; i < 33; ++i) {
        list.Insert(i);
        allocations.push_back(list.AllocationSize());
    }
    EXPECT_EQ(allocations[0], 16u);
    EXPECT_EQ(allocations[15], 16u);
    EXPECT_EQ(allocations[16], 32u);
    EXPECT_EQ(allocations[32], 64u);

    List<int> small;
    small.Insert(1);
    small.Insert(3);
    small.Insert(0, 0);  // front
    small.Insert(2, 2);  // middle
    small.Insert(4, 4);  // end
    EXPECT_EQ(Contents(small), (std::vector<int>{0, 1, 2, 3, 4}));
    small.RemoveAtIndex(1);
    small.RemoveAtIndex(99);  // beyond the count: nothing happens
    small.RemoveAtIndex(3);   // last
    EXPECT_EQ(Contents(small), (std::vector<int>{0, 2, 3}));
    EXPECT_EQ(small.GetIndexOf(3), 2u);
    EXPECT_EQ(small.GetIndexOf(7), List<int>::kNotFound);
    EXPECT_EQ(small.Pop(), 3);

    // Copies are deep.
    List<int> copy = small;
    small[0] = 42;
    EXPECT_EQ(Contents(copy), (std::vector<int>{0, 2}));
    List<int> moved = std::move(copy);
    EXPECT_EQ(Contents(moved), (std::vector<int>{0, 2}));
    EXPECT_EQ(copy.Size(), 0u);

    // Inserting at the front of a full list grows it without losing the shifted tail.
    List<int> full;
    for (int i = 0; i < 16; ++i) full.Insert(i);
    full.Insert(-1, 0);
    ASSERT_EQ(full.Size(), 17u);
    for (uint32_t i = 0; i < 17; ++i) EXPECT_EQ(full[i], static_cast<int>(i) - 1);

    // Inserting one of the list's own elements while the array moves or shifts.
    List<std::string> names;
    for (int i = 0; i < 16; ++i) names.Insert("n" + std::to_string(i));
    names.Insert(names[3]);     // grows: the reference dies with the old array
    names.Insert(names[0], 0);  // shifts the referenced element
    EXPECT_EQ(names[17], "n3");
    EXPECT_EQ(names[0], "n0");
    EXPECT_EQ(names[1], "n0");
}

TEST(List, ClearFreesOnlyLargeArraysUnlessAskedToKeep) {
    struct Case {
        int items;
        bool keep;
        uint32_t allocationAfter;
    };
    const Case cases[] = {
        {100, false, 128},  // 128 <= 512: kept
        {512, false, 512},  // exactly 512: kept
        {513, false, 0},    // 1024: freed
        {513, true, 1024},  // asked to keep
    };
    for (const Case& c : cases) {
        List<int> list;
        for (int i = 0; i < c.items; ++i) list.Insert(i);
        list.Clear(c.keep);
        EXPECT_EQ(list.Size(), 0u) << c.items;
        EXPECT_EQ(list.AllocationSize(), c.allocationAfter) << c.items << " keep=" << c.keep;
        list.Insert(7);  // still usable
        EXPECT_EQ(list[0], 7);
    }
}

TEST(ListDeathTest, IndexOutOfRangeStopsTheProgram) {
    List<int> list;
    list.Insert(1);
    EXPECT_DEATH(list[1] = 5, "index < listSize");
    EXPECT_DEATH(list.Insert(9, 2), "index <= listSize");
    List<int> empty;
    EXPECT_DEATH(empty.Pop(), "listSize > 0");
}

// ---- Queue --------------------------------------------------------------------------------------

TEST(Queue, SeventeenthPushGrowsTo32InOrder) {
    Queue<int> queue;
    for (int i = 0; i < 16; ++i) queue.Push(i);
    // 16 items in 16 slots would make tail meet head: the 16th push already doubled the ring.
    EXPECT_EQ(queue.AllocationSize(), 32u);
    queue.Push(16);
    EXPECT_EQ(queue.AllocationSize(), 32u);
    std::vector<int> expected(17);
    for (int i = 0; i < 17; ++i) expected[i] = i;
    EXPECT_EQ(Contents(queue), expected);
}

TEST(Queue, GrowthAfterWraparoundKeepsQueueOrder) {
    Queue<int> queue;
    for (int i = 0; i < 10; ++i) queue.Push(i);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(queue.Pop(), i);
    // head sits at slot 8; these pushes wrap the tail round to the head and force a grow.
    for (int i = 10; i < 24; ++i) queue.Push(i);
    EXPECT_EQ(queue.AllocationSize(), 32u);
    std::vector<int> expected;
    for (int i = 8; i < 24; ++i) expected.push_back(i);
    EXPECT_EQ(Contents(queue), expected);
    EXPECT_EQ(queue.Peek(), 8);
    EXPECT_EQ(queue.PeekTail(), 23);
}

// Random operations against std::deque: every edit at every ring position, growth included.
TEST(Queue, MatchesDequeUnderRandomOperations) {
    std::mt19937 rng(7);
    Queue<int> queue;
    std::deque<int> model;
    int next = 0;
    for (int step = 0; step < 20000; ++step) {
        const int op = static_cast<int>(rng() % 100);
        if (op < 40) {
            queue.Push(next);
            model.push_back(next++);
        } else if (op < 50) {
            const uint32_t index = static_cast<uint32_t>(rng() % (model.size() + 1));
            queue.PushAtHead(next, index);
            model.insert(model.begin() + index, next++);
        } else if (op < 85) {
            if (!model.empty()) {
                ASSERT_EQ(queue.Pop(), model.front());
                model.pop_front();
            }
        } else if (op < 95) {
            if (!model.empty()) {
                const uint32_t index = static_cast<uint32_t>(rng() % model.size());
                queue.RemoveAtIndex(index);
                model.erase(model.begin() + index);
            }
        } else if (op < 98) {
            queue.Compress();
            uint32_t power = 1;
            while (power <= model.size()) power *= 2;
            if (queue.AllocationSize() != 0) {
                ASSERT_EQ(queue.AllocationSize(), power);
            }
        } else if (op < 99) {
            // Drain so the queue keeps wrapping at small sizes too.
            while (!model.empty()) {
                ASSERT_EQ(queue.Pop(), model.front());
                model.pop_front();
            }
        } else {
            queue.ClearAndForceAllocation(static_cast<uint32_t>(rng() % 40));
            model.clear();
        }
        ASSERT_EQ(queue.Size(), model.size()) << "step " << step;
        ASSERT_EQ(queue.IsEmpty(), model.empty());
        if (step % 64 == 0) {
            ASSERT_EQ(Contents(queue), std::vector<int>(model.begin(), model.end()));
        }
        if (step % 1000 == 0) {
            // Copies are deep and keep queue order; a moved-from queue is empty and usable.
            Queue<int> copy = queue;
            Queue<int> moved = std::move(copy);
            ASSERT_EQ(Contents(moved), Contents(queue));
            ASSERT_TRUE(copy.IsEmpty());
            copy.Push(-1);
            moved.Push(-2);
            ASSERT_EQ(queue.Size(), model.size());
        }
    }
}

TEST(QueueDeathTest, MisuseStopsTheProgram) {
    Queue<int> queue;
    EXPECT_DEATH(queue.Pop(), "queue not empty");
    queue.Push(1);
    EXPECT_DEATH(queue[1], "index < Size");
    EXPECT_DEATH(queue.RemoveAtIndex(1), "index < Size");
    EXPECT_DEATH(queue.PushAtHead(2, 2), "index <= Size");
}

// ---- OrderedList --------------------------------------------------------------------------------

namespace {

struct Slot {
    uint32_t address;
    uint32_t index;
};

int SlotComp(const uint32_t& key, const Slot& slot) {
    if (key < slot.address) return -1;
    if (key == slot.address) return 0;
    return 1;
}

}  // namespace

TEST(OrderedList, BinarySearchInsertAndRemove) {
    OrderedList<uint32_t, Slot, SlotComp> list;
    struct Step {
        uint32_t key;
        uint32_t expectedIndex;  // kNotFound: refused as a duplicate
    };
    const Step steps[] = {
        {50, 0}, {10, 0},          {90, 2}, {70, 2}, {50, OrderedList<uint32_t, Slot, SlotComp>::kNotFound},
        {0, 0},  {0xFFFFFFFFu, 5}, {60, 3},
    };
    for (const Step& s : steps) {
        EXPECT_EQ(list.Insert(s.key, Slot{s.key, s.key / 10}), s.expectedIndex) << s.key;
    }
    const uint32_t sorted[] = {0, 10, 50, 60, 70, 90, 0xFFFFFFFFu};
    ASSERT_EQ(list.Size(), 7u);
    for (uint32_t i = 0; i < 7; ++i) EXPECT_EQ(list[i].address, sorted[i]);

    struct Lookup {
        uint32_t key;
        bool exists;
        uint32_t index;
    };
    const Lookup lookups[] = {{0, true, 0},   {5, false, 1},  {60, true, 3},
                              {65, false, 4}, {91, false, 6}, {0xFFFFFFFFu, true, 6}};
    for (const Lookup& l : lookups) {
        bool exists = !l.exists;
        EXPECT_EQ(list.GetIndexFromKey(l.key, &exists), l.index) << l.key;
        EXPECT_EQ(exists, l.exists) << l.key;
    }
    Slot found{};
    EXPECT_TRUE(list.GetElementFromKey(60, found));
    EXPECT_EQ(found.index, 6u);
    EXPECT_FALSE(list.HasData(61));

    EXPECT_EQ(list.Remove(50), 2u);
    EXPECT_FALSE(list.HasData(50));
    EXPECT_EQ(list.Size(), 6u);
}

TEST(OrderedListDeathTest, RemovingAnAbsentKeyIsFatal) {
    OrderedList<int, int> list;
    list.Insert(1, 1);
    EXPECT_DEATH(list.Remove(2), "objectExists==true");
}

// ---- RangeList ----------------------------------------------------------------------------------

TEST(RangeList, InsertMergesAndSplitsRanges) {
    struct Case {
        const char* name;
        std::vector<uint16_t> inserts;
        Ranges expected;
    };
    const Case cases[] = {
        {"5 7 6 closes the gap", {5, 7, 6}, {{5, 7}}},
        {"no wrap between 65535 and 0", {65535, 0}, {{0, 0}, {65535, 65535}}},
        {"extends downwards", {10, 9, 8}, {{8, 10}}},
        {"extends upwards", {8, 9, 10}, {{8, 10}}},
        {"duplicates", {5, 5, 5}, {{5, 5}}},
        {"insert before all", {20, 10}, {{10, 10}, {20, 20}}},
        {"merge across three", {1, 3, 5, 2, 4}, {{1, 5}}},
        // Numbers just above or inside an earlier range, while a later range exists.
        {"adjacent to the previous range", {1, 2, 3, 20, 4}, {{1, 4}, {20, 20}}},
        {"inside the previous range", {1, 2, 3, 20, 2}, {{1, 3}, {20, 20}}},
        {"bridges previous and next", {1, 2, 4, 5, 9, 3}, {{1, 5}, {9, 9}}},
        {"top of the number space", {65533, 65535, 65534}, {{65533, 65535}}},
        {"bottom of the number space", {1, 0}, {{0, 1}}},
    };
    for (const Case& c : cases) {
        RangeList<uint16_t> list;
        for (uint16_t n : c.inserts) list.Insert(n);
        EXPECT_EQ(Contents(list), c.expected) << c.name;
    }
}

// Random arrival orders with duplicates (resent messages) against the canonical runs of a set:
// ranges must stay sorted, disjoint and never adjacent.
TEST(RangeList, MatchesCanonicalRangesForRandomArrivals) {
    std::mt19937 rng(11);
    for (int round = 0; round < 200; ++round) {
        RangeList<uint16_t> list;
        std::set<uint16_t> seen;
        const uint16_t base = static_cast<uint16_t>(rng());
        const uint32_t span = 8 + rng() % 120;
        for (int i = 0; i < 150; ++i) {
            uint32_t value = base + rng() % span;
            if (value > 65535) value = 65535;  // stay without wrap, as the list compares
            list.Insert(static_cast<uint16_t>(value));
            seen.insert(static_cast<uint16_t>(value));
        }
        ASSERT_EQ(Contents(list), RangesOf(seen)) << "round " << round;
    }
}

TEST(RangeList, SerializeWritesTheAckLayoutAndRespectsTheBudget) {
    RangeList<uint16_t> list;
    for (uint16_t n : {5, 7, 8, 9}) list.Insert(n);  // [5,5] [7,9]

    BitStream out;
    const int32_t bits = list.Serialize(&out, 4000, false);
    // count 2 as a compressed u16: "1" (high byte 0), "1" (low nibble form), 0010
    // [5,5]: "1", 05 00      [7,9]: "0", 07 00, 09 00
    const std::string expectedBits =
        std::string("110010") + "1" + "0000010100000000" + "0" + "0000011100000000" + "0000100100000000";
    ASSERT_EQ(bits, static_cast<int32_t>(expectedBits.size()));
    std::string written;
    for (int32_t i = 0; i < bits; ++i) written += (out.GetData()[i / 8] >> (7 - i % 8)) & 1 ? '1' : '0';
    EXPECT_EQ(written, expectedBits);
    EXPECT_EQ(list.Size(), 2u);  // not cleared

    RangeList<uint16_t> back;
    ASSERT_TRUE(back.Deserialize(&out));
    EXPECT_EQ(Contents(back), Contents(list));

    // Budget: a range is written while the ranges so far plus 49 bits fit.
    struct Case {
        int32_t budget;
        uint32_t written;
    };
    const Case cases[] = {{48, 0}, {49, 1}, {65, 1}, {66, 2}, {83, 3}, {84, 3}, {100, 4}, {4383, 10}};
    for (const Case& c : cases) {
        RangeList<uint16_t> singles;
        for (uint16_t n = 0; n < 20; n += 2) singles.Insert(n);  // 10 single ranges
        BitStream stream;
        singles.Serialize(&stream, c.budget, true);
        RangeList<uint16_t> read;
        ASSERT_TRUE(read.Deserialize(&stream));
        EXPECT_EQ(read.Size(), c.written) << "budget " << c.budget;
        EXPECT_EQ(singles.Size(), 10 - c.written) << "budget " << c.budget;
        if (c.written < 10) {
            EXPECT_EQ(singles[0].minIndex, 2 * c.written);  // the rest stays
        }
    }
}

TEST(RangeList, DeserializeRefusesTruncatedOrInvertedRanges) {
    struct Case {
        const char* name;
        std::vector<std::pair<uint16_t, uint16_t>> ranges;
        uint16_t claimedCount;
        int32_t cutBits;  // bits removed from the end
    };
    const Case cases[] = {
        {"max below min", {{9, 7}}, 1, 0},
        {"fewer ranges than counted", {{1, 1}}, 2, 0},
        {"cut inside max", {{1, 3}}, 1, 5},
        {"cut inside the count", {}, 300, 3},
    };
    for (const Case& c : cases) {
        BitStream stream;
        stream.WriteCompressed(c.claimedCount);
        for (auto [lo, hi] : c.ranges) {
            stream.Write(lo == hi);
            stream.Write(lo);
            if (lo != hi) stream.Write(hi);
        }
        stream.SetWriteCursor(stream.GetNumberOfBitsUsed() - c.cutBits);
        RangeList<uint16_t> list;
        list.Insert(42);  // replaced, then dropped on failure
        EXPECT_FALSE(list.Deserialize(&stream)) << c.name;
        EXPECT_EQ(list.Size(), 0u) << c.name;
    }
}

// ---- Circular list ------------------------------------------------------------------------------

TEST(CircularList, CursorRulesOfAddPopAndAdvance) {
    CircularList<int> list;
    for (int v : {1, 2, 3}) {
        list.End();  // append
        list.Add(v);
    }
    auto walk = [&list] {
        std::vector<int> out;
        list.Beginning();
        for (uint32_t i = 0; i < list.Size(); ++i, ++list) out.push_back(list.Peek());
        return out;
    };
    EXPECT_EQ(walk(), (std::vector<int>{1, 2, 3}));

    // Add without End inserts after the current node and returns the cursor to the head.
    list.Beginning();
    list.Add(9);
    EXPECT_EQ(list.Peek(), 1);
    EXPECT_EQ(walk(), (std::vector<int>{1, 9, 2, 3}));

    // Advancing stops on the last node.
    list.Beginning();
    for (int i = 0; i < 10; ++i) ++list;
    EXPECT_TRUE(list.IsAtEnd());
    EXPECT_EQ(list.Peek(), 3);

    // Popping the middle moves to the following node; popping the last one to the head.
    list.Beginning();
    ++list;
    EXPECT_EQ(list.Pop(), 9);
    EXPECT_EQ(list.Peek(), 2);
    list.End();
    EXPECT_EQ(list.Pop(), 3);
    EXPECT_EQ(list.Peek(), 1);
    EXPECT_EQ(walk(), (std::vector<int>{1, 2}));
    list.Clear();
    EXPECT_TRUE(list.IsEmpty());
}

// The held-message pass of an ordering channel: walk once per pass, pop what is due, repeat until a
// pass delivers nothing.
TEST(CircularList, HeldMessagesAreReleasedInOrderByRepeatedPasses) {
    CircularList<int> held;
    for (int index : {4, 2, 1, 3, 7}) {
        held.End();
        held.Add(index);
    }
    int readIndex = 1;
    std::vector<int> delivered;
    bool progress = true;
    while (progress && !held.IsEmpty()) {
        progress = false;
        held.Beginning();
        for (uint32_t n = held.Size(); n > 0; --n) {
            if (held.Peek() == readIndex) {
                delivered.push_back(held.Pop());
                ++readIndex;
                progress = true;
            } else {
                ++held;
            }
        }
    }
    EXPECT_EQ(delivered, (std::vector<int>{1, 2, 3, 4}));
    ASSERT_EQ(held.Size(), 1u);
    held.Beginning();
    EXPECT_EQ(held.Peek(), 7);
}
