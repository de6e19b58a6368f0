// A hostile recording file through the reader and, when it is accepted, through a whole playback
// with pauses, resumes and stops chosen by the input: no read may leave the loaded records, and
// every block sent must be one of the file's records of the accepted type.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "npc/NpcPlayback.h"
#include "server/shared/RecordingFile.h"

using namespace velt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const int32_t requested = data[0] % 3;
    const uint8_t controls = data[1];
    data += 2;
    size -= 2;
    Recording recording;
    if (ParseRecording(data, size, requested, recording) != RecordingStatus::Ok) return 0;
    const size_t body = size - kRecordingHeaderSize;
    if (recording.Count() * RecordingBlockSize(recording.type) != body) std::abort();

    NpcPlayback playback;
    NpcOwnState self;
    self.vehicleId = (controls & 1) != 0 ? 5 : kNpcNoVehicle;
    uint32_t now = 0xFFFFF000u;  // across the wrap of the clock
    uint32_t lastSend = 0;
    size_t sent = 0;
    const int32_t type = recording.type;
    NpcPlayback::Io io{[&](NpcOwnSyncKind kind) {
                           if ((kind == NpcOwnSyncKind::Driver) != (type == RECORDING_DRIVER)) std::abort();
                           ++sent;
                       },
                       [] {}};
    playback.Start(std::move(recording), now);
    for (int frame = 0; frame < 2000 && playback.IsRunning(); ++frame) {
        if (frame == 3 && (controls & 2)) playback.Pause();
        if (frame == 40 && (controls & 4)) playback.Resume(now);
        if (frame == 80 && (controls & 8)) playback.Stop();
        if (frame == 81 && (controls & 16)) playback.Resume(now);
        playback.Step(now, self, lastSend, io);
        now += 1u + (controls >> 5) * 97u;
    }
    return 0;
}
