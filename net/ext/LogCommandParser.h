#pragma once
// Named log channels that console clients subscribe to.

#include <cstdint>

#include "net/ext/CommandParser.h"

namespace velt {

class TransportInterface;

// Named log channels that console clients subscribe to.
class LogCommandParser : public CommandParserInterface {
public:
    static constexpr uint32_t kMaxChannels = 32;

    LogCommandParser();
    const char* GetParserName() const override { return "Logger"; }
    // Number of named channels (none after construction).
    uint32_t GetChannelCount() const;
    // Where subscribers' lines go; none until a console server hands its transport over.
    TransportInterface* GetTransport() const { return transport_; }

private:
    const char* channelNames_[kMaxChannels] = {};
    TransportInterface* transport_ = nullptr;
};

}  // namespace velt
