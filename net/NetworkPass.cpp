#include "net/NetworkPass.h"

#include <algorithm>

#include "net/MessageIdentifiers.h"

namespace velt {

NetworkPass::NetworkPass(PeerCore& core, SlotSender& sender, PeerAdmission& admission,
                         OutgoingConnections& outgoing, PeerLines& lines, CommandQueue& commands,
                         NetworkWakeup& wakeup)
    : core_(core),
      sender_(sender),
      admission_(admission),
      outgoing_(outgoing),
      lines_(lines),
      commands_(commands),
      wakeup_(wakeup) {}

void NetworkPass::Run() {
    if (core_.slots.Count() == 0) return;
    ReadSocket();
    const uint64_t timeUs = core_.clock->NowUs();
    const NetTime now = NetTime(timeUs / 1000u);
    RunCommands(timeUs);
    outgoing_.Run(now);
    ServeSlots(now, timeUs);
    lines_.Report(now, timeUs);
    // What the channels wrote this pass.
    core_.FlushBatch();
}

void NetworkPass::WaitForWork(int32_t timeoutMs) {
    wakeup_.Wait(core_.socket, timeoutMs, kMinPassGapUs,
                 [&] { return commands_.HasWaiting() || outgoing_.HasRequests(); });
}

void NetworkPass::ReadSocket() {
    if (core_.socket == -1) return;
    // A peer of one connection reads a datagram or two per pass: batches would only cost it
    // their buffers.
    const uint32_t perCall = core_.slots.Count() > 1 ? kReceiveBatch : 1;
    for (uint32_t taken = 0; taken < kMaxDatagramsPerCycle;) {
        const uint32_t asked = std::min(perCall, kMaxDatagramsPerCycle - taken);
        const int n = SocketLayer::RecvBatch(core_.socket, core_.endpoint, asked);
        if (n <= 0) break;
        taken += uint32_t(n);
        // A short batch emptied the socket: asking again would only hear so.
        if (uint32_t(n) < asked) break;
    }
}

void NetworkPass::HandleDatagram(uint32_t binaryAddress, uint16_t port, const uint8_t* data,
                                 uint32_t length) {
    SlotTable& slots = core_.slots;
    if (slots.Count() == 0) return;
    if (data == nullptr) length = 0;
    const PlayerID sender{binaryAddress, port};
    const uint64_t timeUs = core_.clock->NowUs();

    MutexLock lock(slots.peerLock);
    // In a batch, the next sender's state loads while this datagram is handled (and this
    // sender's lookup was answered the same way one datagram ago).
    if (expectedSender_ != UNASSIGNED_PLAYER_ID) {
        const int32_t next = slots.LookUpAndKeep(expectedSender_);
        expectedSender_ = UNASSIGNED_PLAYER_ID;
        if (next >= 0) {
            __builtin_prefetch(slots.RecordAddress(uint32_t(next)));
            slots.ChannelAddress(uint32_t(next))->Prefetch();
        }
    }
    // This sender's channel was fetched while the datagram before was handled: where its queues
    // stand can be read now, and their ends fetched while admission's checks run.
    if (const int32_t mine = slots.KeptAnswer(sender); mine >= 0)
        slots.ChannelAddress(uint32_t(mine))->PrefetchForReceive();
    admission_.HandleDatagram(sender, data, length, timeUs);
}

void NetworkPass::RunCommands(uint64_t timeUs) {
    while (commands_.HasWaiting()) {
        MutexLock lock(core_.slots.peerLock);
        for (uint32_t n = 0; n < kItemsPerLock; ++n) {
            // The command stays in its node until it is carried out: its payload is read in
            // place, and the node goes back to the user thread only afterwards.
            QueuedCommand* command = commands_.Next();
            if (command == nullptr) return;
            RunCommand(*command, timeUs);
            commands_.Finish();
        }
    }
}

void NetworkPass::RunCommand(QueuedCommand& command, uint64_t timeUs) {
    SlotTable& slots = core_.slots;
    switch (command.kind) {
        case CommandHeader::Kind::Close: {
            const int32_t index = slots.Find(command.target);
            if (index >= 0) core_.CloseSlot(uint32_t(index));
            break;
        }
        case CommandHeader::Kind::Send: {
            const int32_t index = sender_.SlotFor(command.target);
            if (index >= 0)
                sender_.SendToSlot(uint32_t(index), std::move(command.payload), command.delivery, timeUs);
            if (command.connectModeAfter != CM_NONE && command.target != UNASSIGNED_PLAYER_ID) {
                const int32_t after = slots.Find(command.target);
                if (after >= 0) slots.At(uint32_t(after)).connectMode = command.connectModeAfter;
            }
            break;
        }
        case CommandHeader::Kind::Broadcast:
            sender_.Broadcast(command.target, command.exceptSlot, std::move(command.payload),
                              command.delivery, timeUs);
            break;
        case CommandHeader::Kind::SendToSlots:
            targets_.clear();
            commands_.TakeSlots([&](const SlotRef& slot) VELT_NO_THREAD_SAFETY_ANALYSIS {
                // Only to the connection the slot held when the message was queued.
                if (slot.index < slots.Count() && slots.Generation(slot.index) == slot.generation &&
                    sender_.Sendable(slot.index))
                    targets_.push_back(slot.index);
            });
            sender_.Send(targets_, std::move(command.payload), command.delivery, timeUs);
            break;
    }
    command.payload.Clear();
}

void NetworkPass::ServeSlots(NetTime now, uint64_t timeUs) {
    SlotTable& slots = core_.slots;
    // The idle marks assume the occasional-ping setting they were made under.
    const bool pingPeriodically = core_.pingPeriodically.load();
    const bool trustIdleMarks = pingPeriodically == pingPeriodicallySeen_;
    pingPeriodicallySeen_ = pingPeriodically;
    // Which slots this pass serves, from the marks alone. A slot woken while the pass runs is
    // served by the next one, as it would be had it been woken just after.
    slotsToServe_.clear();
    for (uint32_t i = 0; i < slots.Count(); ++i) {
        if (trustIdleMarks && slots.IsIdle(i, timeUs)) continue;
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
        return ahead < n ? slots.ChannelAddress(slotsToServe_[ahead]) : nullptr;
    };
    for (size_t first = 0; first < n; first += kItemsPerLock) {
        const size_t end = std::min(n, first + kItemsPerLock);
        MutexLock lock(slots.peerLock);
        for (size_t k = first; k < end; ++k) {
            if (k + kPrefetchSlots < n)
                __builtin_prefetch(slots.RecordAddress(slotsToServe_[k + kPrefetchSlots]));
            if (const ReliabilityChannel* ahead = channelAhead(k + 3)) __builtin_prefetch(ahead);
            const uint32_t i = slotsToServe_[k];
            if (!slots.IsActive(i)) continue;
            if (const ReliabilityChannel* ahead = channelAhead(k + 2);
                ahead != nullptr && ahead->IsUpdateDue(timeUs))
                ahead->Prefetch();
            if (const ReliabilityChannel* next = channelAhead(k + 1);
                next != nullptr && next->IsUpdateDue(timeUs))
                next->PrefetchForUpdate();
            ServeSlot(i, now, timeUs);
        }
    }
}

void NetworkPass::NoteSlotIdleUntil(uint32_t index, NetTime now, uint64_t timeUs) {
    const ConnectedSystem& slot = core_.slots.At(index);
    const ReliabilityChannel& channel = *slot.channel;
    // Only a connected slot with nothing left to deliver may sit out passes: every other mode
    // has deadlines of its own that each pass checks.
    uint64_t until = 0;
    if (slot.connectMode == CM_CONNECTED && !channel.HasDeliveredMessages()) {
        // The earliest millisecond at which one of the serve's own rules can fire: the keep-alive,
        // the logon kick, the occasional ping (the same tests ServeSlot makes, one millisecond
        // early to stay on the safe side of the rounding).
        int32_t untilMs = int32_t(slot.lastReliableSend + kKeepAliveMs + 1 - now);
        if (core_.role == SocketRole::Server && !slot.loggedOn)
            untilMs = std::min(untilMs, int32_t(slot.connectionTime + kLogonTimeoutMs + 1 - now));
        if (core_.pingPeriodically.load() || slot.lowestPing == kNoPing)
            untilMs = std::min(untilMs, int32_t(slot.nextPingTime + 1 - now));
        // Whatever reaches the connection from outside a serve (a datagram, a send, a setting)
        // goes through its channel, which then clears the mark; a change of mode always comes
        // with a send. So until then only the channel's own next deadline counts.
        if (untilMs > 1) until = std::min(timeUs + uint64_t(untilMs - 1) * 1000u, channel.WakeTime());
    }
    // The channel is due again at any time not after its last update (a clock that stepped back).
    core_.slots.MarkIdle(index, std::max(timeUs, channel.LastUpdateTime() + 1), until);
}

void NetworkPass::ServeSlot(uint32_t index, NetTime now, uint64_t timeUs) {
    ConnectedSystem& slot = core_.slots.At(index);
    ReliabilityChannel& channel = *slot.channel;
    // Due at every pass unless the serve gets to its end and finds otherwise.
    core_.slots.MarkDue(index);

    if (slot.connectMode == CM_CONNECTED && TimeBefore(slot.lastReliableSend, now) &&
        now - slot.lastReliableSend > kKeepAliveMs && !channel.AreMessagesAwaitingAck()) {
        const uint8_t keepAlive = ID_KEEP_ALIVE;
        sender_.SendBytes(index, &keepAlive, 1, RELIABILITY_RELIABLE, timeUs, LOW_PRIORITY_LEVEL);
        slot.lastReliableSend = now + channel.GetTimeoutTime();
    }

    // Most connections have nothing due on most passes; a skipped Update loses nothing.
    if (channel.IsUpdateDue(timeUs)) {
        ChannelOut out(*this, slot.playerId);
        channel.Update(out, slot.playerId, core_.mtu, timeUs, core_.plugins.Observers());
    }

    const int32_t mode = slot.connectMode;
    const bool closing = mode == CM_DISCONNECT_ASAP || mode == CM_DISCONNECT_ASAP_SILENTLY;
    const bool handshakeExpired = mode >= CM_REQUESTED_CONNECTION && mode <= CM_SET_KEY_ON_NEXT_BLOCK &&
                                  TimeBefore(slot.connectionTime, now) &&
                                  now - slot.connectionTime > kHandshakeTimeoutMs;
    if (channel.IsDead() || (closing && !channel.IsDataWaiting()) ||
        (mode == CM_DISCONNECT_ON_NO_ACK && !channel.AreMessagesAwaitingAck()) || handshakeExpired) {
        // A slot someone asked for and left half open: the "server full" report tells how many.
        if (handshakeExpired && !slot.weInitiated) lines_.NoteHalfOpenExpired();
        core_.CloseWithNotice(index, mode);
        return;
    }
    if (closing && int32_t(now - slot.lastReliableSend) > int32_t(kDisconnectGraceMs)) {
        core_.CloseSlot(index);
        return;
    }

    if (mode == CM_CONNECTED) {
        if (core_.role == SocketRole::Server && !slot.loggedOn &&
            int32_t(now - slot.connectionTime) > int32_t(kLogonTimeoutMs)) {
            core_.Log("Kicking %s because they didn't logon to the game.", slot.playerId.ToString(false));
            sender_.NotifyAndClose(index, 0, timeUs);
            return;
        }
        if (TimeBefore(slot.nextPingTime, now) &&
            (core_.pingPeriodically.load() || slot.lowestPing == kNoPing)) {
            slot.nextPingTime = now + kPingIntervalMs;
            sender_.Ping(index, timeUs);
        }
    }

    OwnedPayload message;
    while (channel.ReceiveMessage(message)) {
        if (core_.compression.DecompressesInput()) message = core_.compression.Decompress(message);
        if (message.Empty()) continue;
        if (!HandleMessage(index, std::move(message), now, timeUs)) return;
    }
    NoteSlotIdleUntil(index, now, timeUs);
}

}  // namespace velt
