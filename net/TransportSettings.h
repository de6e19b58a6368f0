#pragma once
// Settings that the transport reads on its network thread. The network thread never touches the
// console: the main thread publishes each value here when its console variable changes, and the
// transport reads single atomic words (a reading may be one publish behind, never torn).

#include <atomic>
#include <cstdint>

namespace velt {

// A line of its own: every received datagram reads it, and whatever its owner keeps next to it
// may be written by another thread all the time.
class alignas(64) TransportSettings {
public:
    // Defaults of the console variables behind the getters.
    static constexpr int32_t kDefaultPlayerTimeoutMs = 10000;  // "playertimeout"
    static constexpr int32_t kDefaultMessageHoleLimit = 3000;  // "messageholelimit"
    static constexpr int32_t kDefaultMessagesLimit = 500;      // "messageslimit"
    static constexpr int32_t kDefaultAcksLimit = 3000;         // "ackslimit"

    // Memory a single connection may make us hold for messages it has not completed yet. The
    // per-second and per-hole limits count messages, not bytes, and the bot client applies none
    // of them, so these caps are what bounds a hostile sender. Not console variables: the owner
    // may tune them before the network thread starts.
    static constexpr uint32_t kDefaultOrderingHoldCapBytes = 1u << 20;  // ordered messages held back
    static constexpr uint32_t kDefaultReassemblyCapBytes = 4u << 20;    // split pieces awaiting the rest
    // Messages received and waiting for the game (its main thread) to take them: per connection,
    // and for all together. A game that falls behind (a script in a long loop) loses what arrives
    // beyond them, and a connection that stays over its share is closed.
    static constexpr uint32_t kDefaultIncomingQueueCapBytes = 512u << 10;
    static constexpr uint32_t kDefaultIncomingTotalCapBytes = 32u << 20;
    // Above this the reassembled bit count would no longer fit 32 bits.
    static constexpr uint32_t kMaxCapBytes = 256u << 20;

    TransportSettings() = default;
    TransportSettings(const TransportSettings&) = delete;
    TransportSettings& operator=(const TransportSettings&) = delete;

    // The values every channel sees when its owner passes no settings of its own.
    static const TransportSettings& Defaults() {
        static const TransportSettings defaults;
        return defaults;
    }

    int32_t GetPlayerTimeout() const { return playerTimeout_.load(std::memory_order_relaxed); }
    int32_t GetMessageHoleLimit() const { return messageHoleLimit_.load(std::memory_order_relaxed); }
    int32_t GetMessagesLimit() const { return messagesLimit_.load(std::memory_order_relaxed); }
    int32_t GetAcksLimit() const { return acksLimit_.load(std::memory_order_relaxed); }
    uint32_t GetOrderingHoldCapBytes() const { return orderingHoldCap_.load(std::memory_order_relaxed); }
    uint32_t GetReassemblyCapBytes() const { return reassemblyCap_.load(std::memory_order_relaxed); }
    uint32_t GetIncomingQueueCapBytes() const { return incomingQueueCap_.load(std::memory_order_relaxed); }
    uint32_t GetIncomingTotalCapBytes() const { return incomingTotalCap_.load(std::memory_order_relaxed); }

    void SetPlayerTimeout(int32_t ms) { playerTimeout_.store(ms, std::memory_order_relaxed); }
    void SetMessageHoleLimit(int32_t limit) { messageHoleLimit_.store(limit, std::memory_order_relaxed); }
    void SetMessagesLimit(int32_t limit) { messagesLimit_.store(limit, std::memory_order_relaxed); }
    void SetAcksLimit(int32_t limit) { acksLimit_.store(limit, std::memory_order_relaxed); }
    void SetOrderingHoldCapBytes(uint32_t bytes) {
        orderingHoldCap_.store(bytes < kMaxCapBytes ? bytes : kMaxCapBytes, std::memory_order_relaxed);
    }
    void SetReassemblyCapBytes(uint32_t bytes) {
        reassemblyCap_.store(bytes < kMaxCapBytes ? bytes : kMaxCapBytes, std::memory_order_relaxed);
    }
    void SetIncomingQueueCapBytes(uint32_t bytes) {
        incomingQueueCap_.store(bytes, std::memory_order_relaxed);
    }
    void SetIncomingTotalCapBytes(uint32_t bytes) {
        incomingTotalCap_.store(bytes, std::memory_order_relaxed);
    }

private:
    std::atomic<int32_t> playerTimeout_{kDefaultPlayerTimeoutMs};
    std::atomic<int32_t> messageHoleLimit_{kDefaultMessageHoleLimit};
    std::atomic<int32_t> messagesLimit_{kDefaultMessagesLimit};
    std::atomic<int32_t> acksLimit_{kDefaultAcksLimit};
    std::atomic<uint32_t> orderingHoldCap_{kDefaultOrderingHoldCapBytes};
    std::atomic<uint32_t> reassemblyCap_{kDefaultReassemblyCapBytes};
    std::atomic<uint32_t> incomingQueueCap_{kDefaultIncomingQueueCapBytes};
    std::atomic<uint32_t> incomingTotalCap_{kDefaultIncomingTotalCapBytes};
};

}  // namespace velt
