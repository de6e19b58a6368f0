#pragma once
// The game's way to send: to connection slots by index, the number the game already knows its
// players by. A message is encoded once however many slots it goes to, and nothing on the way
// looks a slot's address up. Sends and calls are queued for the network thread like the peer's
// own sends; a message goes only to the connection a slot held when it was queued. User thread.

#include <cstdint>
#include <span>

#include "net/NetworkTypes.h"

namespace velt {

class BitStream;

class SlotMessenger {
public:
    virtual ~SlotMessenger() = default;

    // To one slot. False for an empty message or a slot that holds no connected system now.
    virtual bool SendToSlot(uint16_t slot, const BitStream& message, const Delivery& delivery) = 0;
    // To each listed slot that holds a connected system now, in the order listed; false when none
    // does.
    virtual bool SendToSlots(std::span<const uint16_t> slots, const BitStream& message,
                             const Delivery& delivery) = 0;
    // To every connected system but the one in exceptSlot (-1: none).
    virtual bool Broadcast(const BitStream& message, const Delivery& delivery, int32_t exceptSlot) = 0;
    // A call with its parameters (null: none), to one slot or to many, as the sends above.
    virtual bool RpcToSlot(uint8_t rpcId, const BitStream* parameters, uint16_t slot,
                           const Delivery& delivery) = 0;
    virtual bool RpcToSlots(uint8_t rpcId, const BitStream* parameters, std::span<const uint16_t> slots,
                            const Delivery& delivery) = 0;
    // The disconnection notice, sent at once; the slot closes once it has nothing left to send.
    virtual void KickSlot(uint16_t slot) = 0;
};

}  // namespace velt
