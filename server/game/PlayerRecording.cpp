#include "server/game/PlayerRecording.h"

#include <string>

#include "server/game/Player.h"
#include "server/shared/RecordingFile.h"

namespace velt {

bool StartPlayerRecording(Player& player, int32_t type, const char* name, uint32_t now) {
    player.Recording().Close();
    char clean[kRecordingNameMax + 1];
    if (name == nullptr || !CleanRecordingName(name, clean, sizeof clean)) return false;
    const std::string path = std::string("scriptfiles/") + clean + ".rec";
    if (!player.Recording().Open(path.c_str(), type)) return false;
    player.SetRecordingStart(now);
    return true;
}

void StopPlayerRecording(Player& player) { player.Recording().Close(); }

}  // namespace velt
