#include "net/DatagramDescrambler.h"

#include "net/ScrambleTable.h"

namespace velt {

std::uint8_t DatagramChecksum(const std::uint8_t* plain, std::size_t length) {
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < length; ++i) sum ^= static_cast<std::uint8_t>(plain[i] & 0xAA);
    return sum;
}

void DatagramDescrambler::SetKey(std::uint16_t port) {
    key_ = static_cast<std::uint16_t>(port ^ kScrambleKeyConstant);
}

bool DatagramDescrambler::Descramble(std::uint8_t* out, std::size_t outCapacity, const std::uint8_t* in,
                                     std::uint32_t& length) const {
    if (length == 0 || in == nullptr) return false;
    const std::uint32_t payload = length - 1;
    if (payload > outCapacity || (payload != 0 && out == nullptr)) return false;

    const std::uint8_t oddMask = static_cast<std::uint8_t>(key_ & 0xFF);
    for (std::uint32_t i = 0; i < payload; ++i) {
        std::uint8_t b = in[i + 1];
        if (i & 1u) b ^= oddMask;
        out[i] = kDescrambleTable[b];
    }
    length = payload;
    return DatagramChecksum(out, payload) == in[0];
}

}  // namespace velt
