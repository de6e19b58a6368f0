#include "net/ext/FileList.h"

#include <cstring>
#include <unordered_map>
#include <utility>

#include "net/BitStream.h"
#include "net/CompareNoCase.h"
#include "net/StringCompressor.h"
#include "net/ext/FileListPaths.h"

namespace velt {

namespace {

// Entries whose storage a cleared list keeps for its next use.
constexpr size_t kKeptCapacity = 512;
constexpr uint32_t kFirstCapacity = 16;
// Room for a name as read: the longest name and its terminator.
constexpr int32_t kNameBufferBytes = int32_t(FileList::kMaxNameLength) + 1;

// Length of a subdirectory text as a prefix of names: without a final separator, so "a" and "a/"
// cut the same characters.
size_t PrefixLength(const char* subdirectory) {
    if (subdirectory == nullptr) return 0;
    size_t length = std::strlen(subdirectory);
    if (length > 0 && IsPathSeparator(subdirectory[length - 1])) --length;
    return length;
}

// The part of name below a prefix of prefixLength characters, without the separator that follows
// the prefix; null when name is too short to hold the prefix.
const char* BelowPrefix(const std::string& name, size_t prefixLength) {
    if (name.size() < prefixLength) return nullptr;
    const char* rest = name.c_str() + prefixLength;
    if (prefixLength > 0 && IsPathSeparator(*rest)) ++rest;
    return rest;
}

// The key under which names that differ only in ASCII case meet.
std::string LowerCase(const char* text) {
    std::string out = text;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return out;
}

}  // namespace

void FileList::Append(FileListEntry entry) {
    if (entries_.capacity() == 0)
        entries_.reserve(kFirstCapacity);
    else if (entries_.size() == entries_.capacity())
        entries_.reserve(entries_.capacity() * 2);
    entries_.push_back(std::move(entry));
}

bool FileList::AddEntry(const char* name, const uint8_t* data, uint32_t dataLength, uint32_t fileLength,
                        uint8_t context) {
    if (name == nullptr || std::strlen(name) > kMaxNameLength || dataLength > kMaxDataLength) return false;
    if (dataLength > 0 && data == nullptr) return false;
    for (size_t i = 0; i < entries_.size(); ++i) {
        FileListEntry& old = entries_[i];
        if (old.filename != name) continue;
        if (old.fileLength == fileLength && old.DataLength() == dataLength &&
            (dataLength == 0 || std::memcmp(old.data.data(), data, dataLength) == 0))
            return true;
        entries_.erase(entries_.begin() + ptrdiff_t(i));
        break;
    }
    FileListEntry entry;
    entry.filename = name;
    if (dataLength > 0) entry.data.assign(data, data + dataLength);
    entry.fileLength = fileLength;
    entry.context = context;
    Append(std::move(entry));
    return true;
}

void FileList::Clear() {
    if (entries_.capacity() > kKeptCapacity)
        std::vector<FileListEntry>().swap(entries_);
    else
        entries_.clear();
}

void FileList::Serialize(BitStream& output) const {
    output.WriteCompressed(uint32_t(entries_.size()));
    for (const FileListEntry& entry : entries_) {
        output.WriteCompressed(entry.context);
        StringCompressor::Instance()->EncodeString(entry.filename.c_str(), kNameBufferBytes, output);
        const uint32_t dataLength = entry.DataLength();
        output.Write(dataLength > 0);
        if (dataLength > 0) {
            output.WriteCompressed(dataLength);
            output.WriteBytes(entry.data.data(), int32_t(dataLength));
        }
        output.Write(entry.fileLength == dataLength);
        if (entry.fileLength != dataLength) output.WriteCompressed(entry.fileLength);
    }
}

bool FileList::Deserialize(BitStream& input) {
    uint32_t count = 0;
    if (!input.ReadCompressed(count) || count > kMaxEntries) return false;
    // Read into a list of its own: a stream that fails half-way leaves this one as it was.
    std::vector<FileListEntry> read;
    read.reserve(count);
    char name[kNameBufferBytes];
    for (uint32_t i = 0; i < count; ++i) {
        FileListEntry entry;
        bool hasData = false;
        if (!input.ReadCompressed(entry.context) ||
            !StringCompressor::Instance()->DecodeString(name, kNameBufferBytes, input) ||
            !input.Read(hasData))
            return false;
        entry.filename = name;
        uint32_t dataLength = 0;
        if (hasData) {
            // The bytes must be in the stream before anything is allocated for them.
            if (!input.ReadCompressed(dataLength) || dataLength > kMaxDataLength ||
                uint64_t(dataLength) * 8 > uint64_t(input.GetNumberOfUnreadBits()))
                return false;
            entry.data.resize(dataLength);
            if (!input.ReadBytes(entry.data.data(), int32_t(dataLength))) return false;
        }
        bool lengthIsDataLength = false;
        if (!input.Read(lengthIsDataLength)) return false;
        entry.fileLength = dataLength;
        if (!lengthIsDataLength && !input.ReadCompressed(entry.fileLength)) return false;
        read.push_back(std::move(entry));
    }
    Clear();
    for (FileListEntry& entry : read) Append(std::move(entry));
    return true;
}

void FileList::DiffAgainst(const FileList& other, FileList& result, const char* ownSubdirectory,
                           const char* otherSubdirectory) const {
    const size_t ownPrefix = PrefixLength(ownSubdirectory);
    const size_t otherPrefix = PrefixLength(otherSubdirectory);
    // The other side's names below its subdirectory, each to its first entry: a list from the
    // network holds up to kMaxEntries names, too many to search once per own entry.
    std::unordered_map<std::string, const FileListEntry*> theirs;
    theirs.reserve(other.entries_.size());
    for (const FileListEntry& entry : other.entries_) {
        const char* rest = BelowPrefix(entry.filename, otherPrefix);
        if (rest != nullptr) theirs.emplace(LowerCase(rest), &entry);
    }
    for (const FileListEntry& own : entries_) {
        if (ownPrefix > 0) {
            // Only entries inside the subdirectory: "a" takes "a/x" and "a/b/y", not "ab/x".
            if (own.filename.size() <= ownPrefix || !IsPathSeparator(own.filename[ownPrefix]) ||
                CompareNoCaseN(own.filename.c_str(), ownSubdirectory, ownPrefix) != 0)
                continue;
        }
        const auto match = theirs.find(LowerCase(BelowPrefix(own.filename, ownPrefix)));
        if (match != theirs.end() && match->second->fileLength == own.fileLength &&
            match->second->data == own.data)
            continue;
        result.AddEntry(own.filename.c_str(), nullptr, 0, own.fileLength, 0);
    }
}

}  // namespace velt
