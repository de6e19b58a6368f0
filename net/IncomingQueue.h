#pragma once
// What the network thread hands to the user thread: received messages and the peer's notices,
// through a lock-free single-producer/single-consumer queue, with the bytes each connection has
// waiting counted so that a game that falls behind cannot make the queue grow without bound.
//
// A message travels in its queue entry as an owned OwnedPayload and the user thread makes its Packet:
// a small one then never becomes a heap block made on one thread and freed on the other, which
// never comes back through the allocator's per-thread cache and costs a trip through its shared
// lists each.

#include <atomic>
#include <cstdint>
#include <memory>

#include "net/OwnedPayload.h"
#include "net/Packet.h"
#include "net/PlayerID.h"
#include "net/SingleProducerConsumer.h"

namespace velt {

class IncomingQueue {
public:
    IncomingQueue() = default;
    IncomingQueue(const IncomingQueue&) = delete;
    IncomingQueue& operator=(const IncomingQueue&) = delete;

    // Packets from senders without a connection (pongs, advertisements) and notices of tampered
    // datagrams waiting for the user; more are dropped so a flood of them cannot grow the queue
    // without bound.
    static constexpr uint32_t kMaxCappedPackets = 128;

    // While no network thread runs: room for the shares of slots connections (0 frees it).
    void SizeShares(uint16_t slots);
    // While no network thread runs: drops everything queued, as both ends of the queue.
    void Clear();

    // ---- network thread ----
    // Queues a packet for the user. A capped packet beyond the cap is freed instead and false
    // returned (the caller counts the refusal).
    bool PushPacket(Packet* packet, bool capped);
    // A one-byte notice with the sender and its slot (0xFFFF without one). False as PushPacket.
    bool PushNotice(uint8_t id, PlayerID sender, uint16_t playerIndex, bool capped = false);
    // A message of a connection. charged: it takes its share of the slot's room (RoomFor said yes).
    void PushMessage(OwnedPayload&& message, PlayerID sender, uint16_t playerIndex, bool charged);

    // What a message of length bytes costs against its connection's share while it waits.
    static uint32_t ChargeFor(uint32_t length);
    // Bytes waiting for the user: one slot's, and in all (approximate while both threads run).
    uint64_t SlotBytes(uint32_t slot) const { return shares_[slot].load(std::memory_order_relaxed); }
    uint64_t TotalBytes() const { return total_.load(std::memory_order_relaxed); }
    uint32_t CappedWaiting() const { return cappedWaiting_.load(std::memory_order_relaxed); }

    // ---- user thread ----
    // The next entry as a Packet of its own, or null.
    Packet* Take();

private:
    struct Entry {
        Packet* packet = nullptr;  // null: the message is in `message`
        OwnedPayload message;
        PlayerID sender;
        uint16_t playerIndex = 0;
        uint16_t chargedSlot = 0;  // whose share the entry takes (charge bytes)
        uint32_t charge = 0;
        bool capped = false;  // counts against kMaxCappedPackets
    };

    Entry& Begin();
    void Charge(Entry& entry, uint16_t slot, uint32_t charge);
    void Discharge(const Entry& entry);

    DataStructures::SingleProducerConsumer<Entry> entries_;
    std::atomic<uint32_t> cappedWaiting_{0};
    // Written by the network thread, given back by the user thread.
    std::unique_ptr<std::atomic<uint32_t>[]> shares_;
    uint16_t shareCount_ = 0;
    std::atomic<uint64_t> total_{0};
};

}  // namespace velt
