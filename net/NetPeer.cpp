// The peer's face: life cycle, sends, closes, receive, calls and the ping getters.

#include "net/NetPeer.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <system_error>
#include <vector>

#include "common/LittleEndian.h"
#include "net/MessageIdentifiers.h"

namespace velt {

namespace {

// Resolves a host the way connects and pings do: text starting with a digit 0-2 is taken as a
// dotted address, anything else is looked up.
bool ResolveHost(const char* host, uint16_t port, PlayerID& out, char* text, size_t textSize) {
    if (host == nullptr || host[0] == '\0') return false;
    const char* dotted = host;
    if (host[0] != '0' && host[0] != '1' && host[0] != '2') {
        dotted = SocketLayer::DomainNameToIP(host, text, textSize);
        if (dotted == nullptr) return false;
    } else {
        std::snprintf(text, textSize, "%s", host);
    }
    in_addr a{};
    if (inet_pton(AF_INET, dotted, &a) != 1) return false;
    out = PlayerID{a.s_addr, port};
    return true;
}

}  // namespace

NetPeer::NetPeer(SocketRole role) : core_(role, nullptr, this) {
    core_.endpoint.SetSink(&pass_);
    admission_.Bans().SetClock(core_.clock);
}

NetPeer::~NetPeer() {
    admission_.Bans().Clear();
    Disconnect(0, 0);
}

void NetPeer::SetClock(const PeerClock* clock) {
    core_.clock = clock != nullptr ? clock : &core_.systemClock;
    admission_.Bans().SetClock(core_.clock);
}

void NetPeer::SetTransportSettings(const TransportSettings* settings) {
    core_.transportSettings = settings != nullptr ? settings : &TransportSettings::Defaults();
}

void NetPeer::SetLogHook(WireLogFn log) {
    MutexLock lock(core_.slots.peerLock);
    core_.SetLog(log);
    for (uint32_t i = 0; i < core_.slots.Count(); ++i) core_.slots.ChannelOf(i).SetLog(log);
}

void NetPeer::SetRawSendTap(RawSendTap tap, void* context) {
    core_.rawSendTap = tap;
    core_.rawSendTapContext = context;
}

// ---- start and stop ------------------------------------------------------------------------------

bool NetPeer::Initialize(uint16_t maxConnections, uint16_t localPort, int32_t threadSleepTimer,
                         const char* forceHostAddress) {
    if (IsActive() || maxConnections == 0) return false;

    uint16_t boundPort = localPort;
    if (core_.socket == -1 && !socketless_) {
        core_.socket = SocketLayer::CreateBoundSocket(localPort, false, forceHostAddress, core_.role);
        if (core_.socket == -1) return false;
        SizeSocketBuffers(maxConnections);
    }
    if (core_.socket != -1) {
        const uint16_t actual = SocketLayer::GetLocalPort(core_.socket);
        if (actual != 0) boundPort = actual;
    }

    {
        MutexLock lock(core_.slots.peerLock);
        if (core_.slots.Count() == 0) {
            if (core_.maximumIncomingConnections.load() > maxConnections)
                core_.maximumIncomingConnections.store(maxConnections);
            ChannelSetup setup;
            setup.role = core_.ChannelRole();
            setup.nowUs = core_.clock->NowUs();
            setup.settings = core_.transportSettings;
            setup.log = core_.LogHook();
            core_.slots.Create(maxConnections, setup);
            if (simulatorMaxBps_ != 0 || simulatorMinExtraPing_ != 0 || simulatorExtraPingVariance_ != 0)
                for (uint32_t i = 0; i < maxConnections; ++i)
                    core_.slots.ChannelOf(i).ApplyNetworkSimulator(simulatorMaxBps_, simulatorMinExtraPing_,
                                                                   simulatorExtraPingVariance_);
            core_.incoming.SizeShares(maxConnections);
        }
        core_.compression.Reset();
    }

    threadSleepTimer_ = threadSleepTimer;
    ClearQueues();

    SocketLayer::GetMyIP(localIps_);
    const char* ownAddress =
        forceHostAddress != nullptr && forceHostAddress[0] != '\0' ? forceHostAddress : localIps_[0];
    in_addr a{};
    core_.myPlayerId.binaryAddress = inet_pton(AF_INET, ownAddress, &a) == 1 ? a.s_addr : 0;
    core_.myPlayerId.port = boundPort;
    // Clients scramble with the port they see us on, so the key follows the bound port.
    if (core_.role == SocketRole::Server) core_.endpoint.SetKey(boundPort);

    stopRequested_.store(0, std::memory_order_release);
    if (!manualCycle_) {
        try {
            networkThread_ = std::thread(&NetPeer::NetworkThreadMain, this);
        } catch (const std::system_error&) {
            Disconnect(0, 0);
            return false;
        }
        threadActive_.wait(0, std::memory_order_acquire);
    }

    for (PluginInterface* plugin : core_.plugins.All()) plugin->Started(this);
    return true;
}

void NetPeer::SizeSocketBuffers(uint16_t count) {
    // Every connection may have a datagram or two waiting each way between two passes: buffers
    // too small for a crowd joining at once make the system drop what the peer would answer.
    const uint32_t wanted = uint32_t(count) * kSocketBufferBytesPerSlot;
    for (const bool receive : {true, false}) {
        const uint32_t floor = receive ? SocketLayer::kReceiveBufferBytes : SocketLayer::kSendBufferBytes;
        if (wanted <= floor) continue;
        const uint32_t granted = SocketLayer::SetBufferBytes(core_.socket, receive, wanted);
        if (granted < wanted)
            core_.Log(
                "[warning] the system caps the socket's %s buffer at %u bytes (%u wanted for %u "
                "connections); "
                "raise net.core.%s",
                receive ? "receive" : "send", granted, wanted, unsigned(count),
                receive ? "rmem_max" : "wmem_max");
    }
}

void NetPeer::NetworkThreadMain() {
    threadActive_.store(1, std::memory_order_release);
    threadActive_.notify_all();
    while (stopRequested_.load(std::memory_order_acquire) == 0) {
        pass_.Run();
        pass_.WaitForWork(threadSleepTimer_);
    }
    threadActive_.store(0, std::memory_order_release);
}

void NetPeer::Disconnect(uint32_t blockDuration, uint8_t orderingChannel) {
    if (blockDuration != 0 && core_.slots.Count() != 0 && IsActive()) {
        std::vector<PlayerID> targets;
        {
            MutexLock lock(core_.slots.peerLock);
            for (uint32_t i = 0; i < core_.slots.Count(); ++i)
                if (core_.slots.At(i).isActive) targets.push_back(core_.slots.At(i).playerId);
        }
        for (const PlayerID& target : targets) NotifyAndClose(target, false, orderingChannel);

        // Real time, not the peer's clock: a test clock that stands still must not hang us.
        const NetTime start = GetTimeMs();
        for (;;) {
            bool anyActive = false;
            for (uint32_t i = 0; i < core_.slots.Count() && !anyActive; ++i)
                anyActive = core_.slots.IsActive(i);
            if (!anyActive || GetTimeMs() - start >= blockDuration) break;
            if (manualCycle_) RunCycle();
            SleepMs(15);
        }
    }

    for (PluginInterface* plugin : core_.plugins.All()) plugin->Disconnecting(this);

    stopRequested_.store(1, std::memory_order_release);
    wakeup_.Notify();
    if (networkThread_.joinable()) networkThread_.join();
    threadActive_.store(0, std::memory_order_release);

    {
        MutexLock lock(core_.slots.peerLock);
        core_.slots.Destroy(core_.clock->NowUs());
    }

    while (!userPackets_.IsEmpty()) velt::FreePacket(userPackets_.Pop());
    userPackets_.Clear();
    ClearQueues();
    core_.incoming.SizeShares(0);

    if (core_.socket != -1) {
        ::close(core_.socket);
        core_.socket = -1;
    }
}

void NetPeer::ClearQueues() {
    // Only while no network thread runs: this thread then stands for both sides of each queue.
    commands_.Clear();
    outgoing_.Clear();
    core_.incoming.Clear();
    pass_.Clear();
}

// ---- slots ---------------------------------------------------------------------------------------

ConnectedSystem* NetPeer::GetConnectedSystem(PlayerID playerId, bool onlyActive) {
    MutexLock lock(core_.slots.peerLock);
    const int32_t index = FindSlot(playerId, onlyActive);
    return index < 0 ? nullptr : &core_.slots.At(uint32_t(index));
}

bool NetPeer::GetConnectionList(PlayerID* remoteSystems, uint16_t* numberOfSystems) const {
    if (numberOfSystems == nullptr) return false;
    MutexLock lock(core_.slots.peerLock);
    if (core_.slots.Count() == 0) {
        *numberOfSystems = 0;
        return false;
    }
    uint16_t count = 0;
    for (uint32_t i = 0; i < core_.slots.Count(); ++i) {
        const ConnectedSystem& s = core_.slots.At(i);
        if (!s.isActive || s.connectMode != CM_CONNECTED) continue;
        if (remoteSystems != nullptr && count < *numberOfSystems) remoteSystems[count] = s.playerId;
        ++count;
    }
    *numberOfSystems = count;
    return true;
}

int32_t NetPeer::GetIndexFromPlayerID(PlayerID playerId) const {
    MutexLock lock(core_.slots.peerLock);
    return FindSlot(playerId, true);
}

PlayerID NetPeer::GetPlayerIDFromIndex(int32_t index) const {
    MutexLock lock(core_.slots.peerLock);
    if (index < 0 || index >= int32_t(core_.slots.Count())) return UNASSIGNED_PLAYER_ID;
    const ConnectedSystem& s = core_.slots.At(uint32_t(index));
    if (!s.isActive || s.connectMode != CM_CONNECTED) return UNASSIGNED_PLAYER_ID;
    return s.playerId;
}

PlayerID NetPeer::GetSlotPlayerID(int32_t index) const {
    MutexLock lock(core_.slots.peerLock);
    if (index < 0 || index >= int32_t(core_.slots.Count())) return UNASSIGNED_PLAYER_ID;
    return core_.slots.At(uint32_t(index)).playerId;
}

uint16_t NetPeer::GetMaximumNumberOfPeers() const { return core_.slots.Count(); }

// ---- sending -------------------------------------------------------------------------------------

bool NetPeer::SendNow(const uint8_t* data, uint32_t bitLength, PacketPriority priority,
                      MessageReliability reliability, uint8_t orderingChannel, PlayerID target,
                      bool broadcast) {
    if (data == nullptr || bitLength == 0 || !IsActive()) return false;
    if (!broadcast && target == UNASSIGNED_PLAYER_ID) return false;
    const Delivery delivery{priority, reliability, orderingChannel};
    bool sent = false;
    {
        MutexLock lock(core_.slots.peerLock);
        const uint64_t timeUs = core_.clock->NowUs();
        sent = broadcast ? sender_.Broadcast(target, -1, OwnedPayload::CopyOf(data, bitLength), delivery,
                                             timeUs) != 0
                         : sender_.SendTo(target, data, bitLength, delivery, timeUs);
    }
    // The channels have it now; the network thread puts it on the wire.
    if (sent) wakeup_.Notify();
    return sent;
}

bool NetPeer::QueueSend(const uint8_t* data, uint32_t bitLength, const Delivery& delivery, PlayerID target,
                        bool broadcast) {
    if (!CanQueue()) return false;
    if (!broadcast && target == UNASSIGNED_PLAYER_ID) return false;
    if (router_ != nullptr && !broadcast && GetIndexFromPlayerID(target) < 0)
        return router_->Send(data, bitLength, delivery.priority, delivery.reliability,
                             delivery.orderingChannel, target);
    if (broadcast)
        commands_.Broadcast(target, -1, OwnedPayload::CopyOf(data, bitLength), delivery);
    else
        commands_.Send(target, OwnedPayload::CopyOf(data, bitLength), delivery, CM_NONE);
    return true;
}

bool NetPeer::SendBytes(const uint8_t* data, int32_t length, PacketPriority priority,
                        MessageReliability reliability, uint8_t orderingChannel, PlayerID target,
                        bool broadcast) {
    if (data == nullptr || length <= 0 || uint32_t(length) > BitStream::kMaxBytes) return false;
    return QueueSend(data, uint32_t(length) * 8u, Delivery{priority, reliability, orderingChannel}, target,
                     broadcast);
}

bool NetPeer::Send(const BitStream* bitStream, PacketPriority priority, MessageReliability reliability,
                   uint8_t orderingChannel, PlayerID target, bool broadcast) {
    if (bitStream == nullptr || bitStream->GetNumberOfBytesUsed() < 1) return false;
    return QueueSend(bitStream->GetData(), uint32_t(bitStream->GetNumberOfBitsUsed()),
                     Delivery{priority, reliability, orderingChannel}, target, broadcast);
}

// ---- to slots by index ----------------------------------------------------------------------------

bool NetPeer::QueueToSlots(std::span<const uint16_t> slots, OwnedPayload&& payload,
                           const Delivery& delivery) {
    if (payload.Empty() || !CanQueue()) return false;
    // Without the lock: the network thread checks each slot again, and sends only if it still
    // holds the connection read here.
    slotRefs_.clear();
    const SlotTable& table = core_.slots;
    for (const uint16_t slot : slots) {
        if (slot >= table.Count()) continue;
        const uint32_t generation = table.Generation(slot);
        if (table.IsActive(slot) && table.ModeOf(slot) == CM_CONNECTED)
            slotRefs_.push_back({slot, generation});
    }
    if (slotRefs_.empty()) return false;
    commands_.SendToSlots(slotRefs_, std::move(payload), delivery);
    return true;
}

bool NetPeer::SendToSlot(uint16_t slot, const BitStream& message, const Delivery& delivery) {
    return SendToSlots({&slot, 1}, message, delivery);
}

bool NetPeer::SendToSlots(std::span<const uint16_t> slots, const BitStream& message,
                          const Delivery& delivery) {
    if (message.GetNumberOfBytesUsed() < 1) return false;
    return QueueToSlots(
        slots, OwnedPayload::CopyOf(message.GetData(), uint32_t(message.GetNumberOfBitsUsed())), delivery);
}

bool NetPeer::Broadcast(const BitStream& message, const Delivery& delivery, int32_t exceptSlot) {
    if (message.GetNumberOfBytesUsed() < 1 || !CanQueue()) return false;
    commands_.Broadcast(UNASSIGNED_PLAYER_ID, exceptSlot,
                        OwnedPayload::CopyOf(message.GetData(), uint32_t(message.GetNumberOfBitsUsed())),
                        delivery);
    return true;
}

bool NetPeer::RpcToSlot(uint8_t rpcId, const BitStream* parameters, uint16_t slot, const Delivery& delivery) {
    return RpcToSlots(rpcId, parameters, {&slot, 1}, delivery);
}

bool NetPeer::RpcToSlots(uint8_t rpcId, const BitStream* parameters, std::span<const uint16_t> slots,
                         const Delivery& delivery) {
    const uint8_t* data = parameters != nullptr ? parameters->GetData() : nullptr;
    const uint32_t bits = parameters != nullptr ? uint32_t(parameters->GetNumberOfBitsUsed()) : 0u;
    if (bits > uint32_t(BitStream::kMaxBits) - 128u) return false;
    BitStream message;
    WriteRpcMessage(message, rpcId, data, bits, false, 0);
    return QueueToSlots(
        slots, OwnedPayload::CopyOf(message.GetData(), uint32_t(message.GetNumberOfBitsUsed())), delivery);
}

void NetPeer::KickSlot(uint16_t slot) {
    if (!CanQueue() || slot >= core_.slots.Count()) return;
    {
        MutexLock lock(core_.slots.peerLock);
        sender_.NotifyAndClose(slot, 0, core_.clock->NowUs());
    }
    wakeup_.Notify();
}

// ---- closing -------------------------------------------------------------------------------------

void NetPeer::CloseConnection(PlayerID target, bool sendDisconnectionNotification, uint8_t orderingChannel) {
    if (target == UNASSIGNED_PLAYER_ID || !CanQueue()) return;
    if (sendDisconnectionNotification) {
        NotifyAndClose(target, false, orderingChannel);
        return;
    }
    commands_.Close(target);
}

void NetPeer::NotifyAndClose(PlayerID target, bool immediate, uint8_t orderingChannel) {
    if (target == UNASSIGNED_PLAYER_ID || !CanQueue()) return;
    if (immediate) {
        {
            MutexLock lock(core_.slots.peerLock);
            const int32_t index = core_.slots.Find(target);
            if (index < 0) return;
            sender_.NotifyAndClose(uint32_t(index), orderingChannel, core_.clock->NowUs());
        }
        wakeup_.Notify();
        return;
    }
    const uint8_t notice = ID_CONN_CLOSED;
    commands_.Send(target, OwnedPayload::CopyOf(&notice, 8),
                   Delivery{HIGH_PRIORITY_LEVEL, RELIABILITY_UNRELIABLE, orderingChannel},
                   CM_DISCONNECT_ASAP);
}

// ---- receiving -----------------------------------------------------------------------------------

Packet* NetPeer::ReceiveInternal() {
    if (!IsActive()) return nullptr;
    for (PluginInterface* plugin : core_.plugins.All()) plugin->Update(this);

    // One message at a time: the Packets of a busy pass made all at once would outrun the
    // allocator's per-thread cache, and each would take its slow path twice, here and in the
    // user's free.
    for (;;) {
        Packet* packet = !userPackets_.IsEmpty() ? userPackets_.Pop() : core_.incoming.Take();
        if (packet == nullptr) break;
        if (HasTimestampPrefix(packet->data, packet->length)) ShiftIncomingTimestamp(packet);
        if (packet->length != 0 && packet->data[0] == ID_RPC_REPLY) {
            velt::FreePacket(packet);
            continue;
        }
        bool passed = true;
        for (PluginInterface* plugin : core_.plugins.All()) {
            const PluginReceiveResult r = plugin->Received(this, packet);
            if (r == PRR_DEALLOCATE) {
                velt::FreePacket(packet);
                passed = false;
                break;
            }
            if (r == PRR_KEEP) {
                passed = false;
                break;
            }
        }
        if (passed) return packet;
    }
    return nullptr;
}

Packet* NetPeer::Receive() {
    for (;;) {
        Packet* packet = ReceiveInternal();
        if (packet == nullptr) return nullptr;
        if (!IsRpcMessage(packet->data, packet->length)) return packet;
        if (packet->sender != UNASSIGNED_PLAYER_ID)
            CountRpcFailure(
                DispatchRpcMessage(rpcTable_, packet->data, packet->length, packet->sender, this));
        velt::FreePacket(packet);
    }
}

void NetPeer::PushBackPacket(Packet* packet, bool pushAtHead) {
    if (packet == nullptr) return;
    if (pushAtHead) {
        userPackets_.PushAtHead(packet);
        return;
    }
    // Receive takes messages from the network thread one at a time; the tail is behind every
    // message received so far, so those go first.
    while (Packet* received = core_.incoming.Take()) userPackets_.Push(received);
    userPackets_.Push(packet);
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
    MutexLock lock(core_.slots.peerLock);
    core_.CountRejected(kind);
}

// ---- remote procedure calls ----------------------------------------------------------------------

void NetPeer::RegisterRpc(const uint8_t* uniqueId, RpcHandler handler) {
    if (uniqueId == nullptr) return;
    rpcTable_.Register(*uniqueId, handler, false);
}

void NetPeer::RegisterRpcMember(const uint8_t* uniqueId, RpcHandler handler) {
    if (uniqueId == nullptr) return;
    rpcTable_.Register(*uniqueId, handler, true);
}

bool NetPeer::RpcBytes(const uint8_t* uniqueId, const uint8_t* data, uint32_t bitLength,
                       PacketPriority priority, MessageReliability reliability, uint8_t orderingChannel,
                       PlayerID target, bool broadcast, bool shiftTimestamp, NetworkID networkId,
                       BitStream* replyFromTarget) {
    (void)networkId;
    (void)replyFromTarget;
    if (uniqueId == nullptr || (bitLength != 0 && data == nullptr)) return false;
    if (bitLength > uint32_t(BitStream::kMaxBits) - 128u) return false;
    if (!CanQueue()) return false;

    std::vector<PlayerID> targets;
    bool routed = false;
    {
        MutexLock lock(core_.slots.peerLock);
        if (broadcast) {
            // Calls, like any game data, go only to fully connected systems.
            for (uint32_t i = 0; i < core_.slots.Count(); ++i) {
                const ConnectedSystem& s = core_.slots.At(i);
                if (s.isActive && s.connectMode == CM_CONNECTED && s.playerId != target)
                    targets.push_back(s.playerId);
            }
        } else {
            const int32_t index = FindSlot(target, true);
            if (index >= 0 && sender_.Sendable(uint32_t(index)))
                targets.push_back(target);
            else if (router_ != nullptr)
                routed = true;
        }
    }
    if (routed) {
        BitStream message;
        WriteRpcMessage(message, *uniqueId, data, bitLength, shiftTimestamp, core_.NowMs());
        return router_->Send(message.GetData(), uint32_t(message.GetNumberOfBitsUsed()), priority,
                             reliability, orderingChannel, target);
    }
    if (targets.empty()) return false;

    const Delivery delivery{priority, reliability, orderingChannel};
    for (const PlayerID& to : targets) {
        BitStream message;
        WriteRpcMessage(message, *uniqueId, data, bitLength, shiftTimestamp, core_.NowMs());
        commands_.Send(to, OwnedPayload::CopyOf(message.GetData(), uint32_t(message.GetNumberOfBitsUsed())),
                       delivery, CM_NONE);
    }
    return true;
}

bool NetPeer::Rpc(const uint8_t* uniqueId, const BitStream* parameters, PacketPriority priority,
                  MessageReliability reliability, uint8_t orderingChannel, PlayerID target, bool broadcast,
                  bool shiftTimestamp, NetworkID networkId, BitStream* replyFromTarget) {
    const uint8_t* data = parameters != nullptr ? parameters->GetData() : nullptr;
    const uint32_t bits = parameters != nullptr ? uint32_t(parameters->GetNumberOfBitsUsed()) : 0u;
    return RpcBytes(uniqueId, data, bits, priority, reliability, orderingChannel, target, broadcast,
                    shiftTimestamp, networkId, replyFromTarget);
}

bool NetPeer::RpcNow(const uint8_t* uniqueId, const uint8_t* data, uint32_t bitLength,
                     PacketPriority priority, MessageReliability reliability, uint8_t orderingChannel,
                     PlayerID target, bool shiftTimestamp) {
    if (uniqueId == nullptr || (bitLength != 0 && data == nullptr)) return false;
    if (bitLength > uint32_t(BitStream::kMaxBits) - 128u) return false;
    if (!CanQueue()) return false;
    const uint64_t timeUs = core_.clock->NowUs();
    BitStream message;
    WriteRpcMessage(message, *uniqueId, data, bitLength, shiftTimestamp, NetTime(timeUs / 1000u));
    bool sent = false;
    {
        MutexLock lock(core_.slots.peerLock);
        sent = sender_.SendTo(target, message.GetData(), uint32_t(message.GetNumberOfBitsUsed()),
                              Delivery{priority, reliability, orderingChannel}, timeUs);
    }
    if (sent) wakeup_.Notify();
    return sent;
}

// ---- pings ---------------------------------------------------------------------------------------

void NetPeer::PingNow(PlayerID target) {
    if (!IsActive()) return;
    {
        MutexLock lock(core_.slots.peerLock);
        const int32_t index = core_.slots.Find(target);
        if (index < 0) return;
        sender_.Ping(uint32_t(index), core_.clock->NowUs());
    }
    wakeup_.Notify();
}

void NetPeer::Ping(PlayerID target) {
    uint8_t ping[5];
    ping[0] = ID_INTERNAL_PING;
    WriteU32(ping + 1, core_.NowMs());
    SendBytes(ping, sizeof ping, SYSTEM_PRIORITY_LEVEL, RELIABILITY_UNRELIABLE, 0, target, false);
}

void NetPeer::Ping(const char* host, uint16_t remotePort, bool onlyReplyOnAcceptingConnections) {
    if (!IsActive()) return;
    PlayerID target{};
    char text[16];
    if (!ResolveHost(host, remotePort, target, text, sizeof text)) return;
    uint8_t message[5];
    message[0] = onlyReplyOnAcceptingConnections ? ID_UNCONNECTED_PING_OPEN : ID_UNCONNECTED_PING;
    WriteU32(message + 1, core_.NowMs());
    core_.SendRawShown(target, message, sizeof message);
}

int32_t NetPeer::GetAveragePing(PlayerID target) const {
    MutexLock lock(core_.slots.peerLock);
    const int32_t index = FindSlot(target, false);
    if (index < 0) return -1;
    const ConnectedSystem& slot = core_.slots.At(uint32_t(index));
    int32_t sum = 0;
    int32_t count = 0;
    for (; count < kPingHistorySize && slot.pingHistory[count].pingTime != kNoPing; ++count)
        sum += slot.pingHistory[count].pingTime;
    return count == 0 ? -1 : sum / count;
}

int32_t NetPeer::GetLastPing(PlayerID target) const {
    MutexLock lock(core_.slots.peerLock);
    const int32_t index = FindSlot(target, false);
    if (index < 0) return -1;
    const ConnectedSystem& slot = core_.slots.At(uint32_t(index));
    const int32_t last = slot.pingWriteIndex == 0 ? kPingHistorySize - 1 : slot.pingWriteIndex - 1;
    return slot.pingHistory[last].pingTime;
}

int32_t NetPeer::GetLowestPing(PlayerID target) const {
    MutexLock lock(core_.slots.peerLock);
    const int32_t index = FindSlot(target, false);
    if (index < 0) return -1;
    return core_.slots.At(uint32_t(index)).lowestPing;
}

int32_t NetPeer::GetBestClockDifferential(PlayerID target) const {
    MutexLock lock(core_.slots.peerLock);
    const int32_t index = FindSlot(target, false);
    return index < 0 ? 0 : BestClockDifferential(core_.slots.At(uint32_t(index)));
}

uint32_t NetPeer::GetClockDifferentialTime(PlayerID target, uint32_t remoteTime) const {
    return remoteTime - uint32_t(GetBestClockDifferential(target));
}

void NetPeer::ShiftIncomingTimestamp(Packet* packet) const {
    const uint32_t remote = ReadU32(packet->data + 1);
    WriteU32(packet->data + 1, remote - uint32_t(GetBestClockDifferential(packet->sender)));
}

// ---- the connecting side -------------------------------------------------------------------------

bool NetPeer::Connect(const char* host, uint16_t remotePort, const char* passwordData,
                      int32_t passwordDataLength) {
    if (host == nullptr || !IsActive() || (core_.socket == -1 && !socketless_)) return false;
    uint32_t passwordLength = 0;
    if (passwordData != nullptr && passwordDataLength > 0) passwordLength = uint32_t(passwordDataLength);

    PlayerID target{};
    char text[16];
    if (!ResolveHost(host, remotePort, target, text, sizeof text)) return false;
    if ((std::strcmp(text, "127.0.0.1") == 0 || std::strcmp(text, "0.0.0.0") == 0) &&
        remotePort == core_.myPlayerId.port)
        return false;
    {
        MutexLock lock(core_.slots.peerLock);
        if (core_.slots.Find(target) >= 0) return false;
    }
    outgoing_.Request(target, passwordData, passwordLength, core_.NowMs());
    wakeup_.Notify();
    return true;
}

bool NetPeer::InitializeSecurity(const uint8_t* publicKeyE, const uint8_t* publicKeyN,
                                 const uint8_t* privateKeyP, const uint8_t* privateKeyQ) {
    // The network thread reads the key material without a lock.
    if (IsActive()) return false;
    return admission_.Security().Initialize(publicKeyE, publicKeyN, privateKeyP, privateKeyQ);
}

void NetPeer::DisableSecurity() {
    if (!IsActive()) admission_.Security().Disable();
}

void NetPeer::AdvertiseSystem(const char* host, uint16_t remotePort, const uint8_t* data,
                              int32_t dataLength) {
    if (!IsActive() || dataLength < 0 || uint32_t(dataLength) > kMaxAdvertiseBytes) return;
    if (dataLength > 0 && data == nullptr) return;
    PlayerID target{};
    char text[16];
    if (!ResolveHost(host, remotePort, target, text, sizeof text)) return;
    uint8_t message[1 + kMaxAdvertiseBytes];
    message[0] = ID_ADVERTISE;
    uint32_t length = 2;
    if (dataLength == 0) {
        message[1] = 0;
    } else {
        std::memcpy(message + 1, data, uint32_t(dataLength));
        length = 1u + uint32_t(dataLength);
    }
    core_.SendRawShown(target, message, length);
}

}  // namespace velt
