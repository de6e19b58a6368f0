#pragma once
// A first-in first-out byte buffer: writers append blocks, readers take or peek at the oldest
// bytes. The storage is a ring that grows by reallocation when a write does not fit; one byte of
// it always stays free, so equal read and write offsets mean empty.

#include <cstdint>

namespace velt {

class ByteQueue {
public:
    // Largest number of bytes the queue holds; a write beyond it is refused.
    static constexpr uint32_t kMaxStoredBytes = 0x3FFFFFFFu;

    ByteQueue() = default;
    ~ByteQueue() { Clear(); }
    ByteQueue(const ByteQueue&) = delete;
    ByteQueue& operator=(const ByteQueue&) = delete;

    // Appends length bytes of source (read only, not kept). False, with nothing written, when
    // the queue would pass kMaxStoredBytes or the storage cannot grow.
    bool WriteBytes(const uint8_t* source, uint32_t length);
    // Copies the oldest length bytes into destination and, unless peek, removes them. False with
    // nothing copied when fewer than length bytes are stored.
    bool ReadBytes(uint8_t* destination, uint32_t length, bool peek);
    // Drops the oldest length bytes without reading them; at most the bytes stored.
    void IncrementReadOffset(uint32_t length);
    uint32_t GetBytesWritten() const;
    // Frees the storage; the queue is as new.
    void Clear();
    // Each stored byte, oldest first, as a signed decimal followed by a blank, then a newline.
    void Print() const;

    uint32_t GetAllocatedSize() const { return allocated_; }

private:
    // Copies length bytes starting length positions from the read offset, following the wrap.
    void CopyOut(uint32_t from, uint8_t* destination, uint32_t length) const;
    bool Grow(uint32_t length);

    uint8_t* data_ = nullptr;
    uint32_t readOffset_ = 0;
    uint32_t writeOffset_ = 0;
    uint32_t allocated_ = 0;
};

}  // namespace velt
