#pragma once

#include <cstdint>
#include <utility>

#include "net/List.h"
#include "net/Queue.h"

namespace velt::DataStructures {

// One node of a BPlusTree. A leaf holds size keys with their values and is chained to its
// neighbours; an inner page holds size keys and size + 1 children, key i being the smallest key
// under children[i + 1].
template <class KeyType, class DataType, int order>
struct Page {
    uint8_t isLeaf;
    int32_t size;
    KeyType keys[order];
    DataType data[order];
    Page* next;
    Page* previous;
    Page* children[order + 1];
};

// B+ tree whose pages come from, and go back to, a pool of its own, so a connection that keeps
// acknowledging and resending does not allocate once its pool has warmed up. Every page but the
// root holds between order / 2 and order keys.
template <class KeyType, class DataType, int order>
class BPlusTree {
    static_assert(order >= 4 && order % 2 == 0, "order must be even and at least 4");

public:
    using PageType = Page<KeyType, DataType, order>;
    static constexpr int32_t kMinFill = order / 2;

    BPlusTree() = default;
    ~BPlusTree() {
        Clear();
        FreePages();
    }
    BPlusTree(const BPlusTree&) = delete;
    BPlusTree& operator=(const BPlusTree&) = delete;

    // Grows the pool of free pages to at least n.
    void PreallocatePages(uint32_t n) {
        while (PoolSize() < n) pagePool_.Insert(NewPage());
    }
    // Returns the pool's pages to the heap (pages in the tree stay).
    void FreePages() {
        if (spare_ != nullptr) {
            delete spare_;
            spare_ = nullptr;
            --pagesCreated_;
        }
        while (pagePool_.Size() > 0) {
            delete pagePool_.Pop();
            --pagesCreated_;
        }
    }

    bool IsEmpty() const { return root_ == nullptr; }

    bool Get(const KeyType& key, DataType& out) const {
        if (!root_) return false;
        const PageType* page = root_;
        while (!page->isLeaf) page = page->children[ChildIndex(page, key)];
        bool found;
        const int32_t index = GetIndexOf(key, page, &found);
        if (found) out = page->data[index];
        return found;
    }

    // False, with the tree unchanged, when key is already present.
    bool Insert(const KeyType& key, const DataType& value) {
        if (!root_) {
            root_ = leftmostLeaf_ = AllocatePage(true);
            root_->next = root_->previous = nullptr;
            root_->keys[0] = key;
            root_->data[0] = value;
            root_->size = 1;
            return true;
        }
        KeyType upKey{};
        PageType* upPage = nullptr;
        if (!InsertInto(root_, key, value, upKey, upPage)) return false;
        if (upPage) {
            PageType* newRoot = AllocatePage(false);
            newRoot->size = 1;
            newRoot->keys[0] = upKey;
            newRoot->children[0] = root_;
            newRoot->children[1] = upPage;
            root_ = newRoot;
        }
        return true;
    }

    // Removes key and hands back its value; false when the key is absent.
    bool Delete(const KeyType& key, DataType& out) {
        if (!root_) return false;
        if (!DeleteFrom(root_, key, out)) return false;
        if (root_->size == 0) {
            PageType* old = root_;
            if (old->isLeaf) {
                root_ = leftmostLeaf_ = nullptr;
            } else {
                root_ = old->children[0];
            }
            ReleasePage(old);
        }
        return true;
    }
    bool Delete(const KeyType& key) {
        DataType ignored;
        return Delete(key, ignored);
    }

    // Hands every page back to the pool, breadth-first; the tree is empty afterwards.
    void Clear() {
        if (!root_) return;
        Queue<PageType*> pending;
        pending.Push(root_);
        while (!pending.IsEmpty()) {
            PageType* page = pending.Pop();
            if (!page->isLeaf)
                for (int32_t i = 0; i <= page->size; ++i) pending.Push(page->children[i]);
            ReleasePage(page);
        }
        root_ = leftmostLeaf_ = nullptr;
    }

