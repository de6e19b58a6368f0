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

using Lock = std::lock_guard<SimpleMutex>;

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
    maximumIncomingConnections_.store(numberAllowed);
}

uint16_t NetPeer::GetMaximumIncomingConnections() const { return maximumIncomingConnections_.load(); }

void NetPeer::SetIncomingPassword(const char* passwordData, int32_t passwordDataLength) {
    Lock lock(peerLock_);
    if (passwordData == nullptr || passwordDataLength <= 0) {
        incomingPasswordLength_ = 0;
        return;
    }
    const uint32_t length = std::min<uint32_t>(uint32_t(passwordDataLength), kMaxPasswordBytes);
    std::memcpy(incomingPassword_, passwordData, length);
    incomingPasswordLength_ = uint8_t(length);
}

void NetPeer::GetIncomingPassword(char* passwordData, int32_t* passwordDataLength) {
    if (passwordDataLength == nullptr) return;
    Lock lock(peerLock_);
    if (passwordData == nullptr) {
        *passwordDataLength = incomingPasswordLength_;
        return;
    }
    const int32_t copied = std::max(0, std::min<int32_t>(*passwordDataLength, incomingPasswordLength_));
    std::memcpy(passwordData, incomingPassword_, uint32_t(copied));
    *passwordDataLength = copied;
}

// ---- static data ---------------------------------------------------------------------------------

BitStream* NetPeer::GetRemoteStaticData(PlayerID playerId) {
    if (playerId == myPlayerId_) return &myStaticData_;
    Lock lock(peerLock_);
    const int32_t index = FindIndexUser(playerId, false);
    return index < 0 ? nullptr : &remoteSystemList_[index].staticData;
}

void NetPeer::SetRemoteStaticData(PlayerID playerId, const uint8_t* data, int32_t length) {
    Lock lock(peerLock_);
    BitStream* target = nullptr;
    if (playerId == myPlayerId_) {
        target = &myStaticData_;
    } else {
        const int32_t index = FindIndexUser(playerId, true);
        if (index < 0) return;
        target = &remoteSystemList_[index].staticData;
    }
    target->Clear();
    if (data != nullptr && length > 0) target->WriteBytes(data, length);
}

void NetPeer::SendStaticDataLocked(PlayerID target, uint64_t timeUs) {
    BitStream message;
    message.Write(uint8_t(ID_STATIC_DATA));
    if (myStaticData_.GetNumberOfBitsUsed() > 0)
        message.WriteRawBits(myStaticData_.GetData(), myStaticData_.GetNumberOfBitsUsed(), false);
    bool taken = false;
    SendImmediateLocked(message.GetData(), uint32_t(message.GetNumberOfBitsUsed()), SYSTEM_PRIORITY_LEVEL,
                        RELIABILITY_RELIABLE, 0, target, false, false, taken, timeUs);
}

void NetPeer::SendStaticDataTo(PlayerID target) {
    BitStream message;
    message.Write(uint8_t(ID_STATIC_DATA));
    {
        Lock lock(peerLock_);
        if (myStaticData_.GetNumberOfBitsUsed() > 0)
            message.WriteRawBits(myStaticData_.GetData(), myStaticData_.GetNumberOfBitsUsed(), false);
    }
    Send(&message, SYSTEM_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0, target, target == UNASSIGNED_PLAYER_ID);
}

// ---- addresses and link settings ----------------------------------------------------------------

PlayerID NetPeer::GetExternalID(PlayerID target) const {
    Lock lock(peerLock_);
    if (!remoteSystemList_) return UNASSIGNED_PLAYER_ID;
    PlayerID inactiveMatch = UNASSIGNED_PLAYER_ID;
    for (uint32_t i = 0; i < maximumNumberOfPeers_; ++i) {
        const ConnectedSystem& s = remoteSystemList_[i];
        const bool matches = target == UNASSIGNED_PLAYER_ID || s.playerId == target;
        if (!matches) continue;
        if (s.isActive) return s.externalId;
        inactiveMatch = s.externalId;
    }
    return inactiveMatch;
}

void NetPeer::SetTimeoutTime(uint32_t timeMs, PlayerID target) {
    Lock lock(peerLock_);
    const int32_t index = FindIndexUser(target, false);
    if (index >= 0) remoteSystemList_[index].channel->SetTimeoutTime(timeMs);
}

bool NetPeer::SetMTUSize(int32_t size) {
    if (IsActive()) return false;
    mtuSize_ = std::clamp(size, kMinMtu, kMaxMtu);
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
    Lock lock(peerLock_);
    splitMessageProgressInterval_ = interval < 0 ? 0u : uint32_t(interval);
    for (uint32_t i = 0; i < maximumNumberOfPeers_; ++i)
        remoteSystemList_[i].channel->SetSplitMessageProgressInterval(splitMessageProgressInterval_);
}

void NetPeer::SetUnreliableTimeout(uint32_t timeoutMs) {
    Lock lock(peerLock_);
    unreliableTimeoutMs_ = timeoutMs;
    for (uint32_t i = 0; i < maximumNumberOfPeers_; ++i)
        remoteSystemList_[i].channel->SetUnreliableTimeout(timeoutMs);
}

// ---- byte compression ----------------------------------------------------------------------------

void NetPeer::SetTrackFrequencyTable(bool doCompile) {
    Lock lock(peerLock_);
    trackFrequencyTable_ = doCompile;
}

