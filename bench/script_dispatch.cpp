// Callback dispatch on the per-packet path: OnPlayerUpdate into 16 filterscripts and the gamemode,
// each public returning 1 (so the gamemode is asked too). Besides the Google Benchmark table,
// `bench_script_dispatch --dispatches=N` just dispatches N times and exits, for an instruction
// count under callgrind: (Ir at N) - (Ir at 0), divided by N.
#include <benchmark/benchmark.h>

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "server/hosts/FilterScriptHost.h"
#include "server/hosts/GameModeHost.h"
#include "server/hosts/ScriptHostEnv.h"
#include "tools/vmasm/VmAsm.h"

using namespace velt;

namespace {

const char* const kScript = R"(
.code
.main main
main:
    proc
    zero.pri
    retn
.public OnPlayerConnect
OnPlayerConnect:
    proc
    const.pri 1
    retn
.public OnPlayerUpdate
OnPlayerUpdate:
    proc
    const.pri 1
    retn
.public OnPlayerText
OnPlayerText:
    proc
    const.pri 1
    retn
)";

struct Scripts {
    ScriptHostEnv env;
    VmFilterScripts fs{env};
    VmGameMode gm{env};
    std::string path;

    Scripts() {
        std::vector<uint8_t> image;
        std::string error;
        if (!VmAssemble(kScript, image, &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            std::exit(1);
        }
        char name[] = "/tmp/velt_bench_gm_XXXXXX";
        const int fd = mkstemp(name);
        if (fd < 0) std::exit(1);
        if (write(fd, image.data(), image.size()) != ssize_t(image.size())) std::exit(1);
        close(fd);
        path = name;
        if (gm.Load(path.c_str()) != 1) std::exit(1);
        for (int i = 0; i < 16; ++i) {
            const std::string n = "fs" + std::to_string(i);
            if (fs.LoadFilterScriptFromMemory(n.c_str(), image.data(), image.size()) != 1) std::exit(1);
        }
    }
    ~Scripts() { std::remove(path.c_str()); }

    // What the core does for every on-foot sync packet.
    __attribute__((noinline)) int32_t Update(int32_t playerid) {
        if (fs.OnPlayerUpdate(playerid) == 0) return 0;
        return gm.OnPlayerUpdate(playerid);
    }
};

void BM_OnPlayerUpdate_1gm_16fs(benchmark::State& state) {
    Scripts s;
    int32_t id = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(s.Update(id));
        id = (id + 1) % 1000;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OnPlayerUpdate_1gm_16fs);

void BM_OnPlayerText_1gm_16fs(benchmark::State& state) {
    Scripts s;
    for (auto _ : state) {
        char text[] = "a chat line of ordinary length";
        if (s.fs.OnPlayerText(1, text) != 0) benchmark::DoNotOptimize(s.gm.OnPlayerText(1, text));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OnPlayerText_1gm_16fs);

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--dispatches=", 13) == 0) {
            const long n = std::atol(argv[i] + 13);
            Scripts s;
            int64_t sum = 0;
            for (long k = 0; k < n; ++k) sum += s.Update(int32_t(k % 1000));
            return sum == n ? 0 : 1;
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
