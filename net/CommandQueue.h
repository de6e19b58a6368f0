#pragma once
// What the user thread asks of the network thread: sends and closes, carried out in the order
// they were queued on the thread's next pass. Lock-free (one producer, one consumer); every queued
// command wakes a waiting network thread.
//
// Sends to many connection slots carry one payload and a list of slots. The list travels in a
// queue of its own, published before its command, so that neither side allocates anything for it.

#include <cstdint>
#include <span>

#include "net/NetworkTypes.h"
#include "net/NetworkWakeup.h"
#include "net/OwnedPayload.h"
#include "net/PlayerID.h"
#include "net/SingleProducerConsumer.h"

namespace velt {

// A connection slot as a queued message addresses it: the slot index and which of its
// connections was meant (see SlotTable::Generation).
struct SlotRef {
    uint16_t index = 0;
    uint32_t generation = 0;
};

// What a queued command asks for, besides its payload.
struct CommandHeader {
    enum class Kind : uint8_t {
        Send,         // to target's slot
        Broadcast,    // to every connected slot but target's and exceptSlot
        SendToSlots,  // to the slots that follow in the target queue (slotCount of them)
        Close,        // target's slot closes at once, without a notice
    };
    Kind kind = Kind::Send;
    Delivery delivery;
    PlayerID target = UNASSIGNED_PLAYER_ID;
    int32_t exceptSlot = -1;
    uint32_t slotCount = 0;
    // Send: the connection mode target's slot takes after the send (0, CM_NONE: it keeps its own).
    int32_t connectModeAfter = 0;
};

struct QueuedCommand : CommandHeader {
    OwnedPayload payload;
};

class CommandQueue {
public:
    explicit CommandQueue(NetworkWakeup& wakeup) : wakeup_(wakeup) {}
    CommandQueue(const CommandQueue&) = delete;
    CommandQueue& operator=(const CommandQueue&) = delete;

    // ---- user thread ----
    void Send(PlayerID target, OwnedPayload&& payload, const Delivery& delivery, int32_t connectModeAfter);
    void Broadcast(PlayerID except, int32_t exceptSlot, OwnedPayload&& payload, const Delivery& delivery);
    void SendToSlots(std::span<const SlotRef> slots, OwnedPayload&& payload, const Delivery& delivery);
    void Close(PlayerID target);

    // ---- network thread ----
    // The oldest command, or null when none is waiting. It stays in its node (its payload may be
    // moved out) until Finish, which must come before the next call.
    QueuedCommand* Next();
    // The slots of the SendToSlots command from Next, in the order they were queued.
    template <class Each>
    void TakeSlots(Each&& each) {
        for (; slotsLeft_ != 0; --slotsLeft_) {
            SlotRef* slot = slots_.ReadLock();
            if (slot == nullptr) return;
            const SlotRef ref = *slot;
            slots_.ReadUnlock();
            each(ref);
        }
    }
    // Gives the command from Next back to the producer, with any of its slots not taken.
    void Finish();
    bool HasWaiting() const { return commands_.Size() != 0; }

    // While no network thread runs: drops everything queued, as both ends of the queue.
    void Clear();

private:
    void Queue(const CommandHeader& header, OwnedPayload&& payload);

    NetworkWakeup& wakeup_;
    DataStructures::SingleProducerConsumer<QueuedCommand> commands_;
    DataStructures::SingleProducerConsumer<SlotRef> slots_;
    uint32_t slotsLeft_ = 0;  // network thread: slots of the command from Next not yet taken
};

}  // namespace velt
