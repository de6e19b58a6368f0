#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>

// A misused container (index past the end, removing a key that was never inserted, growing past
// 32-bit counts) is a bug in the transport, not bad input: stop loudly instead of corrupting
// memory. Checks stay on in release builds on purpose.
#define VELT_DS_ASSERT(cond, text) \
    ((cond) ? static_cast<void>(0) : ::velt::DataStructures::AssertionFailed(text, __FILE__, __LINE__))

namespace velt::DataStructures {

[[noreturn]] inline void AssertionFailed(const char* text, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: assertion failed: %s\n", file, line, text);
    std::fflush(stderr);
    std::abort();
}

// Next allocation for a container of 32-bit counts: 16 from nothing, else double, never wrapping.
inline uint32_t GrowAllocation(uint32_t current) {
    if (current == 0) return 16;
    const uint64_t doubled = static_cast<uint64_t>(current) * 2;
    VELT_DS_ASSERT(current < UINT32_MAX, "allocation below 2^32 - 1");
    return doubled > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(doubled);
}

// Growable array kept in insertion order.
template <class T>
class List {
public:
    static constexpr uint32_t kNotFound = 0xFFFFFFFFu;

    List() = default;
    ~List() { delete[] listArray_; }

    List(const List& other) { CopyFrom(other); }
    List& operator=(const List& other) {
        if (this != &other) {
            delete[] listArray_;
            listArray_ = nullptr;
            listSize_ = allocationSize_ = 0;
            CopyFrom(other);
        }
        return *this;
    }
    List(List&& other) noexcept { Steal(other); }
    List& operator=(List&& other) noexcept {
        if (this != &other) {
            delete[] listArray_;
            Steal(other);
        }
        return *this;
    }

    // Starts fetching the last element and the room behind it, where appends go (a hint).
    void PrefetchEnd() const {
        if (listArray_ == nullptr) return;
        __builtin_prefetch(listArray_ + (listSize_ != 0 ? listSize_ - 1 : 0));
    }
    T& operator[](uint32_t index) {
        VELT_DS_ASSERT(index < listSize_, "index < listSize");
        return listArray_[index];
    }
    const T& operator[](uint32_t index) const {
        VELT_DS_ASSERT(index < listSize_, "index < listSize");
        return listArray_[index];
    }

    uint32_t Size() const { return listSize_; }
    uint32_t AllocationSize() const { return allocationSize_; }

    // item may be an element of this list: it is copied before the array moves.
    void Insert(const T& item) {
        if (listSize_ == allocationSize_) {
            T value = item;
            Reallocate(GrowAllocation(allocationSize_));
            listArray_[listSize_++] = std::move(value);
            return;
        }
        listArray_[listSize_++] = item;
    }

    // Inserts before position index (index == Size() appends).
    void Insert(const T& item, uint32_t index) {
        VELT_DS_ASSERT(index <= listSize_, "index <= listSize");
        T value = item;
        if (listSize_ == allocationSize_) Reallocate(GrowAllocation(allocationSize_));
        for (uint32_t i = listSize_; i > index; --i) listArray_[i] = std::move(listArray_[i - 1]);
        listArray_[index] = std::move(value);
        ++listSize_;
    }

    // Out-of-range indexes are ignored: callers remove by indexes they looked up moments ago
    // and a stale one must not shift unrelated elements.
    void RemoveAtIndex(uint32_t index) {
        if (index >= listSize_) return;
        for (uint32_t i = index; i + 1 < listSize_; ++i) listArray_[i] = std::move(listArray_[i + 1]);
        --listSize_;
    }

    void RemoveFromEnd() {
        VELT_DS_ASSERT(listSize_ > 0, "listSize > 0");
        --listSize_;
    }

    // Removes and returns the last element.
    T Pop() {
        VELT_DS_ASSERT(listSize_ > 0, "listSize > 0");
        return std::move(listArray_[--listSize_]);
    }

    // Small arrays are kept across clears so lists that fill and empty every cycle do not
    // churn the heap; large ones are returned unless the caller asks to keep them.
    void Clear(bool keepMemory = false) {
        listSize_ = 0;
        if (allocationSize_ > 512 && !keepMemory) {
            delete[] listArray_;
            listArray_ = nullptr;
            allocationSize_ = 0;
        }
    }

    uint32_t GetIndexOf(const T& item) const {
        for (uint32_t i = 0; i < listSize_; ++i)
            if (listArray_[i] == item) return i;
        return kNotFound;
    }

    // Makes room for at least n elements without changing the contents.
    void Preallocate(uint32_t n) {
        if (n > allocationSize_) Reallocate(n);
    }

private:
    void Reallocate(uint32_t newAllocation) {
        VELT_DS_ASSERT(newAllocation > listSize_, "allocation grows");
        T* fresh = new T[newAllocation];
        for (uint32_t i = 0; i < listSize_; ++i) fresh[i] = std::move(listArray_[i]);
        delete[] listArray_;
        listArray_ = fresh;
        allocationSize_ = newAllocation;
    }
    void CopyFrom(const List& other) {
        if (other.listSize_ == 0) return;
        listArray_ = new T[other.listSize_];
        allocationSize_ = other.listSize_;
        for (uint32_t i = 0; i < other.listSize_; ++i) listArray_[i] = other.listArray_[i];
        listSize_ = other.listSize_;
    }
    void Steal(List& other) {
        listArray_ = std::exchange(other.listArray_, nullptr);
        listSize_ = std::exchange(other.listSize_, 0);
        allocationSize_ = std::exchange(other.allocationSize_, 0);
    }

    T* listArray_ = nullptr;
    uint32_t listSize_ = 0;
    uint32_t allocationSize_ = 0;
};

}  // namespace velt::DataStructures
