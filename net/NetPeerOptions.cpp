// The interface's settings and accessors: password, limits, static data, addresses, link
// settings, byte compression, plugins, router, network simulator and statistics.

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "net/MessageIdentifiers.h"
#include "net/NetPeer.h"

namespace velt {

namespace {

// Adds every counter of from into into; the time stamps of into stay.
void AddStatistics(NetworkStatistics& into, const NetworkStatistics& from) {
    for (int p = 0; p < kStatisticsPriorities; ++p) {
        into.messagesInSendBuffer[p] += from.messagesInSendBuffer[p];
        into.messagesSent[p] += from.messagesSent[p];
        into.reliableMessagesSent[p] += from.reliableMessagesSent[p];
        into.messageDataBitsSent[p] += from.messageDataBitsSent[p];
        into.messageTotalBitsSent[p] += from.messageTotalBitsSent[p];
    }
    into.packetsWithOnlyAcks += from.packetsWithOnlyAcks;
    into.acksSent += from.acksSent;
    into.acksPending += from.acksPending;
    into.ackBitsSent += from.ackBitsSent;
    into.packetsWithOnlyAcksAndResends += from.packetsWithOnlyAcksAndResends;
    into.messagesResent += from.messagesResent;
    into.messageDataBitsResent += from.messageDataBitsResent;
    into.messageTotalBitsResent += from.messageTotalBitsResent;
    into.messagesWaitingForAck += from.messagesWaitingForAck;
    into.messagesUnsplit += from.messagesUnsplit;
    into.messagesSplit += from.messagesSplit;
    into.splitsPerformed += from.splitsPerformed;
    into.packetsSent += from.packetsSent;
    into.encryptionBitsSent += from.encryptionBitsSent;
    into.totalBitsSent += from.totalBitsSent;
    into.sequencedOutOfOrder += from.sequencedOutOfOrder;
    into.sequencedInOrder += from.sequencedInOrder;
    into.orderedOutOfOrder += from.orderedOutOfOrder;
    into.orderedInOrder += from.orderedInOrder;
    into.packetsReceived += from.packetsReceived;
    into.packetsReceivedBad += from.packetsReceivedBad;
    into.bitsReceived += from.bitsReceived;
    into.bitsReceivedBad += from.bitsReceivedBad;
    into.acksReceived += from.acksReceived;
    into.duplicateAcksReceived += from.duplicateAcksReceived;
    into.messagesReceived += from.messagesReceived;
    into.invalidMessagesReceived += from.invalidMessagesReceived;
    into.duplicateMessagesReceived += from.duplicateMessagesReceived;
    into.messagesWaitingForReassembly += from.messagesWaitingForReassembly;
    into.internalOutputQueueSize += from.internalOutputQueueSize;
    into.bitsPerSecond += from.bitsPerSecond;
    into.messagesWindowCount += from.messagesWindowCount;
    into.messagesLastSecond += from.messagesLastSecond;
    into.acksWindowCount += from.acksWindowCount;
    into.acksLastSecond += from.acksLastSecond;
    for (int i = 0; i < kRejectedKinds; ++i) into.rejected[i] += from.rejected[i];
}

}  // namespace

void NetPeer::SetMaximumIncomingConnections(uint16_t numberAllowed) {
    core_.maximumIncomingConnections.store(numberAllowed);
}

uint16_t NetPeer::GetMaximumIncomingConnections() const { return core_.maximumIncomingConnections.load(); }

void NetPeer::SetIncomingPassword(const char* passwordData, int32_t passwordDataLength) {
    MutexLock lock(core_.slots.peerLock);
    if (passwordData == nullptr || passwordDataLength <= 0) {
        admission_.SetPassword(nullptr, 0);
        return;
    }
    admission_.SetPassword(reinterpret_cast<const uint8_t*>(passwordData), uint32_t(passwordDataLength));
}

void NetPeer::GetIncomingPassword(char* passwordData, int32_t* passwordDataLength) {
    if (passwordDataLength == nullptr) return;
    MutexLock lock(core_.slots.peerLock);
    if (passwordData == nullptr) {
        *passwordDataLength = int32_t(admission_.GetPassword(nullptr, 0));
        return;
    }
    const uint32_t capacity = uint32_t(std::max(0, *passwordDataLength));
    const uint32_t length = admission_.GetPassword(reinterpret_cast<uint8_t*>(passwordData), capacity);
    *passwordDataLength = int32_t(std::min(capacity, length));
}

// ---- static data ---------------------------------------------------------------------------------

BitStream* NetPeer::GetRemoteStaticData(PlayerID playerId) {
    MutexLock lock(core_.slots.peerLock);
    if (playerId == core_.myPlayerId) return &core_.myStaticData;
    const int32_t index = FindSlot(playerId, false);
    return index < 0 ? nullptr : &core_.slots.At(uint32_t(index)).staticData;
}

void NetPeer::SetRemoteStaticData(PlayerID playerId, const uint8_t* data, int32_t length) {
    MutexLock lock(core_.slots.peerLock);
    BitStream* target = nullptr;
    if (playerId == core_.myPlayerId) {
        target = &core_.myStaticData;
    } else {
        const int32_t index = FindSlot(playerId, true);
        if (index < 0) return;
        target = &core_.slots.At(uint32_t(index)).staticData;
    }
    target->Clear();
    if (data != nullptr && length > 0) target->WriteBytes(data, length);
}

void NetPeer::SendStaticDataTo(PlayerID target) {
    BitStream message;
    message.Write(uint8_t(ID_STATIC_DATA));
    {
        MutexLock lock(core_.slots.peerLock);
        const BitStream& own = core_.myStaticData;
        if (own.GetNumberOfBitsUsed() > 0)
            message.WriteRawBits(own.GetData(), own.GetNumberOfBitsUsed(), false);
    }
    Send(&message, SYSTEM_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0, target, target == UNASSIGNED_PLAYER_ID);
}

// ---- addresses and link settings ----------------------------------------------------------------

PlayerID NetPeer::GetExternalID(PlayerID target) const {
    MutexLock lock(core_.slots.peerLock);
    PlayerID inactiveMatch = UNASSIGNED_PLAYER_ID;
    for (uint32_t i = 0; i < core_.slots.Count(); ++i) {
        const ConnectedSystem& s = core_.slots.At(i);
        const bool matches = target == UNASSIGNED_PLAYER_ID || s.playerId == target;
        if (!matches) continue;
        if (s.isActive) return s.externalId;
        inactiveMatch = s.externalId;
    }
    return inactiveMatch;
}

void NetPeer::SetTimeoutTime(uint32_t timeMs, PlayerID target) {
    MutexLock lock(core_.slots.peerLock);
    const int32_t index = FindSlot(target, false);
    if (index >= 0) core_.slots.ChannelOf(uint32_t(index)).SetTimeoutTime(timeMs);
}

bool NetPeer::SetMTUSize(int32_t size) {
    if (IsActive()) return false;
    core_.mtu = std::clamp(size, kMinMtu, kMaxMtu);
    return true;
}

uint32_t NetPeer::GetNumberOfAddresses() {
    SocketLayer::GetMyIP(localIps_);
    uint32_t n = 0;
    while (n < 10 && localIps_[n][0] != '\0') ++n;
    return n;
}

const char* NetPeer::GetLocalIP(uint32_t index) {
    SocketLayer::GetMyIP(localIps_);
    return localIps_[index < 10 ? index : 9];
}

const char* NetPeer::PlayerIDToDottedIP(PlayerID playerId) const {
    return playerId.ToString(false, dottedIp_, sizeof dottedIp_);
}

void NetPeer::IPToPlayerID(const char* host, uint16_t remotePort, PlayerID* playerId) {
    if (host == nullptr || playerId == nullptr) return;
    in_addr a{};
    if (inet_pton(AF_INET, host, &a) != 1) {
        *playerId = UNASSIGNED_PLAYER_ID;
        return;
    }
    *playerId = PlayerID{a.s_addr, remotePort};
}

void NetPeer::SetSplitMessageProgressInterval(int32_t interval) {
    MutexLock lock(core_.slots.peerLock);
    core_.splitMessageProgressInterval = interval < 0 ? 0u : uint32_t(interval);
    for (uint32_t i = 0; i < core_.slots.Count(); ++i)
        core_.slots.ChannelOf(i).SetSplitMessageProgressInterval(core_.splitMessageProgressInterval);
}

void NetPeer::SetUnreliableTimeout(uint32_t timeoutMs) {
    MutexLock lock(core_.slots.peerLock);
    core_.unreliableTimeoutMs = timeoutMs;
    for (uint32_t i = 0; i < core_.slots.Count(); ++i)
        core_.slots.ChannelOf(i).SetUnreliableTimeout(timeoutMs);
}

// ---- byte compression ----------------------------------------------------------------------------

void NetPeer::SetTrackFrequencyTable(bool doCompile) {
    MutexLock lock(core_.slots.peerLock);
    core_.compression.SetTrackFrequencies(doCompile);
}

bool NetPeer::GetSendFrequencyTable(uint32_t outputFrequencyTable[kFrequencyTableSize]) {
    if (IsActive() || outputFrequencyTable == nullptr) return false;
    MutexLock lock(core_.slots.peerLock);
    if (!core_.compression.TracksFrequencies()) return false;
    core_.compression.CopyFrequencies(outputFrequencyTable);
    return true;
}

bool NetPeer::BuildCompressionTree(const uint32_t inputFrequencyTable[kFrequencyTableSize], bool inputLayer) {
    if (IsActive() || inputFrequencyTable == nullptr) return false;
    auto tree = std::make_unique<HuffmanEncodingTree>();
    tree->BuildFromFrequencies(inputFrequencyTable);
    MutexLock lock(core_.slots.peerLock);
    core_.compression.SetTree(inputLayer, std::move(tree));
    return true;
}

bool NetPeer::DeleteCompressionTree(bool inputLayer) {
    if (IsActive()) return false;
    MutexLock lock(core_.slots.peerLock);
    core_.compression.SetTree(inputLayer, nullptr);
    return true;
}

float NetPeer::GetCompressionRatio() const {
    MutexLock lock(core_.slots.peerLock);
    return core_.compression.CompressionRatio();
}

float NetPeer::GetDecompressionRatio() const {
    MutexLock lock(core_.slots.peerLock);
    return core_.compression.DecompressionRatio();
}

// ---- plugins and router --------------------------------------------------------------------------

void NetPeer::AttachPlugin(PluginInterface* plugin) {
    if (plugin == nullptr) return;
    {
        MutexLock lock(core_.slots.peerLock);
        if (!core_.plugins.Add(plugin)) return;
    }
    plugin->Attached(this);
}

void NetPeer::DetachPlugin(PluginInterface* plugin) {
    if (plugin == nullptr) return;
    {
        MutexLock lock(core_.slots.peerLock);
        if (!core_.plugins.Remove(plugin)) return;
    }
    plugin->Detached(this);
}

void NetPeer::SetRouter(RouterInterface* router) { router_ = router; }

void NetPeer::RemoveRouter(RouterInterface* router) {
    if (router_ == router) router_ = nullptr;
}

// ---- network simulator and statistics ------------------------------------------------------------

void NetPeer::ApplyNetworkSimulator(double maxSendBps, uint16_t minExtraPing, uint16_t extraPingVariance) {
    MutexLock lock(core_.slots.peerLock);
    simulatorMaxBps_ = maxSendBps;
    simulatorMinExtraPing_ = minExtraPing;
    simulatorExtraPingVariance_ = extraPingVariance;
    for (uint32_t i = 0; i < core_.slots.Count(); ++i)
        core_.slots.ChannelOf(i).ApplyNetworkSimulator(maxSendBps, minExtraPing, extraPingVariance);
}

bool NetPeer::IsNetworkSimulatorActive() const {
    MutexLock lock(core_.slots.peerLock);
    return simulatorMaxBps_ != 0 || simulatorMinExtraPing_ != 0 || simulatorExtraPingVariance_ != 0;
}

NetworkStatistics* NetPeer::GetStatistics(PlayerID target) {
    if (!IsActive()) return nullptr;
    MutexLock lock(core_.slots.peerLock);
    if (core_.slots.Count() == 0) return nullptr;
    if (target == UNASSIGNED_PLAYER_ID) {
        bool first = true;
        for (uint32_t i = 0; i < core_.slots.Count(); ++i) {
            const ConnectedSystem& s = core_.slots.At(i);
            if (!s.isActive) continue;
            if (first) {
                statisticsCopy_ = s.channel->GetStatistics(false);
                first = false;
            } else {
                AddStatistics(statisticsCopy_, s.channel->GetStatistics(false));
            }
        }
        // Without a connection the totals still hold what the peer refused.
        if (first) statisticsCopy_.Reset(core_.NowMs());
        core_.AddRejections(statisticsCopy_);
        statisticsCopy_.Rejections(Rejected::BadChecksum) += core_.endpoint.BadChecksums();
        return &statisticsCopy_;
    }
    const int32_t index = FindSlot(target, false);
    if (index < 0) return nullptr;
    statisticsCopy_ = core_.slots.ChannelOf(uint32_t(index)).GetStatistics(false);
    return &statisticsCopy_;
}

RpcTable* NetPeer::GetRpcTable(PlayerID target) {
    if (target == UNASSIGNED_PLAYER_ID) return &rpcTable_;
    MutexLock lock(core_.slots.peerLock);
    const int32_t index = FindSlot(target, false);
    return index < 0 ? nullptr : &core_.slots.At(uint32_t(index)).rpcTable;
}

}  // namespace velt
