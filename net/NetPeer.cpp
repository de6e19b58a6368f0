#include "net/NetPeer.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <system_error>

#include "net/MessageIdentifiers.h"

namespace velt {

namespace {

using Lock = std::lock_guard<SimpleMutex>;

bool IsReliable(MessageReliability r) {
    return r == RELIABILITY_RELIABLE || r == RELIABILITY_RELIABLE_ORDERED ||
           r == RELIABILITY_RELIABLE_SEQUENCED;
}

bool IsDisconnecting(int32_t mode) {
    return mode == CM_DISCONNECT_ASAP || mode == CM_DISCONNECT_ASAP_SILENTLY ||
           mode == CM_DISCONNECT_ON_NO_ACK;
}

}  // namespace

NetPeer::NetPeer(SocketRole role)
    : role_(role),
      clock_(&systemClock_),
      transportSettings_(&TransportSettings::Defaults()),
      endpoint_(role, this) {
    banList_.SetClock(clock_);
}

NetPeer::~NetPeer() {
    banList_.Clear();
    Disconnect(0, 0);
}

void NetPeer::SetTransportSettings(const TransportSettings* settings) {
    transportSettings_ = settings != nullptr ? settings : &TransportSettings::Defaults();
}

void NetPeer::SetLogHook(WireLogFn log) {
    Lock lock(peerLock_);
    log_ = log;
    for (uint32_t i = 0; i < maximumNumberOfPeers_; ++i) remoteSystemList_[i].channel->SetLog(log);
}

void NetPeer::SetRawSendTap(RawSendTap tap, void* context) {
    rawSendTap_ = tap;
    rawSendTapContext_ = context;
}

uint32_t NetPeer::PlayerTimeoutMs() const {
    const int32_t ms = transportSettings_->GetPlayerTimeout();
    return ms < 0 ? 0u : uint32_t(ms);
}

void NetPeer::Log(const char* format, ...) const {
    if (log_ == nullptr) return;
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    log_("%s", line);
}

// ---- start and stop ------------------------------------------------------------------------------

bool NetPeer::Initialize(uint16_t maxConnections, uint16_t localPort, int32_t threadSleepTimer,
                         const char* forceHostAddress) {
    if (IsActive() || maxConnections == 0) return false;

    uint16_t boundPort = localPort;
    if (socket_ == -1 && !socketless_) {
        socket_ = SocketLayer::CreateBoundSocket(localPort, false, forceHostAddress, role_);
        if (socket_ == -1) return false;
    }
    if (socket_ != -1) {
        const uint16_t actual = SocketLayer::GetLocalPort(socket_);
        if (actual != 0) boundPort = actual;
    }

    {
        Lock lock(peerLock_);
        if (!remoteSystemList_) {
            if (maximumIncomingConnections_.load() > maxConnections)
                maximumIncomingConnections_.store(maxConnections);
            const uint64_t nowUs = clock_->NowUs();
            remoteSystemList_ = std::make_unique<ConnectedSystem[]>(maxConnections);
            slotIdleUntil_ = std::make_unique<std::atomic<uint64_t>[]>(maxConnections);
            slotIdleFrom_ = std::make_unique<std::atomic<uint64_t>[]>(maxConnections);
            channelOf_ = std::make_unique<ReliabilityChannel*[]>(maxConnections);
            queuedBytes_ = std::make_unique<std::atomic<uint32_t>[]>(maxConnections);
            for (uint32_t i = 0; i < maxConnections; ++i) {
                auto channel =
                    std::make_unique<ReliabilityChannel>(ChannelRole(), nowUs, *transportSettings_, log_);
                if (IsNetworkSimulatorActive())
                    channel->ApplyNetworkSimulator(simulatorMaxBps_, simulatorMinExtraPing_,
                                                   simulatorExtraPingVariance_);
                channel->SetWakeMirror(&slotIdleUntil_[i]);
                channelOf_[i] = channel.get();
                remoteSystemList_[i].channel = std::move(channel);
                MarkSlotUnused(i);
            }
            maximumNumberOfPeers_ = maxConnections;
            remoteSystemLookup_.Reset(maxConnections);
            ForgetLookupAnswers();
        }
        std::memset(frequencyTable_, 0, sizeof frequencyTable_);
        rawBytesSent_ = compressedBytesSent_ = 0;
        compressedBytesReceived_ = uncompressedBytesReceived_ = 0;
    }

    threadSleepTimer_ = threadSleepTimer;
    ClearQueues();

    SocketLayer::GetMyIP(localIps_);
    const char* ownAddress =
        forceHostAddress != nullptr && forceHostAddress[0] != '\0' ? forceHostAddress : localIps_[0];
    in_addr a{};
    myPlayerId_.binaryAddress = inet_pton(AF_INET, ownAddress, &a) == 1 ? a.s_addr : 0;
    myPlayerId_.port = boundPort;
    // Clients scramble with the port they see us on, so the key follows the bound port.
    if (role_ == SocketRole::Server) endpoint_.SetKey(boundPort);

    stopRequested_.store(0, std::memory_order_release);
    if (!manualCycle_) {
        try {
            networkThread_ = std::thread(&NetPeer::NetworkThreadMain, this);
        } catch (const std::system_error&) {
            Disconnect(0, 0);
            return false;
        }
        while (threadActive_.load(std::memory_order_acquire) == 0) SleepMs(10);
    }

    for (PluginInterface* plugin : plugins_) plugin->Started(this);
    return true;
}

void NetPeer::NetworkThreadMain() {
    threadActive_.store(1, std::memory_order_release);
    while (stopRequested_.load(std::memory_order_acquire) == 0) {
        RunCycle();
        if (threadSleepTimer_ >= 0) SleepMs(uint32_t(threadSleepTimer_));
    }
    threadActive_.store(0, std::memory_order_release);
}

void NetPeer::Disconnect(uint32_t blockDuration, uint8_t orderingChannel) {
    if (blockDuration != 0 && remoteSystemList_ && IsActive()) {
        std::vector<PlayerID> targets;
        {
            Lock lock(peerLock_);
            for (uint32_t i = 0; i < maximumNumberOfPeers_; ++i)
                if (remoteSystemList_[i].isActive) targets.push_back(remoteSystemList_[i].playerId);
        }
        for (const PlayerID& target : targets) NotifyAndClose(target, false, orderingChannel);

        // Real time, not the peer's clock: a test clock that stands still must not hang us.
        const NetTime start = GetTimeMs();
        for (;;) {
            bool anyActive = false;
            for (uint32_t i = 0; i < maximumNumberOfPeers_ && !anyActive; ++i)
                anyActive = remoteSystemList_[i].isActive != 0;
            if (!anyActive || GetTimeMs() - start >= blockDuration) break;
            if (manualCycle_) RunCycle();
            SleepMs(15);
        }
    }

    for (PluginInterface* plugin : plugins_) plugin->Disconnecting(this);

    stopRequested_.store(1, std::memory_order_release);
    if (networkThread_.joinable()) networkThread_.join();
    threadActive_.store(0, std::memory_order_release);

    {
        Lock lock(peerLock_);
        const uint64_t nowUs = clock_->NowUs();
        for (uint32_t i = 0; i < maximumNumberOfPeers_; ++i) {
            ConnectedSystem& slot = remoteSystemList_[i];
            slot.isActive = 0;
            slot.connectMode = CM_NONE;
            slot.channel->Reset(nowUs);
        }
        remoteSystemLookup_.Reset(0);
        ForgetLookupAnswers();
        maximumNumberOfPeers_ = 0;
        channelOf_.reset();
        queuedBytes_.reset();
        remoteSystemList_.reset();
        slotIdleUntil_.reset();
        slotIdleFrom_.reset();
    }

    while (!userPackets_.IsEmpty()) velt::FreePacket(userPackets_.Pop());
    userPackets_.Clear();
    ClearQueues();

    if (socket_ != -1) {
        ::close(socket_);
        socket_ = -1;
    }
}

void NetPeer::ClearQueues() {
    // Only while no network thread runs: this thread then stands for both sides of each queue.
    while (BufferedCommand* c = bufferedCommands_.ReadLock()) {
        delete[] c->data;
        c->data = nullptr;
        bufferedCommands_.ReadUnlock();
    }
    bufferedCommands_.Clear();
    requestedConnections_.Clear();
    while (IncomingPacket* p = incomingPackets_.ReadLock()) {
        velt::FreePacket(p->packet);
        Discharge(*p);
        incomingPackets_.ReadUnlock();
    }
    incomingPackets_.Clear();
    unconnectedQueued_.store(0);
    queuedTotal_.store(0, std::memory_order_relaxed);
    gameBehindLogged_ = false;
    pendingConnects_.clear();
}

// ---- slots ---------------------------------------------------------------------------------------

ConnectedSystem* NetPeer::FindSlotNet(PlayerID playerId) {
    const int32_t index = FindIndexNet(playerId);
    return index < 0 ? nullptr : &remoteSystemList_[index];
}

int32_t NetPeer::FindIndexNet(PlayerID playerId) const {
    if (playerId == UNASSIGNED_PLAYER_ID || !remoteSystemList_) return -1;
    for (const LookupAnswer& answer : lookupAnswers_)
        if (answer.sender == playerId) return answer.index;
    return remoteSystemLookup_.Find(playerId);
}

int32_t NetPeer::FindIndexUser(PlayerID playerId, bool onlyActive) const {
    if (playerId == UNASSIGNED_PLAYER_ID || !remoteSystemList_) return -1;
    for (uint32_t i = 0; i < maximumNumberOfPeers_; ++i)
        if (remoteSystemList_[i].isActive && remoteSystemList_[i].playerId == playerId) return int32_t(i);
    if (onlyActive) return -1;
    for (uint32_t i = 0; i < maximumNumberOfPeers_; ++i)
        if (remoteSystemList_[i].playerId == playerId) return int32_t(i);
    return -1;
}

int32_t NetPeer::SlotIndexOf(const ConnectedSystem* slot) const {
    return int32_t(slot - remoteSystemList_.get());
}

ConnectedSystem* NetPeer::AssignRemoteSystem(PlayerID playerId, int32_t connectMode, NetTime now,
                                             uint64_t nowUs) {
    for (uint32_t i = 0; i < maximumNumberOfPeers_; ++i) {
        ConnectedSystem& s = remoteSystemList_[i];
        if (s.isActive) continue;
        s.rpcTable.Clear();
        s.playerId = playerId;
        ReliabilityChannel& channel = *s.channel;
        channel.Reset(nowUs);
        // A reused slot must not keep a timeout an earlier connection was given.
        channel.SetTimeoutTime(PlayerTimeoutMs());
        channel.SetSplitMessageProgressInterval(splitMessageProgressInterval_);
        channel.SetUnreliableTimeout(unreliableTimeoutMs_);
        channel.SetEncryption(nullptr);
        for (PingAndClockDifferential& p : s.pingHistory) p = {kNoPing, 0};
        s.pingWriteIndex = 0;
        s.weInitiated = 0;
        s.lowestPing = kNoPing;
        // Due at once. (A zero here would stop counting as "before now" once the clock passes
        // 2^31 ms, and connections made after 24.8 days of uptime would never be pinged.)
        s.nextPingTime = now;
        s.staticData.Clear();
        s.hasLinkKey = 0;
        std::memset(s.linkKey, 0, sizeof s.linkKey);
        s.connectionTime = now;
        s.lastReliableSend = now;
        s.externalId = UNASSIGNED_PLAYER_ID;
        s.loggedOn = 0;
        s.connectMode = connectMode;
        MarkSlotDue(i);
        s.isActive = 1;
        remoteSystemLookup_.Insert(playerId, uint16_t(i));
        ForgetLookupAnswers();
        return &s;
    }
    return nullptr;
}

void NetPeer::CloseSlotLocked(uint32_t index) {
    ConnectedSystem& s = remoteSystemList_[index];
    if (!s.isActive) return;
    // What the connection refused outlives it in the peer's totals.
    const NetworkStatistics closing = s.channel->GetStatistics(true);
    for (int i = 0; i < kRejectedKinds; ++i) rejected_[i] += closing.rejected[i];
    s.channel->FlushRepeatedLines(s.playerId, clock_->NowUs(), true);
    s.queueOver = false;
    s.isActive = 0;
    s.connectMode = CM_NONE;
    for (PluginInterface* plugin : plugins_) plugin->ConnectionClosed(this, s.playerId);
    s.channel->Reset(clock_->NowUs());
    MarkSlotUnused(index);
    remoteSystemLookup_.Remove(s.playerId);
    ForgetLookupAnswers();
}

uint32_t NetPeer::CountConnectedIncomingLocked() const {
    uint32_t n = 0;
    for (uint32_t i = 0; i < maximumNumberOfPeers_; ++i) {
        const ConnectedSystem& s = remoteSystemList_[i];
        if (s.isActive && s.connectMode == CM_CONNECTED && !s.weInitiated) ++n;
    }
    return n;
}

ConnectedSystem* NetPeer::GetConnectedSystem(PlayerID playerId, bool onlyActive) {
    Lock lock(peerLock_);
    const int32_t index = FindIndexUser(playerId, onlyActive);
    return index < 0 ? nullptr : &remoteSystemList_[index];
}

bool NetPeer::GetConnectionList(PlayerID* remoteSystems, uint16_t* numberOfSystems) const {
    if (numberOfSystems == nullptr) return false;
    Lock lock(peerLock_);
    if (!remoteSystemList_) {
        *numberOfSystems = 0;
        return false;
    }
    uint16_t count = 0;
    for (uint32_t i = 0; i < maximumNumberOfPeers_; ++i) {
        const ConnectedSystem& s = remoteSystemList_[i];
        if (!s.isActive || s.connectMode != CM_CONNECTED) continue;
        if (remoteSystems != nullptr && count < *numberOfSystems) remoteSystems[count] = s.playerId;
        ++count;
    }
    *numberOfSystems = count;
    return true;
}

int32_t NetPeer::GetIndexFromPlayerID(PlayerID playerId) const {
    Lock lock(peerLock_);
    return FindIndexUser(playerId, true);
}

PlayerID NetPeer::GetPlayerIDFromIndex(int32_t index) const {
    Lock lock(peerLock_);
    if (!remoteSystemList_ || index < 0 || index >= int32_t(maximumNumberOfPeers_))
        return UNASSIGNED_PLAYER_ID;
    const ConnectedSystem& s = remoteSystemList_[index];
    if (!s.isActive || s.connectMode != CM_CONNECTED) return UNASSIGNED_PLAYER_ID;
    return s.playerId;
}

PlayerID NetPeer::GetSlotPlayerID(int32_t index) const {
    Lock lock(peerLock_);
    if (!remoteSystemList_ || index < 0 || index >= int32_t(maximumNumberOfPeers_))
        return UNASSIGNED_PLAYER_ID;
    return remoteSystemList_[index].playerId;
}

uint16_t NetPeer::GetMaximumNumberOfPeers() const { return maximumNumberOfPeers_; }

// ---- sending -------------------------------------------------------------------------------------

uint32_t NetPeer::SendImmediateLocked(uint8_t* data, uint32_t bitLength, PacketPriority priority,
                                      MessageReliability reliability, uint8_t orderingChannel,
                                      PlayerID target, bool broadcast, bool useCallerBuffer, bool& taken,
                                      uint64_t timeUs) {
    taken = false;
    if (!remoteSystemList_ || data == nullptr || bitLength == 0) return 0;

    uint16_t targets[64];
    std::vector<uint16_t> manyTargets;
    uint32_t count = 0;
    auto addTarget = [&](uint32_t index) {
        if (count < 64) {
            targets[count] = uint16_t(index);
        } else {
            if (manyTargets.empty()) manyTargets.assign(targets, targets + 64);
            manyTargets.push_back(uint16_t(index));
        }
        ++count;
    };
    if (broadcast) {
        // Game data goes only to systems that are fully connected: a slot still in the
        // handshake (or refused at the password) is nobody to send it to.
        for (uint32_t i = 0; i < maximumNumberOfPeers_; ++i) {
            const ConnectedSystem& s = remoteSystemList_[i];
            if (s.isActive && s.connectMode == CM_CONNECTED && s.playerId != target &&
                s.playerId != UNASSIGNED_PLAYER_ID)
                addTarget(i);
        }
    } else {
        const int32_t index = FindIndexNet(target);
        if (index >= 0 && !IsDisconnecting(remoteSystemList_[index].connectMode)) addTarget(uint32_t(index));
    }
    if (count == 0) return 0;

    const uint32_t byteLength = (bitLength + 7u) / 8u;
    uint8_t* payload = data;
    uint32_t payloadBits = bitLength;
    std::unique_ptr<uint8_t[]> compressed;
    if (outputTree_) {
        BitStream out;
        outputTree_->EncodeBytes(data, byteLength, out);
        payloadBits = uint32_t(out.GetNumberOfBitsUsed());
        uint8_t* copy = nullptr;
        out.CopyData(copy);
        compressed.reset(copy);
        payload = compressed.get();
        useCallerBuffer = false;
    }

    const NetTime nowMs = NetTime(timeUs / 1000u);
    uint32_t sent = 0;
    for (uint32_t k = 0; k < count; ++k) {
        const uint16_t index = count <= 64 ? targets[k] : manyTargets[k];
        ConnectedSystem& s = remoteSystemList_[index];
        if (trackFrequencyTable_) {
            for (uint32_t b = 0; b < byteLength; ++b) ++frequencyTable_[data[b]];
            rawBytesSent_ += byteLength;
        }
        if (outputTree_) compressedBytesSent_ += (payloadBits + 7u) / 8u;

        const bool adopt = useCallerBuffer && k + 1 == count;
        if (!s.channel->Send(payload, payloadBits, priority, reliability, orderingChannel, !adopt, mtuSize_,
                             timeUs))
            continue;
        if (adopt) taken = true;
        ++sent;
        if (IsReliable(reliability)) s.lastReliableSend = nowMs;
    }
    return sent;
}

bool NetPeer::SendBytesImmediateLocked(const uint8_t* data, uint32_t byteLength, PacketPriority priority,
                                       MessageReliability reliability, uint8_t orderingChannel,
                                       PlayerID target, uint64_t timeUs) {
    bool taken = false;
    return SendImmediateLocked(const_cast<uint8_t*>(data), byteLength * 8u, priority, reliability,
                               orderingChannel, target, false, false, taken, timeUs) != 0;
}

bool NetPeer::SendNow(const uint8_t* data, uint32_t bitLength, PacketPriority priority,
                      MessageReliability reliability, uint8_t orderingChannel, PlayerID target,
                      bool broadcast) {
    if (data == nullptr || bitLength == 0 || !IsActive()) return false;
    if (!broadcast && target == UNASSIGNED_PLAYER_ID) return false;
    Lock lock(peerLock_);
    bool taken = false;
    return SendImmediateLocked(const_cast<uint8_t*>(data), bitLength, priority, reliability, orderingChannel,
                               target, broadcast, false, taken, clock_->NowUs()) != 0;
}

bool NetPeer::QueueCommand(const BufferedCommand& command, const uint8_t* bytes, uint32_t byteLength) {
    BufferedCommand* c = bufferedCommands_.WriteLock();
    *c = command;
    c->data = nullptr;
    c->inlined = byteLength != 0 && byteLength <= kInlineCommandBytes;
    if (c->inlined) {
        std::memcpy(c->inlineData, bytes, byteLength);
    } else if (byteLength != 0) {
        c->data = new uint8_t[byteLength];
        std::memcpy(c->data, bytes, byteLength);
    }
    bufferedCommands_.WriteUnlock();
    return true;
}

bool NetPeer::SendBytes(const uint8_t* data, int32_t length, PacketPriority priority,
                        MessageReliability reliability, uint8_t orderingChannel, PlayerID target,
                        bool broadcast) {
    if (data == nullptr || length <= 0 || uint32_t(length) > BitStream::kMaxBytes) return false;
    if (!remoteSystemList_ || !IsActive()) return false;
    if (!broadcast && target == UNASSIGNED_PLAYER_ID) return false;
    if (router_ != nullptr && !broadcast && GetIndexFromPlayerID(target) < 0)
        return router_->Send(data, uint32_t(length) * 8u, priority, reliability, orderingChannel, target);

    BufferedCommand command{};
    command.kind = BufferedCommand::kSend;
    command.bitLength = uint32_t(length) * 8u;
    command.priority = priority;
    command.reliability = reliability;
    command.orderingChannel = orderingChannel;
    command.target = target;
    command.broadcast = broadcast;
    command.connectMode = CM_NONE;
    return QueueCommand(command, data, uint32_t(length));
}

bool NetPeer::Send(const BitStream* bitStream, PacketPriority priority, MessageReliability reliability,
                   uint8_t orderingChannel, PlayerID target, bool broadcast) {
    if (bitStream == nullptr || bitStream->GetNumberOfBytesUsed() < 1) return false;
    if (!remoteSystemList_ || !IsActive()) return false;
    if (!broadcast && target == UNASSIGNED_PLAYER_ID) return false;
    const uint32_t bits = uint32_t(bitStream->GetNumberOfBitsUsed());
    if (router_ != nullptr && !broadcast && GetIndexFromPlayerID(target) < 0)
        return router_->Send(bitStream->GetData(), bits, priority, reliability, orderingChannel, target);

    BufferedCommand command{};
    command.kind = BufferedCommand::kSend;
    command.bitLength = bits;
    command.priority = priority;
    command.reliability = reliability;
    command.orderingChannel = orderingChannel;
    command.target = target;
    command.broadcast = broadcast;
    command.connectMode = CM_NONE;
    return QueueCommand(command, bitStream->GetData(), uint32_t(bitStream->GetNumberOfBytesUsed()));
}

void NetPeer::SendRaw(PlayerID to, const uint8_t* data, uint32_t length) {
    if (rawSendTap_ != nullptr) rawSendTap_(rawSendTapContext_, to, data, length);
    if (socket_ != -1) SocketLayer::SendTo(socket_, data, length, to.binaryAddress, to.port, &endpoint_);
}

void NetPeer::SendRawBatched(PlayerID to, const uint8_t* data, uint32_t length) {
    // One connection sends a datagram or two per pass: nothing to gather.
    if (maximumNumberOfPeers_ <= 1) {
        SendRaw(to, data, length);
        return;
    }
    if (rawSendTap_ != nullptr) rawSendTap_(rawSendTapContext_, to, data, length);
    if (socket_ != -1) sendBatch_.Add(socket_, data, length, to.binaryAddress, to.port, &endpoint_);
}

bool NetPeer::IsSenderBanned(PlayerID sender) {
    if (banList_.IsEmpty()) return false;
    char ip[PlayerID::kStringSize];
    return banList_.IsBanned(sender.ToString(false, ip, sizeof ip));
}

void NetPeer::SendRawShown(PlayerID to, const uint8_t* data, uint32_t length) {
    for (PluginInterface* plugin : plugins_) plugin->RawSend(data, length * 8u, to);
    SendRaw(to, data, length);
}

void NetPeer::ShowRawReceive(PlayerID from, const uint8_t* data, uint32_t length) {
    for (PluginInterface* plugin : plugins_) plugin->RawReceive(data, length * 8u, from);
}

// ---- closing -------------------------------------------------------------------------------------

void NetPeer::CloseConnection(PlayerID target, bool sendDisconnectionNotification, uint8_t orderingChannel) {
    if (target == UNASSIGNED_PLAYER_ID || !remoteSystemList_ || !IsActive()) return;
    if (sendDisconnectionNotification) {
        NotifyAndClose(target, false, orderingChannel);
        return;
    }
    BufferedCommand command{};
    command.kind = BufferedCommand::kClose;
    command.target = target;
    QueueCommand(command, nullptr, 0);
}

void NetPeer::NotifyAndClose(PlayerID target, bool immediate, uint8_t orderingChannel) {
    if (target == UNASSIGNED_PLAYER_ID || !remoteSystemList_ || !IsActive()) return;
    if (immediate) {
        Lock lock(peerLock_);
        NotifyAndCloseLocked(target, orderingChannel, clock_->NowUs());
        return;
    }
    const uint8_t notice = ID_CONN_CLOSED;
    BufferedCommand command{};
    command.kind = BufferedCommand::kSend;
    command.bitLength = 8;
    command.priority = HIGH_PRIORITY_LEVEL;
    command.reliability = RELIABILITY_UNRELIABLE;
    command.orderingChannel = orderingChannel;
    command.target = target;
    command.broadcast = false;
    command.connectMode = CM_DISCONNECT_ASAP;
    QueueCommand(command, &notice, 1);
}

void NetPeer::NotifyAndCloseLocked(PlayerID target, uint8_t orderingChannel, uint64_t timeUs) {
    const uint8_t notice = ID_CONN_CLOSED;
    SendBytesImmediateLocked(&notice, 1, HIGH_PRIORITY_LEVEL, RELIABILITY_UNRELIABLE, orderingChannel, target,
                             timeUs);
    if (ConnectedSystem* slot = FindSlotNet(target)) slot->connectMode = CM_DISCONNECT_ASAP;
}

// ---- to the user ---------------------------------------------------------------------------------

void NetPeer::PushPacket(Packet* packet, bool capped, uint16_t chargedSlot, uint32_t charge) {
    if (packet == nullptr) return;
    if (capped) {
        if (unconnectedQueued_.load(std::memory_order_relaxed) >= kMaxQueuedUnconnectedPackets) {
            CountRejected(Rejected::UnconnectedQueueFull);
            velt::FreePacket(packet);
            return;
        }
        unconnectedQueued_.fetch_add(1, std::memory_order_relaxed);
    }
    IncomingPacket* slot = incomingPackets_.WriteLock();
    slot->packet = packet;
    slot->capped = capped;
    Charge(*slot, chargedSlot, charge);
    incomingPackets_.WriteUnlock();
}

void NetPeer::Charge(IncomingPacket& entry, uint16_t chargedSlot, uint32_t charge) {
    entry.chargedSlot = chargedSlot;
    entry.charge = charge;
    if (charge == 0) return;
    queuedBytes_[chargedSlot].fetch_add(charge, std::memory_order_relaxed);
    queuedTotal_.fetch_add(charge, std::memory_order_relaxed);
}

void NetPeer::PushNotice(uint8_t id, PlayerID sender, uint16_t playerIndex, bool capped) {
    Packet* packet = NewPacket(1);
    if (packet == nullptr) return;
    packet->data[0] = id;
    packet->sender = sender;
    packet->playerIndex = playerIndex;
    PushPacket(packet, capped);
}

void NetPeer::PushMessage(uint8_t* data, uint32_t bitLength, PlayerID sender, uint16_t playerIndex,
                          bool charged) {
    const uint32_t length = (bitLength + 7u) / 8u;
    const uint32_t charge = charged ? QueueCharge(length) : 0;
    if (length != 0 && length <= kQueuedMessageBytes) {
        IncomingPacket* slot = incomingPackets_.WriteLock();
        slot->packet = nullptr;
        slot->capped = false;
        Charge(*slot, playerIndex, charge);
        slot->playerIndex = playerIndex;
        slot->sender = sender;
        slot->bitLength = bitLength;
        std::memcpy(slot->bytes, data, length);
        incomingPackets_.WriteUnlock();
        delete[] data;
        return;
    }
    // A small message travels to the user thread as one block with its header: one heap block
    // crosses threads instead of two, and the payload is freed here, where it was made.
    Packet* packet = nullptr;
    if (length <= kInlinePacketBytes) {
        packet = NewPacket(length);
        if (packet != nullptr && length != 0) std::memcpy(packet->data, data, length);
        delete[] data;
        if (packet == nullptr) return;
    } else {
        packet = NewPacket(length, data);
        if (packet == nullptr) {
            delete[] data;
            return;
        }
    }
    packet->bitLength = bitLength;
    packet->sender = sender;
    packet->playerIndex = playerIndex;
    PushPacket(packet, false, playerIndex, charge);
}

Packet* NetPeer::TakeIncoming() {
    while (IncomingPacket* in = incomingPackets_.ReadLock()) {
        Packet* packet = in->packet;
        if (packet == nullptr) {
            const uint32_t length = (in->bitLength + 7u) / 8u;
            packet = NewPacket(length);
            if (packet != nullptr) {
                std::memcpy(packet->data, in->bytes, length);
                packet->bitLength = in->bitLength;
                packet->sender = in->sender;
                packet->playerIndex = in->playerIndex;
            }
        }
        if (in->capped) unconnectedQueued_.fetch_sub(1, std::memory_order_relaxed);
        Discharge(*in);
        incomingPackets_.ReadUnlock();
        if (packet != nullptr) return packet;
    }
    return nullptr;
}

Packet* NetPeer::ReceiveInternal() {
    if (!IsActive()) return nullptr;
    for (PluginInterface* plugin : plugins_) plugin->Update(this);

    // One message at a time: the Packets of a busy pass made all at once would outrun the
    // allocator's per-thread cache, and each would take its slow path twice, here and in the
    // user's free.
    for (;;) {
        Packet* packet = !userPackets_.IsEmpty() ? userPackets_.Pop() : TakeIncoming();
        if (packet == nullptr) break;
        if (HasTimestampPrefix(packet->data, packet->length)) ShiftIncomingTimestamp(packet);
        if (packet->length != 0 && packet->data[0] == ID_RPC_REPLY) {
            velt::FreePacket(packet);
            continue;
        }
        bool passed = true;
        for (PluginInterface* plugin : plugins_) {
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
    while (Packet* received = TakeIncoming()) userPackets_.Push(received);
    userPackets_.Push(packet);
}

}  // namespace velt
