#include "server/shared/RecordingFile.h"

#include <sys/stat.h>

#include <utility>

#include "common/LittleEndian.h"

namespace velt {

namespace {

template <class T>
void ParseBlocks(const uint8_t* body, size_t count, std::vector<uint32_t>& times, std::vector<T>& records) {
    times.resize(count);
    records.resize(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* block = body + i * (4 + T::kSize);
        times[i] = ReadU32(block);
        Decode(block + 4, records[i]);
    }
}

}  // namespace

size_t RecordingBlockSize(int32_t type) {
    switch (type) {
        case RECORDING_DRIVER: return 4 + InCarSyncRecord::kSize;
        case RECORDING_ONFOOT: return 4 + OnFootSyncRecord::kSize;
        default: return 0;
    }
}

// ---- writer ---------------------------------------------------------------------------------

RecordingWriter::~RecordingWriter() { Close(); }

bool RecordingWriter::Open(const char* path, int32_t type) {
    Close();
    if (path == nullptr || RecordingBlockSize(type) == 0) return false;
    std::FILE* f = std::fopen(path, "wb");
    if (f == nullptr) return false;
    uint8_t header[kRecordingHeaderSize];
    WriteU32(header, kRecordingVersion);
    WriteU32(header + 4, uint32_t(type));
    if (std::fwrite(header, 1, sizeof(header), f) != sizeof(header)) {
        std::fclose(f);
        return false;
    }
    file_ = f;
    type_ = type;
    return true;
}

bool RecordingWriter::AppendBlock(uint32_t timeMs, const uint8_t* record, size_t size) {
    uint8_t block[4 + OnFootSyncRecord::kSize];
    WriteU32(block, timeMs);
    for (size_t i = 0; i < size; ++i) block[4 + i] = record[i];
    return std::fwrite(block, 1, 4 + size, file_) == 4 + size;
}

bool RecordingWriter::Append(uint32_t timeMs, const InCarSyncRecord& record) {
    if (file_ == nullptr || type_ != RECORDING_DRIVER) return false;
    uint8_t bytes[InCarSyncRecord::kSize];
    Encode(record, bytes);
    return AppendBlock(timeMs, bytes, sizeof(bytes));
}

bool RecordingWriter::Append(uint32_t timeMs, const OnFootSyncRecord& record) {
    if (file_ == nullptr || type_ != RECORDING_ONFOOT) return false;
    uint8_t bytes[OnFootSyncRecord::kSize];
    Encode(record, bytes);
    return AppendBlock(timeMs, bytes, sizeof(bytes));
}

void RecordingWriter::Close() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    type_ = RECORDING_NONE;
}

// ---- reader ---------------------------------------------------------------------------------

RecordingStatus ParseRecording(const uint8_t* data, size_t size, int32_t requestedType, Recording& out) {
    if (size > kMaxRecordingBytes) return RecordingStatus::TooLarge;
    if (data == nullptr || size < kRecordingHeaderSize) return RecordingStatus::ShortHeader;
    if (ReadU32(data) != kRecordingVersion) return RecordingStatus::OtherVersion;
    const int32_t type = int32_t(ReadU32(data + 4));
    const size_t blockSize = RecordingBlockSize(type);
    if (blockSize == 0) return RecordingStatus::BadType;
    // Reading one kind of block as the other would play back garbage movement.
    if (requestedType != RECORDING_NONE && requestedType != type) return RecordingStatus::TypeMismatch;
    const size_t body = size - kRecordingHeaderSize;
    if (body % blockSize != 0) return RecordingStatus::PartialRecord;

    Recording r;
    r.type = type;
    if (type == RECORDING_DRIVER)
        ParseBlocks(data + kRecordingHeaderSize, body / blockSize, r.times, r.driver);
    else
        ParseBlocks(data + kRecordingHeaderSize, body / blockSize, r.times, r.onFoot);
    out = std::move(r);
    return RecordingStatus::Ok;
}

RecordingStatus LoadRecording(const char* path, int32_t requestedType, Recording& out) {
    if (path == nullptr) return RecordingStatus::CannotOpen;
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return RecordingStatus::CannotOpen;
    struct stat st {};
    if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
        std::fclose(f);
        return RecordingStatus::CannotOpen;
    }
    if (uint64_t(st.st_size) > kMaxRecordingBytes) {
        std::fclose(f);
        return RecordingStatus::TooLarge;
    }
    // Read to the end rather than trusting the size: a file that grows while it is read is
    // still held to the cap, one that shrinks is parsed as what was read.
    std::vector<uint8_t> bytes(size_t(st.st_size));
    size_t got = std::fread(bytes.data(), 1, bytes.size(), f);
    bool more = false;
    if (got == bytes.size()) {
        uint8_t extra[4096];
        size_t n;
        while ((n = std::fread(extra, 1, sizeof(extra), f)) > 0) {
            if (bytes.size() + n > kMaxRecordingBytes) {
                more = true;
                break;
            }
            bytes.insert(bytes.end(), extra, extra + n);
        }
        got = bytes.size();
    }
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (more) return RecordingStatus::TooLarge;
    if (failed) return RecordingStatus::CannotOpen;
    return ParseRecording(bytes.data(), got, requestedType, out);
}

const char* RecordingStatusText(RecordingStatus status) {
    switch (status) {
        case RecordingStatus::Ok: return "ok";
        case RecordingStatus::CannotOpen: return "cannot be read";
        case RecordingStatus::TooLarge: return "too large";
        case RecordingStatus::ShortHeader: return "no header";
        case RecordingStatus::OtherVersion: return "older layout";
        case RecordingStatus::BadType: return "unknown recording type";
        case RecordingStatus::TypeMismatch: return "recording of the other type";
        case RecordingStatus::PartialRecord: return "not a whole number of records";
    }
    return "?";
}

bool CleanRecordingName(const char* name, char* out, size_t outSize) {
    if (out == nullptr || outSize == 0) return false;
    size_t length = 0;
    for (const char* c = name;
         c != nullptr && *c != '\0' && length < kRecordingNameMax && length + 1 < outSize; ++c) {
        if (*c == '.' || *c == '/' || *c == '\\') continue;
        out[length++] = *c;
    }
    out[length] = '\0';
    return length > 0;
}

}  // namespace velt
