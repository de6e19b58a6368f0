#include "net/ext/LogCommandParser.h"

namespace velt {

LogCommandParser::LogCommandParser() {
    AddCommand(VARIABLE_PARAMETER_COUNT, "Subscribe",
               "[<ChannelName>] - Subscribes to a named channel, or all channels");
    AddCommand(VARIABLE_PARAMETER_COUNT, "Unsubscribe",
               "[<ChannelName>] - Unsubscribes from a named channel, or all channels");
}

uint32_t LogCommandParser::GetChannelCount() const {
    uint32_t n = 0;
    while (n < kMaxChannels && channelNames_[n] != nullptr) ++n;
    return n;
}

}  // namespace velt
