#pragma once
// Transports of the remote text console: over a peer connection, or over telnet. Only their
// construction and destruction are needed here.

#include <cstdint>
#include <vector>

#include "net/PlayerID.h"

namespace velt {

class NetPeerInterface;

// Console lines over a peer of its own, which it creates when started and deletes with itself.
class NetTransport {
public:
    NetTransport() = default;
    ~NetTransport();
    NetTransport(const NetTransport&) = delete;
    NetTransport& operator=(const NetTransport&) = delete;

    NetPeerInterface* GetPeer() const { return peer_; }

private:
    NetPeerInterface* peer_ = nullptr;  // owned
};

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
