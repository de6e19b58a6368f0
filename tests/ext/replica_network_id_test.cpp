// Naming objects across the network: who hands out identifiers, taking one over, parents, the
// counter, peer-to-peer identifiers, and the balance of the registry.

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "net/ext/NetworkIDGenerator.h"

namespace velt {
namespace {

class Named : public NetworkIDGenerator {
public:
    Named(NetworkIDRegistry& registry, bool authority)
        : NetworkIDGenerator(registry), authority_(authority) {}
    bool IsNetworkIDAuthority() const override { return authority_; }

private:
    bool authority_;
};

NetworkID Index(uint16_t localIndex) { return NetworkID{UNASSIGNED_PLAYER_ID, localIndex}; }

TEST(NetworkIdentifiers, AuthorityNamesInTurnAndKeepsWhatWasSet) {
    NetworkIDRegistry registry;
    Named a(registry, true), b(registry, true), c(registry, true), preset(registry, true);
    preset.SetId(Index(40));
    EXPECT_EQ(a.GetId().localIndex, 0);
    EXPECT_EQ(b.GetId().localIndex, 1);
    EXPECT_EQ(c.GetId().localIndex, 2);
    EXPECT_EQ(a.GetId().localIndex, 0) << "a named object keeps its identifier";
    EXPECT_EQ(preset.GetId().localIndex, 40) << "SetId is not undone by a later GetId";
    EXPECT_EQ(registry.FindBaseObject(Index(1)), &b);
    EXPECT_EQ(registry.Size(), 4u);
}

TEST(NetworkIdentifiers, OtherSystemsStayUnnamedUntilTold) {
    NetworkIDRegistry registry;
    Named remote(registry, false);
    EXPECT_EQ(remote.GetId(), UNASSIGNED_NETWORK_ID);
    remote.GenerateID();
    EXPECT_EQ(remote.GetId(), UNASSIGNED_NETWORK_ID) << "only the authority makes identifiers";
    EXPECT_EQ(registry.Size(), 0u);
    remote.SetId(Index(9));
    EXPECT_EQ(remote.GetId().localIndex, 9);
    EXPECT_EQ(registry.FindBaseObject(Index(9)), &remote);
    EXPECT_EQ(registry.FindBaseObject(UNASSIGNED_NETWORK_ID), nullptr);
}

TEST(NetworkIdentifiers, SetIdTakesAnIdentifierOverAndRenamingLeavesTheOldOne) {
    NetworkIDRegistry registry;
    auto first = std::make_unique<Named>(registry, false);
    Named second(registry, false);
    first->SetId(Index(5));
    second.SetId(Index(5));
    EXPECT_EQ(registry.FindBaseObject(Index(5)), &second);
    first.reset();  // must not take second's node with it
    EXPECT_EQ(registry.FindBaseObject(Index(5)), &second);

    second.SetId(Index(6));
    EXPECT_EQ(registry.FindBaseObject(Index(5)), nullptr);
    EXPECT_EQ(registry.FindBaseObject(Index(6)), &second);

    // Renaming an object whose old identifier another object took over leaves that one alone.
    Named third(registry, false);
    third.SetId(Index(6));
    second.SetId(Index(7));
    EXPECT_EQ(registry.FindBaseObject(Index(6)), &third);
    EXPECT_EQ(registry.FindBaseObject(Index(7)), &second);
    EXPECT_EQ(registry.Size(), 2u);
}

TEST(NetworkIdentifiers, FindObjectLeadsToTheParent) {
    NetworkIDRegistry registry;
    Named parent(registry, true), child(registry, true);
    child.SetParent(&parent);
    const NetworkID id = child.GetId();
    EXPECT_EQ(registry.FindBaseObject(id), &child);
    EXPECT_EQ(registry.FindObject(id), &parent);
    EXPECT_EQ(registry.FindObject(parent.GetId()), &parent);
}

TEST(NetworkIdentifiers, CounterSkipsTakenIndexesAndTheUnassignedOne) {
    NetworkIDRegistry registry;
    Named taken(registry, false);
    taken.SetId(Index(0xFFFD));
    registry.SetNextLocalIndex(0xFFFD);
    Named a(registry, true), b(registry, true);
    EXPECT_EQ(a.GetId().localIndex, 0xFFFE);
    EXPECT_EQ(b.GetId().localIndex, 0) << "0xFFFF would read as unassigned";
    EXPECT_EQ(registry.GetNextLocalIndex(), 1);
}

TEST(NetworkIdentifiers, FullRegistryLeavesTheObjectUnnamedUntilAnIndexIsFree) {
    NetworkIDRegistry registry;
    std::vector<std::unique_ptr<Named>> all;
    for (uint32_t i = 0; i < 0xFFFF; ++i) {
        all.push_back(std::make_unique<Named>(registry, true));
        ASSERT_EQ(all.back()->GetId().localIndex, i);
    }
    Named late(registry, true);
    EXPECT_EQ(late.GetId(), UNASSIGNED_NETWORK_ID);
    all[123].reset();
    EXPECT_EQ(late.GetId().localIndex, 123) << "a later GetId tries again";
}

TEST(NetworkIdentifiers, PeerToPeerIdentifiersCarryTheAuthorityAddress) {
    NetworkIDRegistry registry;
    NetworkID::SetPeerToPeerMode(true);
    {
        Named object(registry, true);
        EXPECT_EQ(object.GetId(), UNASSIGNED_NETWORK_ID) << "no external address yet";
        registry.SetExternalPlayerID(UNASSIGNED_PLAYER_ID);  // ignored
        const PlayerID self{0x0100007F, 7000};
        registry.SetExternalPlayerID(self);
        const NetworkID id = object.GetId();
        EXPECT_EQ(id.playerId, self);
        EXPECT_EQ(id.localIndex, 0);

        // The same index under another address is another identifier.
        Named remote(registry, false);
        remote.SetId(NetworkID{PlayerID{0x0200007F, 7000}, 0});
        EXPECT_EQ(registry.FindBaseObject(id), &object);
        EXPECT_EQ(registry.Size(), 2u);
    }
    NetworkID::SetPeerToPeerMode(false);
}

TEST(NetworkIdentifiers, ProgramRegistryServesTheStaticOperations) {
    Named object(ProcessNetworkIDRegistry(), false);
    object.SetId(Index(4242));
    EXPECT_EQ(NetworkIDGenerator::FindBaseObject(Index(4242)), &object);
    EXPECT_EQ(NetworkIDGenerator::FindObject(Index(4242)), &object);
    const uint16_t before = NetworkIDGenerator::GetNextLocalIndex();
    NetworkIDGenerator::SetNextLocalIndex(uint16_t(before + 3));
    EXPECT_EQ(NetworkIDGenerator::GetNextLocalIndex(), uint16_t(before + 3));
    NetworkIDGenerator::SetNextLocalIndex(before);
}

// Random inserts and removals against a map: same contents, and the height of a balanced tree.
TEST(NetworkIdentifiers, RegistryStaysBalancedAndAgreesWithAMap) {
    NetworkIDRegistry registry;
    std::map<uint16_t, NetworkIDGenerator*> oracle;
    std::vector<std::unique_ptr<Named>> objects;
    for (int i = 0; i < 64; ++i) objects.push_back(std::make_unique<Named>(registry, false));
    std::mt19937 random(7);
    for (int step = 0; step < 20000; ++step) {
        const uint16_t index = uint16_t(random() % 3000);
        NetworkIDGenerator* object = objects[random() % objects.size()].get();
        if (random() % 3 != 0) {
            const bool inserted = registry.Insert(Index(index), object);
            EXPECT_EQ(inserted, oracle.count(index) == 0);
            oracle.emplace(index, object);
        } else {
            EXPECT_EQ(registry.Remove(Index(index)), oracle.erase(index) == 1);
        }
        if (step % 500 == 0) {
            ASSERT_EQ(registry.Size(), oracle.size());
            for (const auto& [key, value] : oracle) ASSERT_EQ(registry.FindBaseObject(Index(key)), value);
            const double bound = 1.4405 * std::log2(double(oracle.size()) + 2.0);
            EXPECT_LE(registry.Height(), int32_t(bound) + 1);
        }
    }
}

}  // namespace
}  // namespace velt
