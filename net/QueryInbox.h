#pragma once
// Hand-over of query and remote-console datagrams from the network thread to the main thread.
// The network thread only classifies and copies; everything that reads console variables, pools
// or scripts (the answering) runs on the main thread, which sends the reply on the same socket.

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "net/SingleProducerConsumer.h"

namespace velt {

// Largest datagram kept whole; the socket layer never reads more than this.
inline constexpr std::size_t kQueryDatagramCapacity = 1492;

// Shortest datagram that carries a whole query header (magic, address, port, opcode).
inline constexpr std::uint32_t kQueryHeaderSize = 11;

struct QueuedQuery {
    std::uint32_t binaryAddress = 0;  // sender, network byte order
    std::uint16_t port = 0;           // sender, host byte order
    int socket = -1;                  // the socket it arrived on, for the reply
    std::uint16_t length = 0;
    std::uint8_t data[kQueryDatagramCapacity];
};

class QueryInbox {
public:
    static constexpr std::uint32_t kDefaultCapacity = 64;

    explicit QueryInbox(std::uint32_t capacity = kDefaultCapacity) : capacity_(capacity) {}
    QueryInbox(const QueryInbox&) = delete;
    QueryInbox& operator=(const QueryInbox&) = delete;

    // Main thread: published whenever the game state changes. While the game is not running,
    // "VELT" datagrams are not queries and go on to the game protocol.
    void SetGameRunning(bool running) { gameRunning_.store(running, std::memory_order_release); }
    bool GameRunning() const { return gameRunning_.load(std::memory_order_acquire); }

    // True when `data` begins a query of the current game state: longer than 4 bytes, the magic
    // "VELT", game running. Pure: safe on any thread.
    bool IsQuery(const std::uint8_t* data, std::uint32_t length) const;

    // Network thread. Returns false when the datagram is not a query (the caller passes it on
    // as a game datagram). Otherwise the datagram is consumed: a query too short for its header
    // is dropped (it would get no reply anyway), one that finds the inbox full is dropped and
    // counted, and any other is copied in for the main thread.
    bool Offer(std::uint32_t binaryAddress, std::uint16_t port, const std::uint8_t* data,
               std::uint32_t length, int socket);

    // Main thread: calls `answer(const QueuedQuery&)` for each waiting query, oldest first, and
    // returns how many there were.
    template <class Answer>
    std::uint32_t Drain(Answer&& answer) {
        std::uint32_t n = 0;
        while (const QueuedQuery* q = queue_.ReadLock()) {
            answer(*q);
            queue_.ReadUnlock();
            ++n;
        }
        return n;
    }

    std::uint32_t Capacity() const { return capacity_; }
    // Queries waiting for the main thread (approximate while the network thread runs).
    std::uint32_t Pending() const { return queue_.Size(); }
    // Queries dropped because the main thread had fallen `Capacity()` behind.
    std::uint64_t Dropped() const { return dropped_.load(std::memory_order_relaxed); }

private:
    DataStructures::SingleProducerConsumer<QueuedQuery> queue_;
    const std::uint32_t capacity_;
    std::atomic<bool> gameRunning_{false};
    std::atomic<std::uint64_t> dropped_{0};
};

}  // namespace velt
