#include "net/QueryInbox.h"

#include <cstring>

namespace velt {

bool QueryInbox::IsQuery(const std::uint8_t* data, std::uint32_t length) const {
    return length > 4 && data != nullptr && std::memcmp(data, "VELT", 4) == 0 && GameRunning();
}

bool QueryInbox::Offer(std::uint32_t binaryAddress, std::uint16_t port, const std::uint8_t* data,
                       std::uint32_t length, int socket) {
    if (!IsQuery(data, length)) return false;
    if (length < kQueryHeaderSize) return true;
    // A stalled main thread must not let hostile senders grow the queue without bound.
    if (length > kQueryDatagramCapacity || queue_.Size() >= capacity_) {
        dropped_.fetch_add(1, std::memory_order_relaxed);
        return true;
    }
    QueuedQuery* q = queue_.WriteLock();
    q->binaryAddress = binaryAddress;
    q->port = port;
    q->socket = socket;
    q->length = static_cast<std::uint16_t>(length);
    std::memcpy(q->data, data, length);
    queue_.WriteUnlock();
    return true;
}

}  // namespace velt
