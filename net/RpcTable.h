#pragma once
// Remote procedure calls: the table from one-byte ids to handlers, and the wire form of a call.
//
//   [40][u32 sender ms]   optional timestamp prefix
//   [20][rpc id]          ID_RPC_CALL and the table index
//   compressed u32        number of argument bits
//   argument bits         copied bit for bit, no byte alignment
//   compressed u32 0      only when there are no argument bits

#include <cstdint>
#include <memory>

#include "net/Clock.h"
#include "net/NetworkTypes.h"
#include "net/PlayerID.h"

namespace velt {

class BitStream;

struct RpcNode {
    uint8_t id;
    RpcHandler handler;
    uint8_t isMember;
};

class RpcTable {
public:
    static constexpr uint32_t kSlots = 256;
    // Calls for this id are never dispatched, even when it is registered.
    static constexpr uint8_t kNeverDispatched = 255;

    RpcTable() = default;
    RpcTable(const RpcTable&) = delete;
    RpcTable& operator=(const RpcTable&) = delete;

    // Stores {id, handler, member} at index id, replacing an earlier record. Id 0 or a null
    // handler: nothing.
    void Register(uint8_t id, RpcHandler handler, bool member);
    // The record at id, or null for an empty slot.
    const RpcNode* Lookup(uint8_t id) const;
    void Clear() { nodes_.reset(); }
    bool IsEmpty() const { return nodes_ == nullptr; }

private:
    // Allocated on the first registration: every connection slot carries a table that stays
    // empty, so an unused one costs one pointer.
    std::unique_ptr<RpcNode[]> nodes_;
};

// Appends one call to out. bitLength bits are taken from the first bit of data onwards (data may
// be null only when bitLength is 0). With timestamp the prefix carries time.
void WriteRpcMessage(BitStream& out, uint8_t rpcId, const uint8_t* data, uint32_t bitLength, bool timestamp,
                     NetTime time);

// Why a received call was not run (for tests and the fuzz target; the peer drops all quietly).
enum class RpcDispatchResult : uint8_t {
    Called,
    NotRpc,            // neither [20] nor a timestamped [20]
    UnreadableHeader,  // id or bit length cut off
    NeverDispatched,   // id 255
    Unregistered,
    Truncated,  // fewer argument bits than declared
};

// Runs the handler of one received message (the bytes exactly as the user would see them) on
// the calling thread. The handler receives the argument bits left-aligned in a buffer that lives
// for the call only, or a null payload for 0 bits.
RpcDispatchResult DispatchRpcMessage(const RpcTable& table, const uint8_t* data, uint32_t length,
                                     PlayerID sender, NetPeer* recipient);

// True when a received message is a call: [20]..., or [40][u32][20]... of at least 6 bytes.
bool IsRpcMessage(const uint8_t* data, uint32_t length);

}  // namespace velt
