// Two channels over a lossy, duplicating, reordering in-memory link in virtual time: what each
// delivery kind promises must hold at every loss rate, in both directions, split messages
// included towards the client side; and the bandwidth estimate must back off under loss.
#include <gtest/gtest.h>

#include <string>

#include "tests/net/channel_link_model.h"

using namespace velt;
using namespace velt::testlink;

namespace {

struct KindCase {
    MessageReliability kind;
    double loss;
};

std::string CaseName(const testing::TestParamInfo<KindCase>& info) {
    static const char* names[] = {"Unreliable", "UnreliableSequenced", "Reliable", "ReliableOrdered",
                                  "ReliableSequenced"};
    return std::string(names[info.param.kind - RELIABILITY_UNRELIABLE]) + "Loss" +
           std::to_string(int(info.param.loss * 100 + 0.5));
}

class ChannelLinkKinds : public testing::TestWithParam<KindCase> {};

TEST_P(ChannelLinkKinds, DeliversWhatTheKindPromises) {
    const KindCase c = GetParam();
    ScenarioOptions o;
    o.kind = c.kind;
    o.model.loss = c.loss;
    o.model.duplicate = 0.02;
    o.model.reorder = 0.05;
    o.messages = 1000;
    o.seed = uint32_t(c.kind) * 100 + uint32_t(c.loss * 100);
    const ScenarioResult r = RunScenario(o);

    ASSERT_TRUE(r.finished) << "not idle after " << r.virtualUs / 1000 << " ms";
    EXPECT_FALSE(r.dead);
    EXPECT_EQ(r.breaches, 0u) << "legitimate traffic tripped a flood limit";
    for (const DirectionResult* d : {&r.toClient, &r.toServer}) {
        SCOPED_TRACE(d == &r.toClient ? "server to client" : "client to server");
        EXPECT_EQ(d->corrupt, 0u);
        EXPECT_EQ(d->duplicates, 0u);
        EXPECT_EQ(d->outOfOrder, 0u);
        EXPECT_EQ(d->missing, 0u);
        EXPECT_EQ(d->lastMissing, 0u);
        EXPECT_LE(d->delivered, d->sent);
        // Nothing may be lost on a link that loses nothing (sequenced kinds may still skip
        // messages overtaken on the way).
        if (c.loss == 0 &&
            !(c.kind == RELIABILITY_UNRELIABLE_SEQUENCED || c.kind == RELIABILITY_RELIABLE_SEQUENCED)) {
            EXPECT_EQ(d->delivered, d->sent);
        }
    }
    if (c.loss > 0 && c.kind >= RELIABILITY_RELIABLE) {
        EXPECT_GT(r.resends, 0u);
    }
}

std::vector<KindCase> AllCases() {
    std::vector<KindCase> cases;
    for (int kind = RELIABILITY_UNRELIABLE; kind <= RELIABILITY_RELIABLE_SEQUENCED; ++kind)
        for (double loss : {0.0, 0.05, 0.20}) cases.push_back({MessageReliability(kind), loss});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(AllKinds, ChannelLinkKinds, testing::ValuesIn(AllCases()), CaseName);

// A link that starts losing datagrams must make the sender slow down: the measured bandwidth
// falls well below what the clean link had reached.
TEST(ChannelLink, BandwidthEstimateFallsUnderInducedLoss) {
    LinkModel clean;
    LinkedPair link(clean, 99);
    auto ignore = [](const uint8_t*, uint32_t) {};
    uint32_t seq = 0;
    // More than the initial 512 kbit/s on offer, so the sender is bandwidth-limited and measures.
    auto run = [&](uint64_t forUs) {
        const uint64_t end = link.now + forUs;
        while (link.now < end) {
            std::vector<uint8_t> m = MakeMessage(seq++, 0, 300);
            link.server.Send(m.data(), 300 * 8, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0, true,
                             LinkedPair::kMtu, link.now);
            link.Step(2000, ignore, ignore);
        }
    };
    run(15000000);
    const double clean_bps = link.server.GetStatistics(true).bitsPerSecond;
    EXPECT_GT(clean_bps, ReliabilityChannel::kInitialBandwidth) << "a clean link should let it grow";

    LinkModel lossy = clean;
    lossy.loss = 0.3;
    link.SetModel(lossy);
    run(15000000);
    const double lossy_bps = link.server.GetStatistics(true).bitsPerSecond;
    EXPECT_LT(lossy_bps, clean_bps * 0.5);
    EXPECT_FALSE(link.server.IsDead());
    EXPECT_EQ(link.breaches, 0u);
}

}  // namespace
