#pragma once

#include <cstdint>

#include "net/List.h"

namespace velt::DataStructures {

// -1 when key sorts before the element, 0 when it matches, 1 when it sorts after.
template <class KeyType, class DataType>
int DefaultOrderedListComparison(const KeyType& key, const DataType& data) {
    if (key < data) return -1;
    if (key == data) return 0;
    return 1;
}

// Array kept sorted by key; at most one element per key.
template <class KeyType, class DataType,
          int (*DefaultComparison)(const KeyType&, const DataType&) =
              DefaultOrderedListComparison<KeyType, DataType>>
class OrderedList {
public:
    using Comparison = int (*)(const KeyType&, const DataType&);
    static constexpr uint32_t kNotFound = 0xFFFFFFFFu;

    // Binary search. With *exists true the result is the matching index; with false it is the
    // index at which key would be inserted to keep the order.
    uint32_t GetIndexFromKey(const KeyType& key, bool* exists, Comparison cf = DefaultComparison) const {
        uint32_t low = 0;
        uint32_t high = list_.Size();
        while (low < high) {
            const uint32_t mid = low + (high - low) / 2;
            const int c = cf(key, list_[mid]);
            if (c == 0) {
                *exists = true;
                return mid;
            }
            if (c < 0)
                high = mid;
            else
                low = mid + 1;
        }
        *exists = false;
        return low;
    }

    bool HasData(const KeyType& key, Comparison cf = DefaultComparison) const {
        bool exists;
        GetIndexFromKey(key, &exists, cf);
        return exists;
    }

    bool GetElementFromKey(const KeyType& key, DataType& out, Comparison cf = DefaultComparison) const {
        bool exists;
        const uint32_t index = GetIndexFromKey(key, &exists, cf);
        if (exists) out = list_[index];
        return exists;
    }

    // Index of the new element, or kNotFound (-1) when the key is already present.
    uint32_t Insert(const KeyType& key, const DataType& data, Comparison cf = DefaultComparison) {
        bool exists;
        const uint32_t index = GetIndexFromKey(key, &exists, cf);
        if (exists) return kNotFound;
        list_.Insert(data, index);
        return index;
    }

    // Callers only remove keys they inserted; a missing one means the caller's bookkeeping is
    // broken. Returns the index the element had.
    uint32_t Remove(const KeyType& key, Comparison cf = DefaultComparison) {
        bool objectExists;
        const uint32_t index = GetIndexFromKey(key, &objectExists, cf);
        VELT_DS_ASSERT(objectExists == true, "objectExists==true");
        list_.RemoveAtIndex(index);
        return index;
    }

    void RemoveAtIndex(uint32_t index) {
        VELT_DS_ASSERT(index < list_.Size(), "index < Size()");
        list_.RemoveAtIndex(index);
    }

    // Places data at index without searching. The caller keeps the order (used when a position
    // has just been found, or when appending elements that are known to come last).
    void InsertAtIndex(const DataType& data, uint32_t index) { list_.Insert(data, index); }
    void InsertAtEnd(const DataType& data) { list_.Insert(data); }
    void PrefetchEnd() const { list_.PrefetchEnd(); }

    DataType& operator[](uint32_t index) { return list_[index]; }
    const DataType& operator[](uint32_t index) const { return list_[index]; }
    uint32_t Size() const { return list_.Size(); }
    void Clear(bool keepMemory = false) { list_.Clear(keepMemory); }

private:
    List<DataType> list_;
};

}  // namespace velt::DataStructures
