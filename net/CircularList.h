#pragma once

#include <cstdint>
#include <utility>

#include "net/List.h"

namespace velt::DataStructures {

// Doubly linked ring with a cursor (the current node). Holds the messages that arrived ahead of
// their turn on one ordering channel; walking it with the cursor and popping as it goes must
// visit each node once, so advancing stops at the last node instead of wrapping to the head.
template <class T>
class CircularList {
public:
    CircularList() = default;
    ~CircularList() { Clear(); }
    CircularList(const CircularList&) = delete;
    CircularList& operator=(const CircularList&) = delete;

    uint32_t Size() const { return count_; }
    bool IsEmpty() const { return count_ == 0; }

    // Inserts value after the current node, then makes the head current again. Call End() first
    // to append.
    void Add(const T& value) {
        VELT_DS_ASSERT(count_ < UINT32_MAX, "count below 2^32 - 1");
        Node* node = new Node{value, nullptr, nullptr};
        if (count_ == 0) {
            node->previous = node->next = node;
            head_ = node;
        } else {
            node->previous = current_;
            node->next = current_->next;
            current_->next->previous = node;
            current_->next = node;
        }
        ++count_;
        current_ = head_;
    }

    // Removes the current node and returns its value; the following node becomes current (the
    // head, when the last node was removed).
    T Pop() {
        VELT_DS_ASSERT(count_ > 0, "list not empty");
        Node* node = current_;
        T value = std::move(node->value);
        if (--count_ == 0) {
            head_ = current_ = nullptr;
        } else {
            node->previous->next = node->next;
            node->next->previous = node->previous;
            if (node == head_) head_ = node->next;
            current_ = node->next;
        }
        delete node;
        return value;
    }

    T& Peek() {
        VELT_DS_ASSERT(count_ > 0, "list not empty");
        return current_->value;
    }

    void Beginning() { current_ = head_; }
    void End() { current_ = head_ ? head_->previous : nullptr; }
    bool IsAtEnd() const { return count_ == 0 || current_ == head_->previous; }
    // Moves to the next node; stays on the last one.
    CircularList& operator++() {
        if (!IsAtEnd()) current_ = current_->next;
        return *this;
    }

    void Clear() {
        while (count_ > 0) {
            Node* node = head_;
            head_ = head_->next;
            delete node;
            --count_;
        }
        head_ = current_ = nullptr;
    }

private:
    struct Node {
        T value;
        Node* previous;
        Node* next;
    };

    uint32_t count_ = 0;
    Node* head_ = nullptr;
    Node* current_ = nullptr;
};

}  // namespace velt::DataStructures
