#include "npc/NpcPlayback.h"

#include <utility>

namespace velt {

namespace {

constexpr uint16_t kCoastingKeys = 32;
constexpr uint32_t kCoastingDelayMs = 100;
constexpr uint32_t kSpeedUpDelayMs = 30;
constexpr uint32_t kResumeExtraMs = 100;
constexpr uint8_t kPlaybackHealth = 100;

Vector3 Scaled(const Vector3& v, float factor) { return {v.x * factor, v.y * factor, v.z * factor}; }

NpcOwnSyncKind KindOf(int32_t type) {
    return type == RECORDING_DRIVER ? NpcOwnSyncKind::Driver : NpcOwnSyncKind::OnFoot;
}

}  // namespace

void NpcPlayback::Start(Recording recording, uint32_t now) {
    recording_ = std::move(recording);
    state_ = NpcPlaybackState::LoadNext;
    index_ = 0;
    startTime_ = now;
    recordTime_ = 0;
    slowDown_ = -1;
    speedUp_ = -1;
}

void NpcPlayback::Stop() {
    state_ = NpcPlaybackState::Stopped;
    recording_ = Recording{};
}

void NpcPlayback::Pause() {
    if (state_ == NpcPlaybackState::LoadNext || state_ == NpcPlaybackState::Wait)
        slowDown_ = kPlaybackSlowDownRecords;
}

void NpcPlayback::Resume(uint32_t now) {
    // Without a recording there is no held block: resuming would send a block of no kind.
    if (recording_.type == RECORDING_NONE) return;
    speedUp_ = kPlaybackSpeedUpRecords;
    if (state_ == NpcPlaybackState::Paused) {
        // The remaining records move on by the time spent paused.
        startTime_ += now - pauseStart_ + kResumeExtraMs;
        state_ = NpcPlaybackState::LoadNext;
    } else if (slowDown_ >= 0) {
        // Still coasting: the pause is called off and no time was lost.
        slowDown_ = -1;
    } else if (state_ == NpcPlaybackState::Stopped) {
        state_ = NpcPlaybackState::LoadNext;
    }
}

void NpcPlayback::SendHeldAtRest(NpcOwnState& self, const Io& io) {
    if (recording_.type == RECORDING_DRIVER) {
        InCarSyncRecord& r = self.inCar;
        r.lrKeys = r.udKeys = r.keys = 0;
        r.velocity = {};
        r.vehicleId = uint16_t(self.vehicleId);
        r.playerHealth = kPlaybackHealth;
    } else {
        OnFootSyncRecord& r = self.onFoot;
        r.lrKeys = r.udKeys = r.keys = 0;
        r.velocity = {};
        r.health = kPlaybackHealth;
    }
    self.kind = KindOf(recording_.type);
    if (io.send) io.send(self.kind);
}

void NpcPlayback::LoadRecord(NpcOwnState& self) {
    recordTime_ = recording_.times[index_];
    if (recording_.type == RECORDING_DRIVER) {
        InCarSyncRecord& r = self.inCar;
        r = recording_.driver[index_];
        r.vehicleId = uint16_t(self.vehicleId);
        r.playerHealth = kPlaybackHealth;
        if (slowDown_ >= 0) {
            r.velocity = Scaled(r.velocity, float(slowDown_) * 0.1f);
            recordTime_ += kCoastingDelayMs;
            r.keys = kCoastingKeys;
        }
        if (speedUp_ > 0) {
            r.velocity = Scaled(r.velocity, 0.5f);
            recordTime_ += kSpeedUpDelayMs;
        }
    } else {
        self.onFoot = recording_.onFoot[index_];
        self.onFoot.health = kPlaybackHealth;
    }
    ++index_;
    state_ = NpcPlaybackState::Wait;
}

void NpcPlayback::Step(uint32_t now, NpcOwnState& self, uint32_t& lastSyncSend, const Io& io) {
    if (state_ == NpcPlaybackState::Stopped) return;
    // A driving recording waits until the server has put the bot into a vehicle.
    if (recording_.type == RECORDING_DRIVER && self.vehicleId == kNpcNoVehicle) return;

    if (slowDown_ == 0) {
        lastSyncSend = now - kPlaybackPausedResendMs;
        pauseStart_ = now;
        state_ = NpcPlaybackState::Paused;
        slowDown_ = -1;
    }
    if (speedUp_ == 0) speedUp_ = -1;

    if (state_ == NpcPlaybackState::Paused) {
        if (now - lastSyncSend >= kPlaybackPausedResendMs) {
            SendHeldAtRest(self, io);
            lastSyncSend = now;
        }
        return;
    }
    if (state_ == NpcPlaybackState::LoadNext) {
        if (index_ >= recording_.Count()) {
            state_ = NpcPlaybackState::Stopped;
            if (io.ended) io.ended();
            return;
        }
        LoadRecord(self);
    }
    // Wrap-safe: the record is due once the signed distance to its time is not negative.
    if (state_ == NpcPlaybackState::Wait && int32_t(now - (startTime_ + recordTime_)) >= 0) {
        self.kind = KindOf(recording_.type);
        if (io.send) io.send(self.kind);
        lastSyncSend = now;
        state_ = NpcPlaybackState::LoadNext;
        if (slowDown_ > 0) --slowDown_;
        if (speedUp_ > 0) --speedUp_;
    }
}

}  // namespace velt
