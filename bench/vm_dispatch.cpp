// Script interpreter throughput on the shapes scripts spend their time in: a tight arithmetic
// loop, recursive calls, native calls (patched into direct calls after the first), and array
// work through indexed loads and stores. Each benchmark reports instructions per second.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "server/vm/VmImageBuilder.h"
#include "server/vm/VmOpcodes.h"
#include "server/vm/vm.h"

using namespace velt;

namespace {

cell nativeAdd(VmInstance*, const cell* params) { return params[1] + params[2]; }

std::vector<uint8_t> buildImage() {
    VmImageBuilder b;
    b.GetOptions().stackBytes = 64 * 1024;
    b.DataLabel("arr");
    b.DataSpace(256);

    // loop(n): sum of i*3 ^ i for i < n  — 10 instructions per iteration
    b.Label("loop");
    b.Op(OP_PROC);
    b.Op(OP_ZERO_PRI);
    b.Op(OP_PUSH_PRI);  // total at [frm-4]
    b.Label("loop_top");
    b.Op(OP_LOAD_S_PRI, 12);
    b.Op(OP_JZER, "loop_done");
    b.Op(OP_DEC_S, 12);
    b.Op(OP_SMUL_C, 3);
    b.Op(OP_LOAD_S_ALT, 12);
    b.Op(OP_XOR);
    b.Op(OP_LOAD_S_ALT, -4);
    b.Op(OP_ADD);
    b.Op(OP_STOR_S_PRI, -4);
    b.Op(OP_JUMP, "loop_top");
    b.Label("loop_done");
    b.Op(OP_LOAD_S_PRI, -4);
    b.Op(OP_STACK, 4);
    b.Op(OP_RETN);

    // fib(n): naive recursion
    b.Label("fib");
    b.Op(OP_PROC);
    b.Op(OP_LOAD_S_PRI, 12);
    b.Op(OP_CONST_ALT, 2);
    b.Op(OP_JSLESS, "fib_base");
    b.Op(OP_ADD_C, -1);
    b.Op(OP_PUSH_PRI);
    b.Op(OP_PUSH_C, 4);
    b.Op(OP_CALL, "fib");
    b.Op(OP_PUSH_PRI);
    b.Op(OP_LOAD_S_PRI, 12);
    b.Op(OP_ADD_C, -2);
    b.Op(OP_PUSH_PRI);
    b.Op(OP_PUSH_C, 4);
    b.Op(OP_CALL, "fib");
    b.Op(OP_POP_ALT);
    b.Op(OP_ADD);
    b.Label("fib_base");
    b.Op(OP_RETN);

    // natives(n): n calls of a two-argument native
    b.Label("natives");
    b.Op(OP_PROC);
    b.Label("nat_top");
    b.Op(OP_LOAD_S_PRI, 12);
    b.Op(OP_JZER, "nat_done");
    b.Op(OP_DEC_S, 12);
    b.Op(OP_PUSH_C, 2);
    b.Op(OP_PUSH_PRI);
    b.Op(OP_PUSH_C, 8);
    b.Op(OP_SYSREQ_C, "add");
    b.Op(OP_STACK, 12);
    b.Op(OP_JUMP, "nat_top");
    b.Label("nat_done");
    b.Op(OP_RETN);

    // arrays(n): n passes of arr[i] = arr[i] + i over 256 cells, with bounds checks
    b.Label("arrays");
    b.Op(OP_PROC);
    b.Label("arr_pass");
    b.Op(OP_LOAD_S_PRI, 12);
    b.Op(OP_JZER, "arr_done");
    b.Op(OP_DEC_S, 12);
    b.Op(OP_ZERO_PRI);
    b.Op(OP_PUSH_PRI);  // i at [frm-4]
    b.Label("arr_top");
    b.Op(OP_LOAD_S_PRI, -4);
    b.Op(OP_BOUNDS, 255);
    b.Op(OP_CONST_ALT, "arr");
    b.Op(OP_IDXADDR);
    b.Op(OP_PUSH_PRI);
    b.Op(OP_LOAD_I);
    b.Op(OP_LOAD_S_ALT, -4);
    b.Op(OP_ADD);
    b.Op(OP_POP_ALT);
    b.Op(OP_STOR_I);
    b.Op(OP_INC_S, -4);
    b.Op(OP_LOAD_S_PRI, -4);
    b.Op(OP_EQ_C_PRI, 256);
    b.Op(OP_JZER, "arr_top");
    b.Op(OP_STACK, 4);
    b.Op(OP_JUMP, "arr_pass");
    b.Label("arr_done");
    b.Op(OP_RETN);

    for (const char* p : {"loop", "fib", "natives", "arrays"}) b.AddPublic(p, p);
    std::vector<uint8_t> out;
    b.Build(out);
    return out;
}

struct Loaded {
    VmInstance inst{};
    Loaded() {
        static const std::vector<uint8_t> image = buildImage();
        static const VmNativeEntry natives[] = {{"add", nativeAdd}, {nullptr, nullptr}};
        vm_LoadImage(&inst, image.data(), image.size());
        vm_Register(&inst, natives, -1);
    }
    ~Loaded() { vm_FreeImage(&inst); }
    cell call(const char* name, cell arg) {
        int idx;
        vm_LookupPublic(&inst, name, &idx);
        vm_PushCell(&inst, arg);
        cell r = 0;
        vm_Exec(&inst, &r, idx);
        return r;
    }
};

void runWorkload(benchmark::State& state, const char* name, cell arg, double instructions) {
    Loaded vm;
    for (auto _ : state) benchmark::DoNotOptimize(vm.call(name, arg));
    state.counters["instr/s"] =
        benchmark::Counter(instructions * double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Loop(benchmark::State& state) { runWorkload(state, "loop", 100000, 10.0 * 100000); }
void BM_Fib(benchmark::State& state) {
    // fib(20): 10946 calls that return at once (5 instructions) and 10945 that recurse (17)
    runWorkload(state, "fib", 20, 10946.0 * 5 + 10945.0 * 17);
}
void BM_Natives(benchmark::State& state) { runWorkload(state, "natives", 10000, 10000.0 * 9); }
void BM_Arrays(benchmark::State& state) { runWorkload(state, "arrays", 100, 100.0 * 256 * 14); }

}  // namespace

BENCHMARK(BM_Loop);
BENCHMARK(BM_Fib);
BENCHMARK(BM_Natives);
BENCHMARK(BM_Arrays);
