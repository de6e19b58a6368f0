#include <gtest/gtest.h>

#include <map>
#include <random>

#include "net/SlotLookup.h"

using namespace velt;

namespace {

PlayerID Addr(uint32_t a, uint16_t port) { return PlayerID{a, port}; }

TEST(SlotLookup, FindsInsertedAndForgetsRemoved) {
    SlotLookup lookup;
    EXPECT_EQ(lookup.Find(Addr(1, 1)), SlotLookup::kNotFound);  // no table yet
    lookup.Reset(4);
    EXPECT_TRUE(lookup.Insert(Addr(0x0100007F, 7777), 0));
    EXPECT_TRUE(lookup.Insert(Addr(0x0100007F, 7778), 3));
    EXPECT_EQ(lookup.Find(Addr(0x0100007F, 7777)), 0);
    EXPECT_EQ(lookup.Find(Addr(0x0100007F, 7778)), 3);
    EXPECT_EQ(lookup.Find(Addr(0x0200007F, 7777)), SlotLookup::kNotFound);
    // A second insert of an address moves it, it does not add a second entry.
    EXPECT_TRUE(lookup.Insert(Addr(0x0100007F, 7777), 2));
    EXPECT_EQ(lookup.Find(Addr(0x0100007F, 7777)), 2);
    EXPECT_EQ(lookup.Size(), 2u);
    lookup.Remove(Addr(0x0100007F, 7777));
    lookup.Remove(Addr(9, 9));  // never filed
    EXPECT_EQ(lookup.Find(Addr(0x0100007F, 7777)), SlotLookup::kNotFound);
    EXPECT_EQ(lookup.Find(Addr(0x0100007F, 7778)), 3);
    EXPECT_EQ(lookup.Size(), 1u);
}

TEST(SlotLookup, RefusesMoreAddressesThanItWasSizedFor) {
    SlotLookup lookup;
    lookup.Reset(2);
    EXPECT_TRUE(lookup.Insert(Addr(1, 1), 0));
    EXPECT_TRUE(lookup.Insert(Addr(1, 2), 1));
    EXPECT_FALSE(lookup.Insert(Addr(1, 3), 1));
    EXPECT_EQ(lookup.Find(Addr(1, 3)), SlotLookup::kNotFound);
    lookup.Clear();
    EXPECT_EQ(lookup.Find(Addr(1, 1)), SlotLookup::kNotFound);
    EXPECT_TRUE(lookup.Insert(Addr(1, 3), 1));
}

// Removal shifts later entries of a probe run back: churn over a full table, against a map,
// catches an entry made unreachable or a stale one left behind.
TEST(SlotLookup, StaysExactThroughChurnOfAFullTable) {
    constexpr uint32_t kSlots = 1000;
    SlotLookup lookup;
    lookup.Reset(kSlots);
    std::map<std::pair<uint32_t, uint16_t>, uint16_t> model;
    std::mt19937 rng(7);
    // Few addresses, many ports each: the shape of many clients behind a few hosts.
    auto randomAddr = [&] { return Addr(0x0100007F + (rng() % 4), uint16_t(20000 + rng() % 3000)); };
    for (int step = 0; step < 200000; ++step) {
        const PlayerID a = randomAddr();
        const auto key = std::make_pair(a.binaryAddress, a.port);
        if (rng() % 2 == 0 && model.size() < kSlots) {
            const uint16_t slot = uint16_t(rng() % kSlots);
            ASSERT_TRUE(lookup.Insert(a, slot));
            model[key] = slot;
        } else {
            lookup.Remove(a);
            model.erase(key);
        }
        ASSERT_EQ(lookup.Size(), model.size());
        if (step % 1000 == 0) {
            for (const auto& [k, slot] : model) ASSERT_EQ(lookup.Find(Addr(k.first, k.second)), slot);
        }
        const PlayerID probe = randomAddr();
        const auto it = model.find(std::make_pair(probe.binaryAddress, probe.port));
        ASSERT_EQ(lookup.Find(probe), it == model.end() ? SlotLookup::kNotFound : int32_t(it->second));
    }
}

}  // namespace
