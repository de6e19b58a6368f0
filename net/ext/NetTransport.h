#pragma once
// Console lines over a peer connection of the transport's own.

#include <cstdint>

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

}  // namespace velt
