#pragma once
// A peer's optional byte compression: Huffman trees for what it sends and what it receives, the
// table of byte frequencies it can count in what it sends (to build a tree from), and the byte
// counts behind the compression ratios. The trees change only while the peer is stopped.

#include <cstdint>
#include <memory>

#include "net/HuffmanEncodingTree.h"
#include "net/NetPeerInterface.h"
#include "net/OwnedPayload.h"

namespace velt {

class ByteCompression {
public:
    void Reset();  // counts and frequencies back to 0 (the trees stay)

    void SetTrackFrequencies(bool on) { trackFrequencies_ = on; }
    bool TracksFrequencies() const { return trackFrequencies_; }
    void CopyFrequencies(uint32_t out[kFrequencyTableSize]) const;
    void SetTree(bool inputLayer, std::unique_ptr<HuffmanEncodingTree> tree) {
        (inputLayer ? inputTree_ : outputTree_) = std::move(tree);
    }

    // What goes on the wire for message: the message itself, or a compressed copy with an output
    // tree.
    bool CompressesOutput() const { return outputTree_ != nullptr; }
    OwnedPayload Compress(const OwnedPayload& message) const;
    // One message handed to one connection: counted into the frequencies and the ratio.
    void CountSent(const OwnedPayload& message, const OwnedPayload& onWire);
    // A received message as the sender meant it: decompressed (and counted) with an input tree.
    // Empty when it decompresses to nothing.
    bool DecompressesInput() const { return inputTree_ != nullptr; }
    OwnedPayload Decompress(const OwnedPayload& received);

    float CompressionRatio() const;
    float DecompressionRatio() const;

private:
    bool trackFrequencies_ = false;
    uint32_t frequencies_[kFrequencyTableSize] = {};
    std::unique_ptr<HuffmanEncodingTree> outputTree_;
    std::unique_ptr<HuffmanEncodingTree> inputTree_;
    uint64_t rawBytesSent_ = 0;
    uint64_t compressedBytesSent_ = 0;
    uint64_t compressedBytesReceived_ = 0;
    uint64_t uncompressedBytesReceived_ = 0;
};

}  // namespace velt
