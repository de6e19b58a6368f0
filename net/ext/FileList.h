#pragma once
// An ordered in-memory list of files: for each its relative name, optional bytes (the content, its
// SHA-1 digest, or the digest followed by the content), its size on disk and one byte of caller
// context. The unit that the file list transfer sends and the directory delta transfer compares.
// Nothing here touches the network. One thread at a time.

#include <cstdint>
#include <string>
#include <vector>

namespace velt {

class BitStream;

struct FileListEntry {
    std::string filename;       // relative to the directory the list was built from, "/"-separated
    std::vector<uint8_t> data;  // content, digest, or digest + content; empty = none
    uint32_t fileLength = 0;    // size of the file on disk
    uint8_t context = 0;        // the caller's tag, carried along unchanged

    uint32_t DataLength() const { return uint32_t(data.size()); }
    const uint8_t* Data() const { return data.empty() ? nullptr : data.data(); }
};

class FileList {
public:
    // A list read from a stream holds at most this many entries ...
    static constexpr uint32_t kMaxEntries = 10000;
    // ... each with at most this many bytes of data; larger files are not taken from disk either.
    static constexpr uint32_t kMaxDataLength = 200000000;
    // Names travel as texts of at most this many characters; longer names are not taken.
    static constexpr uint32_t kMaxNameLength = 511;

    FileList() = default;
    FileList(const FileList&) = delete;
    FileList& operator=(const FileList&) = delete;

    uint32_t Size() const { return uint32_t(entries_.size()); }
    const FileListEntry& operator[](uint32_t index) const { return entries_[index]; }

    // Adds an entry, or replaces the one with exactly this name (which then moves to the end)
    // unless it holds the same lengths and bytes already. data may be null when dataLength is 0.
    // False, with nothing changed, for a null or over-long name or data above kMaxDataLength.
    bool AddEntry(const char* name, const uint8_t* data, uint32_t dataLength, uint32_t fileLength,
                  uint8_t context);
    // One entry named name whose content is the bytes of the regular file at path. False when
    // the file cannot be read.
    bool AddFromDisk(const char* path, const char* name, uint8_t context);
    // Every regular file below root/subdirectory (either may be null), breadth first, named
    // relative to root. Symbolic links are neither followed nor taken; a directory that cannot be
    // listed adds nothing; a file that cannot be read, or is too large with digest or content, is
    // passed over.
    void AddDirectory(const char* root, const char* subdirectory, bool withDigest, bool withContent,
                      bool recursive, uint8_t context);
    void Clear();

    void Serialize(BitStream& output) const;
    // Replaces the list by the one read from input. False, with the list unchanged, for a stream
    // that is cut short, holds more than kMaxEntries entries or kMaxDataLength bytes for one
    // entry, or claims more bytes than it carries.
    bool Deserialize(BitStream& input);

    // Adds to result (name and fileLength only) every own entry below ownSubdirectory that other
    // lacks below otherSubdirectory, or holds with other lengths or bytes. Names are compared
    // relative to the two subdirectories, ignoring case.
    void DiffAgainst(const FileList& other, FileList& result, const char* ownSubdirectory,
                     const char* otherSubdirectory) const;
    // Adds to result every entry (each expected to start its data with a digest) whose file below
    // directory is missing or differs: a missing one with no data and size 0, a changed one with
    // its digest and size on disk (no digest when neverSendHash). A size that differs is enough to
    // call it changed unless alwaysHash.
    void CheckAgainstDisk(const char* directory, FileList& result, bool alwaysHash, bool neverSendHash) const;
    // Refills every entry's data from its file below directory: content, digest or both (neither
    // leaves no data). An entry whose file is missing is dropped with dropMissing, else keeps no data.
    void LoadFromDisk(const char* directory, bool withContent, bool withDigest, bool dropMissing);
    // Writes every entry's data to its file below directory, creating directories on the way; an
    // entry with no data and fileLength 0 is an empty file, one with no data otherwise a directory.
    // Stops at the first name that would leave directory (earlier files stay written). False when
    // it stopped or a file could not be written.
    bool SaveToDisk(const char* directory) const;
    // Deletes every entry's file below directory, stopping like SaveToDisk. False when it stopped.
    bool DeleteFromDisk(const char* directory) const;

private:
    void Append(FileListEntry entry);

    std::vector<FileListEntry> entries_;
};

}  // namespace velt
