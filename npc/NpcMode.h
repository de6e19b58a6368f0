#pragma once

// The host of the one npcmode script that gives a bot its behaviour: it loads the script with the
// machine's standard libraries and the bot's natives, runs OnNPCModeInit and then main, lets main
// sleep and continue frame by frame, and raises the bot's callbacks. Callbacks run whether or not
// main is sleeping; main's sleeping state is kept aside while they do.

#include <array>
#include <cstdint>

#include "server/runtime/ScriptIdentity.h"
#include "server/runtime/SleepingMain.h"
#include "server/vm/vm.h"

namespace velt {

enum class NpcCallback : uint8_t {
    OnNPCModeInit,
    OnNPCModeExit,
    OnNPCConnect,
    OnNPCSpawn,
    OnNPCEnterVehicle,
    OnNPCExitVehicle,
    OnClientMessage,
    OnPlayerText,
    OnPlayerDeath,
    OnPlayerStreamIn,
    OnPlayerStreamOut,
    OnVehicleStreamIn,
    OnVehicleStreamOut,
    OnRecordingPlaybackEnd,
    Count
};

class NpcMode {
public:
    NpcMode() { publics_.fill(-1); }
    ~NpcMode();
    NpcMode(const NpcMode&) = delete;
    NpcMode& operator=(const NpcMode&) = delete;

    // Loads the script file and runs OnNPCModeInit and main. 1 on success; 0 when the file cannot
    // be opened or is no usable script (nothing stays loaded then). A runtime error of main is
    // logged and the script stays loaded.
    int Load(const char* path);
    // Runs OnNPCModeExit and releases the script; nothing when none is loaded.
    void Unload();
    // Once per frame in game: counts main's sleep down and continues main once it has run out.
    void Process(float elapsedSeconds);

    bool IsLoaded() const { return loaded_; }
    bool IsSleeping() const { return main_.IsSleeping(); }
    float SleepRemaining() const { return main_.Remaining(); }
    // The loaded script's instance; null while none is loaded.
    VmInstance* Instance() const { return loaded_ ? inst_ : nullptr; }

    // The callbacks. Each returns the public's result, or its default when no script is loaded or
    // the script lacks the public. Texts reach the script as unpacked strings on its heap.
    int32_t OnNPCConnect(int32_t playerid);
    int32_t OnNPCSpawn();
    int32_t OnNPCEnterVehicle(int32_t vehicleid, int32_t seat);
    int32_t OnNPCExitVehicle();
    int32_t OnClientMessage(int32_t color, const char* text);
    int32_t OnPlayerText(int32_t playerid, const char* text);
    int32_t OnPlayerDeath(int32_t playerid);
    int32_t OnPlayerStreamIn(int32_t playerid);
    int32_t OnPlayerStreamOut(int32_t playerid);
    int32_t OnVehicleStreamIn(int32_t vehicleid);
    int32_t OnVehicleStreamOut(int32_t vehicleid);
    int32_t OnRecordingPlaybackEnd();

private:
    template <class... Args>
    int32_t Call(NpcCallback cb, int32_t fallback, Args... args);

    VmInstance* inst_ = nullptr;
    ScriptRef ref_;
    bool loaded_ = false;
    SleepingMain main_;
    std::array<int32_t, size_t(NpcCallback::Count)> publics_;
};

}  // namespace velt
