#pragma once
// An ordered list of system addresses (duplicates allowed) that can be shuffled, written to and
// read from a bit stream, and saved to and loaded from a file. The router takes its recipients
// in this form.

#include <cstdint>

#include "net/BitStream.h"
#include "net/List.h"
#include "net/PlayerID.h"

namespace velt {

class AddressList {
public:
    AddressList() = default;
    explicit AddressList(PlayerID address) { Add(address); }

    void Add(PlayerID address) { addresses_.Insert(address); }
    // Removes the first entry equal to address; the others keep their order.
    void Remove(PlayerID address);
    // A random permutation drawn from the library's generator.
    void Shuffle();
    void Clear() { addresses_.Clear(); }
    uint32_t Size() const { return addresses_.Size(); }
    PlayerID operator[](uint32_t index) const { return addresses_[index]; }
    const DataStructures::List<PlayerID>& GetList() const { return addresses_; }

    // u16 count (the low 16 bits of the size: only the first 65535 entries are written), then
    // u32 address and u16 port per entry.
    void Serialize(BitStream& out) const;
    // False, with the list unchanged, when the count cannot be read; false with an empty list
    // when an entry is cut off.
    bool Deserialize(BitStream& in);
    // The serialised form as the whole file. False when the file cannot be written.
    bool Save(const char* fileName) const;
    // False when the file cannot be read, is empty or does not hold a whole list.
    bool Load(const char* fileName);

private:
    DataStructures::List<PlayerID> addresses_;
};

}  // namespace velt
