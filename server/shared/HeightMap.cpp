#include "server/shared/HeightMap.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <new>
#include <utility>

#include "common/LittleEndian.h"

namespace velt {

namespace {

constexpr std::size_t kRowBytes = std::size_t{HeightMap::kSide} * 2;

// Reads exactly `length` bytes at `offset`, riding out short reads and signals.
bool ReadFully(int fd, unsigned char* buffer, std::size_t length, off_t offset) {
    std::size_t done = 0;
    while (done < length) {
        const ssize_t got = ::pread(fd, buffer + done, length - done, offset + static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

}  // namespace

HeightMap::~HeightMap() {
    rows_.reset();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    state_ = kStateEmpty;
}

int HeightMap::Load(int mode, const char* path) {
    if (state_ == kStateLoaded) return kLoadOk;
    if (mode != kLoadMode) return kLoadBadMode;
    if (!path) return kLoadNoFile;

    // Non-blocking open so a FIFO under the map's name cannot stall the caller; reads of a
    // regular file are unaffected by the flag.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return kLoadNoFile;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return kLoadNoFile;
    }
    // A short file would leave part of the world at height 0 while claiming success.
    if (info.st_size < kFileSize) {
        ::close(fd);
        return kLoadShortFile;
    }
    rows_.reset(new (std::nothrow) std::unique_ptr<std::int16_t[]>[kSide]);
    if (!rows_) {
        ::close(fd);
        return kLoadNoMemory;
    }
    fd_ = fd;
    state_ = kStateLoaded;
    return kLoadOk;
}

const std::int16_t* HeightMap::Row(int row) const {
    std::unique_ptr<std::int16_t[]>& slot = rows_[row];
    if (slot) return slot.get();

    uint8_t raw[kRowBytes];
    if (!ReadFully(fd_, raw, kRowBytes, static_cast<off_t>(row) * static_cast<off_t>(kRowBytes)))
        return nullptr;  // left uncached, so a later query may succeed
    std::unique_ptr<std::int16_t[]> values(new (std::nothrow) std::int16_t[kSide]);
    if (!values) return nullptr;
    for (int i = 0; i < kSide; ++i) values[i] = static_cast<std::int16_t>(ReadU16(raw + 2 * i));
    slot = std::move(values);
    return slot.get();
}

float HeightMap::GetHeight(float x, float y) const {
    // Written so that any comparison with NaN lands on the "outside" answer.
    if (state_ != kStateLoaded) return 0.0f;
    if (!(x >= -3000.0f && x < 3000.0f && y > -3000.0f && y <= 3000.0f)) return 0.0f;
    const int row = 3000 - static_cast<int>(y);  // conversion truncates toward zero
    const int column = static_cast<int>(x) + 3000;
    const std::int16_t* values = Row(row);
    if (!values) return 0.0f;
    return static_cast<float>(values[column] / 100.0);
}

}  // namespace velt
