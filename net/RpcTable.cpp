#include "net/RpcTable.h"

#include <memory>
#include <new>

#include "net/BitStream.h"
#include "net/MessageIdentifiers.h"
#include "net/Packet.h"

namespace velt {

namespace {

// Arguments up to this size (any message that was not split) reach the handler from the stack.
constexpr uint32_t kStackArgumentBytes = 4096;

}  // namespace

void RpcTable::Register(uint8_t id, RpcHandler handler, bool member) {
    if (id == 0 || handler == nullptr) return;
    if (!nodes_) nodes_ = std::make_unique<RpcNode[]>(kSlots);
    nodes_[id] = RpcNode{id, handler, static_cast<uint8_t>(member ? 1 : 0)};
}

const RpcNode* RpcTable::Lookup(uint8_t id) const {
    if (!nodes_ || nodes_[id].handler == nullptr) return nullptr;
    return &nodes_[id];
}

void WriteRpcMessage(BitStream& out, uint8_t rpcId, const uint8_t* data, uint32_t bitLength, bool timestamp,
                     NetTime time) {
    if (timestamp) {
        out.Write(static_cast<uint8_t>(ID_TIMESTAMPED));
        out.Write(static_cast<uint32_t>(time));
    }
    out.Write(static_cast<uint8_t>(ID_RPC_CALL));
    out.Write(rpcId);
    out.WriteCompressed(bitLength);
    if (bitLength != 0 && data != nullptr) {
        out.WriteRawBits(data, static_cast<int32_t>(bitLength), false);
    } else {
        // Receivers expect an empty call to end with a second compressed zero.
        out.WriteCompressed(uint32_t{0});
    }
}

bool IsRpcMessage(const uint8_t* data, uint32_t length) {
    if (data == nullptr || length == 0) return false;
    if (data[0] == ID_RPC_CALL) return true;
    return data[0] == ID_TIMESTAMPED && length >= 6 && data[5] == ID_RPC_CALL;
}

RpcDispatchResult DispatchRpcMessage(const RpcTable& table, const uint8_t* data, uint32_t length,
                                     PlayerID sender, NetPeer* recipient) {
    if (!IsRpcMessage(data, length) || length > BitStream::kMaxBytes) return RpcDispatchResult::NotRpc;

    BitStream in(data, length, false);
    in.SkipBits(data[0] == ID_TIMESTAMPED ? 48 : 8);

    uint8_t id = 0;
    uint32_t bitLength = 0;
    if (!in.Read(id) || !in.ReadCompressed(bitLength)) return RpcDispatchResult::UnreadableHeader;
    if (id == RpcTable::kNeverDispatched) return RpcDispatchResult::NeverDispatched;
    const RpcNode* node = table.Lookup(id);
    if (node == nullptr) return RpcDispatchResult::Unregistered;

    RpcCallParams params{nullptr, 0, sender, recipient};
    if (bitLength == 0) {
        node->handler(&params);
        return RpcDispatchResult::Called;
    }

    // The declared length is checked against what is there before any buffer is sized by it.
    const int32_t unread = in.GetNumberOfUnreadBits();
    if (unread <= 0 || bitLength > static_cast<uint32_t>(unread)) return RpcDispatchResult::Truncated;

    const uint32_t bytes = (bitLength + 7u) / 8u;
    uint8_t stackBuffer[kStackArgumentBytes];
    std::unique_ptr<uint8_t[]> heapBuffer;
    uint8_t* buffer = stackBuffer;
    if (bytes > sizeof stackBuffer) {
        heapBuffer.reset(new (std::nothrow) uint8_t[bytes]);
        if (!heapBuffer) return RpcDispatchResult::Truncated;
        buffer = heapBuffer.get();
    }
    if (!in.ReadRawBits(buffer, static_cast<int32_t>(bitLength), false)) return RpcDispatchResult::Truncated;

    params.payload = buffer;
    params.payloadBits = bitLength;
    node->handler(&params);
    return RpcDispatchResult::Called;
}

}  // namespace velt
