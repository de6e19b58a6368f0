// What a hostile sender meets beyond the handshake's own checks: automatic bans that spare the
// connected players of an address, log lines and notices it could repeat at will, and the share
// of the queue to the game that its messages may take.

#include <mutex>

#include "net/MessageIdentifiers.h"
#include "net/NetPeer.h"

namespace velt {

namespace {

using Lock = std::lock_guard<SimpleMutex>;

constexpr NetTime kReportIntervalMs = 1000;
// Lines counted in the throttle carry their kind above the 48 bits of an address and port.
constexpr int kLineShift = 48;

}  // namespace

void NetPeer::BanAutomatically(PlayerID offender, uint32_t durationMs, int32_t offenderSlot) {
    for (uint32_t i = 0; i < maximumNumberOfPeers_; ++i) {
        const ConnectedSystem& s = remoteSystemList_[i];
        if (int32_t(i) == offenderSlot || !s.isActive || s.connectMode != CM_CONNECTED ||
            s.playerId.binaryAddress != offender.binaryAddress)
            continue;
        CountRejected(Rejected::BanSpared);
        if (offenderSlot >= 0 && remoteSystemList_[offenderSlot].isActive)
            CloseWithNotice(uint32_t(offenderSlot), remoteSystemList_[offenderSlot].connectMode);
        return;
    }
    char ip[PlayerID::kStringSize];
    banList_.AddAutomatic(offender.ToString(false, ip, sizeof ip), durationMs);
}

bool NetPeer::AdmitLine(RepeatedLine line, uint64_t senderKey, NetTime now) {
    RepeatThrottle::Ended ended;
    const bool pass = lineRuns_.Admit((uint64_t(line) << kLineShift) | senderKey, now, ended);
    if (ended.count != 0) LogHeldBackLines(ended.key, ended.count);
    return pass;
}

void NetPeer::LogHeldBackLines(uint64_t key, uint32_t count) {
    const PlayerID sender = RepeatThrottle::PlayerIdOf(key & ((uint64_t(1) << kLineShift) - 1));
    char address[PlayerID::kStringSize];
    switch (RepeatedLine(key >> kLineShift)) {
        case RepeatedLine::CookieRequest:
            Log("[connection] %s requested a connection cookie %u more times.",
                sender.ToString(false, address, sizeof address), count);
            break;
        case RepeatedLine::ServerFullAttack:
            Log("Blocked %s %u more times for a 'server full' attack",
                sender.ToString(false, address, sizeof address), count);
            break;
        case RepeatedLine::PacketModified:
            Log("Packet was modified %u more times, sent by ip: %s", count,
                sender.ToString(true, address, sizeof address));
            break;
        case RepeatedLine::GameBehind:
            Log("[warning] dropped messages from %s %u more times",
                sender.ToString(true, address, sizeof address), count);
            break;
    }
}

void NetPeer::NoteServerFull(NetTime now) {
    ++serverFullRefused_;
    if (!haveServerFullLine_ || int32_t(now - lastServerFullLine_) >= int32_t(kServerFullReportMs))
        LogServerFull(now);
}

void NetPeer::LogServerFull(NetTime now) {
    Log("[connection] server full: %u connection requests refused, %u half-open connections expired since "
        "the "
        "last report",
        serverFullRefused_, halfOpenExpired_);
    serverFullRefused_ = 0;
    halfOpenExpired_ = 0;
    haveServerFullLine_ = true;
    lastServerFullLine_ = now;
}

void NetPeer::ReportRepeats(NetTime now, uint64_t timeUs) {
    if (haveReports_ && int32_t(now - lastReports_) < int32_t(kReportIntervalMs)) return;
    haveReports_ = true;
    lastReports_ = now;
    Lock lock(peerLock_);
    lineRuns_.Sweep(now, [&](uint64_t key, uint32_t count) { LogHeldBackLines(key, count); });
    if (serverFullRefused_ != 0 && int32_t(now - lastServerFullLine_) >= int32_t(kServerFullReportMs))
        LogServerFull(now);
    for (uint32_t i = 0; i < maximumNumberOfPeers_; ++i) {
        ConnectedSystem& s = remoteSystemList_[i];
        if (s.isActive) s.channel->FlushRepeatedLines(s.playerId, timeUs, false);
    }
}

uint32_t NetPeer::QueueCharge(uint32_t length) {
    // The entry itself, and for a message that does not fit it the Packet made on this side.
    uint32_t charge = uint32_t(sizeof(IncomingPacket));
    if (length > kQueuedMessageBytes) charge += uint32_t(sizeof(Packet)) + length;
    return charge;
}

bool NetPeer::RoomForGame(uint32_t index, uint32_t length, NetTime now, uint64_t timeUs) {
    ConnectedSystem& slot = remoteSystemList_[index];
    const uint32_t charge = QueueCharge(length);
    const uint64_t mine = queuedBytes_[index].load(std::memory_order_relaxed);
    const uint64_t total = queuedTotal_.load(std::memory_order_relaxed);
    const uint64_t myCap = transportSettings_->GetIncomingQueueCapBytes();
    const uint64_t totalCap = transportSettings_->GetIncomingTotalCapBytes();
    const bool overMine = mine + charge > myCap;
    if (!overMine && total + charge <= totalCap) {
        slot.queueOver = false;
        if (total < totalCap / 2) gameBehindLogged_ = false;
        return true;
    }

    slot.channel->CountRejected(Rejected::GameBehind);
    char address[PlayerID::kStringSize];
    if (!overMine) {
        // Every connection within its share, the game behind on all of them together.
        if (!gameBehindLogged_) {
            gameBehindLogged_ = true;
            Log("[warning] the game is not taking messages from the network: dropping new ones while %llu "
                "bytes "
                "wait",
                static_cast<unsigned long long>(total));
        }
        return false;
    }
    if (!slot.queueOver) {
        slot.queueOver = true;
        slot.queueOverSince = now;
    }
    if (AdmitLine(RepeatedLine::GameBehind, RepeatThrottle::KeyOf(slot.playerId), now))
        Log("[warning] dropping messages from %s: %llu bytes of its messages wait for the game",
            slot.playerId.ToString(true, address, sizeof address), static_cast<unsigned long long>(mine));
    if (int32_t(now - slot.queueOverSince) > int32_t(kGameBehindKickMs) && slot.connectMode == CM_CONNECTED) {
        Log("Kicking %s because its messages waiting for the game stayed over %llu bytes.",
            slot.playerId.ToString(true, address, sizeof address), static_cast<unsigned long long>(myCap));
        CountRejected(Rejected::KickedGameBehind);
        NotifyAndCloseLocked(slot.playerId, 0, timeUs);
    }
    return false;
}

void NetPeer::Discharge(const IncomingPacket& entry) {
    if (entry.charge == 0) return;
    if (queuedBytes_ && entry.chargedSlot < maximumNumberOfPeers_)
        queuedBytes_[entry.chargedSlot].fetch_sub(entry.charge, std::memory_order_relaxed);
    queuedTotal_.fetch_sub(entry.charge, std::memory_order_relaxed);
}

void NetPeer::CountRpcFailure(RpcDispatchResult result) {
    Rejected kind;
    switch (result) {
        case RpcDispatchResult::UnreadableHeader: kind = Rejected::RpcUnreadable; break;
        case RpcDispatchResult::NeverDispatched: kind = Rejected::RpcNeverDispatched; break;
        case RpcDispatchResult::Unregistered: kind = Rejected::RpcUnregistered; break;
        case RpcDispatchResult::Truncated: kind = Rejected::RpcTruncated; break;
        default: return;
    }
    Lock lock(peerLock_);
    CountRejected(kind);
}

}  // namespace velt
