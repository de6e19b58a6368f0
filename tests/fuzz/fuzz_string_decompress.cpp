// Decodes fuzz-chosen bytes as a compressed text (and as a string-table text) into a buffer of
// exactly the fuzz-chosen size, so any write past it is caught, and checks that a decoded text
// is terminated inside the buffer, the cursor stays within the stream, and the text compresses
// and decodes back to itself.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "net/BitStream.h"
#include "net/StringCompressor.h"
#include "net/StringTable.h"

using namespace velt;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

StringTable& Table() {
    static StringTable* table = [] {
        auto* t = new StringTable();
        for (const char* s : {"hello", "world", "a", "zzz", ""}) t->AddString(s, true);
        return t;
    }();
    return *table;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const int32_t max = int32_t(data[0]) | (int32_t(data[1] & 0x7F) << 8);  // 0..32767
    const StringCompressor& sc = *StringCompressor::Instance();

    for (int pass = 0; pass < 2; ++pass) {
        BitStream in(data + 2, uint32_t(size - 2), false);
        std::vector<char> out(size_t(max > 0 ? max : 0));
        char* buffer = max > 0 ? out.data() : nullptr;
        char dummy = 0;
        const bool ok = pass == 0 ? sc.DecodeString(buffer ? buffer : &dummy, max, in)
                                  : Table().DecodeString(buffer ? buffer : &dummy, max, in);
        Check(in.GetReadOffset() <= in.GetNumberOfBitsUsed());
        if (!ok) continue;
        Check(max >= 1);
        const size_t length = strnlen(buffer, size_t(max));
        Check(length < size_t(max));

        BitStream again;
        sc.EncodeString(buffer, int32_t(length) + 1, again);
        std::vector<char> back(length + 1);
        Check(sc.DecodeString(back.data(), int32_t(length) + 1, again));
        // The same text comes back, short of at most one character when its padded code would
        // no longer fit the 16-bit count.
        const size_t backLength = strlen(back.data());
        Check(backLength == length || (backLength + 1 == length && length > 65535 / 16));
        Check(memcmp(back.data(), buffer, backLength) == 0);
        Check(again.GetNumberOfUnreadBits() == 0);
    }
    return 0;
}
