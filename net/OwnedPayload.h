#pragma once
// One message's bytes, owned by whoever holds the object. Small messages (most of a game's) live
// inside it, so handing one from thread to thread costs no heap block made on one side and freed
// on the other; larger ones live in one new uint8_t[] block that moves with the object. Moving
// is the only way to pass one on: nobody frees a payload but its destructor.

#include <cstdint>

namespace velt {

class OwnedPayload {
public:
    // Sized so that a payload object fills two cache lines' worth with its length and pointer.
    static constexpr uint32_t kInlineBytes = 112;

    OwnedPayload() = default;
    ~OwnedPayload() { Clear(); }
    OwnedPayload(OwnedPayload&& other) noexcept { TakeFrom(other); }
    OwnedPayload& operator=(OwnedPayload&& other) noexcept {
        if (this != &other) {
            Clear();
            TakeFrom(other);
        }
        return *this;
    }
    OwnedPayload(const OwnedPayload&) = delete;
    OwnedPayload& operator=(const OwnedPayload&) = delete;

    // A copy of bitLength bits of data ((bitLength + 7) / 8 bytes). Empty for null data or 0 bits.
    static OwnedPayload CopyOf(const uint8_t* data, uint32_t bitLength);
    // Takes buffer, a new uint8_t[] of (bitLength + 7) / 8 bytes. Empty (nothing taken) for a null
    // buffer or 0 bits.
    static OwnedPayload Adopt(uint8_t* buffer, uint32_t bitLength);

    // Replaces the bytes with a copy of bitLength bits of data (empty for null data or 0 bits).
    void Assign(const uint8_t* data, uint32_t bitLength);
    // A second payload with the same bytes.
    OwnedPayload Clone() const { return CopyOf(Data(), bitLength_); }
    // Frees the bytes; the payload is empty afterwards.
    void Clear() {
        if (heap_ != nullptr) delete[] heap_;
        heap_ = nullptr;
        bitLength_ = 0;
    }
    // The bytes as a new uint8_t[] the caller owns (a copy when they were inline); the payload is
    // empty afterwards. Null for an empty payload.
    uint8_t* Release();

    bool Empty() const { return bitLength_ == 0; }
    uint32_t BitLength() const { return bitLength_; }
    uint32_t ByteLength() const { return BytesFor(bitLength_); }
    // Whether the bytes are a heap block of their own (Release then hands it over as it is).
    bool OnHeap() const { return heap_ != nullptr; }
    const uint8_t* Data() const { return heap_ != nullptr ? heap_ : inline_; }
    uint8_t* Data() { return heap_ != nullptr ? heap_ : inline_; }

    static uint32_t BytesFor(uint32_t bitLength) { return uint32_t((uint64_t(bitLength) + 7u) / 8u); }

private:
    void TakeFrom(OwnedPayload& other) noexcept;

    uint32_t bitLength_ = 0;
    uint8_t* heap_ = nullptr;
    // Only the first ByteLength() bytes are meaningful (and copied on a move).
    uint8_t inline_[kInlineBytes];
};

}  // namespace velt
