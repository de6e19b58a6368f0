#include "net/InternalPacketPool.h"

namespace velt {

InternalPacketFreeList::InternalPacketFreeList() {
    // One slot more than the records so pushing the last one does not grow the ring at once.
    pool_.ClearAndForceAllocation(kInitialRecords + 1);
    for (uint32_t i = 0; i < kInitialRecords; ++i) pool_.Push(new InternalPacket());
}

InternalPacketFreeList::~InternalPacketFreeList() { Clear(); }

InternalPacket* InternalPacketFreeList::Allocate() {
    if (pool_.IsEmpty()) return new InternalPacket();
    return pool_.Pop();
}

void InternalPacketFreeList::Release(InternalPacket* record) {
    // At the front, so the next Allocate hands out the record released last: it is the one most
    // likely still in the cache, where the oldest of a few dozen free records seldom is.
    if (record) pool_.PushAtHead(record);
}

void InternalPacketFreeList::Clear() {
    while (!pool_.IsEmpty()) delete pool_.Pop();
}

}  // namespace velt
