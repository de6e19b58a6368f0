// Every reader of synchronisation bytes on hostile input: raw records from buffers and bit
// streams (also off the byte grid), the weapons update, each relayed form, and recording files.
// Raw records must give back their exact bytes; a parsed recording must account for every byte.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "net/BitStream.h"
#include "server/shared/RecordingFile.h"
#include "server/shared/SyncRecords.h"
#include "server/shared/SyncRecordsRelay.h"

using namespace velt;

namespace {

template <class T>
void RawRecord(const uint8_t* data, size_t size) {
    T r;
    if (!DecodeChecked(data, size, r)) {
        if (size >= T::kSize) std::abort();
        return;
    }
    uint8_t back[T::kSize];
    Encode(r, back);
    if (std::memcmp(back, data, T::kSize) != 0) std::abort();

    // From a stream after one id byte, and one bit further on.
    for (int skip : {8, 9}) {
        BitStream bs(data, uint32_t(size), false);
        bs.SetReadOffset(skip > bs.GetNumberOfBitsUsed() ? bs.GetNumberOfBitsUsed() : skip);
        const int32_t before = bs.GetReadOffset();
        T s;
        if (ReadSyncRecord(bs, s)) {
            if (bs.GetReadOffset() != before + int32_t(T::kSize * 8)) std::abort();
        } else if (bs.GetReadOffset() != before) {
            std::abort();
        }
    }
}

template <class T, class Reader, class Writer>
void Relay(const uint8_t* data, size_t size, Reader read, Writer write) {
    BitStream bs(data, uint32_t(size), false);
    uint16_t who = 0;
    T r;
    if (!read(bs, who, r)) return;
    // Whatever was read must write and read back without trouble.
    BitStream again;
    write(again, who, r);
    uint16_t who2 = 0;
    T r2;
    if (!read(again, who2, r2) || who2 != who) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    RawRecord<OnFootSyncRecord>(data, size);
    RawRecord<InCarSyncRecord>(data, size);
    RawRecord<PassengerSyncRecord>(data, size);
    RawRecord<AimSyncRecord>(data, size);
    RawRecord<TrailerSyncRecord>(data, size);
    RawRecord<UnoccupiedSyncRecord>(data, size);
    RawRecord<SpectatorSyncRecord>(data, size);
    RawRecord<BulletSyncRecord>(data, size);
    RawRecord<StatsUpdateRecord>(data, size);

    {
        BitStream bs(data, uint32_t(size), false);
        uint8_t id = 0;
        WeaponsUpdateRecord w;
        if (bs.Read(id) && ReadWeaponsUpdate(bs, w) && bs.GetNumberOfUnreadBits() >= 32) std::abort();
    }

    Relay<OnFootSyncRecord>(data, size, ReadOnFootRelay, WriteOnFootRelay);
    Relay<InCarSyncRecord>(data, size, ReadDriverRelay, WriteDriverRelay);
    Relay<PassengerSyncRecord>(data, size, ReadPassengerRelay, WritePassengerRelay);
    Relay<AimSyncRecord>(data, size, ReadAimRelay, WriteAimRelay);
    Relay<TrailerSyncRecord>(data, size, ReadTrailerRelay, WriteTrailerRelay);
    Relay<UnoccupiedSyncRecord>(data, size, ReadUnoccupiedRelay, WriteUnoccupiedRelay);
    Relay<BulletSyncRecord>(data, size, ReadBulletRelay, WriteBulletRelay);

    for (int32_t requested : {RECORDING_NONE, RECORDING_DRIVER, RECORDING_ONFOOT}) {
        Recording rec;
        if (ParseRecording(data, size, requested, rec) != RecordingStatus::Ok) continue;
        const size_t block = RecordingBlockSize(rec.type);
        if (block == 0 || kRecordingHeaderSize + rec.Count() * block != size) std::abort();
        if (rec.driver.size() + rec.onFoot.size() != rec.Count()) std::abort();
        if (requested != RECORDING_NONE && rec.type != requested) std::abort();
    }
    return 0;
}
