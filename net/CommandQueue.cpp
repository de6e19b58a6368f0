#include "net/CommandQueue.h"

namespace velt {

void CommandQueue::Queue(const CommandHeader& header, OwnedPayload&& payload) {
    QueuedCommand& command = *commands_.WriteLock();
    static_cast<CommandHeader&>(command) = header;
    command.payload = std::move(payload);
    commands_.WriteUnlock();
    wakeup_.Notify();
}

void CommandQueue::Send(PlayerID target, OwnedPayload&& payload, const Delivery& delivery,
                        int32_t connectModeAfter) {
    Queue({.kind = CommandHeader::Kind::Send,
           .delivery = delivery,
           .target = target,
           .connectModeAfter = connectModeAfter},
          std::move(payload));
}

void CommandQueue::Broadcast(PlayerID except, int32_t exceptSlot, OwnedPayload&& payload,
                             const Delivery& delivery) {
    Queue({.kind = CommandHeader::Kind::Broadcast,
           .delivery = delivery,
           .target = except,
           .exceptSlot = exceptSlot},
          std::move(payload));
}

void CommandQueue::SendToSlots(std::span<const SlotRef> slots, OwnedPayload&& payload,
                               const Delivery& delivery) {
    for (const SlotRef& slot : slots) {
        *slots_.WriteLock() = slot;
        slots_.WriteUnlock();
    }
    Queue(
        {.kind = CommandHeader::Kind::SendToSlots, .delivery = delivery, .slotCount = uint32_t(slots.size())},
        std::move(payload));
}

void CommandQueue::Close(PlayerID target) {
    Queue({.kind = CommandHeader::Kind::Close, .delivery = {}, .target = target}, {});
}

QueuedCommand* CommandQueue::Next() {
    QueuedCommand* command = commands_.ReadLock();
    slotsLeft_ = command != nullptr ? command->slotCount : 0;
    return command;
}

void CommandQueue::Finish() {
    TakeSlots([](const SlotRef&) {});
    commands_.ReadUnlock();
}

void CommandQueue::Clear() {
    while (QueuedCommand* command = Next()) {
        command->payload.Clear();
        Finish();
    }
    commands_.Clear();
    slots_.Clear();
    slotsLeft_ = 0;
}

}  // namespace velt
