#pragma once

// The protocol fake transport (real connection records) that also reports counters: per slot and
// in total, as the test sets them; none unless set. No test framework here.

#include <map>
#include <optional>

#include "net/NetworkStatistics.h"
#include "tests/server/dispatch_fake_net.h"

namespace velt::test {

class StatsFakeNet : public ProtocolFakeNet {
public:
    static NetServerFactory Factory() { return FactoryOf<StatsFakeNet>(); }

    NetworkStatistics* GetStatistics(PlayerID target) override {
        if (target == UNASSIGNED_PLAYER_ID) return totals ? &*totals : nullptr;
        auto it = stats.find(GetIndexFromPlayerID(target));
        return it != stats.end() ? &it->second : nullptr;
    }

    std::map<int32_t, NetworkStatistics> stats;
    std::optional<NetworkStatistics> totals;
};

}  // namespace velt::test
