#pragma once

#include <atomic>
#include <cstdint>

#include "net/List.h"

namespace velt::DataStructures {

// Lock-free hand-over between exactly one producer thread and one consumer thread (the network
// thread and the main thread). Objects live in a ring of nodes that grows when the producer
// catches up with the consumer, so the producer never waits.
//
// Producer: T* p = WriteLock(); fill *p; WriteUnlock();
// Consumer: T* p = ReadLock(); if (p) { use *p; ReadUnlock(); }
// Locks are released in the order they were taken.
//
// The producer writes only the write-side pointers and the ready mark of the nodes it unlocks;
// the consumer only the read side. The ready mark is the hand-over: it is stored with release
// after the object (and the node's link) is complete and loaded with acquire before either is
// touched by the other side.
template <class T>
class SingleProducerConsumer {
    static constexpr uint32_t kMinimumListSize = 8;

    struct DataPlusPtr {
        T object{};
        std::atomic<bool> readyToRead{false};
        std::atomic<DataPlusPtr*> next{nullptr};
    };

public:
    SingleProducerConsumer() { BuildRing(); }
    ~SingleProducerConsumer() { DeleteRing(); }
    SingleProducerConsumer(const SingleProducerConsumer&) = delete;
    SingleProducerConsumer& operator=(const SingleProducerConsumer&) = delete;

    // Producer: the next free object to fill. Never null.
    T* WriteLock() {
        DataPlusPtr* ahead = writeAheadPointer_;
        DataPlusPtr* following = ahead->next.load(std::memory_order_relaxed);
        // The consumer's read pointer only moves towards us, so a stale copy can only make the
        // ring look full: look at the real one (a line the consumer writes) only then.
        if (following == readPointerSeen_) readPointerSeen_ = readPointer_.load(std::memory_order_acquire);
        if (following == readPointerSeen_ || following->readyToRead.load(std::memory_order_acquire)) {
            // The consumer still holds the next node: link a fresh one in front of it.
            DataPlusPtr* fresh = new DataPlusPtr;
            fresh->next.store(following, std::memory_order_relaxed);
            ahead->next.store(fresh, std::memory_order_release);
            ++nodeCount_;
            following = fresh;
        }
        VELT_DS_ASSERT(following != nullptr, "writeAheadPointer->next");
        writeAheadPointer_ = following;
        return &ahead->object;
    }

    // Producer: publishes the oldest write-locked object.
    void WriteUnlock() {
        DataPlusPtr* node = writePointer_.load(std::memory_order_relaxed);
        VELT_DS_ASSERT(node != writeAheadPointer_, "a write lock is held");
        DataPlusPtr* following = node->next.load(std::memory_order_relaxed);
        node->readyToRead.store(true, std::memory_order_release);
        writePointer_.store(following, std::memory_order_release);
        writeCount_.fetch_add(1, std::memory_order_relaxed);
    }

    // Consumer: the next published object, or null when there is none.
    T* ReadLock() {
        DataPlusPtr* ahead = readAheadPointer_;
        // A node is marked ready from its publication until its read unlock, and the producer
        // never reuses a marked node, so the mark alone says whether ahead is published.
        if (!ahead->readyToRead.load(std::memory_order_acquire)) return nullptr;
        readAheadPointer_ = ahead->next.load(std::memory_order_acquire);
        return &ahead->object;
    }

    // Consumer: hands the oldest read-locked object's node back to the producer.
    void ReadUnlock() {
        DataPlusPtr* node = readPointer_.load(std::memory_order_relaxed);
        VELT_DS_ASSERT(node != readAheadPointer_, "a read lock is held");
        // Read the link before giving the node back: from then on the producer may relink it.
        DataPlusPtr* following = node->next.load(std::memory_order_relaxed);
        node->readyToRead.store(false, std::memory_order_release);
        readPointer_.store(following, std::memory_order_release);
        readCount_.fetch_add(1, std::memory_order_relaxed);
    }

    // Consumer: whether object is the one the next ReadUnlock gives back (the oldest read lock
    // held). Callers that hand objects out check it before giving one back out of turn.
    bool CheckReadUnlockOrder(const T* object) const {
        const DataPlusPtr* node = readPointer_.load(std::memory_order_relaxed);
        return node != readAheadPointer_ && &node->object == object;
    }

    // Consumer: gives back the read locks from object on (it is read again by the next ReadLock).
    void CancelReadLock(T* object) {
        DataPlusPtr* node = readPointer_.load(std::memory_order_relaxed);
        while (node != readAheadPointer_ && &node->object != object)
            node = node->next.load(std::memory_order_relaxed);
        VELT_DS_ASSERT(node != readAheadPointer_, "object is read-locked");
        readAheadPointer_ = node;
    }

    // Objects published and not yet read-unlocked. Approximate while the other side runs.
    uint32_t Size() const {
        return writeCount_.load(std::memory_order_relaxed) - readCount_.load(std::memory_order_relaxed);
    }

    // Both sides idle: drops every object, shrinks the ring back to its initial size.
    void Clear() {
        DeleteRing();
        BuildRing();
    }

private:
    void BuildRing() {
        DataPlusPtr* first = new DataPlusPtr;
        DataPlusPtr* last = first;
        for (uint32_t i = 1; i < kMinimumListSize; ++i) {
            DataPlusPtr* node = new DataPlusPtr;
            last->next.store(node, std::memory_order_relaxed);
            last = node;
        }
        last->next.store(first, std::memory_order_relaxed);
        nodeCount_ = kMinimumListSize;
        readAheadPointer_ = writeAheadPointer_ = readPointerSeen_ = first;
        readPointer_.store(first, std::memory_order_relaxed);
        writePointer_.store(first, std::memory_order_relaxed);
        readCount_.store(0, std::memory_order_relaxed);
        writeCount_.store(0, std::memory_order_relaxed);
    }

    void DeleteRing() {
        DataPlusPtr* node = readPointer_.load(std::memory_order_relaxed);
        for (uint32_t i = 0; i < nodeCount_; ++i) {
            DataPlusPtr* following = node->next.load(std::memory_order_relaxed);
            delete node;
            node = following;
        }
        nodeCount_ = 0;
    }

    // Consumer side.
    alignas(64) DataPlusPtr* readAheadPointer_ = nullptr;
    std::atomic<DataPlusPtr*> readPointer_{nullptr};
    std::atomic<uint32_t> readCount_{0};
    // Producer side.
    alignas(64) DataPlusPtr* writeAheadPointer_ = nullptr;
    DataPlusPtr* readPointerSeen_ = nullptr;  // the consumer's read pointer as last looked at
    std::atomic<DataPlusPtr*> writePointer_{nullptr};
    std::atomic<uint32_t> writeCount_{0};
    uint32_t nodeCount_ = 0;
};

}  // namespace velt::DataStructures
