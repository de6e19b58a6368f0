#pragma once

// Recording files: a player's own driver or on-foot records with their times, written by the
// server while a script records the player and played back later by a bot.
//
// Layout (little-endian, no gaps, no trailer): u32 version 1000, u32 type (1 driver, 2 on foot),
// then until the end of the file: u32 milliseconds since the recording started, followed by one
// InCarSyncRecord (63 bytes, type 1) or OnFootSyncRecord (68 bytes, type 2).
//
// A file read back is untrusted: the reader checks the header, the type and that the body is a
// whole number of records before it keeps anything, and refuses files above a size cap.

#include <cstdint>
#include <cstdio>
#include <vector>

#include "server/shared/SyncRecords.h"

namespace velt {

inline constexpr uint32_t kRecordingVersion = 1000;
inline constexpr size_t kRecordingHeaderSize = 8;

enum RecordingType : int32_t {
    RECORDING_NONE = 0,
    RECORDING_DRIVER = 1,
    RECORDING_ONFOOT = 2,
};

// Bytes of one block (time + record) of a type; 0 for any other type.
size_t RecordingBlockSize(int32_t type);

// Writes one recording. Write errors after the header are ignored by callers (a recording is
// best effort); Append still reports them.
class RecordingWriter {
public:
    RecordingWriter() = default;
    ~RecordingWriter();
    RecordingWriter(const RecordingWriter&) = delete;
    RecordingWriter& operator=(const RecordingWriter&) = delete;

    // Closes a recording under way, then creates (or replaces) path and writes the header.
    // False for a type other than driver or on foot, or when the file cannot be created or the
    // header not written; nothing is open afterwards.
    bool Open(const char* path, int32_t type);
    // Appends one block; a record of the other kind than the open type is not written (false).
    bool Append(uint32_t timeMs, const InCarSyncRecord& record);
    bool Append(uint32_t timeMs, const OnFootSyncRecord& record);
    void Close();

    bool IsOpen() const { return file_ != nullptr; }
    int32_t Type() const { return type_; }

private:
    bool AppendBlock(uint32_t timeMs, const uint8_t* record, size_t size);

    std::FILE* file_ = nullptr;
    int32_t type_ = RECORDING_NONE;
};

enum class RecordingStatus {
    Ok,
    CannotOpen,     // missing or unreadable file
    TooLarge,       // above kMaxRecordingBytes
    ShortHeader,    // fewer than 8 bytes (an empty file among them)
    OtherVersion,   // first word not 1000: an older layout, for the converter
    BadType,        // type other than 1 or 2
    TypeMismatch,   // the file's type is not the one asked for
    PartialRecord,  // the body is not a whole number of blocks
};

// A loaded recording; exactly one of the record arrays is filled, by type.
struct Recording {
    int32_t type = RECORDING_NONE;
    std::vector<uint32_t> times;
    std::vector<InCarSyncRecord> driver;
    std::vector<OnFootSyncRecord> onFoot;

    size_t Count() const { return times.size(); }
};

// Largest recording file accepted: hours of records at the fastest sync rate.
inline constexpr size_t kMaxRecordingBytes = size_t(256) << 20;

// Parses a whole file image. requestedType 0 takes the file's own type; 1 or 2 must match it.
// On any status but Ok, out is left as it was.
RecordingStatus ParseRecording(const uint8_t* data, size_t size, int32_t requestedType, Recording& out);
// Reads and parses the file at path.
RecordingStatus LoadRecording(const char* path, int32_t requestedType, Recording& out);

const char* RecordingStatusText(RecordingStatus status);

// Longest recording name kept, in characters.
inline constexpr size_t kRecordingNameMax = 255;

// A recording name as a script gives it, made safe to become a file name: every '.', '/' and '\\'
// removed and at most kRecordingNameMax characters kept, into out (outSize of at least
// kRecordingNameMax + 1). False, with out empty, when nothing is left: such a name would name the
// directory itself or a hidden ".rec".
bool CleanRecordingName(const char* name, char* out, size_t outSize);

}  // namespace velt
