#pragma once

#include <cstdint>

#include "net/InternalPacket.h"
#include "net/Queue.h"

namespace velt {

// Free list of InternalPacket records, one per reliability channel and used on that channel's
// thread only. It saves one heap allocation per message: records come back here after use and
// leave for the heap only through Clear or the pool's end.
class InternalPacketFreeList {
public:
    static constexpr uint32_t kInitialRecords = 64;

    InternalPacketFreeList();
    ~InternalPacketFreeList();
    InternalPacketFreeList(const InternalPacketFreeList&) = delete;
    InternalPacketFreeList& operator=(const InternalPacketFreeList&) = delete;

    // A free record, or a new one when none is left. Its fields hold whatever they held before.
    InternalPacket* Allocate();
    // Takes a record back (null is ignored). Its payload must already be freed or handed on.
    void Release(InternalPacket* record);
    // Deletes every record held here; the pool stays usable.
    void Clear();

    uint32_t Size() const { return pool_.Size(); }

private:
    DataStructures::Queue<InternalPacket*> pool_;
};

}  // namespace velt
