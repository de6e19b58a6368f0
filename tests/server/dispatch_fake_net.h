#pragma once

// The recording fake transport of the game-server tests, with one difference the join and packet
// handlers need: every known slot has a real connection record (the join handler marks it logged
// on), and a test can take a slot's record away. No test framework here, so the fuzz targets use
// it too.

#include <map>
#include <memory>
#include <set>

#include "net/ConnectedSystem.h"
#include "tests/server/FakeNetServer.h"

namespace velt::test {

class ProtocolFakeNet : public FakeNetServer {
public:
    static NetServerFactory Factory() { return FactoryOf<ProtocolFakeNet>(); }

    ConnectedSystem* GetConnectedSystem(PlayerID target) override {
        int32_t index = GetIndexFromPlayerID(target);
        if (index < 0 || withoutSystem.count(index) != 0) return nullptr;
        std::unique_ptr<ConnectedSystem>& system = systems[index];
        if (!system) system = std::make_unique<ConnectedSystem>();
        return system.get();
    }
    // The record of a slot (made on first use).
    ConnectedSystem& SystemOf(int32_t index) { return *GetConnectedSystem(GetPlayerIDFromIndex(index)); }

    // Slots whose connection record the transport no longer has.
    std::set<int32_t> withoutSystem;
    std::map<int32_t, std::unique_ptr<ConnectedSystem>> systems;

protected:
    // Made and unmade like the base fake (last, nextStartSucceeds), as the kind Fake.
    template <class Fake>
    static NetServerFactory FactoryOf() {
        return {&Create<Fake>, &Destroy};
    }

private:
    template <class Fake>
    static NetServerInterface* Create() {
        auto* fake = new Fake();
        fake->startSucceeds = nextStartSucceeds;
        last = fake;
        return fake;
    }
    static void Destroy(NetServerInterface* server) {
        if (server == last) last = nullptr;
        delete server;
    }
};

}  // namespace velt::test
