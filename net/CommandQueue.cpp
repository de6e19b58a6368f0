#include "net/CommandQueue.h"

#include "net/ConnectedSystem.h"

namespace velt {

QueuedCommand& CommandQueue::Begin(QueuedCommand::Kind kind) {
    QueuedCommand& command = *commands_.WriteLock();
    command.kind = kind;
    command.target = UNASSIGNED_PLAYER_ID;
    command.exceptSlot = -1;
    command.slotCount = 0;
    command.connectModeAfter = CM_NONE;
    return command;
}

void CommandQueue::Publish() {
    commands_.WriteUnlock();
    wakeup_.Notify();
}

void CommandQueue::Send(PlayerID target, OwnedPayload&& payload, const Delivery& delivery,
                        int32_t connectModeAfter) {
    QueuedCommand& command = Begin(QueuedCommand::Kind::Send);
    command.delivery = delivery;
    command.target = target;
    command.connectModeAfter = connectModeAfter;
    command.payload = std::move(payload);
    Publish();
}

void CommandQueue::Broadcast(PlayerID except, int32_t exceptSlot, OwnedPayload&& payload,
                             const Delivery& delivery) {
    QueuedCommand& command = Begin(QueuedCommand::Kind::Broadcast);
    command.delivery = delivery;
    command.target = except;
    command.exceptSlot = exceptSlot;
    command.payload = std::move(payload);
    Publish();
}

void CommandQueue::SendToSlots(std::span<const SlotRef> slots, OwnedPayload&& payload,
                               const Delivery& delivery) {
    for (const SlotRef& slot : slots) {
        *slots_.WriteLock() = slot;
        slots_.WriteUnlock();
    }
    QueuedCommand& command = Begin(QueuedCommand::Kind::SendToSlots);
    command.delivery = delivery;
    command.slotCount = uint32_t(slots.size());
    command.payload = std::move(payload);
    Publish();
}

void CommandQueue::Close(PlayerID target) {
    QueuedCommand& command = Begin(QueuedCommand::Kind::Close);
    command.target = target;
    command.payload.Clear();
    Publish();
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
