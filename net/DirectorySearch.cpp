#include "net/DirectorySearch.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace velt {

namespace {

struct Search {
    DIR* dir = nullptr;
    std::string filter;
    ~Search() {
        if (dir != nullptr) closedir(dir);
    }
};

// The open searches, indexed by handle. A closed search leaves an empty slot behind, so the
// handles of the others never move.
struct SearchTable {
    std::mutex mutex;
    std::vector<std::unique_ptr<Search>> slots;

    Search* Find(int32_t handle) {
        if (handle < 0 || size_t(handle) >= slots.size()) return nullptr;
        return slots[size_t(handle)].get();
    }
    int32_t Add(std::unique_ptr<Search> search) {
        for (size_t i = 0; i < slots.size(); ++i) {
            if (!slots[i]) {
                slots[i] = std::move(search);
                return int32_t(i);
            }
        }
        slots.push_back(std::move(search));
        return int32_t(slots.size() - 1);
    }
};

SearchTable& Table() {
    static SearchTable table;
    return table;
}

// Reads on to the next entry the search yields; false at the end of the directory.
bool NextEntry(Search& search, FindData& data) {
    while (const dirent* entry = readdir(search.dir)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        const size_t length = std::strlen(name);
        if (length >= FindData::kNameBytes) continue;
        struct stat st;
        // The entry as it stands, not what a link points to; one that vanished meanwhile is passed over.
        if (fstatat(dirfd(search.dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            data.attrib = kFindAttribDirectory;
            data.size = 0;
        } else if (S_ISREG(st.st_mode) && fnmatch(search.filter.c_str(), name, 0) == 0) {
            data.attrib = kFindAttribFile;
            data.size = uint64_t(st.st_size) > UINT32_MAX ? UINT32_MAX : uint32_t(st.st_size);
        } else {
            continue;
        }
        std::memcpy(data.name, name, length + 1);
        return true;
    }
    return false;
}

}  // namespace

int32_t DirFindFirst(const char* pattern, FindData* data) {
    if (pattern == nullptr || data == nullptr) return -1;
    auto search = std::make_unique<Search>();
    std::string directory;
    const char* slash = std::strrchr(pattern, '/');
    if (slash == nullptr) {
        directory = ".";
        search->filter = pattern;
    } else {
        directory.assign(pattern, slash == pattern ? 1 : size_t(slash - pattern));
        search->filter = slash + 1;
    }
    search->dir = opendir(directory.c_str());
    if (search->dir == nullptr) return -1;
    FindData first;
    if (!NextEntry(*search, first)) return -1;
    *data = first;
    SearchTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    return table.Add(std::move(search));
}

int32_t DirFindNext(int32_t handle, FindData* data) {
    if (data == nullptr) return -1;
    SearchTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    Search* search = table.Find(handle);
    if (search == nullptr) return -1;
    FindData next;
    if (!NextEntry(*search, next)) return -1;
    *data = next;
    return 0;
}

int32_t _findclose(int32_t handle) {
    std::unique_ptr<Search> closed;
    {
        SearchTable& table = Table();
        std::lock_guard<std::mutex> lock(table.mutex);
        if (table.Find(handle) == nullptr) {
            std::printf("Error _findclose\n");
            return -1;
        }
        closed = std::move(table.slots[size_t(handle)]);
    }
    return 0;
}

}  // namespace velt