    // Number of entries: a walk along the leaf chain.
    uint32_t Size() const {
        uint32_t count = 0;
        for (const PageType* page = leftmostLeaf_; page; page = page->next)
            count += static_cast<uint32_t>(page->size);
        return count;
    }

    // Binary search inside one page: the index of key with *found true, else the index at which
    // it would be inserted.
    static int32_t GetIndexOf(const KeyType& key, const PageType* page, bool* found) {
        VELT_DS_ASSERT(page->size > 0, "page->size>0");
        int32_t low = 0;
        int32_t high = page->size;
        while (low < high) {
            const int32_t mid = low + (high - low) / 2;
            if (page->keys[mid] == key) {
                *found = true;
                return mid;
            }
            if (key < page->keys[mid])
                high = mid;
            else
                low = mid + 1;
        }
        *found = false;
        return low;
    }

    // Read-only access for walks over all entries (leaf chain from the leftmost leaf) and for
    // structural checks.
    const PageType* GetListHead() const { return leftmostLeaf_; }
    PageType* GetListHead() { return leftmostLeaf_; }
    const PageType* GetRoot() const { return root_; }
    uint32_t PoolSize() const { return pagePool_.Size() + (spare_ != nullptr ? 1u : 0u); }
    // Pages alive now, in the tree or in the pool.
    uint32_t PagesCreated() const { return pagesCreated_; }

private:
    // Index of the child whose subtree may hold key.
    static int32_t ChildIndex(const PageType* page, const KeyType& key) {
        int32_t low = 0;
        int32_t high = page->size;
        while (low < high) {  // first key greater than key
            const int32_t mid = low + (high - low) / 2;
            if (key < page->keys[mid])
                high = mid;
            else
                low = mid + 1;
        }
        return low;
    }

    PageType* NewPage() {
        ++pagesCreated_;
        return new PageType();
    }
    PageType* AllocatePage(bool leaf) {
        PageType* page = spare_;
        if (page != nullptr)
            spare_ = nullptr;
        else
            page = pagePool_.Size() > 0 ? pagePool_.Pop() : NewPage();
        page->isLeaf = leaf ? 1 : 0;
        page->size = 0;
        page->next = page->previous = nullptr;
        return page;
    }
    // The page released last is kept aside: a tree that keeps emptying and refilling (a resend
    // tree with one message in flight) then reuses it without touching the pool's array.
    void ReleasePage(PageType* page) {
        if (spare_ != nullptr) pagePool_.Insert(spare_);
        spare_ = page;
    }

    // Inserts into the subtree under page. When page splits, upKey/upPage receive the separator
    // and the new right sibling for the parent.
    bool InsertInto(PageType* page, const KeyType& key, const DataType& value, KeyType& upKey,
                    PageType*& upPage) {
        upPage = nullptr;
        if (page->isLeaf) {
            bool found;
            const int32_t index = GetIndexOf(key, page, &found);
            if (found) return false;
            if (page->size < order) {
                ShiftLeafRight(page, index);
                page->keys[index] = key;
                page->data[index] = value;
                ++page->size;
                return true;
            }
            SplitLeaf(page, index, key, value, upKey, upPage);
            return true;
        }

        const int32_t childIndex = ChildIndex(page, key);
        KeyType childUpKey{};
        PageType* childUpPage = nullptr;
        if (!InsertInto(page->children[childIndex], key, value, childUpKey, childUpPage)) return false;
        if (!childUpPage) return true;
        if (page->size < order) {
            for (int32_t i = page->size; i > childIndex; --i) {
                page->keys[i] = page->keys[i - 1];
                page->children[i + 1] = page->children[i];
            }
            page->keys[childIndex] = childUpKey;
            page->children[childIndex + 1] = childUpPage;
            ++page->size;
            return true;
        }
        SplitInner(page, childIndex, childUpKey, childUpPage, upKey, upPage);
        return true;
    }

