#pragma once
// The peer's index from a remote address to its connection slot, read for every datagram the
// network thread handles and every message it queues. Open addressing with linear probing in a
// table at most half full, so a lookup reads one or two cache lines where a halving search of a
// sorted list reads one per step, most of them cold on a busy server.

#include <cstdint>
#include <memory>

#include "net/PlayerID.h"

namespace velt {

class SlotLookup {
public:
    static constexpr int32_t kNotFound = -1;

    // Room for maxEntries addresses; forgets every entry. 0 releases the table.
    void Reset(uint32_t maxEntries);
    // Forgets every entry, keeping the room.
    void Clear();
    // Files address -> slot, replacing an earlier slot of the same address. False (nothing
    // changed) when the table already holds as many addresses as it was sized for.
    bool Insert(PlayerID address, uint16_t slot);
    // Forgets the address; nothing when it is not filed.
    void Remove(PlayerID address);
    // The address's slot, or kNotFound.
    int32_t Find(PlayerID address) const;
    uint32_t Size() const { return size_; }

private:
    struct Entry {
        uint32_t binaryAddress;
        uint16_t port;
        uint16_t slot;  // kEmpty: a free entry
    };
    static constexpr uint16_t kEmpty = 0xFFFF;

    uint32_t HomeOf(PlayerID address) const;

    std::unique_ptr<Entry[]> table_;
    uint32_t mask_ = 0;  // capacity - 1; the capacity is a power of two
    uint32_t maxEntries_ = 0;
    uint32_t size_ = 0;
};

}  // namespace velt
