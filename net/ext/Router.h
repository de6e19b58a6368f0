#pragma once
// The router plugin: carries messages for systems this peer has no connection to.

#include <cstdint>
#include <vector>

#include "net/NetPeerInterface.h"
#include "net/PluginInterface.h"

namespace velt {

// Carries messages for systems this peer has no connection to, over the systems it has.
class Router : public PluginInterface, public RouterInterface {
public:
    Router() = default;
    ~Router() override = default;
    Router(const Router&) = delete;
    Router& operator=(const Router&) = delete;

    // No route is known while the graph is empty, so nothing can be carried.
    bool Send(const uint8_t* data, uint32_t bitLength, PacketPriority priority,
              MessageReliability reliability, uint8_t orderingChannel, PlayerID target) override;
    uint32_t GetGraphNodeCount() const { return static_cast<uint32_t>(graph_.size()); }

private:
    std::vector<PlayerID> graph_;
};

}  // namespace velt
