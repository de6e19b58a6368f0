#pragma once
// The fully connected mesh plugin: whenever the connection graph announces a connection
// between two other systems, connects this system to whichever of the two it has no
// connection to. Attach it to the same peer as a connection graph, after it.

#include <cstdint>
#include <string>

#include "net/PluginInterface.h"

namespace velt {

class FullyConnectedMesh : public PluginInterface {
public:
    static constexpr uint32_t kMaxPasswordLength = 255;

    FullyConnectedMesh() = default;
    ~FullyConnectedMesh() override = default;
    FullyConnectedMesh(const FullyConnectedMesh&) = delete;
    FullyConnectedMesh& operator=(const FullyConnectedMesh&) = delete;

    // Sent with every connection attempt the mesh makes; null or empty sends none.
    void SetPassword(const char* password);

    // Always passes the packet on.
    PluginReceiveResult Received(NetPeerInterface* peer, Packet* packet) override;

    // Edge notices that did not come from this peer's own connection graph: ignored.
    uint32_t GetRejectedNoticeCount() const { return rejectedNotices_; }

private:
    std::string password_;
    uint32_t rejectedNotices_ = 0;
};

}  // namespace velt
