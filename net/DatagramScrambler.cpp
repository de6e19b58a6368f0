#include "net/DatagramScrambler.h"

#include "net/DatagramDescrambler.h"
#include "net/ScrambleTable.h"

namespace velt {

void DatagramScrambler::SetKey(std::uint16_t port) {
    key_ = static_cast<std::uint16_t>(port ^ kScrambleKeyConstant);
}

std::size_t DatagramScrambler::Encode(const std::uint8_t* payload, std::size_t length, std::uint8_t* out,
                                      std::size_t outCapacity) const {
    if (out == nullptr || length >= outCapacity || (length != 0 && payload == nullptr)) return 0;

    out[0] = DatagramChecksum(payload, length);
    const std::uint8_t oddMask = static_cast<std::uint8_t>(key_ & 0xFF);
    for (std::size_t i = 0; i < length; ++i) {
        std::uint8_t b = kScrambleTable[payload[i]];
        if (i & 1u) b ^= oddMask;
        out[i + 1] = b;
    }
    return length + 1;
}

}  // namespace velt
