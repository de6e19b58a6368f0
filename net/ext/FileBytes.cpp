#include "net/ext/FileBytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace velt {

bool RegularFileSize(const std::string& path, uint64_t& size) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    size = uint64_t(st.st_size);
    return true;
}

bool ReadRegularFile(const std::string& path, uint32_t maxBytes, std::vector<uint8_t>& out) {
    out.clear();
    // Not blocking: a pipe put in a file's place must not hang the open.
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && uint64_t(st.st_size) <= maxBytes;
    if (ok) {
        // One byte of room past the expected end tells a file that grew from one that did not.
        out.resize(size_t(st.st_size) + 1);
        size_t done = 0;
        for (;;) {
            if (done == out.size()) {
                if (out.size() > maxBytes) {
                    ok = false;
                    break;
                }
                out.resize(out.size() + 4096 > size_t(maxBytes) + 1 ? size_t(maxBytes) + 1
                                                                    : out.size() + 4096);
            }
            const ssize_t n = read(fd, out.data() + done, out.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                ok = false;
                break;
            }
            if (n == 0) break;
            done += size_t(n);
        }
        out.resize(ok ? done : 0);
    }
    close(fd);
    if (!ok) out.clear();
    return ok;
}

}  // namespace velt
