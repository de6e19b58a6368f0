#include "net/ByteCompression.h"

#include <cstring>

#include "net/BitStream.h"

namespace velt {

void ByteCompression::Reset() {
    std::memset(frequencies_, 0, sizeof frequencies_);
    rawBytesSent_ = compressedBytesSent_ = 0;
    compressedBytesReceived_ = uncompressedBytesReceived_ = 0;
}

void ByteCompression::CopyFrequencies(uint32_t out[kFrequencyTableSize]) const {
    std::memcpy(out, frequencies_, sizeof frequencies_);
}

OwnedPayload ByteCompression::Compress(const OwnedPayload& message) const {
    BitStream out;
    outputTree_->EncodeBytes(message.Data(), message.ByteLength(), out);
    return OwnedPayload::CopyOf(out.GetData(), uint32_t(out.GetNumberOfBitsUsed()));
}

void ByteCompression::CountSent(const OwnedPayload& message, const OwnedPayload& onWire) {
    if (trackFrequencies_) {
        const uint8_t* data = message.Data();
        const uint32_t bytes = message.ByteLength();
        for (uint32_t b = 0; b < bytes; ++b) ++frequencies_[data[b]];
        rawBytesSent_ += bytes;
    }
    if (outputTree_) compressedBytesSent_ += onWire.ByteLength();
}

OwnedPayload ByteCompression::Decompress(const OwnedPayload& received) {
    BitStream plain;
    inputTree_->DecodeToStream(received.Data(), received.BitLength(), plain);
    compressedBytesReceived_ += received.ByteLength();
    uncompressedBytesReceived_ += uint32_t(plain.GetNumberOfBytesUsed());
    return OwnedPayload::CopyOf(plain.GetData(), uint32_t(plain.GetNumberOfBitsUsed()));
}

float ByteCompression::CompressionRatio() const {
    return rawBytesSent_ == 0 ? 0.0f : float(double(compressedBytesSent_) / double(rawBytesSent_));
}

float ByteCompression::DecompressionRatio() const {
    return compressedBytesReceived_ == 0
               ? 0.0f
               : float(double(uncompressedBytesReceived_) / double(compressedBytesReceived_));
}

}  // namespace velt
