#include "net/SlotTable.h"

#include <cstring>

namespace velt {

void SlotTable::Create(uint16_t count, const ChannelSetup& setup) {
    idleUntil_ = std::make_unique<std::atomic<uint64_t>[]>(count);
    idleFrom_ = std::make_unique<std::atomic<uint64_t>[]>(count);
    generations_ = std::make_unique<std::atomic<uint32_t>[]>(count);
    channels_ = std::make_unique<ReliabilityChannel*[]>(count);
    records_ = std::make_unique<ConnectedSystem[]>(count);
    for (uint32_t i = 0; i < count; ++i) {
        auto channel =
            std::make_unique<ReliabilityChannel>(setup.role, setup.nowUs, *setup.settings, setup.log);
        channel->SetWakeMirror(&idleUntil_[i]);
        channels_[i] = channel.get();
        records_[i].channel = std::move(channel);
        MarkUnused(i);
    }
    count_ = count;
    lookup_.Reset(count);
    ForgetLookupAnswers();
}

void SlotTable::Destroy(uint64_t nowUs) {
    for (uint32_t i = 0; i < count_; ++i) {
        ConnectedSystem& slot = records_[i];
        slot.isActive = 0;
        slot.connectMode = CM_NONE;
        slot.channel->Reset(nowUs);
    }
    lookup_.Reset(0);
    ForgetLookupAnswers();
    count_ = 0;
    channels_.reset();
    records_.reset();
    generations_.reset();
    idleUntil_.reset();
    idleFrom_.reset();
}

int32_t SlotTable::Find(PlayerID address) const {
    if (address == UNASSIGNED_PLAYER_ID || count_ == 0) return -1;
    for (const LookupAnswer& answer : lookupAnswers_)
        if (answer.sender == address) return answer.index;
    return lookup_.Find(address);
}

int32_t SlotTable::FindAny(PlayerID address, bool onlyActive) const {
    if (address == UNASSIGNED_PLAYER_ID || count_ == 0) return -1;
    for (uint32_t i = 0; i < count_; ++i)
        if (records_[i].isActive && records_[i].playerId == address) return int32_t(i);
    if (onlyActive) return -1;
    for (uint32_t i = 0; i < count_; ++i)
        if (records_[i].playerId == address) return int32_t(i);
    return -1;
}

uint32_t SlotTable::CountConnectedIncoming() const {
    uint32_t n = 0;
    for (uint32_t i = 0; i < count_; ++i) {
        const ConnectedSystem& s = records_[i];
        if (s.isActive && s.connectMode == CM_CONNECTED && !s.weInitiated) ++n;
    }
    return n;
}

int32_t SlotTable::Assign(PlayerID address, int32_t connectMode, const SlotDefaults& defaults, NetTime now,
                          uint64_t nowUs) {
    for (uint32_t i = 0; i < count_; ++i) {
        ConnectedSystem& s = records_[i];
        if (s.isActive) continue;
        s.rpcTable.Clear();
        s.playerId = address;
        ReliabilityChannel& channel = *s.channel;
        channel.Reset(nowUs);
        // A reused slot must not keep a timeout an earlier connection was given.
        channel.SetTimeoutTime(defaults.timeoutMs);
        channel.SetSplitMessageProgressInterval(defaults.splitMessageProgressInterval);
        channel.SetUnreliableTimeout(defaults.unreliableTimeoutMs);
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
        s.secureResponseSent = 0;
        s.cipher.UnsetKey();
        s.cipherConfirmed = 0;
        std::memset(s.linkKey, 0, sizeof s.linkKey);
        s.connectionTime = now;
        s.lastReliableSend = now;
        s.externalId = UNASSIGNED_PLAYER_ID;
        s.loggedOn = 0;
        s.queueOver = false;
        s.connectMode = connectMode;
        MarkDue(i);
        generations_[i].fetch_add(1, std::memory_order_release);
        s.isActive = 1;
        lookup_.Insert(address, uint16_t(i));
        ForgetLookupAnswers();
        return int32_t(i);
    }
    return -1;
}

void SlotTable::Release(uint32_t index, uint64_t nowUs) {
    ConnectedSystem& s = records_[index];
    s.queueOver = false;
    s.isActive = 0;
    s.connectMode = CM_NONE;
    s.channel->Reset(nowUs);
    MarkUnused(index);
    lookup_.Remove(s.playerId);
    ForgetLookupAnswers();
}

int32_t SlotTable::LookUpAndKeep(PlayerID sender) {
    const int32_t index = Find(sender);
    lookupAnswers_[nextLookupAnswer_] = LookupAnswer{sender, index};
    nextLookupAnswer_ ^= 1u;
    return index;
}

int32_t SlotTable::KeptAnswer(PlayerID sender) const {
    for (const LookupAnswer& answer : lookupAnswers_)
        if (answer.sender == sender) return answer.index;
    return -1;
}

}  // namespace velt
