#include "net/SlotLookup.h"

namespace velt {

void SlotLookup::Reset(uint32_t maxEntries) {
    table_.reset();
    mask_ = 0;
    maxEntries_ = 0;
    size_ = 0;
    if (maxEntries == 0) return;
    // At most half full, so probe runs stay short whatever the addresses.
    uint32_t capacity = 8;
    while (capacity < 2u * maxEntries) capacity <<= 1;
    table_ = std::make_unique<Entry[]>(capacity);
    mask_ = capacity - 1;
    maxEntries_ = maxEntries;
    Clear();
}

void SlotLookup::Clear() {
    for (uint32_t i = 0; table_ && i <= mask_; ++i) table_[i] = Entry{0, 0, kEmpty};
    size_ = 0;
}

uint32_t SlotLookup::HomeOf(PlayerID address) const {
    // Clients behind one address differ only in the port, and addresses of one network only in
    // their last bytes: a multiplicative mix spreads both over the whole table.
    const uint64_t key = (uint64_t(address.binaryAddress) << 16) | address.port;
    return uint32_t((key * 0x9E3779B97F4A7C15ull) >> 32) & mask_;
}

bool SlotLookup::Insert(PlayerID address, uint16_t slot) {
    if (!table_ || slot == kEmpty) return false;
    for (uint32_t i = HomeOf(address);; i = (i + 1) & mask_) {
        Entry& e = table_[i];
        if (e.slot == kEmpty) {
            if (size_ >= maxEntries_) return false;
            e = Entry{address.binaryAddress, address.port, slot};
            ++size_;
            return true;
        }
        if (e.binaryAddress == address.binaryAddress && e.port == address.port) {
            e.slot = slot;
            return true;
        }
    }
}

int32_t SlotLookup::Find(PlayerID address) const {
    if (!table_) return kNotFound;
    for (uint32_t i = HomeOf(address);; i = (i + 1) & mask_) {
        const Entry& e = table_[i];
        if (e.slot == kEmpty) return kNotFound;
        if (e.binaryAddress == address.binaryAddress && e.port == address.port) return e.slot;
    }
}

void SlotLookup::Remove(PlayerID address) {
    if (!table_) return;
    uint32_t hole = HomeOf(address);
    for (;; hole = (hole + 1) & mask_) {
        const Entry& e = table_[hole];
        if (e.slot == kEmpty) return;
        if (e.binaryAddress == address.binaryAddress && e.port == address.port) break;
    }
    // Shift back every later entry of the run that may move into the hole, so that no lookup
    // ever meets a free entry before the address it looks for (no tombstones to age).
    for (uint32_t next = (hole + 1) & mask_;; next = (next + 1) & mask_) {
        Entry& e = table_[next];
        if (e.slot == kEmpty) break;
        const uint32_t home = HomeOf(PlayerID{e.binaryAddress, e.port});
        // The entry may fill the hole when its home does not lie cyclically in (hole, next].
        const bool homeBetween = ((next - home) & mask_) < ((next - hole) & mask_);
        if (homeBetween) continue;
        table_[hole] = e;
        hole = next;
    }
    table_[hole] = Entry{0, 0, kEmpty};
    --size_;
}

}  // namespace velt
