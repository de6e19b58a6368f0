#include "net/StringTable.h"

#include <cstring>
#include <memory>
#include <mutex>

#include "net/BitStream.h"
#include "net/StringCompressor.h"

namespace velt {

namespace {

std::mutex& InstanceMutex() {
    static std::mutex m;
    return m;
}
std::unique_ptr<StringTable>& InstanceSlot() {
    static std::unique_ptr<StringTable> instance;
    return instance;
}
int& ReferenceCount() {
    static int count = 0;
    return count;
}

// Byte-wise, like the clients' table: a plain char comparison would order bytes above 127
// differently depending on the platform's char signedness.
int CompareBytes(const char* a, const char* b) {
    return strcmp(a, b);  // strcmp compares as unsigned char
}

}  // namespace

StringTable* StringTable::Instance() {
    std::lock_guard<std::mutex> lock(InstanceMutex());
    auto& slot = InstanceSlot();
    if (!slot) slot = std::make_unique<StringTable>();
    return slot.get();
}

void StringTable::AddReference() {
    std::lock_guard<std::mutex> lock(InstanceMutex());
    if (++ReferenceCount() == 1 && !InstanceSlot()) InstanceSlot() = std::make_unique<StringTable>();
}

void StringTable::RemoveReference() {
    std::lock_guard<std::mutex> lock(InstanceMutex());
    if (ReferenceCount() == 0) return;
    if (--ReferenceCount() == 0) InstanceSlot().reset();
}

size_t StringTable::LowerBound(const char* text, bool& found) const {
    size_t lo = 0, hi = entries_.size();
    found = false;
    while (lo < hi) {
        const size_t mid = lo + (hi - lo) / 2;
        const int c = CompareBytes(entries_[mid].text, text);
        if (c == 0) {
            found = true;
            return mid;
        }
        if (c < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

int StringTable::IndexOf(const char* text) const {
    if (!text) return -1;
    bool found = false;
    const size_t at = LowerBound(text, found);
    return found ? int(at) : -1;
}

bool StringTable::AddString(const char* text, bool copyString) {
    if (!text) return false;
    bool found = false;
    const size_t at = LowerBound(text, found);
    if (found) return true;
    // A 255th entry would not fit the 8-bit index the table sends.
    if (entries_.size() >= kMaxEntries) return false;
    Entry entry{text, nullptr};
    if (copyString) {
        entry.copy = std::make_unique<std::string>(text);
        entry.text = entry.copy->c_str();
    }
    entries_.insert(entries_.begin() + ptrdiff_t(at), std::move(entry));
    return true;
}

void StringTable::EncodeString(const char* text, int32_t maxCharsToWrite, BitStream& output) const {
    const int index = IndexOf(text);
    if (index >= 0) {
        output.WriteOne();
        output.Write(uint8_t(index));
        return;
    }
    output.WriteZero();
    StringCompressor::Instance()->EncodeString(text, maxCharsToWrite, output, 0);
}

bool StringTable::DecodeString(char* output, int32_t maxCharsToWrite, BitStream& input) const {
    if (!output || maxCharsToWrite < 1) return false;
    bool known = false;
    if (!input.ReadOneBit(known)) return false;
    if (!known) return StringCompressor::Instance()->DecodeString(output, maxCharsToWrite, input, 0);
    uint8_t index = 0;
    if (!input.Read(index)) return false;
    if (index >= entries_.size()) return false;
    strncpy(output, entries_[index].text, size_t(maxCharsToWrite));
    output[maxCharsToWrite - 1] = 0;
    return true;
}

}  // namespace velt
