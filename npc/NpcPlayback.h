#pragma once

// Recording playback: the bot walks or drives exactly as a recorded player did, sending the
// recording's blocks as its own at their recorded times. A pause lets a vehicle coast out over
// eleven records, then holds the last block at rest; a resume speeds the next nine records up.
//
// The playback knows nothing of the network: Step fills the bot's own record and asks the caller
// to send it.

#include <cstdint>
#include <functional>

#include "npc/NpcOwnState.h"
#include "server/shared/RecordingFile.h"

namespace velt {

enum class NpcPlaybackState : int32_t { Stopped = 0, LoadNext = 1, Wait = 2, Paused = 3 };

// Records that coast out after a pause request, and that are sped up after a resume.
inline constexpr int32_t kPlaybackSlowDownRecords = 11;
inline constexpr int32_t kPlaybackSpeedUpRecords = 9;
// While paused the held block is sent again once this much has passed since the last send.
inline constexpr uint32_t kPlaybackPausedResendMs = 2000;

class NpcPlayback {
public:
    // What Step asks of the bot: send the own record of this kind; the recording has ended.
    struct Io {
        std::function<void(NpcOwnSyncKind)> send;
        std::function<void()> ended;
    };

    // Takes a loaded recording (of type 1 or 2) and starts it from its first record.
    void Start(Recording recording, uint32_t now);
    // Back to nothing loaded; no end is reported.
    void Stop();
    // The vehicle coasts out over the next eleven records, then the playback holds.
    void Pause();
    // Nothing while no recording is loaded.
    void Resume(uint32_t now);

    // One frame. `self` is the bot (its records are overwritten with the block being sent),
    // `lastSyncSend` the bot's time of its last sync send.
    void Step(uint32_t now, NpcOwnState& self, uint32_t& lastSyncSend, const Io& io);

    int32_t Type() const { return recording_.type; }
    NpcPlaybackState State() const { return state_; }
    bool IsRunning() const { return state_ != NpcPlaybackState::Stopped; }
    size_t Index() const { return index_; }

private:
    void SendHeldAtRest(NpcOwnState& self, const Io& io);
    void LoadRecord(NpcOwnState& self);

    Recording recording_;
    NpcPlaybackState state_ = NpcPlaybackState::Stopped;
    size_t index_ = 0;
    uint32_t startTime_ = 0;
    uint32_t recordTime_ = 0;
    uint32_t pauseStart_ = 0;
    int32_t slowDown_ = -1;
    int32_t speedUp_ = -1;
};

}  // namespace velt