    static void ShiftLeafRight(PageType* page, int32_t from) {
        for (int32_t i = page->size; i > from; --i) {
            page->keys[i] = page->keys[i - 1];
            page->data[i] = page->data[i - 1];
        }
    }

    // A full leaf taking one more entry: kMinFill entries stay left, kMinFill + 1 go to a new
    // right leaf chained after it, and the right leaf's first key goes up.
    void SplitLeaf(PageType* left, int32_t index, const KeyType& key, const DataType& value, KeyType& upKey,
                   PageType*& upPage) {
        PageType* right = AllocatePage(true);
        if (index < kMinFill) {
            // The upper kMinFill + 1 entries move right; the new one goes left.
            const int32_t from = kMinFill - 1;
            for (int32_t i = from; i < order; ++i) {
                right->keys[i - from] = left->keys[i];
                right->data[i - from] = left->data[i];
            }
            right->size = order - from;
            left->size = from;
            ShiftLeafRight(left, index);
            left->keys[index] = key;
            left->data[index] = value;
            ++left->size;
        } else {
            // The upper kMinFill entries and the new one go right.
            int32_t r = 0;
            for (int32_t i = kMinFill; i < order; ++i) {
                if (i == index) {
                    right->keys[r] = key;
                    right->data[r++] = value;
                }
                right->keys[r] = left->keys[i];
                right->data[r++] = left->data[i];
            }
            if (index == order) {
                right->keys[r] = key;
                right->data[r++] = value;
            }
            right->size = r;
            left->size = kMinFill;
        }
        right->next = left->next;
        right->previous = left;
        if (left->next) left->next->previous = right;
        left->next = right;
        upKey = right->keys[0];
        upPage = right;
    }

    // A full inner page taking one more separator and child: of the order + 1 separators the
    // lower kMinFill stay, the next goes up and the upper kMinFill move to a new right page.
    void SplitInner(PageType* left, int32_t childIndex, const KeyType& newKey, PageType* newChild,
                    KeyType& upKey, PageType*& upPage) {
        KeyType keys[order + 1];
        PageType* children[order + 2];
        int32_t k = 0;
        for (int32_t i = 0; i < order; ++i) {
            if (i == childIndex) keys[k++] = newKey;
            keys[k++] = left->keys[i];
        }
        if (childIndex == order) keys[k++] = newKey;
        int32_t c = 0;
        for (int32_t i = 0; i <= order; ++i) {
            children[c++] = left->children[i];
            if (i == childIndex) children[c++] = newChild;
        }

        PageType* right = AllocatePage(false);
        for (int32_t i = 0; i < kMinFill; ++i) left->keys[i] = keys[i];
        for (int32_t i = 0; i <= kMinFill; ++i) left->children[i] = children[i];
        left->size = kMinFill;
        upKey = keys[kMinFill];
        for (int32_t i = kMinFill + 1; i <= order; ++i) right->keys[i - kMinFill - 1] = keys[i];
        for (int32_t i = kMinFill + 1; i <= order + 1; ++i) right->children[i - kMinFill - 1] = children[i];
        right->size = order - kMinFill;
        upPage = right;
    }

    bool DeleteFrom(PageType* page, const KeyType& key, DataType& out) {
        if (page->isLeaf) {
            bool found;
            const int32_t index = GetIndexOf(key, page, &found);
            if (!found) return false;
            out = page->data[index];
            for (int32_t i = index; i + 1 < page->size; ++i) {
                page->keys[i] = page->keys[i + 1];
                page->data[i] = page->data[i + 1];
            }
            --page->size;
            return true;
        }
        const int32_t childIndex = ChildIndex(page, key);
        if (!DeleteFrom(page->children[childIndex], key, out)) return false;
        if (page->children[childIndex]->size < kMinFill) FixUnderflow(page, childIndex);
        return true;
    }

