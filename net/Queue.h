#pragma once

#include <cstdint>
#include <utility>

#include "net/List.h"

namespace velt::DataStructures {

// Ring-buffer queue. Empty when head equals tail, so a push that makes the tail meet the head
// grows the ring at once and the queue is never full between calls.
template <class T>
class Queue {
public:
    Queue() = default;
    ~Queue() { delete[] array_; }

    Queue(const Queue& other) { CopyFrom(other); }
    Queue& operator=(const Queue& other) {
        if (this != &other) {
            delete[] array_;
            array_ = nullptr;
            head_ = tail_ = allocationSize_ = 0;
            CopyFrom(other);
        }
        return *this;
    }
    Queue(Queue&& other) noexcept { Steal(other); }
    Queue& operator=(Queue&& other) noexcept {
        if (this != &other) {
            delete[] array_;
            Steal(other);
        }
        return *this;
    }

    uint32_t Size() const { return tail_ >= head_ ? tail_ - head_ : allocationSize_ - head_ + tail_; }
    bool IsEmpty() const { return head_ == tail_; }
    uint32_t AllocationSize() const { return allocationSize_; }
    // Starts fetching the ends of the ring, where the next pop and push go (a hint).
    void PrefetchEnds() const {
        if (array_ == nullptr) return;
        __builtin_prefetch(array_ + head_);
        __builtin_prefetch(array_ + tail_);
    }

    void Push(const T& item) {
        if (allocationSize_ == 0) Reallocate(16);
        array_[tail_] = item;
        tail_ = tail_ + 1 == allocationSize_ ? 0 : tail_ + 1;
        if (tail_ == head_) Grow();
    }

    // Puts item at position index counted from the front (0 = new front).
    void PushAtHead(const T& item, uint32_t index = 0) {
        VELT_DS_ASSERT(index <= Size(), "index <= Size()");
        T value = item;  // item may be one of the elements about to shift
        if (allocationSize_ == 0) Reallocate(16);
        head_ = head_ == 0 ? allocationSize_ - 1 : head_ - 1;
        for (uint32_t i = 0; i < index; ++i) array_[Slot(i)] = std::move(array_[Slot(i + 1)]);
        array_[Slot(index)] = std::move(value);
        if (tail_ == head_) Grow();
    }

    T Pop() {
        VELT_DS_ASSERT(head_ != tail_, "queue not empty");
        T item = std::move(array_[head_]);
        head_ = head_ + 1 == allocationSize_ ? 0 : head_ + 1;
        return item;
    }

    const T& Peek() const {
        VELT_DS_ASSERT(head_ != tail_, "queue not empty");
        return array_[head_];
    }
    const T& PeekTail() const {
        VELT_DS_ASSERT(head_ != tail_, "queue not empty");
        return array_[tail_ == 0 ? allocationSize_ - 1 : tail_ - 1];
    }

    T& operator[](uint32_t index) {
        VELT_DS_ASSERT(index < Size(), "index < Size()");
        return array_[Slot(index)];
    }
    const T& operator[](uint32_t index) const {
        VELT_DS_ASSERT(index < Size(), "index < Size()");
        return array_[Slot(index)];
    }

    // Removes the element at position index; the later ones move one step towards the front.
    void RemoveAtIndex(uint32_t index) {
        const uint32_t size = Size();
        VELT_DS_ASSERT(index < size, "index < Size()");
        for (uint32_t i = index; i + 1 < size; ++i) array_[Slot(i)] = std::move(array_[Slot(i + 1)]);
        tail_ = tail_ == 0 ? allocationSize_ - 1 : tail_ - 1;
    }

    // Empties the queue and keeps its ring.
    void Clear() { head_ = tail_ = 0; }

    // Empties the queue and replaces the ring with one of n slots (0: no ring until the next push).
    void ClearAndForceAllocation(uint32_t n) {
        delete[] array_;
        array_ = n ? new T[n] : nullptr;
        allocationSize_ = n;
        head_ = tail_ = 0;
    }

    // Shrinks the ring to the smallest power of two above the current size.
    void Compress() {
        const uint32_t size = Size();
        uint64_t target = 1;
        while (target <= size) target *= 2;
        VELT_DS_ASSERT(target <= UINT32_MAX, "ring size fits 32 bits");
        if (allocationSize_ == 0 || target == allocationSize_) return;
        Reallocate(static_cast<uint32_t>(target));
    }

private:
    uint32_t Slot(uint32_t index) const {
        const uint64_t slot = static_cast<uint64_t>(head_) + index;
        return static_cast<uint32_t>(slot >= allocationSize_ ? slot - allocationSize_ : slot);
    }

    // Called when the ring is completely full (tail met head): every slot holds an element.
    void Grow() {
        const uint32_t old = allocationSize_;
        const uint64_t doubled = static_cast<uint64_t>(old) * 2;
        VELT_DS_ASSERT(doubled <= UINT32_MAX, "ring size fits 32 bits");
        T* fresh = new T[doubled];
        for (uint32_t i = 0; i < old; ++i) fresh[i] = std::move(array_[Slot(i)]);
        delete[] array_;
        array_ = fresh;
        allocationSize_ = static_cast<uint32_t>(doubled);
        head_ = 0;
        tail_ = old;
    }

    // Moves the current elements, in queue order, to the front of a ring of n slots (n > size).
    void Reallocate(uint32_t n) {
        const uint32_t size = Size();
        T* fresh = new T[n];
        for (uint32_t i = 0; i < size; ++i) fresh[i] = std::move(array_[Slot(i)]);
        delete[] array_;
        array_ = fresh;
        allocationSize_ = n;
        head_ = 0;
        tail_ = size;
    }

    void CopyFrom(const Queue& other) {
        const uint32_t size = other.Size();
        if (other.allocationSize_ == 0) return;
        array_ = new T[other.allocationSize_];
        allocationSize_ = other.allocationSize_;
        for (uint32_t i = 0; i < size; ++i) array_[i] = other.array_[other.Slot(i)];
        head_ = 0;
        tail_ = size;
    }

    void Steal(Queue& other) {
        array_ = std::exchange(other.array_, nullptr);
        head_ = std::exchange(other.head_, 0);
        tail_ = std::exchange(other.tail_, 0);
        allocationSize_ = std::exchange(other.allocationSize_, 0);
    }

    T* array_ = nullptr;
    uint32_t head_ = 0;
    uint32_t tail_ = 0;
    uint32_t allocationSize_ = 0;
};

}  // namespace velt::DataStructures
