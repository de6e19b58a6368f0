// The resend tree: an order-32 B+ tree keyed by 16-bit message numbers. A randomised run against
// std::map with wrapping message numbers, checking the tree's shape as it grows and empties.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <vector>

#include "net/BPlusTree.h"

using namespace velt::DataStructures;

namespace {

using Tree = BPlusTree<uint16_t, uint32_t, 32>;
using TreePage = Tree::PageType;

struct Shape {
    uint32_t pages = 0;
    int leafDepth = -1;
    std::vector<const TreePage*> leaves;  // in key order, found from the root
};

// Walks the subtree: every key within [low, high) of its parent's separators, pages sorted, fill
// between 16 and 32 (the root may hold fewer), all leaves at one depth.
void CheckPage(const TreePage* page, bool isRoot, int depth, long low, long high, Shape& shape) {
    ++shape.pages;
    ASSERT_GE(page->size, isRoot ? 1 : Tree::kMinFill);
    ASSERT_LE(page->size, 32);
    for (int32_t i = 0; i < page->size; ++i) {
        ASSERT_GE(page->keys[i], low);
        ASSERT_LT(page->keys[i], high);
        if (i > 0) {
            ASSERT_LT(page->keys[i - 1], page->keys[i]);
        }
    }
    if (page->isLeaf) {
        if (shape.leafDepth < 0) shape.leafDepth = depth;
        ASSERT_EQ(depth, shape.leafDepth) << "leaves at different depths";
        shape.leaves.push_back(page);
        return;
    }
    for (int32_t i = 0; i <= page->size; ++i) {
        const long childLow = i == 0 ? low : page->keys[i - 1];
        const long childHigh = i == page->size ? high : page->keys[i];
        ASSERT_NE(page->children[i], nullptr);
        CheckPage(page->children[i], false, depth + 1, childLow, childHigh, shape);
    }
}

// Full structural check against the model; returns the number of pages in the tree.
uint32_t CheckTree(const Tree& tree, const std::map<uint16_t, uint32_t>& model) {
    if (model.empty()) {
        EXPECT_TRUE(tree.IsEmpty());
        EXPECT_EQ(tree.GetListHead(), nullptr);
        return 0;
    }
    EXPECT_FALSE(tree.IsEmpty());
    Shape shape;
    CheckPage(tree.GetRoot(), true, 0, 0, 65536, shape);
    if (::testing::Test::HasFatalFailure()) return 0;

    // The leaf chain from the leftmost leaf is exactly the leaves in key order, linked both ways.
    const TreePage* previous = nullptr;
    const TreePage* leaf = tree.GetListHead();
    for (const TreePage* expected : shape.leaves) {
        EXPECT_EQ(leaf, expected);
        if (leaf != expected) return shape.pages;
        EXPECT_EQ(leaf->previous, previous);
        previous = leaf;
        leaf = leaf->next;
    }
    EXPECT_EQ(leaf, nullptr) << "chain runs past the last leaf";

    auto it = model.begin();
    for (const TreePage* page : shape.leaves) {
        for (int32_t i = 0; i < page->size; ++i, ++it) {
            EXPECT_EQ(page->keys[i], it->first);
            EXPECT_EQ(page->data[i], it->second);
        }
    }
    EXPECT_EQ(tree.Size(), model.size());
    return shape.pages;
}

}  // namespace

TEST(BPlusTree, DuplicateInsertAndAbsentDeleteLeaveTheTreeUnchanged) {
    Tree tree;
    std::map<uint16_t, uint32_t> model;
    for (uint16_t k = 0; k < 200; k += 2) {
        ASSERT_TRUE(tree.Insert(k, k * 10u));
        model[k] = k * 10u;
    }
    CheckTree(tree, model);
    const uint32_t poolBefore = tree.PoolSize();

    EXPECT_FALSE(tree.Insert(100, 7));  // exists: value stays 1000
    EXPECT_FALSE(tree.Insert(0, 7));
    uint32_t value = 0;
    EXPECT_FALSE(tree.Delete(101, value));
    EXPECT_FALSE(tree.Delete(65535, value));
    EXPECT_EQ(tree.PoolSize(), poolBefore);
    CheckTree(tree, model);

    ASSERT_TRUE(tree.Delete(100, value));
    EXPECT_EQ(value, 1000u);
    EXPECT_FALSE(tree.Get(100, value));
    ASSERT_TRUE(tree.Get(102, value));
    EXPECT_EQ(value, 1020u);

    Tree empty;
    EXPECT_FALSE(empty.Delete(1, value));
    EXPECT_FALSE(empty.Get(1, value));
}

