#pragma once
// The log lines (and notices) a hostile sender could repeat at will, held to one per sender and
// interval with the held-back ones counted, and the periodic reports: the counts of runs that
// ended, the "server full" summary, and each connection's own repeated lines. Network thread.

#include <cstdint>
#include <optional>

#include "net/Clock.h"
#include "net/PeerCore.h"
#include "net/RepeatThrottle.h"

namespace velt {

class PeerLines {
public:
    // At most one "server full" line this often.
    static constexpr NetTime kServerFullReportMs = 10000;

    enum class Line : uint8_t { CookieRequest = 1, ServerFullAttack, PacketModified, GameBehind };

    explicit PeerLines(PeerCore& core) : core_(core) {}

    // True to log (or notify) this one.
    bool Admit(Line line, uint64_t senderKey, NetTime now);
    // A connection request refused for want of a slot; a half-open connection that expired.
    void NoteServerFull(NetTime now);
    void NoteHalfOpenExpired() { ++halfOpenExpired_; }
    // Once a second: the counts of runs that ended, the "server full" report and the channels'
    // own held-back lines. Takes the peer lock.
    void Report(NetTime now, uint64_t timeUs) VELT_EXCLUDES(core_.slots.peerLock);

private:
    void LogHeldBack(uint64_t key, uint32_t count);
    void LogServerFull(NetTime now);

    PeerCore& core_;
    RepeatThrottle runs_{12, kRepeatedLineIntervalMs};
    std::optional<NetTime> lastReport_;
    // What the next "server full" line counts, and when the last one was logged.
    uint32_t serverFullRefused_ = 0;
    uint32_t halfOpenExpired_ = 0;
    std::optional<NetTime> lastServerFullLine_;
};

}  // namespace velt
