#pragma once
// Console lines over telnet connections.

#include <cstdint>
#include <vector>

#include "net/PlayerID.h"

namespace velt {

class TcpInterface;

// Console lines over telnet connections.
class TelnetTransport {
public:
    TelnetTransport() = default;
    ~TelnetTransport();
    TelnetTransport(const TelnetTransport&) = delete;
    TelnetTransport& operator=(const TelnetTransport&) = delete;

    // Drops every client; the TCP side is gone afterwards.
    void Stop();
    uint32_t GetClientCount() const { return static_cast<uint32_t>(clients_.size()); }
    bool IsRunning() const { return tcp_ != nullptr; }

private:
    TcpInterface* tcp_ = nullptr;
    std::vector<PlayerID> clients_;
};

}  // namespace velt
