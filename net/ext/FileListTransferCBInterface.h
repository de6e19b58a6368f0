#pragma once
// What a receiver of file sets is told: whole files as they arrive, and the progress of a file
// that is still arriving in pieces.

#include <cstdint>

namespace velt {

class FileListTransferCBInterface {
public:
    virtual ~FileListTransferCBInterface() = default;

    // A whole file of set setId. data holds dataLength bytes (never null for a real file, even an
    // empty one) and is released when the call returns. compressedBytes is 0 for a set sent plain.
    // A set announced empty is reported once with every value 0 and null texts and data.
    virtual void FileReceived(uint32_t fileIndex, const char* filename, const uint8_t* data,
                              uint32_t compressedBytes, uint32_t dataLength, uint16_t setId,
                              uint32_t setCount, uint32_t totalCompressedBytes, uint32_t totalBytes,
                              uint8_t context) = 0;

    // partsReceived of partsTotal pieces (the first partLength bytes long) of a file have arrived.
    virtual void FilePartReceived(uint32_t fileIndex, const char* filename, uint32_t compressedBytes,
                                  uint32_t dataLength, uint16_t setId, uint32_t setCount,
                                  uint32_t totalCompressedBytes, uint32_t totalBytes, uint8_t context,
                                  uint32_t partsReceived, uint32_t partsTotal, uint32_t partLength) {
        (void)fileIndex;
        (void)filename;
        (void)compressedBytes;
        (void)dataLength;
        (void)setId;
        (void)setCount;
        (void)totalCompressedBytes;
        (void)totalBytes;
        (void)context;
        (void)partsReceived;
        (void)partsTotal;
        (void)partLength;
    }
};

}  // namespace velt
