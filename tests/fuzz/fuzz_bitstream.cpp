// Reads every typed and compressed form from fuzz-chosen bytes, in a fuzz-chosen order, and
// checks the stream's promises: a failed read leaves the cursor (and its target) where they were,
// a successful one moves the cursor forward within the written bits, and what was read writes
// back and reads again as the same value.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "net/BitStream.h"

using velt::BitStream;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

template <typename T>
void CompressedRoundTrip(T value) {
    BitStream out;
    out.WriteCompressed(value);
    T back{};
    Check(out.ReadCompressed(back));
    Check(back == value);
    Check(out.GetNumberOfUnreadBits() == 0);
}

template <typename T>
void ReadTyped(BitStream& bs) {
    T value;
    std::memset(&value, 0xA5, sizeof(value));
    T before = value;
    int32_t at = bs.GetReadOffset();
    if (bs.Read(value)) {
        Check(bs.GetReadOffset() == at + int32_t(sizeof(T) * 8));
    } else {
        Check(bs.GetReadOffset() == at);
        Check(std::memcmp(&value, &before, sizeof(T)) == 0);
    }
}

template <typename T>
void ReadCompressedTyped(BitStream& bs) {
    T value;
    std::memset(&value, 0xA5, sizeof(value));
    T before = value;
    int32_t at = bs.GetReadOffset();
    if (bs.ReadCompressed(value)) {
        Check(bs.GetReadOffset() > at);
        CompressedRoundTrip(value);
    } else {
        Check(bs.GetReadOffset() == at);
        Check(std::memcmp(&value, &before, sizeof(T)) == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
    if (size < 2) return 0;
    // Layout: [op count][ops...][stream bytes]; the stream may end inside its last byte.
    size_t opCount = input[0] % 64;
    if (opCount > size - 2) opCount = size - 2;
    const uint8_t* ops = input + 2;
    const uint8_t* payload = ops + opCount;
    uint32_t payloadSize = uint32_t(size - 2 - opCount);
    BitStream bs(payload, payloadSize, false);
    if (payloadSize > 0) bs.SetWriteCursor(int32_t(payloadSize * 8 - (input[1] & 7)));
    const int32_t used = bs.GetNumberOfBitsUsed();

    uint8_t scratch[300];
    for (size_t i = 0; i < opCount; ++i) {
        const uint8_t op = ops[i];
        const int32_t at = bs.GetReadOffset();
        // Counts come from the op's own high bits, so the fuzzer can also ask for odd sizes.
        const int32_t count = int32_t(int8_t(ops[(i + 1) % opCount]));
        switch (op % 24) {
            case 0: {
                bool bit;
                if (!bs.ReadOneBit(bit)) Check(bs.GetReadOffset() == at);
                break;
            }
            case 1: ReadTyped<uint8_t>(bs); break;
            case 2: ReadTyped<int8_t>(bs); break;
            case 3: ReadTyped<uint16_t>(bs); break;
            case 4: ReadTyped<int16_t>(bs); break;
            case 5: ReadTyped<uint32_t>(bs); break;
            case 6: ReadTyped<int32_t>(bs); break;
            case 7: ReadTyped<float>(bs); break;
            case 8: ReadCompressedTyped<uint8_t>(bs); break;
            case 9: ReadCompressedTyped<int8_t>(bs); break;
            case 10: ReadCompressedTyped<uint16_t>(bs); break;
            case 11: ReadCompressedTyped<int16_t>(bs); break;
            case 12: ReadCompressedTyped<uint32_t>(bs); break;
            case 13: ReadCompressedTyped<int32_t>(bs); break;
            case 14: {
                float f;
                if (!bs.ReadCompressed(f))
                    Check(bs.GetReadOffset() == at);
                else
                    Check(f >= -1.0f && f <= 1.0f);
                break;
            }
            case 15: {
                float x, y, z;
                if (!bs.ReadCompressedVector(x, y, z)) Check(bs.GetReadOffset() == at);
                break;
            }
            case 16: {
                float w, x, y, z;
                if (bs.ReadCompressedQuaternion(w, x, y, z)) {
                    Check(bs.GetReadOffset() == at + 52);
                    Check(!(w != w) && w >= -1.0f && w <= 1.0f);
                } else {
                    Check(bs.GetReadOffset() == at);
                }
                break;
            }
            case 17: {
                int32_t bits = count < 0 ? count : count * 9;  // up to 1143 bits, or negative
                if (bits > int32_t(sizeof(scratch) * 8)) bits = int32_t(sizeof(scratch) * 8);
                if (bs.ReadRawBits(scratch, bits, (op & 0x80) != 0))
                    Check(bs.GetReadOffset() == at + bits);
                else
                    Check(bs.GetReadOffset() == at);
                break;
            }
            case 18: {
                int32_t bytes = count < 0 ? count : count % int32_t(sizeof(scratch));
                if (bs.ReadBytes(scratch, bytes))
                    Check(bs.GetReadOffset() == at + bytes * 8);
                else
                    Check(bs.GetReadOffset() == at);
                break;
            }
            case 19: {
                int32_t bytes = count < 0 ? count : count % int32_t(sizeof(scratch));
                if (!bs.ReadAlignedBytes(scratch, bytes)) Check(bs.GetReadOffset() == at);
                break;
            }
            case 20: {
                int32_t width = count;  // any width, including odd and negative ones
                if (width > int32_t(sizeof(scratch) * 8)) width = int32_t(sizeof(scratch) * 8);
                if (!bs.ReadCompressedBytes(scratch, width, (op & 0x80) != 0))
                    Check(bs.GetReadOffset() == at);
                break;
            }
            case 21: bs.SkipBits(count); break;
            case 22: bs.AlignReadToByte(); break;
            case 23: {
                // Copy the rest through WriteFromStream and compare it bit for bit.
                BitStream copy;
                int32_t want = bs.GetNumberOfUnreadBits();
                copy.WriteFromStream(bs, count < 0 ? INT32_MAX : count);
                int32_t got = copy.GetNumberOfBitsUsed();
                Check(got <= want);
                BitStream again(payload, payloadSize, false);
                again.SetWriteCursor(used);
                again.SetReadOffset(at);
                for (int32_t b = 0; b < got; ++b) {
                    bool x = false, y = false;
                    Check(copy.ReadOneBit(x));
                    Check(again.ReadOneBit(y));
                    Check(x == y);
                }
                break;
            }
        }
        Check(bs.GetReadOffset() >= 0 && bs.GetReadOffset() <= used);
        Check(bs.GetNumberOfBitsUsed() == used);
    }
    return 0;
}
