#pragma once
// Field forms shared by the replica manager's writer and reader.

#include <cstdint>

#include "net/BitStream.h"
#include "net/MessageIdentifiers.h"
#include "net/NetworkTypes.h"

namespace velt {

// The identifier of an object: in peer-to-peer mode its address and port first, then always
// its local index.
inline void WriteNetworkID(BitStream& out, const NetworkID& id) {
    if (NetworkID::IsPeerToPeerMode()) {
        out.Write(id.playerId.binaryAddress);
        out.Write(id.playerId.port);
    }
    out.Write(id.localIndex);
}

// False when the stream is short; id then holds what was read so far over UNASSIGNED_NETWORK_ID.
inline bool ReadNetworkID(BitStream& in, NetworkID& id) {
    id = UNASSIGNED_NETWORK_ID;
    if (NetworkID::IsPeerToPeerMode() && !(in.Read(id.playerId.binaryAddress) && in.Read(id.playerId.port)))
        return false;
    return in.Read(id.localIndex);
}

// The optional [ID_TIMESTAMPED][u32 time] in front of a message.
inline void WriteTimestamp(BitStream& out, bool include, uint32_t time) {
    if (!include) return;
    out.Write(uint8_t(ID_TIMESTAMPED));
    out.Write(time);
}

}  // namespace velt
