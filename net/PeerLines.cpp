#include "net/PeerLines.h"

namespace velt {

namespace {

constexpr NetTime kReportIntervalMs = 1000;
// Lines counted in the throttle carry their kind above the 48 bits of an address and port.
constexpr int kLineShift = 48;

}  // namespace

bool PeerLines::Admit(Line line, uint64_t senderKey, NetTime now) {
    RepeatThrottle::Ended ended;
    const bool pass = runs_.Admit((uint64_t(line) << kLineShift) | senderKey, now, ended);
    if (ended.count != 0) LogHeldBack(ended.key, ended.count);
    return pass;
}

void PeerLines::LogHeldBack(uint64_t key, uint32_t count) {
    const PlayerID sender = RepeatThrottle::PlayerIdOf(key & ((uint64_t(1) << kLineShift) - 1));
    char address[PlayerID::kStringSize];
    switch (Line(key >> kLineShift)) {
        case Line::CookieRequest:
            core_.Log("[connection] %s requested a connection cookie %u more times.",
                      sender.ToString(false, address, sizeof address), count);
            break;
        case Line::ServerFullAttack:
            core_.Log("Blocked %s %u more times for a 'server full' attack",
                      sender.ToString(false, address, sizeof address), count);
            break;
        case Line::PacketModified:
            core_.Log("Packet was modified %u more times, sent by ip: %s", count,
                      sender.ToString(true, address, sizeof address));
            break;
        case Line::GameBehind:
            core_.Log("[warning] dropped messages from %s %u more times",
                      sender.ToString(true, address, sizeof address), count);
            break;
    }
}

void PeerLines::NoteServerFull(NetTime now) {
    ++serverFullRefused_;
    if (!lastServerFullLine_ || int32_t(now - *lastServerFullLine_) >= int32_t(kServerFullReportMs))
        LogServerFull(now);
}

void PeerLines::LogServerFull(NetTime now) {
    core_.Log(
        "[connection] server full: %u connection requests refused, %u half-open connections expired since "
        "the "
        "last report",
        serverFullRefused_, halfOpenExpired_);
    serverFullRefused_ = 0;
    halfOpenExpired_ = 0;
    lastServerFullLine_ = now;
}

void PeerLines::Report(NetTime now, uint64_t timeUs) {
    if (lastReport_ && int32_t(now - *lastReport_) < int32_t(kReportIntervalMs)) return;
    lastReport_ = now;
    MutexLock lock(core_.slots.peerLock);
    runs_.Sweep(now, [&](uint64_t key, uint32_t count) { LogHeldBack(key, count); });
    if (serverFullRefused_ != 0 &&
        int32_t(now - lastServerFullLine_.value_or(0)) >= int32_t(kServerFullReportMs))
        LogServerFull(now);
    SlotTable& slots = core_.slots;
    for (uint32_t i = 0; i < slots.Count(); ++i) {
        ConnectedSystem& s = slots.At(i);
        if (s.isActive) s.channel->FlushRepeatedLines(s.playerId, timeUs, false);
    }
}

}  // namespace velt
