#include "net/ext/AddressList.h"

#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

#include "net/Random.h"

namespace velt {

namespace {

constexpr uint32_t kEntryBytes = 6;
constexpr uint32_t kMaxEntries = 0xFFFF;
// The largest file a list can have been saved as; anything longer is no list of ours.
constexpr uint32_t kMaxFileBytes = 2 + kMaxEntries * kEntryBytes;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

void AddressList::Remove(PlayerID address) {
    const uint32_t index = addresses_.GetIndexOf(address);
    if (index != addresses_.kNotFound) addresses_.RemoveAtIndex(index);
}

void AddressList::Shuffle() {
    const uint32_t n = addresses_.Size();
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t j = i + TwisterNext() % (n - i);
        if (j != i) std::swap(addresses_[i], addresses_[j]);
    }
}

void AddressList::Serialize(BitStream& out) const {
    // The count is 16 bits: entries past it would be read as whatever follows the list.
    const uint32_t count = addresses_.Size() < kMaxEntries ? addresses_.Size() : kMaxEntries;
    out.Write(uint16_t(count));
    for (uint32_t i = 0; i < count; ++i) {
        out.Write(addresses_[i].binaryAddress);
        out.Write(addresses_[i].port);
    }
}

bool AddressList::Deserialize(BitStream& in) {
    uint16_t count = 0;
    if (!in.Read(count)) return false;
    addresses_.Clear();
    for (uint32_t i = 0; i < count; ++i) {
        PlayerID address{};
        if (!in.Read(address.binaryAddress) || !in.Read(address.port)) {
            addresses_.Clear();
            return false;
        }
        addresses_.Insert(address);
    }
    return true;
}

bool AddressList::Save(const char* fileName) const {
    if (fileName == nullptr) return false;
    BitStream out;
    Serialize(out);
    FilePtr file(std::fopen(fileName, "wb"));
    if (!file) return false;
    const size_t bytes = size_t(out.GetNumberOfBytesUsed());
    const bool written = std::fwrite(out.GetData(), 1, bytes, file.get()) == bytes;
    return std::fclose(file.release()) == 0 && written;
}

bool AddressList::Load(const char* fileName) {
    if (fileName == nullptr) return false;
    FilePtr file(std::fopen(fileName, "rb"));
    if (!file) return false;
    std::vector<uint8_t> bytes(kMaxFileBytes + 1);
    const size_t length = std::fread(bytes.data(), 1, bytes.size(), file.get());
    if (length == 0 || length > kMaxFileBytes || std::ferror(file.get())) return false;
    BitStream in(bytes.data(), uint32_t(length), false);
    return Deserialize(in);
}

}  // namespace velt