    // Child i of parent dropped below kMinFill keys: borrow one entry from a sibling that can
    // spare it (left first), else merge it with a sibling (the right one first).
    void FixUnderflow(PageType* parent, int32_t i) {
        PageType* child = parent->children[i];
        PageType* left = i > 0 ? parent->children[i - 1] : nullptr;
        PageType* right = i < parent->size ? parent->children[i + 1] : nullptr;
        if (left && left->size > kMinFill) {
            BorrowFromLeft(parent, i, left, child);
        } else if (right && right->size > kMinFill) {
            BorrowFromRight(parent, i, child, right);
        } else if (right) {
            Merge(parent, i);
        } else if (left) {
            Merge(parent, i - 1);
        }
    }

    static void BorrowFromLeft(PageType* parent, int32_t i, PageType* left, PageType* child) {
        if (child->isLeaf) {
            ShiftLeafRight(child, 0);
            child->keys[0] = left->keys[left->size - 1];
            child->data[0] = left->data[left->size - 1];
            ++child->size;
            --left->size;
            parent->keys[i - 1] = child->keys[0];
            return;
        }
        for (int32_t j = child->size; j > 0; --j) child->keys[j] = child->keys[j - 1];
        for (int32_t j = child->size + 1; j > 0; --j) child->children[j] = child->children[j - 1];
        child->keys[0] = parent->keys[i - 1];
        child->children[0] = left->children[left->size];
        ++child->size;
        parent->keys[i - 1] = left->keys[left->size - 1];
        --left->size;
    }

    static void BorrowFromRight(PageType* parent, int32_t i, PageType* child, PageType* right) {
        if (child->isLeaf) {
            child->keys[child->size] = right->keys[0];
            child->data[child->size] = right->data[0];
            ++child->size;
            for (int32_t j = 0; j + 1 < right->size; ++j) {
                right->keys[j] = right->keys[j + 1];
                right->data[j] = right->data[j + 1];
            }
            --right->size;
            parent->keys[i] = right->keys[0];
            return;
        }
        child->keys[child->size] = parent->keys[i];
        child->children[child->size + 1] = right->children[0];
        ++child->size;
        parent->keys[i] = right->keys[0];
        for (int32_t j = 0; j + 1 < right->size; ++j) right->keys[j] = right->keys[j + 1];
        for (int32_t j = 0; j < right->size; ++j) right->children[j] = right->children[j + 1];
        --right->size;
    }

    // Folds children[i + 1] into children[i] and returns the emptied page to the pool.
    void Merge(PageType* parent, int32_t i) {
        PageType* left = parent->children[i];
        PageType* right = parent->children[i + 1];
        if (left->isLeaf) {
            for (int32_t j = 0; j < right->size; ++j) {
                left->keys[left->size + j] = right->keys[j];
                left->data[left->size + j] = right->data[j];
            }
            left->size += right->size;
            left->next = right->next;
            if (right->next) right->next->previous = left;
        } else {
            left->keys[left->size] = parent->keys[i];
            for (int32_t j = 0; j < right->size; ++j) left->keys[left->size + 1 + j] = right->keys[j];
            for (int32_t j = 0; j <= right->size; ++j)
                left->children[left->size + 1 + j] = right->children[j];
            left->size += right->size + 1;
        }
        for (int32_t j = i; j + 1 < parent->size; ++j) parent->keys[j] = parent->keys[j + 1];
        for (int32_t j = i + 1; j < parent->size; ++j) parent->children[j] = parent->children[j + 1];
        --parent->size;
        ReleasePage(right);
    }

    List<PageType*> pagePool_;
    PageType* spare_ = nullptr;
    PageType* root_ = nullptr;
    PageType* leftmostLeaf_ = nullptr;
    uint32_t pagesCreated_ = 0;
};

}  // namespace velt::DataStructures
