#pragma once
// The connection graph plugin: learns which systems of a mesh are connected to which.

#include <cstdint>
#include <vector>

#include "net/PlayerID.h"
#include "net/PluginInterface.h"

namespace velt {

// Learns which systems of a mesh are connected to which.
class ConnectionGraph : public PluginInterface {
public:
    ConnectionGraph() = default;
    ~ConnectionGraph() override = default;
    ConnectionGraph(const ConnectionGraph&) = delete;
    ConnectionGraph& operator=(const ConnectionGraph&) = delete;

    uint32_t GetNodeCount() const { return static_cast<uint32_t>(nodes_.size()); }

private:
    std::vector<PlayerID> nodes_;
};

}  // namespace velt
