// Remote procedure calls: registration, queued and immediate calls. Dispatch runs inside Receive
// (NetPeer.cpp) through DispatchRpcMessage.

#include <mutex>
#include <vector>

#include "net/NetPeer.h"

namespace velt {

namespace {

using Lock = std::lock_guard<SimpleMutex>;

bool IsDisconnecting(int32_t mode) {
    return mode == CM_DISCONNECT_ASAP || mode == CM_DISCONNECT_ASAP_SILENTLY ||
           mode == CM_DISCONNECT_ON_NO_ACK;
}

}  // namespace

void NetPeer::RegisterRpc(const uint8_t* uniqueId, RpcHandler handler) {
    if (uniqueId == nullptr) return;
    rpcTable_.Register(*uniqueId, handler, false);
}

void NetPeer::RegisterRpcMember(const uint8_t* uniqueId, RpcHandler handler) {
    if (uniqueId == nullptr) return;
    rpcTable_.Register(*uniqueId, handler, true);
}

bool NetPeer::RpcBytes(const uint8_t* uniqueId, const uint8_t* data, uint32_t bitLength,
                       PacketPriority priority, MessageReliability reliability, uint8_t orderingChannel,
                       PlayerID target, bool broadcast, bool shiftTimestamp, NetworkID networkId,
                       BitStream* replyFromTarget) {
    (void)networkId;
    (void)replyFromTarget;
    if (uniqueId == nullptr || (bitLength != 0 && data == nullptr)) return false;
    if (bitLength > uint32_t(BitStream::kMaxBits) - 128u) return false;
    if (!remoteSystemList_ || !IsActive()) return false;

    std::vector<PlayerID> targets;
    bool routed = false;
    {
        Lock lock(peerLock_);
        if (broadcast) {
            // Calls, like any game data, go only to fully connected systems.
            for (uint32_t i = 0; i < maximumNumberOfPeers_; ++i) {
                const ConnectedSystem& s = remoteSystemList_[i];
                if (s.isActive && s.connectMode == CM_CONNECTED && s.playerId != target)
                    targets.push_back(s.playerId);
            }
        } else {
            const int32_t index = FindIndexUser(target, true);
            if (index >= 0 && !IsDisconnecting(remoteSystemList_[index].connectMode))
                targets.push_back(target);
            else if (router_ != nullptr)
                routed = true;
        }
    }
    if (routed) {
        BitStream message;
        WriteRpcMessage(message, *uniqueId, data, bitLength, shiftTimestamp, NowMs());
        return router_->Send(message.GetData(), uint32_t(message.GetNumberOfBitsUsed()), priority,
                             reliability, orderingChannel, target);
    }
    if (targets.empty()) return false;

    for (const PlayerID& to : targets) {
        BitStream message;
        WriteRpcMessage(message, *uniqueId, data, bitLength, shiftTimestamp, NowMs());
        BufferedCommand command{};
        command.kind = BufferedCommand::kSend;
        command.bitLength = uint32_t(message.GetNumberOfBitsUsed());
        command.priority = priority;
        command.reliability = reliability;
        command.orderingChannel = orderingChannel;
        command.target = to;
        command.broadcast = false;
        command.connectMode = CM_NONE;
        QueueCommand(command, message.GetData(), uint32_t(message.GetNumberOfBytesUsed()));
    }
    return true;
}

bool NetPeer::Rpc(const uint8_t* uniqueId, const BitStream* parameters, PacketPriority priority,
                  MessageReliability reliability, uint8_t orderingChannel, PlayerID target, bool broadcast,
                  bool shiftTimestamp, NetworkID networkId, BitStream* replyFromTarget) {
    const uint8_t* data = parameters != nullptr ? parameters->GetData() : nullptr;
    const uint32_t bits = parameters != nullptr ? uint32_t(parameters->GetNumberOfBitsUsed()) : 0u;
    return RpcBytes(uniqueId, data, bits, priority, reliability, orderingChannel, target, broadcast,
                    shiftTimestamp, networkId, replyFromTarget);
}

bool NetPeer::RpcNow(const uint8_t* uniqueId, const uint8_t* data, uint32_t bitLength,
                     PacketPriority priority, MessageReliability reliability, uint8_t orderingChannel,
                     PlayerID target, bool shiftTimestamp) {
    if (uniqueId == nullptr || (bitLength != 0 && data == nullptr)) return false;
    if (bitLength > uint32_t(BitStream::kMaxBits) - 128u) return false;
    if (!remoteSystemList_ || !IsActive()) return false;
    const uint64_t timeUs = clock_->NowUs();
    BitStream message;
    WriteRpcMessage(message, *uniqueId, data, bitLength, shiftTimestamp, NetTime(timeUs / 1000u));
    Lock lock(peerLock_);
    bool taken = false;
    return SendImmediateLocked(message.GetData(), uint32_t(message.GetNumberOfBitsUsed()), priority,
                               reliability, orderingChannel, target, false, false, taken, timeUs) != 0;
}

}  // namespace velt
