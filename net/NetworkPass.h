#pragma once
// One pass of the network thread, and how the thread waits between passes. A pass reads the
// socket (each datagram goes through admission), carries out what the user thread queued, retries
// outgoing connection requests, then serves every slot that has something to do: keep-alive, the
// channel's pacing, the rules that close connections, the logon kick, pings, and the messages
// the channel delivers; what the channels wrote goes out in batches at its end.
//
// All the cache prefetching of the network thread is here: a busy server finds almost every
// connection's state cold, and the pass knows a step ahead which one it needs next.

#include <cstdint>
#include <vector>

#include "net/BitStream.h"
#include "net/CommandQueue.h"
#include "net/NetworkWakeup.h"
#include "net/OutgoingConnections.h"
#include "net/PeerAdmission.h"
#include "net/PeerCore.h"
#include "net/PeerLines.h"
#include "net/SlotSender.h"

namespace velt {

class NetworkPass final : public DatagramSink {
public:
    // A slot still in the handshake this long is closed.
    static constexpr NetTime kHandshakeTimeoutMs = 10000;
    // A closing slot waits at most this long after its last reliable send for its channel to empty.
    static constexpr NetTime kDisconnectGraceMs = 20000;
    // The server kicks a connection whose player has not joined after this long.
    static constexpr NetTime kLogonTimeoutMs = 30000;

    NetworkPass(PeerCore& core, SlotSender& sender, PeerAdmission& admission, OutgoingConnections& outgoing,
                PeerLines& lines, CommandQueue& commands, NetworkWakeup& wakeup);

    // A connection quiet this long gets a keep-alive; pings go out this often.
    static constexpr NetTime kKeepAliveMs = 5000;
    static constexpr NetTime kPingIntervalMs = 5000;

    // One pass.
    void Run() VELT_EXCLUDES(core_.slots.peerLock);
    // Waits until the socket has a datagram, a command is queued, or timeoutMs passed.
    void WaitForWork(int32_t timeoutMs);
    // While no network thread runs.
    void Clear() { gameBehindLogged_ = false; }

    // DatagramSink: one datagram from the socket, and the hint for the one after it.
    void HandleDatagram(uint32_t binaryAddress, uint16_t port, const uint8_t* data, uint32_t length) override
        VELT_EXCLUDES(core_.slots.peerLock);
    void ExpectDatagram(uint32_t binaryAddress, uint16_t port) override {
        // Only noted here: HandleDatagram looks it up under the lock it takes anyway.
        expectedSender_ = PlayerID{binaryAddress, port};
    }

private:
    // A connection whose messages stay over their share of the queue to the game this long is
    // closed.
    static constexpr NetTime kGameBehindKickMs = 5000;
    // Datagrams read per pass before the slots get their turn.
    static constexpr uint32_t kMaxDatagramsPerCycle = 4096;
    // Slots or queued commands served under one take of the peer lock: a pass over hundreds of
    // connections would otherwise spend much of its time locking, while the user thread's
    // immediate sends still wait for a few items at most.
    static constexpr uint32_t kItemsPerLock = 16;
    // Under load, passes start at least this far apart: a pass for every datagram would cost a
    // busy server its batching (each pass reads and sends with a system call or two), while a
    // few hundred microseconds is little next to the pass interval it replaces.
    static constexpr uint32_t kMinPassGapUs = 500;

    // Where a slot's channel sends its datagrams: the batch of the pass.
    class ChannelOut final : public DatagramSender {
    public:
        ChannelOut(NetworkPass& pass, PlayerID to) : pass_(pass), to_(to) {}
        void SendDatagram(const uint8_t* data, uint32_t length) override {
            pass_.core_.SendRawBatched(to_, data, length);
        }
        // Every connection builds its datagrams in the one scratch stream (under the peer lock).
        BitStream* Scratch() override VELT_NO_THREAD_SAFETY_ANALYSIS { return &pass_.datagramScratch_; }

    private:
        NetworkPass& pass_;
        PlayerID to_;
    };

    void ReadSocket();
    void RunCommands(uint64_t timeUs) VELT_EXCLUDES(core_.slots.peerLock);
    void RunCommand(QueuedCommand& command, uint64_t timeUs) VELT_REQUIRES(core_.slots.peerLock);
    // Every active slot that has something to do, the peer lock held for runs of kItemsPerLock.
    void ServeSlots(NetTime now, uint64_t timeUs) VELT_EXCLUDES(core_.slots.peerLock);
    void ServeSlot(uint32_t index, NetTime now, uint64_t timeUs) VELT_REQUIRES(core_.slots.peerLock);
    // At the end of a serve: the span of time in which serving the slot again would do nothing
    // (its own rules and its channel have nothing due).
    void NoteSlotIdleUntil(uint32_t index, NetTime now, uint64_t timeUs) VELT_REQUIRES(core_.slots.peerLock);

    // ---- a slot's delivered messages (NetworkPassMessages.cpp) ----
    // Returns false when the slot was closed while its message was handled.
    bool HandleMessage(uint32_t index, OwnedPayload&& message, NetTime now, uint64_t timeUs)
        VELT_REQUIRES(core_.slots.peerLock);
    // A message of the slot for the user, within the slot's share of the queue (else dropped);
    // false when the slot was closed meanwhile.
    bool HandToGame(uint32_t index, OwnedPayload&& message, NetTime now, uint64_t timeUs)
        VELT_REQUIRES(core_.slots.peerLock);
    // Whether a message of length bytes from the slot may still join the queue to the user; when
    // not, it is counted, and a slot that stays over its share is closed.
    bool RoomForGame(uint32_t index, uint32_t length, NetTime now, uint64_t timeUs)
        VELT_REQUIRES(core_.slots.peerLock);
    void HandlePong(ConnectedSystem& slot, const uint8_t* data, NetTime now)
        VELT_REQUIRES(core_.slots.peerLock);

    PeerCore& core_;
    SlotSender& sender_;
    PeerAdmission& admission_;
    OutgoingConnections& outgoing_;
    PeerLines& lines_;
    CommandQueue& commands_;
    NetworkWakeup& wakeup_;

    // Every connection builds its datagrams here during its Update (see DatagramSender::Scratch).
    BitStream datagramScratch_ VELT_GUARDED_BY(core_.slots.peerLock){int32_t(kMaxDatagramBytes)};
    std::vector<uint16_t> targets_ VELT_GUARDED_BY(core_.slots.peerLock);
    // Network thread.
    std::vector<uint16_t> slotsToServe_;  // one pass's list, kept for its room
    bool pingPeriodicallySeen_ = false;   // the setting the idle marks were made under
    bool gameBehindLogged_ = false;
    PlayerID expectedSender_ = UNASSIGNED_PLAYER_ID;
};

}  // namespace velt
