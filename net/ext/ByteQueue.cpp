#include "net/ext/ByteQueue.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace velt {

uint32_t ByteQueue::GetBytesWritten() const {
    if (writeOffset_ >= readOffset_) return writeOffset_ - readOffset_;
    return writeOffset_ + allocated_ - readOffset_;
}

bool ByteQueue::Grow(uint32_t length) {
    const uint32_t stored = GetBytesWritten();
    // Twice what the write needs, at least 256: a run of small writes reallocates rarely.
    const uint32_t growth = length > 128 ? 2 * length : 256;
    if (uint64_t(allocated_) + growth > UINT32_MAX) return false;
    uint8_t* grown = static_cast<uint8_t*>(std::realloc(data_, size_t(allocated_) + growth));
    if (grown == nullptr) return false;
    data_ = grown;
    const uint32_t oldEnd = allocated_;
    allocated_ += growth;
    if (writeOffset_ < readOffset_) {
        // The stored bytes wrap: what lies at the front moves behind the old end, as far as the new
        // room goes, so the bytes run on from the read offset again. (With exactly the new room's
        // worth at the front the second way keeps the write offset inside the storage.)
        if (writeOffset_ < growth) {
            std::memcpy(data_ + oldEnd, data_, writeOffset_);
            writeOffset_ = readOffset_ + stored;
        } else {
            std::memcpy(data_ + oldEnd, data_, growth);
            std::memmove(data_, data_ + growth, writeOffset_ - growth);
            writeOffset_ -= growth;
        }
    }
    return true;
}

bool ByteQueue::WriteBytes(const uint8_t* source, uint32_t length) {
    if (length == 0) return true;
    if (source == nullptr) return false;
    const uint32_t stored = GetBytesWritten();
    if (length > kMaxStoredBytes - stored) return false;
    if (data_ == nullptr || allocated_ - stored - 1 < length) {
        if (!Grow(length)) return false;
    }
    const uint32_t toEnd = allocated_ - writeOffset_;
    if (length <= toEnd) {
        std::memcpy(data_ + writeOffset_, source, length);
    } else {
        std::memcpy(data_ + writeOffset_, source, toEnd);
        std::memcpy(data_, source + toEnd, length - toEnd);
    }
    writeOffset_ = uint32_t((uint64_t(writeOffset_) + length) % allocated_);
    return true;
}

void ByteQueue::CopyOut(uint32_t from, uint8_t* destination, uint32_t length) const {
    const uint32_t toEnd = allocated_ - from;
    if (length <= toEnd) {
        std::memcpy(destination, data_ + from, length);
    } else {
        std::memcpy(destination, data_ + from, toEnd);
        std::memcpy(destination + toEnd, data_, length - toEnd);
    }
}

bool ByteQueue::ReadBytes(uint8_t* destination, uint32_t length, bool peek) {
    if (length > GetBytesWritten()) return false;
    if (length == 0) return true;
    if (destination == nullptr) return false;
    CopyOut(readOffset_, destination, length);
    if (!peek) IncrementReadOffset(length);
    return true;
}

void ByteQueue::IncrementReadOffset(uint32_t length) {
    if (allocated_ == 0) return;
    const uint32_t stored = GetBytesWritten();
    if (length > stored) length = stored;
    readOffset_ = uint32_t((uint64_t(readOffset_) + length) % allocated_);
}

void ByteQueue::Clear() {
    std::free(data_);
    data_ = nullptr;
    readOffset_ = writeOffset_ = allocated_ = 0;
}

void ByteQueue::Print() const {
    const uint32_t stored = GetBytesWritten();
    for (uint32_t i = 0, at = readOffset_; i < stored; ++i, at = at + 1 == allocated_ ? 0 : at + 1)
        std::printf("%i ", int(int8_t(data_[at])));
    std::printf("\n");
}

}  // namespace velt