// A full leaf that takes one more key keeps 16 and moves 17 to a new right leaf; the new key goes
// left when its position is below 16.
TEST(BPlusTree, FullLeafSplitsSixteenSeventeen) {
    struct Case {
        uint16_t newKey;
        uint16_t expectedSeparator;  // first key of the right leaf
        bool newKeyLeft;
    };
    const Case cases[] = {
        {1, 32, true},    // position 0: keys 32..64 move right
        {31, 32, true},   // position 15
        {33, 33, false},  // position 16: 33 and keys 34..64 go right
        {99, 34, false},  // appended
    };
    for (const Case& c : cases) {
        Tree tree;
        for (uint16_t k = 2; k <= 64; k += 2) ASSERT_TRUE(tree.Insert(k, k));  // 32 keys, full leaf
        ASSERT_TRUE(tree.GetRoot()->isLeaf);
        ASSERT_TRUE(tree.Insert(c.newKey, c.newKey));
        const TreePage* root = tree.GetRoot();
        ASSERT_FALSE(root->isLeaf);
        ASSERT_EQ(root->size, 1);
        EXPECT_EQ(root->keys[0], c.expectedSeparator) << c.newKey;
        const TreePage* left = root->children[0];
        const TreePage* right = root->children[1];
        EXPECT_EQ(left->size, 16);
        EXPECT_EQ(right->size, 17);
        EXPECT_EQ(left->next, right);
        EXPECT_EQ(tree.GetListHead(), left);
        bool found;
        Tree::GetIndexOf(c.newKey, c.newKeyLeft ? left : right, &found);
        EXPECT_TRUE(found) << c.newKey;
    }
}

// Deleting from the two-leaf tree: the underfull leaf borrows while its neighbour can spare a key,
// then the two merge, the root collapses into the remaining leaf and the pages go to the pool.
TEST(BPlusTree, UnderfullLeafBorrowsThenMergesAndTheRootCollapses) {
    Tree tree;
    std::map<uint16_t, uint32_t> model;
    for (uint16_t k = 1; k <= 33; ++k) {
        tree.Insert(k, k);
        model[k] = k;
    }
    // Leaves 1..16 and 17..33. Taking 1 and 2 from the left leaf makes it borrow twice from the
    // right one (17 -> 16 keys there after the first borrow, then no spare: merge).
    uint32_t value;
    ASSERT_TRUE(tree.Delete(1, value));
    model.erase(1);
    EXPECT_EQ(tree.GetRoot()->keys[0], 18);  // borrowed 17
    EXPECT_EQ(CheckTree(tree, model), 3u);
    const uint32_t poolBefore = tree.PoolSize();
    ASSERT_TRUE(tree.Delete(2, value));
    model.erase(2);
    EXPECT_EQ(CheckTree(tree, model), 1u);
    EXPECT_TRUE(tree.GetRoot()->isLeaf);
    EXPECT_EQ(tree.GetRoot()->size, 31);
    EXPECT_EQ(tree.PoolSize(), poolBefore + 2);  // the emptied leaf and the old root

    for (auto [key, v] : model) ASSERT_TRUE(tree.Delete(key, value));
    EXPECT_TRUE(tree.IsEmpty());
    EXPECT_EQ(tree.PoolSize(), tree.PagesCreated());
}

TEST(BPlusTree, ClearReturnsEveryPageAndPreallocationIsReused) {
    Tree tree;
    tree.PreallocatePages(64);
    EXPECT_EQ(tree.PagesCreated(), 64u);
    for (uint32_t k = 0; k < 600; ++k) tree.Insert(static_cast<uint16_t>(k * 37), k);
    EXPECT_GT(tree.PoolSize(), 0u);
    EXPECT_EQ(tree.PagesCreated(), 64u);  // all pages from the pool
    tree.Clear();
    EXPECT_TRUE(tree.IsEmpty());
    EXPECT_EQ(tree.Size(), 0u);
    EXPECT_EQ(tree.PoolSize(), 64u);
    EXPECT_TRUE(tree.Insert(5, 5));
    tree.FreePages();
    EXPECT_EQ(tree.PagesCreated(), 1u);
}

