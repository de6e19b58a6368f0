#include "server/shared/PathUtil.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>
#include <cstring>
#include <new>

namespace velt {

namespace {

OwnedText CopyText(const char* text, std::size_t length) {
    OwnedText copy(new (std::nothrow) char[length + 1]);
    if (!copy) return nullptr;
    if (length) std::memcpy(copy.get(), text, length);
    copy[length] = '\0';
    return copy;
}

// A null argument is a programming error in the caller; say which function and condition so it
// can be found, and fail softly instead of crashing.
void ReportNullArgument(const char* function, const char* condition) {
    std::fprintf(stderr, "** PathUtil (%s): assertion %s failed\n", function, condition);
}

// Position of the last '/' in text[0, length), or -1.
long LastSlash(const char* text, std::size_t length) {
    for (std::size_t i = length; i > 0; --i)
        if (text[i - 1] == '/') return static_cast<long>(i - 1);
    return -1;
}

}  // namespace

OwnedText br_strndup(const char* text, std::size_t n) {
    if (!text) {
        ReportNullArgument("br_strndup", "str != (char *) NULL");
        return nullptr;
    }
    return CopyText(text, ::strnlen(text, n));
}

OwnedText br_extract_dir(const char* path) {
    if (!path) {
        ReportNullArgument("br_extract_dir", "path != (char *) NULL");
        return nullptr;
    }
    long end = LastSlash(path, std::strlen(path));
    if (end < 0) return CopyText(".", 1);
    while (end > 0 && path[end - 1] == '/') --end;
    if (end == 0) return CopyText("/", 1);
    return CopyText(path, static_cast<std::size_t>(end));
}

OwnedText br_extract_prefix(const char* path) {
    if (!path) {
        ReportNullArgument("br_extract_prefix", "path != (char *) NULL");
        return nullptr;
    }
    const std::size_t length = std::strlen(path);
    if (length == 0) return CopyText("/", 1);
    const long end = LastSlash(path, length);
    if (end < 0) return CopyText(path, length);
    if (end == 0) return CopyText("/", 1);
    const long inner = LastSlash(path, static_cast<std::size_t>(end));
    if (inner < 0) return CopyText(path, static_cast<std::size_t>(end));
    if (inner == 0) return CopyText("/", 1);
    return CopyText(path, static_cast<std::size_t>(inner));
}

OwnedText br_concat(const char* a, const char* b) {
    if (!a) a = "";
    if (!b) b = "";
    const std::size_t la = std::strlen(a);
    const std::size_t lb = std::strlen(b);
    OwnedText joined(new (std::nothrow) char[la + lb + 1]);
    if (!joined) return nullptr;
    std::memcpy(joined.get(), a, la);
    std::memcpy(joined.get() + la, b, lb);
    joined[la + lb] = '\0';
    return joined;
}

bool FileExists(const char* path) {
    if (!path) return false;
    // Non-blocking so that probing a FIFO cannot hang; the descriptor is only used for fstat.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info {};
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    ::close(fd);
    return regular;
}

}  // namespace velt
