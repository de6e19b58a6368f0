#pragma once
// The replica manager plugin: keeps registered objects in step on the systems that take part.

#include <cstdint>
#include <vector>

#include "net/NetworkTypes.h"
#include "net/PlayerID.h"
#include "net/PluginInterface.h"

namespace velt {

// Keeps registered objects in step on the systems that take part.
class ReplicaManager : public PluginInterface {
public:
    ReplicaManager() = default;
    ~ReplicaManager() override = default;
    ReplicaManager(const ReplicaManager&) = delete;
    ReplicaManager& operator=(const ReplicaManager&) = delete;

    uint32_t GetParticipantCount() const { return static_cast<uint32_t>(participants_.size()); }
    uint32_t GetObjectCount() const { return static_cast<uint32_t>(objects_.size()); }

private:
    std::vector<PlayerID> participants_;
    std::vector<NetworkID> objects_;
};

}  // namespace velt
