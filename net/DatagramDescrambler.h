#pragma once
// Server side of the datagram scrambling: restores a client datagram and checks its checksum.

#include <cstddef>
#include <cstdint>

namespace velt {

class DatagramDescrambler {
public:
    // Key = port XOR the deployment constant. Set before the network thread starts; read-only after.
    void SetKey(std::uint16_t port);
    std::uint16_t Key() const { return key_; }

    // `in` holds `length` wire bytes (checksum byte, then the scrambled payload). Writes the
    // length - 1 plain bytes to `out` and sets `length` to that count. Returns true only when the
    // checksum matches. An empty datagram or one whose payload does not fit in `outCapacity` is
    // refused (false) without writing anything.
    bool Descramble(std::uint8_t* out, std::size_t outCapacity, const std::uint8_t* in,
                    std::uint32_t& length) const;

private:
    std::uint16_t key_ = 0;
};

// Checksum both sides compute over the plain payload.
std::uint8_t DatagramChecksum(const std::uint8_t* plain, std::size_t length);

}  // namespace velt
