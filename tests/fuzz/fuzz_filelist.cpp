// Reads fuzz-chosen bytes as a file list, the form a requesting peer sends, and as a compressed
// block. A list that reads must write and read back to the same list; a failed read must leave
// the list it was read into as it was; a block that decodes must stay within its stream.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "net/BitStream.h"
#include "net/DataCompressor.h"
#include "net/ext/FileList.h"

using namespace velt;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

bool SameEntries(const FileList& a, const FileList& b) {
    if (a.Size() != b.Size()) return false;
    for (uint32_t i = 0; i < a.Size(); ++i) {
        if (a[i].filename != b[i].filename || a[i].data != b[i].data || a[i].fileLength != b[i].fileLength ||
            a[i].context != b[i].context)
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    BitStream in(data, uint32_t(size), false);
    FileList list;
    const uint8_t kept = 1;
    list.AddEntry("kept", &kept, 1, 1, 9);
    if (list.Deserialize(in)) {
        Check(list.Size() <= FileList::kMaxEntries);
        BitStream again;
        list.Serialize(again);
        FileList copy;
        Check(copy.Deserialize(again));
        Check(SameEntries(list, copy));
    } else {
        Check(list.Size() == 1 && list[0].filename == "kept");
    }

    BitStream block(data, uint32_t(size), false);
    uint8_t* out = nullptr;
    const uint32_t decoded = DataCompressor::DecompressAndAllocate(block, out);
    Check((decoded == 0) == (out == nullptr));
    Check(uint64_t(decoded) <= uint64_t(size) * 8);  // each byte costs a code bit at least
    Check(block.GetReadOffset() <= block.GetNumberOfBitsUsed());
    if (out != nullptr) {
        BitStream recompressed;
        DataCompressor::Compress(out, decoded, recompressed);
        uint8_t* back = nullptr;
        Check(DataCompressor::DecompressAndAllocate(recompressed, back) == decoded);
        Check(std::memcmp(back, out, decoded) == 0);
        delete[] back;
    }
    delete[] out;
    return 0;
}
