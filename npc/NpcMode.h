#pragma once

// The host of the one npcmode script that gives a bot its behaviour: it loads the script with the
// machine's standard libraries and the bot's natives, runs OnNPCModeInit and then main, lets main
// sleep and continue frame by frame, and raises the bot's callbacks. Callbacks run whether or not
// main is sleeping; main's sleeping state is kept aside while they do.

#include <array>
#include <cstdint>

#include "server/ScriptIdentity.h"
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
    bool IsSleeping() const { return sleeping_; }
    float SleepRemaining() const { return sleepRemaining_; }
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
    struct SleepState {
        cell cip = 0, frame = 0, pri = 0, alt = 0, stack = 0, heap = 0, resumeStack = 0, resumeHeap = 0;
    };

    template <class... Args>
    int32_t Call(NpcCallback cb, int32_t fallback, Args... args);
    void AfterMainRun(int err);
    void SaveSleepState();
    void RestoreSleepState();

    VmInstance* inst_ = nullptr;
    ScriptRef ref_;
    bool loaded_ = false;
    bool sleeping_ = false;
    float sleepRemaining_ = 0.0f;
    SleepState saved_;
    std::array<int32_t, size_t(NpcCallback::Count)> publics_;
};

}  // namespace velt
