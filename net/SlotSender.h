#pragma once
// Hands messages to the channels of connection slots, from either thread, under the peer lock:
// the user thread's immediate sends, the network thread's queued ones and the transport's own
// messages (handshake answers, pings, keep-alives, notices). A message is encoded once, however
// many slots it goes to, and each channel takes its own copy; the last one takes the payload.

#include <cstdint>
#include <span>

#include "net/NetworkTypes.h"
#include "net/OwnedPayload.h"
#include "net/PeerCore.h"

namespace velt {

class SlotSender {
public:
    explicit SlotSender(PeerCore& core) : core_(core) {}

    // The slot a message to target goes to: target's active slot unless it is closing; -1.
    int32_t SlotFor(PlayerID target) const VELT_REQUIRES(core_.slots.peerLock);
    // Whether a message may go to the slot: active and not closing.
    bool Sendable(uint32_t index) const VELT_REQUIRES(core_.slots.peerLock);

    // Hands message to the channel of each slot in targets (each one Sendable, checked by the
    // caller). Returns how many took it.
    uint32_t Send(std::span<const uint16_t> targets, OwnedPayload&& message, const Delivery& delivery,
                  uint64_t timeUs) VELT_REQUIRES(core_.slots.peerLock);
    // To one slot, if it is Sendable.
    bool SendToSlot(uint32_t index, OwnedPayload&& message, const Delivery& delivery, uint64_t timeUs)
        VELT_REQUIRES(core_.slots.peerLock);
    // A copy of bitLength bits of data to target's slot (SlotFor).
    bool SendTo(PlayerID target, const uint8_t* data, uint32_t bitLength, const Delivery& delivery,
                uint64_t timeUs) VELT_REQUIRES(core_.slots.peerLock);
    // Game data to every connected slot but except's and exceptSlot (-1: none): a slot still in
    // the handshake, or refused at the password, is nobody to send it to.
    uint32_t Broadcast(PlayerID except, int32_t exceptSlot, OwnedPayload&& message, const Delivery& delivery,
                       uint64_t timeUs) VELT_REQUIRES(core_.slots.peerLock);

    // The transport's own messages to a slot.
    // The disconnection notice, and the slot closes once it has nothing left to send.
    void NotifyAndClose(uint32_t index, uint8_t orderingChannel, uint64_t timeUs)
        VELT_REQUIRES(core_.slots.peerLock);
    void Ping(uint32_t index, uint64_t timeUs) VELT_REQUIRES(core_.slots.peerLock);
    void SendStaticData(uint32_t index, uint64_t timeUs) VELT_REQUIRES(core_.slots.peerLock);
    // A small message of the transport's own, copied (priority 0 unless given).
    bool SendBytes(uint32_t index, const uint8_t* data, uint32_t byteLength, MessageReliability reliability,
                   uint64_t timeUs, PacketPriority priority = SYSTEM_PRIORITY_LEVEL)
        VELT_REQUIRES(core_.slots.peerLock);

private:
    PeerCore& core_;
    std::vector<uint16_t> broadcastTargets_ VELT_GUARDED_BY(core_.slots.peerLock);
};

}  // namespace velt
