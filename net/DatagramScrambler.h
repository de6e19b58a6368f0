#pragma once
// Bot side of the datagram scrambling: the exact inverse of DatagramDescrambler, applied to
// every datagram the bot sends so that the server accepts it.

#include <cstddef>
#include <cstdint>

namespace velt {

class DatagramScrambler {
public:
    // Key = server port XOR the deployment constant. Set before connecting; read-only after, so
    // the main and network threads may encode concurrently.
    void SetKey(std::uint16_t port);
    std::uint16_t Key() const { return key_; }

    // Writes the checksum byte and the scrambled payload (length + 1 bytes) to `out` and returns
    // that count; returns 0 when `out` cannot hold it. The caller owns `out`, so concurrent
    // senders never share an output buffer.
    std::size_t Encode(const std::uint8_t* payload, std::size_t length, std::uint8_t* out,
                       std::size_t outCapacity) const;

private:
    std::uint16_t key_ = 0;
};

}  // namespace velt
