#include "net/IncomingQueue.h"

#include <cstring>

namespace velt {

void IncomingQueue::SizeShares(uint16_t slots) {
    shares_.reset();
    shareCount_ = slots;
    if (slots != 0) shares_ = std::make_unique<std::atomic<uint32_t>[]>(slots);
}

void IncomingQueue::Clear() {
    while (Entry* entry = entries_.ReadLock()) {
        FreePacket(entry->packet);
        entry->packet = nullptr;
        entry->message.Clear();
        Discharge(*entry);
        entries_.ReadUnlock();
    }
    entries_.Clear();
    cappedWaiting_.store(0, std::memory_order_relaxed);
    total_.store(0, std::memory_order_relaxed);
}

IncomingQueue::Entry& IncomingQueue::Begin() {
    Entry& entry = *entries_.WriteLock();
    entry.packet = nullptr;
    entry.capped = false;
    entry.chargedSlot = 0;
    entry.charge = 0;
    return entry;
}

bool IncomingQueue::PushPacket(Packet* packet, bool capped) {
    if (packet == nullptr) return true;
    if (capped) {
        if (cappedWaiting_.load(std::memory_order_relaxed) >= kMaxCappedPackets) {
            FreePacket(packet);
            return false;
        }
        cappedWaiting_.fetch_add(1, std::memory_order_relaxed);
    }
    Entry& entry = Begin();
    entry.packet = packet;
    entry.capped = capped;
    entries_.WriteUnlock();
    return true;
}

bool IncomingQueue::PushNotice(uint8_t id, PlayerID sender, uint16_t playerIndex, bool capped) {
    Packet* packet = NewPacket(1);
    if (packet == nullptr) return true;
    packet->data[0] = id;
    packet->sender = sender;
    packet->playerIndex = playerIndex;
    return PushPacket(packet, capped);
}

void IncomingQueue::PushMessage(OwnedPayload&& message, PlayerID sender, uint16_t playerIndex, bool charged) {
    const uint32_t charge = charged ? ChargeFor(message.ByteLength()) : 0;
    Entry& entry = Begin();
    entry.message = std::move(message);
    entry.sender = sender;
    entry.playerIndex = playerIndex;
    Charge(entry, playerIndex, charge);
    entries_.WriteUnlock();
}

uint32_t IncomingQueue::ChargeFor(uint32_t length) {
    // The entry itself, and for a message that does not fit it its block and the Packet made for
    // it on the user's side.
    uint32_t charge = uint32_t(sizeof(Entry));
    if (length > OwnedPayload::kInlineBytes) charge += uint32_t(sizeof(Packet)) + length;
    return charge;
}

void IncomingQueue::Charge(Entry& entry, uint16_t slot, uint32_t charge) {
    entry.chargedSlot = slot;
    entry.charge = charge;
    if (charge == 0) return;
    shares_[slot].fetch_add(charge, std::memory_order_relaxed);
    total_.fetch_add(charge, std::memory_order_relaxed);
}

void IncomingQueue::Discharge(const Entry& entry) {
    if (entry.charge == 0) return;
    if (shares_ && entry.chargedSlot < shareCount_)
        shares_[entry.chargedSlot].fetch_sub(entry.charge, std::memory_order_relaxed);
    total_.fetch_sub(entry.charge, std::memory_order_relaxed);
}

Packet* IncomingQueue::Take() {
    while (Entry* entry = entries_.ReadLock()) {
        Packet* packet = entry->packet;
        entry->packet = nullptr;
        if (packet == nullptr && !entry->message.Empty()) {
            OwnedPayload& message = entry->message;
            const uint32_t length = message.ByteLength();
            const uint32_t bits = message.BitLength();
            // A block of its own becomes the Packet's data as it is; inline bytes go into the
            // Packet's own block.
            if (message.OnHeap()) {
                uint8_t* block = message.Release();
                packet = NewPacket(length, block);
                if (packet == nullptr) delete[] block;
            } else {
                packet = NewPacket(length);
                if (packet != nullptr) std::memcpy(packet->data, message.Data(), length);
                message.Clear();
            }
            if (packet != nullptr) {
                packet->bitLength = bits;
                packet->sender = entry->sender;
                packet->playerIndex = entry->playerIndex;
            }
        }
        if (entry->capped) cappedWaiting_.fetch_sub(1, std::memory_order_relaxed);
        Discharge(*entry);
        entries_.ReadUnlock();
        if (packet != nullptr) return packet;
    }
    return nullptr;
}

}  // namespace velt
