// One pass of the network thread: the socket, the user's queued commands, outgoing connection
// attempts, then every slot (keep-alive, the channel's pacing, the closing rules, the logon kick,
// pings, delivered messages). Also the ping measurement and the clock differential.

#include <algorithm>
#include <cstring>
#include <mutex>

#include "common/LittleEndian.h"
#include "net/MessageIdentifiers.h"
#include "net/NetPeer.h"
#include "net/Packet.h"

namespace velt {

namespace {

using Lock = std::lock_guard<SimpleMutex>;

// Holds the peer lock across a run of items instead of taking it for each: a pass over hundreds
// of connections or commands would otherwise spend much of its time locking, while the user
// thread's immediate sends still wait for a few items at most. Begin before an item takes the
// lock if it is not held, End after it lets go every `perRun` items; leaving scope lets go.
class LockRun {
public:
    LockRun(SimpleMutex& mutex, uint32_t perRun) : lock_(mutex, std::defer_lock), perRun_(perRun) {}
    void Begin() {
        if (!lock_.owns_lock()) lock_.lock();
    }
    void End() {
        if (++count_ < perRun_) return;
        lock_.unlock();
        count_ = 0;
    }

private:
    std::unique_lock<SimpleMutex> lock_;
    uint32_t perRun_;
    uint32_t count_ = 0;
};

}  // namespace

void NetPeer::RunCycle() {
    if (!remoteSystemList_) return;

    if (socket_ != -1) {
        // A peer of one connection reads a datagram or two per pass: batches would only cost it
        // their buffers.
        const uint32_t perCall = maximumNumberOfPeers_ > 1 ? kReceiveBatch : 1;
        for (uint32_t taken = 0; taken < kMaxDatagramsPerCycle;) {
            const int n =
                SocketLayer::RecvBatch(socket_, endpoint_, std::min(perCall, kMaxDatagramsPerCycle - taken));
            if (n <= 0) break;
            taken += uint32_t(n);
        }
    }

    const uint64_t timeUs = clock_->NowUs();
    const NetTime now = NetTime(timeUs / 1000u);
    RunBufferedCommands(timeUs);
    RunRequestedConnections(now);
    ServeSlots(now, timeUs);
    ReportRepeats(now, timeUs);
    // What the channels wrote this pass.
    if (socket_ != -1) sendBatch_.Flush(socket_);
}

void NetPeer::ServeSlots(NetTime now, uint64_t timeUs) {
    // The idle marks assume the occasional-ping setting they were made under.
    const bool pingPeriodically = pingPeriodically_.load();
    const bool trustIdleMarks = pingPeriodically == pingPeriodicallySeen_;
    pingPeriodicallySeen_ = pingPeriodically;
    // Which slots this pass serves, from the marks alone. A slot woken while the pass runs is
    // served by the next one, as it would be had it been woken just after.
    slotsToServe_.clear();
    for (uint32_t i = 0; i < maximumNumberOfPeers_; ++i) {
        if (trustIdleMarks && timeUs >= slotIdleFrom_[i].load(std::memory_order_relaxed) &&
            timeUs < slotIdleUntil_[i].load(std::memory_order_relaxed))
            continue;
        slotsToServe_.push_back(uint16_t(i));
    }
    // The slots served are mostly cold, one slot record and one channel apart from each other;
    // fetching a few ahead overlaps the waits, each step reading only what the step before
    // fetched: records four ahead, a channel's first line three ahead, the rest of the channel
    // two ahead and the ends of its queues one ahead, these two when the channel has an update
    // due.
    constexpr size_t kPrefetchSlots = 4;
    const size_t n = slotsToServe_.size();
    auto channelAhead = [&](size_t ahead) -> const ReliabilityChannel* {
        return ahead < n ? channelOf_[slotsToServe_[ahead]] : nullptr;
    };
    LockRun lock(peerLock_, kItemsPerLock);
    for (size_t k = 0; k < n; ++k) {
        if (k + kPrefetchSlots < n) __builtin_prefetch(&remoteSystemList_[slotsToServe_[k + kPrefetchSlots]]);
        if (const ReliabilityChannel* ahead = channelAhead(k + 3)) __builtin_prefetch(ahead);
        const uint32_t i = slotsToServe_[k];
        if (!remoteSystemList_[i].isActive) continue;
        lock.Begin();
        if (const ReliabilityChannel* ahead = channelAhead(k + 2);
            ahead != nullptr && ahead->IsUpdateDue(timeUs))
            ahead->Prefetch();
        if (const ReliabilityChannel* next = channelAhead(k + 1);
            next != nullptr && next->IsUpdateDue(timeUs))
            next->PrefetchForUpdate();
        if (remoteSystemList_[i].isActive) ServeSlot(i, now, timeUs);
        lock.End();
    }
}

void NetPeer::RunBufferedCommands(uint64_t timeUs) {
    LockRun lock(peerLock_, kItemsPerLock);
    while (BufferedCommand* queued = bufferedCommands_.ReadLock()) {
        lock.Begin();
        // The command stays in its node until it is carried out: an inline payload is read in
        // place, and the node goes back to the user thread only afterwards.
        BufferedCommand& command = *queued;
        uint8_t* const owned = command.data;
        command.data = nullptr;
        if (command.kind == BufferedCommand::kClose) {
            const int32_t index = FindIndexNet(command.target);
            if (index >= 0) CloseSlotLocked(uint32_t(index));
            delete[] owned;
        } else {
            bool taken = false;
            uint8_t* const bytes = command.inlined ? command.inlineData : owned;
            SendImmediateLocked(bytes, command.bitLength, command.priority, command.reliability,
                                command.orderingChannel, command.target, command.broadcast, !command.inlined,
                                taken, timeUs);
            if (!taken) delete[] owned;
            if (command.connectMode != CM_NONE && command.target != UNASSIGNED_PLAYER_ID) {
                if (ConnectedSystem* slot = FindSlotNet(command.target))
                    slot->connectMode = command.connectMode;
            }
        }
        bufferedCommands_.ReadUnlock();
        lock.End();
    }
}

void NetPeer::RunRequestedConnections(NetTime now) {
    while (RequestedConnection* request = requestedConnections_.ReadLock()) {
        pendingConnects_.push_back(*request);
        requestedConnections_.ReadUnlock();
    }
    for (size_t i = 0; i < pendingConnects_.size();) {
        RequestedConnection& request = pendingConnects_[i];
        if (!TimeReached(now, request.nextRequestTime)) {
            ++i;
            continue;
        }
        if (request.requestsMade < kConnectAttempts && request.playerId != UNASSIGNED_PLAYER_ID) {
            ++request.requestsMade;
            request.nextRequestTime = now + kConnectRetryMs;
            SendOpenRequest(request);
            ++i;
            continue;
        }
        const PlayerID target = request.playerId;
        pendingConnects_.erase(pendingConnects_.begin() + long(i));
        PushNotice(ID_CONN_ATTEMPT_FAILED, target, 0xFFFF);
    }
}

void NetPeer::MarkSlotUnused(uint32_t index) {
    slotIdleFrom_[index].store(0, std::memory_order_relaxed);
    slotIdleUntil_[index].store(UINT64_MAX, std::memory_order_relaxed);
}

void NetPeer::MarkSlotDue(uint32_t index) {
    slotIdleFrom_[index].store(0, std::memory_order_relaxed);
    slotIdleUntil_[index].store(0, std::memory_order_relaxed);
}

void NetPeer::NoteSlotIdleUntil(uint32_t index, NetTime now, uint64_t timeUs) {
    const ConnectedSystem& slot = remoteSystemList_[index];
    const ReliabilityChannel& channel = *slot.channel;
    // Only a connected slot with nothing left to deliver may sit out passes: every other mode
    // has deadlines of its own that each pass checks.
    uint64_t until = 0;
    if (slot.connectMode == CM_CONNECTED && !channel.HasDeliveredMessages()) {
        // The earliest millisecond at which one of the serve's own rules can fire: the keep-alive,
        // the logon kick, the occasional ping (the same tests ServeSlot makes, one millisecond
        // early to stay on the safe side of the rounding).
        int32_t untilMs = int32_t(slot.lastReliableSend + kKeepAliveMs + 1 - now);
        if (role_ == SocketRole::Server && !slot.loggedOn)
            untilMs = std::min(untilMs, int32_t(slot.connectionTime + kLogonTimeoutMs + 1 - now));
        if (pingPeriodically_.load() || slot.lowestPing == kNoPing)
            untilMs = std::min(untilMs, int32_t(slot.nextPingTime + 1 - now));
        // Whatever reaches the connection from outside a serve (a datagram, a send, a setting)
        // goes through its channel, which then clears the mark; a change of mode always comes
        // with a send. So until then only the channel's own next deadline counts.
        if (untilMs > 1) until = std::min(timeUs + uint64_t(untilMs - 1) * 1000u, channel.WakeTime());
    }
    // The channel is due again at any time not after its last update (a clock that stepped back).
    slotIdleFrom_[index].store(std::max(timeUs, channel.LastUpdateTime() + 1), std::memory_order_relaxed);
    slotIdleUntil_[index].store(until, std::memory_order_relaxed);
}

void NetPeer::ServeSlot(uint32_t index, NetTime now, uint64_t timeUs) {
    ConnectedSystem& slot = remoteSystemList_[index];
    ReliabilityChannel& channel = *slot.channel;
    // Due at every pass unless the serve gets to its end and finds otherwise.
    MarkSlotDue(index);

    if (slot.connectMode == CM_CONNECTED && TimeBefore(slot.lastReliableSend, now) &&
        now - slot.lastReliableSend > kKeepAliveMs && !channel.AreMessagesAwaitingAck()) {
        const uint8_t keepAlive = ID_KEEP_ALIVE;
        SendBytesImmediateLocked(&keepAlive, 1, LOW_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0, slot.playerId,
                                 timeUs);
        slot.lastReliableSend = now + channel.GetTimeoutTime();
    }

    // Most connections have nothing due on most passes; a skipped Update loses nothing.
    if (channel.IsUpdateDue(timeUs)) {
        ChannelOut out(*this, slot.playerId);
        channel.Update(out, slot.playerId, mtuSize_, timeUs, Observers());
    }

    const int32_t mode = slot.connectMode;
    const bool closing = mode == CM_DISCONNECT_ASAP || mode == CM_DISCONNECT_ASAP_SILENTLY;
    const bool handshakeExpired = mode >= CM_REQUESTED_CONNECTION && mode <= CM_SET_KEY_ON_NEXT_BLOCK &&
                                  TimeBefore(slot.connectionTime, now) &&
                                  now - slot.connectionTime > kHandshakeTimeoutMs;
    if (channel.IsDead() || (closing && !channel.IsDataWaiting()) ||
        (mode == CM_DISCONNECT_ON_NO_ACK && !channel.AreMessagesAwaitingAck()) || handshakeExpired) {
        // A slot someone asked for and left half open: the "server full" report tells how many.
        if (handshakeExpired && !slot.weInitiated) ++halfOpenExpired_;
        CloseWithNotice(index, mode);
        return;
    }
    if (closing && int32_t(now - slot.lastReliableSend) > int32_t(kDisconnectGraceMs)) {
        CloseSlotLocked(index);
        return;
    }

    if (mode == CM_CONNECTED) {
        if (role_ == SocketRole::Server && !slot.loggedOn &&
            int32_t(now - slot.connectionTime) > int32_t(kLogonTimeoutMs)) {
            Log("Kicking %s because they didn't logon to the game.", slot.playerId.ToString(false));
            NotifyAndCloseLocked(slot.playerId, 0, timeUs);
            return;
        }
        if (TimeBefore(slot.nextPingTime, now) && (pingPeriodically_.load() || slot.lowestPing == kNoPing)) {
            slot.nextPingTime = now + kPingIntervalMs;
            PingNowLocked(slot.playerId, timeUs);
        }
    }

    uint8_t* data = nullptr;
    while (uint32_t bits = channel.ReceiveMessage(data)) {
        if (inputTree_) {
            BitStream plain;
            const uint32_t bytes = (bits + 7u) / 8u;
            inputTree_->DecodeToStream(data, bits, plain);
            delete[] data;
            compressedBytesReceived_ += bytes;
            bits = uint32_t(plain.GetNumberOfBitsUsed());
            uncompressedBytesReceived_ += uint32_t(plain.GetNumberOfBytesUsed());
            data = nullptr;
            if (bits == 0) continue;
            plain.CopyData(data);
        }
        if (!HandleSlotMessage(index, data, bits, now, timeUs)) return;
    }
    NoteSlotIdleUntil(index, now, timeUs);
}

void NetPeer::CloseWithNotice(uint32_t index, int32_t mode) {
    ConnectedSystem& slot = remoteSystemList_[index];
    uint8_t notice = 0;
    if (mode == CM_CONNECTED)
        notice = ID_CONN_LOST;
    else if (mode == CM_REQUESTED_CONNECTION)
        notice = ID_CONN_ATTEMPT_FAILED;
    else if (mode == CM_DISCONNECT_ASAP || mode == CM_DISCONNECT_ON_NO_ACK)
        notice = ID_CONN_CLOSED;
    if (notice != 0) PushNotice(notice, slot.playerId, uint16_t(index));
    CloseSlotLocked(index);
}

bool NetPeer::HandleSlotMessage(uint32_t index, uint8_t* data, uint32_t bitLength, NetTime now,
                                uint64_t timeUs) {
    ConnectedSystem& slot = remoteSystemList_[index];
    const uint32_t length = (bitLength + 7u) / 8u;
    const int32_t mode = slot.connectMode;
    const uint8_t id = data[0];

    if (mode == CM_UNVERIFIED_SENDER) {
        if (id == ID_CONN_REQUEST) {
            ParseConnectionRequest(index, data, length, timeUs);
            delete[] data;
            return true;
        }
        // Our clients always open with their request: this sender is not one of them.
        const PlayerID sender = slot.playerId;
        const uint32_t banMs = slot.channel->GetTimeoutTime();
        delete[] data;
        slot.channel->CountRejected(Rejected::NotARequestFirst);
        CloseSlotLocked(index);
        BanAutomatically(sender, banMs, -1);
        return false;
    }

    switch (id) {
        case ID_CONN_REQUEST:
            // Only the first request of a slot is answered: every answer is sent reliably, and so
            // resent, and a stream of requests would make a stream of those.
            slot.channel->CountRejected(Rejected::RepeatedRequest);
            break;
        case ID_CONN_HANDSHAKE_DONE:
            if (length != 7) goto deliver;
            HandleHandshakeDone(index, data, bitLength, timeUs);
            return true;
        case ID_INTERNAL_PONG:
            if (length != 9) goto deliver;
            HandlePong(slot, data, now);
            break;
        case ID_INTERNAL_PING:
            if (length != 5) goto deliver;
            {
                uint8_t pong[9];
                pong[0] = ID_INTERNAL_PONG;
                std::memcpy(pong + 1, data + 1, 4);
                WriteU32(pong + 5, now);
                SendBytesImmediateLocked(pong, sizeof pong, SYSTEM_PRIORITY_LEVEL, RELIABILITY_UNRELIABLE, 0,
                                         slot.playerId, timeUs);
            }
            break;
        case ID_CONN_CLOSED: slot.connectMode = CM_DISCONNECT_ON_NO_ACK; break;
        case ID_KEEP_ALIVE:
            if (length != 1) goto deliver;
            break;
        case ID_STATIC_DATA_REQUEST: SendStaticDataLocked(slot.playerId, timeUs); break;
        case ID_STATIC_DATA:
            slot.staticData.Clear();
            if (bitLength > 8) slot.staticData.WriteRawBits(data + 1, int32_t(bitLength - 8), false);
            return HandToGame(index, data, bitLength, now, timeUs);
        case ID_CONN_ACCEPTED:
            if (length != 13) goto deliver;
            HandleConnectionAccepted(index, data, bitLength, timeUs);
            return slot.isActive != 0;
        default: goto deliver;
    }
    delete[] data;
    return true;

deliver:
    // Game data only from a system that passed the password: a refused one (closing silently)
    // would otherwise reach the game's handlers in the moments before its slot closes.
    if (id < kFirstUserVisibleIdentifier || mode == CM_DISCONNECT_ASAP_SILENTLY) {
        delete[] data;
        return true;
    }
    if (IsPeerNotice(GetPacketIdentifier(data, length))) {
        slot.channel->CountRejected(Rejected::ReservedIdentifier);
        delete[] data;
        return true;
    }
    return HandToGame(index, data, bitLength, now, timeUs);
}

bool NetPeer::HandToGame(uint32_t index, uint8_t* data, uint32_t bitLength, NetTime now, uint64_t timeUs) {
    // Only the server caps what waits for the game: its messages are small and many senders are
    // strangers. Other roles take large messages (file transfers) from peers they chose.
    if (role_ == SocketRole::Server && !RoomForGame(index, (bitLength + 7u) / 8u, now, timeUs)) {
        delete[] data;
        return remoteSystemList_[index].isActive != 0;
    }
    PushMessage(data, bitLength, remoteSystemList_[index].playerId, uint16_t(index), true);
    return true;
}

// ---- pings ---------------------------------------------------------------------------------------

void NetPeer::PingNowLocked(PlayerID target, uint64_t timeUs) {
    uint8_t ping[5];
    ping[0] = ID_INTERNAL_PING;
    WriteU32(ping + 1, NetTime(timeUs / 1000u));
    SendBytesImmediateLocked(ping, sizeof ping, SYSTEM_PRIORITY_LEVEL, RELIABILITY_UNRELIABLE, 0, target,
                             timeUs);
}

void NetPeer::PingNow(PlayerID target) {
    if (!IsActive()) return;
    Lock lock(peerLock_);
    PingNowLocked(target, clock_->NowUs());
}

void NetPeer::Ping(PlayerID target) {
    uint8_t ping[5];
    ping[0] = ID_INTERNAL_PING;
    WriteU32(ping + 1, NowMs());
    SendBytes(ping, sizeof ping, SYSTEM_PRIORITY_LEVEL, RELIABILITY_UNRELIABLE, 0, target, false);
}

bool RecordPing(ConnectedSystem& slot, NetTime sent, NetTime remoteTime, NetTime now) {
    const NetTime elapsed = TimeBefore(sent, now) ? now - sent : 0;
    // 0xFFFF marks an empty entry; a measurement never writes it.
    const uint32_t ping = elapsed < kNoPing ? elapsed : kNoPing - 1u;

    PingAndClockDifferential& entry = slot.pingHistory[slot.pingWriteIndex];
    const bool accepted =
        entry.pingTime == 0 || (ping < 3u * entry.pingTime && ping < NetPeer::kMaxAcceptedPing);
    if (!accepted) return false;
    // The remote clock was read halfway through the round trip. Halving the elapsed time rather
    // than the sum of both stamps keeps this right once the clock passes 2^31 ms.
    const NetTime midpoint = sent + elapsed / 2u;
    entry.pingTime = uint16_t(ping);
    entry.clockDifferential = int32_t(remoteTime - midpoint);
    if (slot.lowestPing == kNoPing || slot.lowestPing > ping) slot.lowestPing = uint16_t(ping);
    slot.pingWriteIndex = (slot.pingWriteIndex + 1) % kPingHistorySize;
    return true;
}

int32_t BestClockDifferential(const ConnectedSystem& slot) {
    int32_t best = 0;
    uint16_t lowest = kNoPing;
    for (int i = 0; i < kPingHistorySize && slot.pingHistory[i].pingTime != kNoPing; ++i) {
        if (slot.pingHistory[i].pingTime < lowest) {
            lowest = slot.pingHistory[i].pingTime;
            best = slot.pingHistory[i].clockDifferential;
        }
    }
    return best;
}

void NetPeer::HandlePong(ConnectedSystem& slot, const uint8_t* data, NetTime now) {
    const int32_t entry = slot.pingWriteIndex;
    if (RecordPing(slot, ReadU32(data + 1), ReadU32(data + 5), now))
        slot.channel->SetPing(slot.pingHistory[entry].pingTime);
}

int32_t NetPeer::GetAveragePing(PlayerID target) const {
    Lock lock(peerLock_);
    const int32_t index = FindIndexUser(target, false);
    if (index < 0) return -1;
    const ConnectedSystem& slot = remoteSystemList_[index];
    int32_t sum = 0;
    int32_t count = 0;
    for (; count < kPingHistorySize && slot.pingHistory[count].pingTime != kNoPing; ++count)
        sum += slot.pingHistory[count].pingTime;
    return count == 0 ? -1 : sum / count;
}

int32_t NetPeer::GetLastPing(PlayerID target) const {
    Lock lock(peerLock_);
    const int32_t index = FindIndexUser(target, false);
    if (index < 0) return -1;
    const ConnectedSystem& slot = remoteSystemList_[index];
    const int32_t last = slot.pingWriteIndex == 0 ? kPingHistorySize - 1 : slot.pingWriteIndex - 1;
    return slot.pingHistory[last].pingTime;
}

int32_t NetPeer::GetLowestPing(PlayerID target) const {
    Lock lock(peerLock_);
    const int32_t index = FindIndexUser(target, false);
    if (index < 0) return -1;
    return remoteSystemList_[index].lowestPing;
}

int32_t NetPeer::GetBestClockDifferential(PlayerID target) const {
    Lock lock(peerLock_);
    const int32_t index = FindIndexUser(target, false);
    return index < 0 ? 0 : BestClockDifferential(remoteSystemList_[index]);
}

uint32_t NetPeer::GetClockDifferentialTime(PlayerID target, uint32_t remoteTime) const {
    return remoteTime - uint32_t(GetBestClockDifferential(target));
}

void NetPeer::ShiftIncomingTimestamp(Packet* packet) const {
    const uint32_t remote = ReadU32(packet->data + 1);
    WriteU32(packet->data + 1, remote - uint32_t(GetBestClockDifferential(packet->sender)));
}

}  // namespace velt
