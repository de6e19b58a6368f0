#include "net/SlotSender.h"

#include "common/LittleEndian.h"
#include "net/MessageIdentifiers.h"

namespace velt {

namespace {

bool IsReliable(MessageReliability r) {
    return r == RELIABILITY_RELIABLE || r == RELIABILITY_RELIABLE_ORDERED ||
           r == RELIABILITY_RELIABLE_SEQUENCED;
}

bool IsDisconnecting(int32_t mode) {
    return mode == CM_DISCONNECT_ASAP || mode == CM_DISCONNECT_ASAP_SILENTLY ||
           mode == CM_DISCONNECT_ON_NO_ACK;
}

}  // namespace

int32_t SlotSender::SlotFor(PlayerID target) const {
    const int32_t index = core_.slots.Find(target);
    return index >= 0 && Sendable(uint32_t(index)) ? index : -1;
}

bool SlotSender::Sendable(uint32_t index) const {
    const ConnectedSystem& slot = core_.slots.At(index);
    return slot.isActive && !IsDisconnecting(slot.connectMode);
}

uint32_t SlotSender::Send(std::span<const uint16_t> targets, OwnedPayload&& message, const Delivery& delivery,
                          uint64_t timeUs) {
    if (targets.empty() || message.Empty()) {
        message.Clear();
        return 0;
    }
    ByteCompression& compression = core_.compression;
    OwnedPayload compressed;
    if (compression.CompressesOutput()) compressed = compression.Compress(message);
    OwnedPayload& onWire = compression.CompressesOutput() ? compressed : message;

    const NetTime nowMs = NetTime(timeUs / 1000u);
    uint32_t sent = 0;
    for (size_t k = 0; k < targets.size(); ++k) {
        const uint32_t index = targets[k];
        ConnectedSystem& slot = core_.slots.At(index);
        compression.CountSent(message, onWire);
        ReliabilityChannel& channel = *slot.channel;
        const bool last = k + 1 == targets.size();
        const bool taken =
            last ? channel.Send(std::move(onWire), delivery.priority, delivery.reliability,
                                delivery.orderingChannel, core_.mtu, timeUs)
                 : channel.SendCopy(onWire.Data(), onWire.BitLength(), delivery.priority,
                                    delivery.reliability, delivery.orderingChannel, core_.mtu, timeUs);
        if (!taken) continue;
        ++sent;
        if (IsReliable(delivery.reliability)) slot.lastReliableSend = nowMs;
    }
    message.Clear();
    return sent;
}

bool SlotSender::SendToSlot(uint32_t index, OwnedPayload&& message, const Delivery& delivery,
                            uint64_t timeUs) {
    if (!Sendable(index)) {
        message.Clear();
        return false;
    }
    const uint16_t target = uint16_t(index);
    return Send({&target, 1}, std::move(message), delivery, timeUs) != 0;
}

bool SlotSender::SendTo(PlayerID target, const uint8_t* data, uint32_t bitLength, const Delivery& delivery,
                        uint64_t timeUs) {
    const int32_t index = SlotFor(target);
    if (index < 0) return false;
    return SendToSlot(uint32_t(index), OwnedPayload::CopyOf(data, bitLength), delivery, timeUs);
}

uint32_t SlotSender::Broadcast(PlayerID except, int32_t exceptSlot, OwnedPayload&& message,
                               const Delivery& delivery, uint64_t timeUs) {
    broadcastTargets_.clear();
    const uint32_t count = core_.slots.Count();
    for (uint32_t i = 0; i < count; ++i) {
        const ConnectedSystem& s = core_.slots.At(i);
        if (s.isActive && s.connectMode == CM_CONNECTED && s.playerId != except &&
            s.playerId != UNASSIGNED_PLAYER_ID && int32_t(i) != exceptSlot)
            broadcastTargets_.push_back(uint16_t(i));
    }
    return Send(broadcastTargets_, std::move(message), delivery, timeUs);
}

bool SlotSender::SendBytes(uint32_t index, const uint8_t* data, uint32_t byteLength,
                           MessageReliability reliability, uint64_t timeUs, PacketPriority priority) {
    Delivery delivery;
    delivery.priority = priority;
    delivery.reliability = reliability;
    delivery.orderingChannel = 0;
    return SendToSlot(index, OwnedPayload::CopyOf(data, byteLength * 8u), delivery, timeUs);
}

void SlotSender::NotifyAndClose(uint32_t index, uint8_t orderingChannel, uint64_t timeUs) {
    if (!core_.slots.At(index).isActive) return;
    const uint8_t notice = ID_CONN_CLOSED;
    Delivery delivery;
    delivery.priority = HIGH_PRIORITY_LEVEL;
    delivery.reliability = RELIABILITY_UNRELIABLE;
    delivery.orderingChannel = orderingChannel;
    SendToSlot(index, OwnedPayload::CopyOf(&notice, 8), delivery, timeUs);
    core_.slots.At(index).connectMode = CM_DISCONNECT_ASAP;
}

void SlotSender::Ping(uint32_t index, uint64_t timeUs) {
    uint8_t ping[5];
    ping[0] = ID_INTERNAL_PING;
    WriteU32(ping + 1, NetTime(timeUs / 1000u));
    SendBytes(index, ping, sizeof ping, RELIABILITY_UNRELIABLE, timeUs);
}

void SlotSender::SendStaticData(uint32_t index, uint64_t timeUs) {
    BitStream message;
    message.Write(uint8_t(ID_STATIC_DATA));
    const BitStream& own = core_.myStaticData;
    if (own.GetNumberOfBitsUsed() > 0) message.WriteRawBits(own.GetData(), own.GetNumberOfBitsUsed(), false);
    Delivery delivery;
    delivery.priority = SYSTEM_PRIORITY_LEVEL;
    delivery.reliability = RELIABILITY_RELIABLE;
    SendToSlot(index, OwnedPayload::CopyOf(message.GetData(), uint32_t(message.GetNumberOfBitsUsed())),
               delivery, timeUs);
}

}  // namespace velt
