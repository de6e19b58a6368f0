// The file list's traffic with the disk: filling it from files and directories, comparing it with
// them and writing it back.

#include <unistd.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "net/DirectorySearch.h"
#include "net/ext/FileBytes.h"
#include "net/ext/FileDigest.h"
#include "net/ext/FileList.h"
#include "net/ext/FileListPaths.h"

namespace velt {

namespace {

// The entry's data for the two flags: digest, content, the digest followed by the content, or none.
std::vector<uint8_t> DataFor(const std::vector<uint8_t>& bytes, bool withDigest, bool withContent) {
    std::vector<uint8_t> data;
    if (withDigest) {
        const FileDigest digest = DigestOf(bytes.data(), bytes.size());
        data.assign(digest.begin(), digest.end());
    }
    if (withContent) data.insert(data.end(), bytes.begin(), bytes.end());
    return data;
}

// Largest file whose data for the two flags still fits one entry.
uint32_t MaxFileBytes(bool withDigest, bool withContent) {
    return withDigest && withContent ? FileList::kMaxDataLength - kFileDigestBytes : FileList::kMaxDataLength;
}

}  // namespace

bool FileList::AddFromDisk(const char* path, const char* name, uint8_t context) {
    if (path == nullptr || name == nullptr) return false;
    std::vector<uint8_t> bytes;
    if (!ReadRegularFile(path, kMaxDataLength, bytes)) return false;
    return AddEntry(name, bytes.data(), uint32_t(bytes.size()), uint32_t(bytes.size()), context);
}

void FileList::AddDirectory(const char* root, const char* subdirectory, bool withDigest, bool withContent,
                            bool recursive, uint8_t context) {
    std::string start = root != nullptr ? root : "";
    EnsureTrailingSlash(start);
    // Every recorded name is its path with the root cut off, so it starts with the subdirectory.
    const size_t prefixLength = start.size();
    if (subdirectory != nullptr && subdirectory[0] != '\0') {
        start += subdirectory;
        EnsureTrailingSlash(start);
    }

    std::deque<std::string> queue{start};
    while (!queue.empty()) {
        const std::string directory = std::move(queue.front());
        queue.pop_front();
        const std::string pattern = (directory.empty() ? std::string("./") : directory) + "*";
        FindData found;
        const int32_t handle = DirFindFirst(pattern.c_str(), &found);
        if (handle < 0) continue;  // empty or unreadable: nothing below it to take
        do {
            // The search yields neither "." nor "..", nor links; the check costs nothing and keeps the
            // walk finite whatever a search yields.
            if (std::strcmp(found.name, ".") == 0 || std::strcmp(found.name, "..") == 0) continue;
            const std::string path = directory + found.name;
            if (path.size() > kMaxJoinedPathBytes) continue;
            if (found.attrib == kFindAttribDirectory) {
                if (recursive) queue.push_back(path + "/");
                continue;
            }
            const std::string name = path.substr(prefixLength);
            if (name.size() > kMaxNameLength) continue;
            if (!withDigest && !withContent) {
                uint64_t size = 0;
                if (!RegularFileSize(path, size) || size > UINT32_MAX) continue;
                AddEntry(name.c_str(), nullptr, 0, uint32_t(size), context);
                continue;
            }
            std::vector<uint8_t> bytes;
            if (!ReadRegularFile(path, MaxFileBytes(withDigest, withContent), bytes)) continue;
            const std::vector<uint8_t> data = DataFor(bytes, withDigest, withContent);
            AddEntry(name.c_str(), data.data(), uint32_t(data.size()), uint32_t(bytes.size()), context);
        } while (DirFindNext(handle, &found) == 0);
        _findclose(handle);
    }
}

void FileList::CheckAgainstDisk(const char* directory, FileList& result, bool alwaysHash,
                                bool neverSendHash) const {
    for (const FileListEntry& entry : entries_) {
        std::string path;
        if (!IsSafeRelativeName(entry.filename.c_str()) || !JoinPath(directory, entry.filename.c_str(), path))
            continue;
        uint64_t size = 0;
        std::vector<uint8_t> bytes;
        if (!RegularFileSize(path, size) || size > kMaxDataLength) {
            result.AddEntry(entry.filename.c_str(), nullptr, 0, 0, 0);
            continue;
        }
        if (size != entry.fileLength && !alwaysHash) {
            result.AddEntry(entry.filename.c_str(), nullptr, 0, uint32_t(size), 0);
            continue;
        }
        if (!ReadRegularFile(path, kMaxDataLength, bytes)) {
            result.AddEntry(entry.filename.c_str(), nullptr, 0, 0, 0);
            continue;
        }
        const FileDigest digest = DigestOf(bytes.data(), bytes.size());
        if (bytes.size() == entry.fileLength && entry.DataLength() >= kFileDigestBytes &&
            std::memcmp(entry.data.data(), digest.data(), kFileDigestBytes) == 0)
            continue;
        if (neverSendHash)
            result.AddEntry(entry.filename.c_str(), nullptr, 0, uint32_t(bytes.size()), 0);
        else
            result.AddEntry(entry.filename.c_str(), digest.data(), kFileDigestBytes, uint32_t(bytes.size()),
                            0);
    }
}

void FileList::LoadFromDisk(const char* directory, bool withContent, bool withDigest, bool dropMissing) {
    for (size_t i = 0; i < entries_.size();) {
        FileListEntry& entry = entries_[i];
        entry.data.clear();
        std::string path;
        std::vector<uint8_t> bytes;
        uint64_t size = 0;
        const bool wanted = withContent || withDigest;
        const bool found = IsSafeRelativeName(entry.filename.c_str()) &&
                           JoinPath(directory, entry.filename.c_str(), path) &&
                           (wanted ? ReadRegularFile(path, MaxFileBytes(withDigest, withContent), bytes)
                                   : RegularFileSize(path, size));
        if (!found) {
            if (dropMissing)
                entries_.erase(entries_.begin() + ptrdiff_t(i));
            else
                ++i;
            continue;
        }
        if (wanted) {
            entry.fileLength = uint32_t(bytes.size());
            entry.data = DataFor(bytes, withDigest, withContent);
        }
        ++i;
    }
}

bool FileList::SaveToDisk(const char* directory) const {
    bool whole = true;
    for (const FileListEntry& entry : entries_) {
        std::string path;
        if (!IsSafeRelativeName(entry.filename.c_str()) || !JoinPath(directory, entry.filename.c_str(), path))
            return false;
        static const uint8_t kEmpty = 0;
        const uint8_t* data = entry.Data();
        if (data == nullptr && entry.fileLength == 0) data = &kEmpty;
        if (!WriteFileCreatingDirs(path.c_str(), data, entry.DataLength())) whole = false;
    }
    return whole;
}

bool FileList::DeleteFromDisk(const char* directory) const {
    for (const FileListEntry& entry : entries_) {
        std::string path;
        if (!IsSafeRelativeName(entry.filename.c_str()) || !JoinPath(directory, entry.filename.c_str(), path))
            return false;
        unlink(path.c_str());
    }
    return true;
}

}  // namespace velt
