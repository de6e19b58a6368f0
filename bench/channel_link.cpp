// Two reliability channels over the in-memory lossy link of the tests, at full size: 10^5
// messages from the server side (large ones split) and a quarter as many back, per delivery kind
// and loss rate. Reports the datagrams and resends it took, and fails the run if any delivery
// broke what its kind promises.
#include <benchmark/benchmark.h>

#include "tests/net/channel_link_model.h"

using namespace velt;
using namespace velt::testlink;

namespace {

void BM_ChannelLink(benchmark::State& state) {
    const auto kind = MessageReliability(state.range(0));
    const double loss = double(state.range(1)) / 100.0;
    ScenarioResult r;
    for (auto _ : state) {
        ScenarioOptions o;
        o.kind = kind;
        o.model.loss = loss;
        o.model.duplicate = 0.02;
        o.model.reorder = 0.05;
        o.messages = 100000;
        o.deadlineUs = 3600ull * 1000000;
        o.seed = uint32_t(kind) * 1000 + uint32_t(state.range(1));
        r = RunScenario(o);
    }
    const bool reliable = kind == RELIABILITY_RELIABLE || kind == RELIABILITY_RELIABLE_ORDERED;
    for (const DirectionResult* d : {&r.toClient, &r.toServer}) {
        if (d->corrupt || d->duplicates || d->outOfOrder || d->missing || d->lastMissing)
            state.SkipWithError("a delivery broke its kind's promise");
        if (reliable && d->delivered != d->sent) state.SkipWithError("a reliable message was lost");
    }
    if (!r.finished || r.dead || r.breaches) state.SkipWithError("the link did not drain cleanly");
    state.counters["datagrams"] = double(r.datagrams);
    state.counters["resends"] = double(r.resends);
    state.counters["delivered"] = double(r.toClient.delivered + r.toServer.delivered);
    state.counters["sent"] = double(r.toClient.sent + r.toServer.sent);
    state.counters["virtual_s"] = double(r.virtualUs) / 1e6;
    state.counters["final_kbps"] = r.serverBandwidth / 1000.0;
}

void Kinds(benchmark::internal::Benchmark* b) {
    for (int kind = RELIABILITY_UNRELIABLE; kind <= RELIABILITY_RELIABLE_SEQUENCED; ++kind)
        for (int lossPercent : {0, 5, 20}) b->Args({kind, lossPercent});
}

BENCHMARK(BM_ChannelLink)
    ->Apply(Kinds)
    ->ArgNames({"kind", "loss%"})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