bool NetPeer::GetSendFrequencyTable(uint32_t outputFrequencyTable[kFrequencyTableSize]) {
    if (IsActive() || outputFrequencyTable == nullptr) return false;
    Lock lock(peerLock_);
    if (!trackFrequencyTable_) return false;
    std::memcpy(outputFrequencyTable, frequencyTable_, sizeof frequencyTable_);
    return true;
}

bool NetPeer::BuildCompressionTree(const uint32_t inputFrequencyTable[kFrequencyTableSize], bool inputLayer) {
    if (IsActive() || inputFrequencyTable == nullptr) return false;
    auto tree = std::make_unique<HuffmanEncodingTree>();
    tree->BuildFromFrequencies(inputFrequencyTable);
    Lock lock(peerLock_);
    (inputLayer ? inputTree_ : outputTree_) = std::move(tree);
    return true;
}

bool NetPeer::DeleteCompressionTree(bool inputLayer) {
    if (IsActive()) return false;
    Lock lock(peerLock_);
    (inputLayer ? inputTree_ : outputTree_).reset();
    return true;
}

float NetPeer::GetCompressionRatio() const {
    Lock lock(peerLock_);
    return rawBytesSent_ == 0 ? 0.0f : float(double(compressedBytesSent_) / double(rawBytesSent_));
}

float NetPeer::GetDecompressionRatio() const {
    Lock lock(peerLock_);
    return compressedBytesReceived_ == 0
               ? 0.0f
               : float(double(uncompressedBytesReceived_) / double(compressedBytesReceived_));
}

// ---- plugins and router --------------------------------------------------------------------------

void NetPeer::RebuildObserversLocked() {
    pluginObservers_.clear();
    observerPointers_.clear();
    pluginObservers_.reserve(plugins_.size());
    for (PluginInterface* plugin : plugins_) pluginObservers_.emplace_back(plugin);
    for (PluginObserver& observer : pluginObservers_) observerPointers_.push_back(&observer);
}

void NetPeer::AttachPlugin(PluginInterface* plugin) {
    if (plugin == nullptr) return;
    {
        Lock lock(peerLock_);
        if (std::find(plugins_.begin(), plugins_.end(), plugin) != plugins_.end()) return;
        plugins_.push_back(plugin);
        RebuildObserversLocked();
    }
    plugin->Attached(this);
}

void NetPeer::DetachPlugin(PluginInterface* plugin) {
    if (plugin == nullptr) return;
    {
        Lock lock(peerLock_);
        auto it = std::find(plugins_.begin(), plugins_.end(), plugin);
        if (it == plugins_.end()) return;
        *it = plugins_.back();
        plugins_.pop_back();
        RebuildObserversLocked();
    }
    plugin->Detached(this);
}

void NetPeer::SetRouter(RouterInterface* router) { router_ = router; }

void NetPeer::RemoveRouter(RouterInterface* router) {
    if (router_ == router) router_ = nullptr;
}

// ---- network simulator and statistics ------------------------------------------------------------

void NetPeer::ApplyNetworkSimulator(double maxSendBps, uint16_t minExtraPing, uint16_t extraPingVariance) {
    Lock lock(peerLock_);
    simulatorMaxBps_ = maxSendBps;
    simulatorMinExtraPing_ = minExtraPing;
    simulatorExtraPingVariance_ = extraPingVariance;
    for (uint32_t i = 0; i < maximumNumberOfPeers_; ++i)
        remoteSystemList_[i].channel->ApplyNetworkSimulator(maxSendBps, minExtraPing, extraPingVariance);
}

bool NetPeer::IsNetworkSimulatorActive() const {
    return simulatorMaxBps_ != 0 || simulatorMinExtraPing_ != 0 || simulatorExtraPingVariance_ != 0;
}

NetworkStatistics* NetPeer::GetStatistics(PlayerID target) {
    if (!IsActive()) return nullptr;
    Lock lock(peerLock_);
    if (!remoteSystemList_) return nullptr;
    if (target == UNASSIGNED_PLAYER_ID) {
        bool first = true;
        for (uint32_t i = 0; i < maximumNumberOfPeers_; ++i) {
            const ConnectedSystem& s = remoteSystemList_[i];
            if (!s.isActive) continue;
            if (first) {
                statisticsCopy_ = s.channel->GetStatistics(false);
                first = false;
            } else {
                AddStatistics(statisticsCopy_, s.channel->GetStatistics(false));
            }
        }
        // Without a connection the totals still hold what the peer refused.
        if (first) statisticsCopy_.Reset(NowMs());
        for (int i = 0; i < kRejectedKinds; ++i) statisticsCopy_.rejected[i] += rejected_[i];
        statisticsCopy_.Rejections(Rejected::BadChecksum) += endpoint_.BadChecksums();
        return &statisticsCopy_;
    }
    const int32_t index = FindIndexUser(target, false);
    if (index < 0) return nullptr;
    statisticsCopy_ = remoteSystemList_[index].channel->GetStatistics(false);
    return &statisticsCopy_;
}

RpcTable* NetPeer::GetRpcTable(PlayerID target) {
    if (target == UNASSIGNED_PLAYER_ID) return &rpcTable_;
    Lock lock(peerLock_);
    const int32_t index = FindIndexUser(target, false);
    return index < 0 ? nullptr : &remoteSystemList_[index].rpcTable;
}

}  // namespace velt
