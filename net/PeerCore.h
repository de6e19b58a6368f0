#pragma once
// What every part of a peer shares: its role and settings, the slot table with the peer lock,
// the queue to the user, the socket and where raw datagrams go, the attached plugins, the log,
// and the peer's own totals; and the two things every part does to slots, giving one out and
// closing one.
//
// The parts (admission, the network pass, the sender, the user-facing peer) each hold a
// reference to the one core of their peer.

#include <atomic>
#include <cstdint>
#include <vector>

#include "net/BitStream.h"
#include "net/ByteCompression.h"
#include "net/DatagramBatch.h"
#include "net/IncomingQueue.h"
#include "net/NetworkStatistics.h"
#include "net/PeerSettings.h"
#include "net/PluginInterface.h"
#include "net/ReliabilityWire.h"
#include "net/SlotTable.h"
#include "net/SocketLayer.h"
#include "net/ThreadAnnotations.h"
#include "net/TransportSettings.h"

namespace velt {

class NetPeerInterface;

// The plugins attached to a peer and the channel observers that feed them. Written by the user
// thread under the peer lock; read by the network thread under it, and by the user thread (the
// only writer) at any time.
class PluginList {
public:
    const std::vector<PluginInterface*>& All() const { return plugins_; }
    bool Add(PluginInterface* plugin);
    bool Remove(PluginInterface* plugin);
    ChannelObservers Observers() const { return {observerPointers_.data(), observerPointers_.size()}; }

private:
    // Feeds every message a channel writes or reads to one plugin.
    class Observer final : public ChannelMessageObserver {
    public:
        explicit Observer(PluginInterface* plugin) : plugin_(plugin) {}
        void OnInternalMessage(const InternalPacket& packet, uint32_t frameNumber, PlayerID remote,
                               uint64_t timeUs, bool isSend) override {
            plugin_->InternalMessage(packet, frameNumber, remote, timeUs, isSend);
        }

    private:
        PluginInterface* plugin_;
    };
    void Rebuild();

    std::vector<PluginInterface*> plugins_;
    std::vector<Observer> observers_;
    std::vector<ChannelMessageObserver*> observerPointers_;
};

class PeerCore {
public:
    static constexpr int32_t kDefaultMtu = 576;

    // face: the peer as plugins see it.
    PeerCore(SocketRole role, DatagramSink* sink, NetPeerInterface* face);
    PeerCore(const PeerCore&) = delete;
    PeerCore& operator=(const PeerCore&) = delete;

    // ---- fixed at construction, or set while the peer is stopped ----
    const SocketRole role;
    NetPeerInterface* const face;
    SocketEndpoint endpoint;
    PeerSettings settings;
    SystemPeerClock systemClock;
    const PeerClock* clock = &systemClock;
    const TransportSettings* transportSettings = &TransportSettings::Defaults();
    int socket = -1;
    using RawSendTap = void (*)(void* context, PlayerID to, const uint8_t* data, uint32_t length);
    RawSendTap rawSendTap = nullptr;
    void* rawSendTapContext = nullptr;
    int32_t mtu = kDefaultMtu;
    PlayerID myPlayerId = UNASSIGNED_PLAYER_ID;

    // ---- shared between the threads ----
    SlotTable slots;  // holds the peer lock
    IncomingQueue incoming;
    PluginList plugins;
    std::atomic<bool> pingPeriodically{false};
    std::atomic<bool> allowIpMigration{false};
    std::atomic<uint16_t> maximumIncomingConnections{0};

    // ---- guarded by the peer lock ----
    ByteCompression compression VELT_GUARDED_BY(slots.peerLock);
    BitStream myStaticData VELT_GUARDED_BY(slots.peerLock);
    uint32_t splitMessageProgressInterval VELT_GUARDED_BY(slots.peerLock) = 0;
    uint32_t unreliableTimeoutMs VELT_GUARDED_BY(slots.peerLock) = 0;

    // Printf-style sink of the transport's log lines; null = none. Any thread.
    void SetLog(WireLogFn log) { log_.store(log, std::memory_order_relaxed); }
    WireLogFn LogHook() const { return log_.load(std::memory_order_relaxed); }
    void Log(const char* format, ...) const __attribute__((format(printf, 2, 3)));
    NetTime NowMs() const { return clock->NowMs(); }
    WireRole ChannelRole() const { return role == SocketRole::Server ? WireRole::Server : WireRole::Client; }
    uint32_t PlayerTimeoutMs() const;

    // ---- raw datagrams, past every channel ----
    // Through the socket (scrambled in the bot role) and the raw-send tap. Any thread.
    void SendRaw(PlayerID to, const uint8_t* data, uint32_t length);
    // SendRaw gathered into the network thread's batch, sent at the end of its pass.
    void SendRawBatched(PlayerID to, const uint8_t* data, uint32_t length);
    void FlushBatch();
    // SendRaw plus the plugins' RawSend; the user thread, or the network thread under the lock.
    void SendRawShown(PlayerID to, const uint8_t* data, uint32_t length);
    void ShowRawReceive(PlayerID from, const uint8_t* data, uint32_t length) const;

    // What a peer answers an offline ping with, behind the ping's own bytes. Any thread.
    void SetOfflinePingResponse(const uint8_t* data, uint32_t length) VELT_EXCLUDES(offlinePingMutex_);
    void AppendOfflinePingResponse(std::vector<uint8_t>& out) const VELT_EXCLUDES(offlinePingMutex_);

    // ---- the peer's own totals ----
    void CountRejected(Rejected kind) VELT_REQUIRES(slots.peerLock) { ++rejected_[int(kind)]; }
    // The refusals of the peer and of connections since closed, added into statistics.
    void AddRejections(NetworkStatistics& statistics) const VELT_REQUIRES(slots.peerLock);

    // ---- slots ----
    // A slot for a new connection from address (see SlotTable::Assign); -1 when none is free.
    int32_t AssignSlot(PlayerID address, int32_t connectMode, NetTime now, uint64_t nowUs)
        VELT_REQUIRES(slots.peerLock);
    // Closes an active slot at once, without a word to anyone: what its connection refused goes
    // into the peer's totals, the plugins hear of it, and the slot is free again.
    void CloseSlot(uint32_t index) VELT_REQUIRES(slots.peerLock);
    // CloseSlot, telling the user first how the connection ended (by its mode), where that is
    // something the user hears of.
    void CloseWithNotice(uint32_t index, int32_t mode) VELT_REQUIRES(slots.peerLock);

private:
    std::atomic<WireLogFn> log_{nullptr};
    mutable SimpleMutex offlinePingMutex_;
    std::vector<uint8_t> offlinePingResponse_ VELT_GUARDED_BY(offlinePingMutex_);
    DatagramBatch sendBatch_;  // network thread
    uint32_t rejected_[kRejectedKinds] VELT_GUARDED_BY(slots.peerLock) = {};
};

}  // namespace velt