// A sender's view: message numbers are handed out by a wrapping 16-bit counter, acknowledgements
// remove them mostly in order and sometimes out of order, resends of acknowledged numbers are
// refused. The window grows to thousands and drains to empty several times, and wraps 65535 -> 0
// about twenty times over the run.
TEST(BPlusTree, RandomisedAgainstStdMapWithWrappingMessageNumbers) {
    std::mt19937 rng(20240601);
    Tree tree;
    tree.PreallocatePages(64);
    std::map<uint16_t, uint32_t> model;
    std::vector<uint16_t> outstanding;  // same keys as the model, in sending order (roughly)
    uint16_t nextNumber = 65000;        // wraps early
    uint32_t stamp = 0;
    uint32_t peakInUse = 64;
    uint32_t targetWindow = 3000;

    constexpr int kOperations = 1200000;
    for (int op = 0; op < kOperations; ++op) {
        if (op % 100000 == 0) targetWindow = 500 + rng() % 6000;
        const bool grow = model.size() < targetWindow;
        const uint32_t roll = rng() % 100;
        uint32_t value = 0;
        if (roll < (grow ? 60u : 35u)) {
            // Send: a new number, unless the window covers the whole number space.
            if (model.count(nextNumber)) {
                ASSERT_FALSE(tree.Insert(nextNumber, 0));
            } else {
                ++stamp;
                ASSERT_TRUE(tree.Insert(nextNumber, stamp));
                model[nextNumber] = stamp;
                outstanding.push_back(nextNumber);
            }
            ++nextNumber;
        } else if (roll < 85) {
            // Acknowledge: mostly the oldest, sometimes any.
            if (outstanding.empty()) continue;
            const size_t pick = roll < 70 ? 0 : rng() % outstanding.size();
            const uint16_t key = outstanding[pick];
            outstanding[pick] = outstanding.back();
            outstanding.pop_back();
            if (pick == 0 && !outstanding.empty()) std::swap(outstanding[0], outstanding.back());
            ASSERT_TRUE(tree.Delete(key, value)) << key;
            ASSERT_EQ(value, model[key]);
            model.erase(key);
        } else if (roll < 92) {
            // Duplicate acknowledgement or one for a number never sent.
            const uint16_t key = static_cast<uint16_t>(rng());
            const bool present = model.count(key) != 0;
            ASSERT_EQ(tree.Delete(key, value), present);
            if (present) {
                ASSERT_EQ(value, model[key]);
                model.erase(key);
                outstanding.erase(std::find(outstanding.begin(), outstanding.end(), key));
            }
        } else if (roll < 96) {
            // Resending a number still in flight must be refused.
            if (outstanding.empty()) continue;
            const uint16_t key = outstanding[rng() % outstanding.size()];
            ASSERT_FALSE(tree.Insert(key, 0));
        } else {
            const uint16_t key = static_cast<uint16_t>(rng());
            const bool present = model.count(key) != 0;
            ASSERT_EQ(tree.Get(key, value), present);
            if (present) {
                ASSERT_EQ(value, model[key]);
            }
        }

        // Pool reuse: a page is made only when the pool is empty, so the pages ever made equal the
        // most pages ever in use at once.
        const uint32_t inUse = tree.PagesCreated() - tree.PoolSize();
        peakInUse = std::max(peakInUse, inUse);
        ASSERT_EQ(tree.PagesCreated(), peakInUse);

        if (op % 20000 == 0 || model.empty()) {
            const uint32_t pages = CheckTree(tree, model);
            ASSERT_FALSE(HasFailure()) << "after operation " << op;
            ASSERT_EQ(pages + tree.PoolSize(), tree.PagesCreated());
        }
        if (op % 250000 == 0) {
            // Drain completely now and then: root collapse down to an empty tree.
            while (!outstanding.empty()) {
                const uint16_t key = outstanding.back();
                outstanding.pop_back();
                ASSERT_TRUE(tree.Delete(key, value));
                model.erase(key);
            }
            CheckTree(tree, model);
            ASSERT_TRUE(tree.IsEmpty());
            ASSERT_EQ(tree.PoolSize(), tree.PagesCreated());
        }
    }
    CheckTree(tree, model);
}

TEST(BPlusTreeDeathTest, SearchingAnEmptyPageIsFatal) {
    TreePage page{};
    page.isLeaf = 1;
    page.size = 0;
    bool found;
    EXPECT_DEATH(Tree::GetIndexOf(1, &page, &found), "page->size>0");
}
