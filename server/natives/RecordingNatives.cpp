#include "server/natives/RecordingNatives.h"

#include <string>

#include "server/game/PlayerRecording.h"
#include "server/natives/NativeIds.h"
#include "server/runtime/ScriptMemory.h"

namespace velt {

namespace {

// StartRecordingPlayerData(playerid, recordtype, const recordname[]): 1 for a connected player
// whether or not the file could be created (an empty name just ends the recording under way).
cell n_StartRecordingPlayerData(VmInstance* vm, const cell* params) {
    Player* player = HasNativeArgs(vm, params, 3) ? NativeConnectedPlayer(params[1]) : nullptr;
    if (player == nullptr) return 0;
    std::string name;
    ReadScriptString(vm, params[3], name);
    StartPlayerRecording(*player, params[2], name.c_str(), TheGameServer->GetTickMs());
    return 1;
}

// StopRecordingPlayerData(playerid)
cell n_StopRecordingPlayerData(VmInstance* vm, const cell* params) {
    Player* player = HasNativeArgs(vm, params, 1) ? NativeConnectedPlayer(params[1]) : nullptr;
    if (player == nullptr) return 0;
    StopPlayerRecording(*player);
    return 1;
}

const VmNativeEntry kRecordingNatives[] = {
    {"StartRecordingPlayerData", n_StartRecordingPlayerData},
    {"StopRecordingPlayerData", n_StopRecordingPlayerData},
};

}  // namespace

ScriptNativeRows RecordingNatives() { return kRecordingNatives; }

}  // namespace velt
