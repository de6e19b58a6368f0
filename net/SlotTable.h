#pragma once
// A peer's connection slots and what finds them: the slot records with their reliability
// channels, the index from a remote address to its slot, and when each slot next needs the
// network pass.
//
// The peer lock lives here: every use of a slot or its channel holds it, from either thread, for a
// short while. A few things are read without it and say so: the slot count (which changes only
// while the peer is stopped), the flags ConnectedSystem keeps atomic, the idle marks, and the
// addresses handed out for cache prefetching.

#include <atomic>
#include <cstdint>
#include <memory>

#include "net/ConnectedSystem.h"
#include "net/ReliabilityChannel.h"
#include "net/SimpleMutex.h"
#include "net/SlotLookup.h"
#include "net/ThreadAnnotations.h"

namespace velt {

// What a freshly assigned slot's channel takes from the peer's settings.
struct SlotDefaults {
    uint32_t timeoutMs = 0;
    uint32_t splitMessageProgressInterval = 0;
    uint32_t unreliableTimeoutMs = 0;
};

// What every channel of the table is made with.
struct ChannelSetup {
    WireRole role = WireRole::Client;
    uint64_t nowUs = 0;
    const TransportSettings* settings = nullptr;
    WireLogFn log = nullptr;
};

class SlotTable {
public:
    SlotTable() = default;
    SlotTable(const SlotTable&) = delete;
    SlotTable& operator=(const SlotTable&) = delete;

    mutable SimpleMutex peerLock;

    // While no network thread runs. Makes count inactive slots, each with a channel of its own
    // for the table's life.
    void Create(uint16_t count, const ChannelSetup& setup) VELT_REQUIRES(peerLock);
    // Closes every slot without a word and frees the table.
    void Destroy(uint64_t nowUs) VELT_REQUIRES(peerLock);
    // Number of slots (0 when none were made). Changes only while the peer is stopped, so either
    // thread reads it without the lock.
    uint16_t Count() const { return count_; }

    ConnectedSystem& At(uint32_t index) VELT_REQUIRES(peerLock) { return records_[index]; }
    const ConnectedSystem& At(uint32_t index) const VELT_REQUIRES(peerLock) { return records_[index]; }
    ReliabilityChannel& ChannelOf(uint32_t index) VELT_REQUIRES(peerLock) { return *channels_[index]; }
    int32_t IndexOf(const ConnectedSystem& slot) const { return int32_t(&slot - records_.get()); }
    // Lock-free: the slot's isActive flag (atomic; a stale answer is re-checked under the lock).
    bool IsActive(uint32_t index) const { return records_[index].isActive != 0; }
    // Lock-free: the slot's connectMode (atomic).
    int32_t ModeOf(uint32_t index) const { return records_[index].connectMode; }

    // ---- finding slots (peer lock held) ----
    // The active slot of the address through the index (the network thread's way), or -1.
    int32_t Find(PlayerID address) const VELT_REQUIRES(peerLock);
    // A linear scan (the user thread's way): the first active slot with the address; failing
    // that, unless onlyActive, the first inactive one that still holds it. -1 for none.
    int32_t FindAny(PlayerID address, bool onlyActive) const VELT_REQUIRES(peerLock);
    // Active slots in CM_CONNECTED that the remote system opened.
    uint32_t CountConnectedIncoming() const VELT_REQUIRES(peerLock);

    // Takes the first inactive slot for address, reset for a new connection in connectMode and
    // due at the next pass; -1 when every slot is in use.
    int32_t Assign(PlayerID address, int32_t connectMode, const SlotDefaults& defaults, NetTime now,
                   uint64_t nowUs) VELT_REQUIRES(peerLock);
    // Marks the slot inactive, resets its channel and forgets its address. The caller has done
    // whatever else closing means.
    void Release(uint32_t index, uint64_t nowUs) VELT_REQUIRES(peerLock);
    // Counts assignments of the slot: a message queued for one connection never reaches the next
    // one the slot is given to. Lock-free.
    uint32_t Generation(uint32_t index) const { return generations_[index].load(std::memory_order_acquire); }

    // ---- answers kept for the datagrams of a batch ----
    // Looks sender up and keeps the answer, which Find then gives without a lookup. The last two
    // answers are kept; both are forgotten whenever the index changes.
    int32_t LookUpAndKeep(PlayerID sender) VELT_REQUIRES(peerLock);
    // The kept answer for sender: its slot; -1 when it has none or no answer was kept.
    int32_t KeptAnswer(PlayerID sender) const VELT_REQUIRES(peerLock);

    // ---- when each slot next needs a pass ----
    // Slot i is skipped while idleFrom <= now < idleUntil. Its channel clears the until mark to 0
    // the moment anything makes it due, from either thread. Marks change only under the lock; the
    // pass reads them without it, and a wake it misses by a hair is seen at the next pass, as a
    // send queued just after the pass would be.
    bool IsIdle(uint32_t index, uint64_t timeUs) const {
        return timeUs >= idleFrom_[index].load(std::memory_order_relaxed) &&
               timeUs < idleUntil_[index].load(std::memory_order_relaxed);
    }
    // Never served (inactive).
    void MarkUnused(uint32_t index) VELT_REQUIRES(peerLock) { MarkIdle(index, 0, UINT64_MAX); }
    // Served at the next pass.
    void MarkDue(uint32_t index) VELT_REQUIRES(peerLock) { MarkIdle(index, 0, 0); }
    void MarkIdle(uint32_t index, uint64_t from, uint64_t until) VELT_REQUIRES(peerLock) {
        idleFrom_[index].store(from, std::memory_order_relaxed);
        idleUntil_[index].store(until, std::memory_order_relaxed);
    }

    // ---- cache hints for the pass (lock-free: addresses only, nothing is read) ----
    const ConnectedSystem* RecordAddress(uint32_t index) const { return &records_[index]; }
    const ReliabilityChannel* ChannelAddress(uint32_t index) const { return channels_[index]; }

private:
    struct LookupAnswer {
        PlayerID sender = UNASSIGNED_PLAYER_ID;
        int32_t index = -1;
    };
    void ForgetLookupAnswers() VELT_REQUIRES(peerLock) {
        lookupAnswers_[0] = lookupAnswers_[1] = LookupAnswer{};
    }

    uint16_t count_ = 0;
    // Each slot's channel (the same for the table's life) in one compact array: the pass fetches
    // a channel ahead of its turn, and finding it through the slot record would wait for that
    // record first.
    std::unique_ptr<ReliabilityChannel*[]> channels_;
    // When each slot next needs a pass, in two compact arrays so that a pass over hundreds of
    // mostly idle connections reads a few cache lines instead of a slot record and a channel for
    // each. Declared before the records: the channels write their marks until they are destroyed.
    std::unique_ptr<std::atomic<uint64_t>[]> idleUntil_;
    std::unique_ptr<std::atomic<uint64_t>[]> idleFrom_;
    std::unique_ptr<std::atomic<uint32_t>[]> generations_;
    std::unique_ptr<ConnectedSystem[]> records_;
    SlotLookup lookup_ VELT_GUARDED_BY(peerLock);
    LookupAnswer lookupAnswers_[2] VELT_GUARDED_BY(peerLock);
    uint32_t nextLookupAnswer_ VELT_GUARDED_BY(peerLock) = 0;
};

}  // namespace velt
