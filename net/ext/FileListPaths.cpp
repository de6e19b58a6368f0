#include "net/ext/FileListPaths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace velt {

bool IsPathSeparator(char c) { return c == '/' || c == '\\'; }

void EnsureTrailingSlash(std::string& text) {
    if (text.empty()) return;
    if (text.back() == '\\')
        text.back() = '/';
    else if (text.back() != '/')
        text.push_back('/');
}

void QuoteIfHasSpace(std::string& text) {
    if (text.find(' ') == std::string::npos) return;
    text.insert(text.begin(), '"');
    text.push_back('"');
}

bool JoinPath(const char* directory, const char* name, std::string& out) {
    out = (directory == nullptr || directory[0] == '\0') ? "." : directory;
    if (!IsPathSeparator(out.back())) out.push_back('/');
    if (name != nullptr) out += name;
    return out.size() <= kMaxJoinedPathBytes;
}

bool IsSafeRelativeName(const char* name) {
    if (name == nullptr || name[0] == '\0' || name[0] == '/') return false;
    if (std::strchr(name, '\\') != nullptr) return false;
    for (const char* part = name;;) {
        const char* end = std::strchr(part, '/');
        const size_t length = end != nullptr ? size_t(end - part) : std::strlen(part);
        if (length == 2 && part[0] == '.' && part[1] == '.') return false;
        if (end == nullptr) return true;
        part = end + 1;
    }
}

bool WriteFileCreatingDirs(const char* path, const uint8_t* data, uint32_t length) {
    if (path == nullptr || path[0] == '\0') return false;
    const std::string text = path;
    for (size_t i = 1; i < text.size(); ++i)
        if (IsPathSeparator(text[i])) mkdir(text.substr(0, i).c_str(), 0744);
    if (data == nullptr) {
        mkdir(path, 0744);
        return true;
    }
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool whole = true;
    for (uint32_t done = 0; done < length;) {
        const ssize_t n = write(fd, data + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            whole = false;
            break;
        }
        done += uint32_t(n);
    }
    if (close(fd) != 0) whole = false;
    return whole;
}

bool DirectoryExists(const char* directory) {
    if (directory == nullptr || directory[0] == '\0') return false;
    struct stat st;
    return stat(directory, &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace velt
