#pragma once
// Well-known texts sent as a one-byte index; anything else goes out compressed. The index is
// an entry's position in byte-wise sorted order, so both ends must register the same texts.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace velt {

class BitStream;

class StringTable {
public:
    // Indices travel in 8 bits.
    static constexpr size_t kMaxEntries = 254;

    static StringTable* Instance();
    static void AddReference();
    static void RemoveReference();

    StringTable() = default;
    StringTable(const StringTable&) = delete;
    StringTable& operator=(const StringTable&) = delete;

    // Inserts text at its sorted place. With copyString the table keeps its own copy, else the
    // caller's pointer, which must outlive the table. A text already present is not added again.
    // False when the text is null or the table is full (and nothing is kept).
    bool AddString(const char* text, bool copyString);

    // A known text as a 1 bit and its 8-bit index, anything else as a 0 bit and the compressed
    // form (at most maxCharsToWrite - 1 characters).
    void EncodeString(const char* text, int32_t maxCharsToWrite, BitStream& output) const;
    // False when the stream is short, the index is unknown or maxCharsToWrite < 1; the output
    // is always terminated within maxCharsToWrite on success.
    bool DecodeString(char* output, int32_t maxCharsToWrite, BitStream& input) const;

    size_t Size() const { return entries_.size(); }
    // Position of text in the table, or -1.
    int IndexOf(const char* text) const;

private:
    struct Entry {
        const char* text;                   // into copy when the table owns the text
        std::unique_ptr<std::string> copy;  // heap-held so the pointer survives re-sorting
    };
    // Halving search; returns the insertion point and whether the text is there.
    size_t LowerBound(const char* text, bool& found) const;

    std::vector<Entry> entries_;
};

}  // namespace velt
