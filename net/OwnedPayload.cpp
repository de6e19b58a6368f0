#include "net/OwnedPayload.h"

#include <cstring>

namespace velt {

OwnedPayload OwnedPayload::CopyOf(const uint8_t* data, uint32_t bitLength) {
    OwnedPayload payload;
    payload.Assign(data, bitLength);
    return payload;
}

OwnedPayload OwnedPayload::Adopt(uint8_t* buffer, uint32_t bitLength) {
    OwnedPayload payload;
    if (buffer == nullptr || bitLength == 0) return payload;
    payload.heap_ = buffer;
    payload.bitLength_ = bitLength;
    return payload;
}

void OwnedPayload::Assign(const uint8_t* data, uint32_t bitLength) {
    Clear();
    if (data == nullptr || bitLength == 0) return;
    const uint32_t bytes = BytesFor(bitLength);
    uint8_t* to = inline_;
    if (bytes > kInlineBytes) heap_ = to = new uint8_t[bytes];
    std::memcpy(to, data, bytes);
    bitLength_ = bitLength;
}

uint8_t* OwnedPayload::Release() {
    if (bitLength_ == 0) return nullptr;
    uint8_t* out = heap_;
    if (out == nullptr) {
        out = new uint8_t[ByteLength()];
        std::memcpy(out, inline_, ByteLength());
    }
    heap_ = nullptr;
    bitLength_ = 0;
    return out;
}

void OwnedPayload::TakeFrom(OwnedPayload& other) noexcept {
    bitLength_ = other.bitLength_;
    heap_ = other.heap_;
    if (heap_ == nullptr && bitLength_ != 0) std::memcpy(inline_, other.inline_, ByteLength());
    other.heap_ = nullptr;
    other.bitLength_ = 0;
}

}  // namespace velt
