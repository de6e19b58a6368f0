#pragma once
// Datagrams one thread builds during a pass, handed to the system a few dozen at a time. On a
// busy server most of the cost of a small datagram is the system call that carries it, so the
// network thread gathers what its channels write and sends it in one call per batch.

#include <sys/socket.h>

#include <cstdint>
#include <memory>

#include "net/SocketLayer.h"

namespace velt {

class DatagramBatch {
public:
    static constexpr uint32_t kCapacity = 64;
    // A scrambled datagram carries one byte more than the largest payload.
    static constexpr uint32_t kSlotBytes = kMaxDatagramBytes + 1;

    DatagramBatch();
    ~DatagramBatch();
    DatagramBatch(const DatagramBatch&) = delete;
    DatagramBatch& operator=(const DatagramBatch&) = delete;

    // Copies the datagram (scrambled when `endpoint` is in the bot role), sending the batch first
    // when it is full. A datagram too large for a slot is sent at once on its own. Returns what
    // SocketLayer::SendTo would for a datagram that cannot be prepared (1), else 0: a send that
    // fails later is counted in Failed() and dropped, as a failed single send would be.
    int Add(int socket, const uint8_t* data, uint32_t length, uint32_t binaryAddress, uint16_t port,
            const SocketEndpoint* endpoint);
    // Sends everything gathered; the batch is empty afterwards.
    void Flush(int socket);

    uint32_t Pending() const { return count_; }
    uint64_t Failed() const { return failed_; }

private:
    struct Slots;
    std::unique_ptr<Slots> slots_;  // about 100 KB: on the heap, made at the first Add
    uint32_t count_ = 0;
    uint64_t failed_ = 0;
};

}  // namespace velt
