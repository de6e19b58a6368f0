#pragma once

// How a player's own pools reach their owner's client: through the owning player, who sends
// nothing once he has left (his id may by then belong to someone else).

#include <cstdint>
#include <functional>

namespace velt {

class BitStream;

using OwnerSend = std::function<void(uint8_t rpcId, const BitStream& bs)>;

}  // namespace velt
