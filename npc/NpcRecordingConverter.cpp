#include "npc/NpcRecordingConverter.h"

#include <cstdio>
#include <string>

#include "common/LittleEndian.h"
#include "server/shared/RecordingFile.h"
#include "server/shared/SyncRecords.h"
#include "server/shared/VectorMath.h"

namespace velt {

namespace {

Vector3 ReadVector(const uint8_t* p) { return {ReadF32(p), ReadF32(p + 4), ReadF32(p + 8)}; }

void AppendDriver(const uint8_t* old, std::vector<uint8_t>& out) {
    InCarSyncRecord r;
    r.vehicleId = ReadU16(old);
    r.lrKeys = ReadU16(old + 2);
    r.udKeys = ReadU16(old + 4);
    r.keys = ReadU16(old + 6);
    RotationMatrix m;
    m.right = ReadVector(old + 8);
    m.up = ReadVector(old + 20);
    m.at = CrossProduct(m.right, m.up);
    r.rotation = MatrixToQuaternion(m);
    r.position = ReadVector(old + 32);
    r.velocity = ReadVector(old + 44);
    r.vehicleHealth = ReadF32(old + 56);
    r.playerHealth = old[60];
    r.armour = old[61];
    r.weaponId = old[62] & 0x3F;
    r.sirenState = old[63];
    r.trainSpeed = ReadU32(old + 67);
    uint8_t block[InCarSyncRecord::kSize];
    Encode(r, block);
    out.insert(out.end(), block, block + sizeof block);
}

}  // namespace

bool ConvertOldRecording(const uint8_t* data, size_t size, int32_t type, std::vector<uint8_t>& out) {
    const size_t recordSize = type == RECORDING_DRIVER   ? kOldDriverRecordSize
                              : type == RECORDING_ONFOOT ? kOldOnFootRecordSize
                                                         : 0;
    if (recordSize == 0 || size % recordSize != 0 || (size > 0 && data == nullptr)) return false;
    const size_t count = size / recordSize;
    std::vector<uint8_t> result(kRecordingHeaderSize);
    WriteU32(result.data(), kRecordingVersion);
    WriteU32(result.data() + 4, uint32_t(type));
    result.reserve(kRecordingHeaderSize + count * RecordingBlockSize(type));
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* record = data + i * recordSize;
        result.insert(result.end(), record, record + 4);
        if (type == RECORDING_DRIVER) {
            AppendDriver(record + 4, result);
        } else {
            // The rest of the current on-foot block has no source in the old one.
            result.insert(result.end(), record + 4, record + recordSize);
            result.insert(result.end(), OnFootSyncRecord::kSize - (recordSize - 4), 0);
        }
    }
    out = std::move(result);
    return true;
}

bool ConvertRecordingFile(const char* path, int32_t type) {
    if (path == nullptr) return false;
    std::FILE* in = std::fopen(path, "rb");
    if (in == nullptr) return false;
    std::vector<uint8_t> bytes;
    uint8_t chunk[4096];
    size_t n;
    bool tooLarge = false;
    while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0) {
        if (bytes.size() + n > kMaxRecordingBytes) {
            tooLarge = true;
            break;
        }
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    const bool failed = std::ferror(in) != 0;
    std::fclose(in);
    std::vector<uint8_t> converted;
    if (tooLarge || failed || !ConvertOldRecording(bytes.data(), bytes.size(), type, converted)) return false;

    const std::string temporary = std::string(path) + ".converting";
    std::FILE* out = std::fopen(temporary.c_str(), "wb");
    if (out == nullptr) return false;
    const bool written = std::fwrite(converted.data(), 1, converted.size(), out) == converted.size();
    if (std::fclose(out) != 0 || !written || std::rename(temporary.c_str(), path) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace velt
