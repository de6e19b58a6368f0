#include "net/ext/Router.h"

namespace velt {

bool Router::Send(const uint8_t* data, uint32_t bitLength, PacketPriority priority,
                  MessageReliability reliability, uint8_t orderingChannel, PlayerID target) {
    (void)data;
    (void)bitLength;
    (void)priority;
    (void)reliability;
    (void)orderingChannel;
    (void)target;
    return false;
}

}  // namespace velt
