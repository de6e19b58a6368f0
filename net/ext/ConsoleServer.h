#pragma once
// The console server: reads command lines from a transport and hands them to the installed parsers.

#include <cstdint>
#include <vector>

#include "net/ext/CommandParser.h"

namespace velt {

class TransportInterface;

// Reads command lines from a transport and hands them to the installed parsers. Owns neither.
class ConsoleServer {
public:
    ConsoleServer() = default;
    ~ConsoleServer() = default;
    ConsoleServer(const ConsoleServer&) = delete;
    ConsoleServer& operator=(const ConsoleServer&) = delete;

    TransportInterface* GetTransport() const { return transport_; }
    uint32_t GetParserCount() const { return static_cast<uint32_t>(parsers_.size()); }

private:
    TransportInterface* transport_ = nullptr;
    std::vector<CommandParserInterface*> parsers_;
};

}  // namespace velt
