// Runs generated programs twice, with fused code and with the code of the file, and stops the
// fuzzer when anything a host or a native could see differs: the result code, the returned cell,
// the saved registers, the data block (heap and stack included), the native calls made.
//
// Programs are built mostly from the sequences the loader fuses, with labels that sometimes land
// inside them, loops (whole-loop forms mostly closing on their own head), native calls that sleep
// or fail, and any other instruction now and then.
// The fuzz build counts instructions, so a fused instruction must stop exactly where its plain
// sequence would when the budget runs out inside it.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "server/vm/VmImageBuilder.h"
#include "server/vm/VmOpcodes.h"
#include "server/vm/vm.h"
#include "server/vm/vm_internal.h"
#include "tests/fuzz/VmFuzzInput.h"

using namespace velt;

namespace {

using Input = VmFuzzInput;

// Every native call, in order: both runs must make the same ones with the same arguments.
std::vector<cell> g_calls;

cell recordingNative(VmInstance* inst, const cell* params) {
    const cell argc = params[0] / 4;
    cell first = argc > 0 ? params[1] : 0;
    g_calls.push_back(argc);
    g_calls.push_back(first);
    g_calls.push_back(inst->frame);
    g_calls.push_back(inst->stack);
    g_calls.push_back(inst->heap);
    g_calls.push_back(inst->cip);
    switch (ucell(first) % 5) {
        case 0: vm_RaiseError(inst, VM_ERR_SLEEP); break;
        case 1: vm_RaiseError(inst, VM_ERR_NATIVE); break;
        default: break;
    }
    return cell(ucell(first) * 2654435761u);
}

bool frameOperand(int op) {
    return op == OP_LOAD_S_PRI || op == OP_LOAD_S_ALT || op == OP_STOR_S_PRI || op == OP_INC_S ||
           op == OP_ADDR_ALT;
}

std::vector<uint8_t> generate(Input& in) {
    VmImageBuilder b;
    b.GetOptions().compact = in.byte() & 1;
    b.GetOptions().stackBytes = 128 + 4 * (in.byte() % 128);
    const int natives = in.byte() % 3;
    for (int i = 0; i < natives; ++i) b.AddNative("nat" + std::to_string(i));
    const int pieces = 1 + in.byte() % 32;
    int labels = 0;
    auto target = [&](uint8_t k) { return VmOperandRef("t" + std::to_string(k % 48)); };
    std::vector<std::string> tables = {"tbl_end"};

    b.Label("t0");
    b.Op(OP_PROC);
    for (int i = in.byte() % 8; i > 0; --i) b.Op(OP_PUSH_C, in.value());
    for (int p = 0; p < pieces; ++p) {
        const uint8_t pick = in.byte();
        std::vector<int> ops;
        bool loop = false;  // the closing JUMP goes back to the head, as whole loops have it
        if (pick < 200) {
            const VmFusedInfo& f = FusedOpcodeInfo(kVmFusedFirst + pick % kVmFusedCount);
            ops.assign(f.ops, f.ops + f.count);
            loop = f.loop && in.byte() % 4 != 0;
        } else {
            ops.push_back(1 + in.byte() % (OP_NUM_OPCODES - 1));
        }
        for (size_t i = 0; i < ops.size(); ++i) {
            // A label at the start of most pieces, and now and then inside a sequence.
            if ((i == 0 && in.byte() % 2 == 0) || (i > 0 && in.byte() % 8 == 0))
                if (labels < 47) b.Label("t" + std::to_string(++labels));
            if (i == 0 && loop) {
                b.Label("h" + std::to_string(p));
            }
            const int op = ops[i];
            switch (OpcodeInfo(op).operand) {
                case VmOperand::None: b.Op(op); break;
                case VmOperand::Value:
                    if (frameOperand(op)) {
                        const uint8_t k = in.byte();
                        b.Op(op, k < 240   ? cell(-4 * (1 + k % 8))
                                 : k < 248 ? cell(12 + 4 * (k % 2))
                                           : in.word());
                    } else if (op == OP_HALT) {
                        b.Op(op, in.byte() % 2 ? 12 : 0);
                    } else {
                        b.Op(op, in.value());
                    }
                    break;
                case VmOperand::Code:
                    if (loop && i + 1 == ops.size())
                        b.Op(op, VmOperandRef("h" + std::to_string(p)));
                    else if (op == OP_SWITCH)
                        b.Op(op, VmOperandRef(tables[in.byte() % tables.size()]));
                    else
                        b.Op(op, target(in.byte()));
                    break;
                case VmOperand::Rel: b.Op(op, 0); break;
                case VmOperand::Native:
                    if (natives) {
                        b.Op(OP_PUSH_C, in.value());
                        b.Op(OP_PUSH_C, 4);
                        b.Op(op, in.byte() % natives);
                    } else {
                        b.Op(OP_NOP);
                    }
                    break;
                case VmOperand::Two: b.Op(op, in.value(), in.value()); break;
                case VmOperand::Bytes: b.BytesOp(op, {}); break;
                case VmOperand::CaseTbl: {
                    const std::string name = "tbl" + std::to_string(p);
                    b.Label(name);
                    tables.push_back(name);
                    b.CaseTable(target(in.byte()));
                    b.AddCase(in.value(), target(in.byte()));
                    break;
                }
            }
        }
    }
    // Labels never placed resolve to the end, so every target exists.
    for (int k = labels + 1; k < 48; ++k) b.Label("t" + std::to_string(k));
    b.Op(OP_HALT, 0);
    b.Label("tbl_end");
    b.CaseTable("t0");
    b.AddPublic("entry", "t0");
    std::vector<uint8_t> out;
    if (!b.Build(out)) out.clear();
    return out;
}

struct Outcome {
    std::vector<int> errs;
    std::vector<cell> cells;  // returned values and saved registers, run by run
    std::vector<uint8_t> memory;
    std::vector<cell> calls;
    bool operator==(const Outcome&) const = default;
};

bool runAll(const std::vector<uint8_t>& image, bool fuse, const std::vector<cell>& args, int64_t budget,
            Outcome& out) {
    vm_internal::SetCodeFusion(fuse);
    VmInstance inst{};
    const int loaded = vm_LoadImage(&inst, image.data(), image.size(), 1 << 20);
    vm_internal::SetCodeFusion(true);
    if (loaded != VM_ERR_NONE) return false;
    int n = 0;
    vm_NumNatives(&inst, &n);
    char name[64];
    for (int i = 0; i < n; ++i)
        if (vm_GetNative(&inst, i, name) == VM_ERR_NONE)
            vm_Register(&inst, vm_MakeNativeEntry(name, recordingNative), 1);
    vm_Register(&inst, nullptr, 0);
    g_calls.clear();
    for (int round = 0; round < 2; ++round) {
        for (cell a : args) vm_PushCell(&inst, a);
        vm_internal::g_stepBudget = budget;
        cell r = 0;
        int err = vm_Exec(&inst, &r, 0);
        for (int k = 0;; ++k) {
            out.errs.push_back(err);
            for (cell c : {r, inst.reg_pri, inst.reg_alt, inst.frame, inst.cip, inst.stack, inst.heap})
                out.cells.push_back(c);
            if (err != VM_ERR_SLEEP || k == 3) break;
            err = vm_Exec(&inst, &r, VM_EXEC_CONTINUE);
        }
    }
    vm_internal::g_stepBudget = -1;
    const VmFileHeader h = VmFileHeader::Read(inst.image);
    out.memory.assign(inst.image + h.dat, inst.image + h.stack_top);
    out.calls = g_calls;
    vm_FreeImage(&inst);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{data, size};
    const int64_t budget = 1 + (int64_t(in.byte()) << 4 | in.byte() % 16);
    std::vector<cell> args;
    for (int i = in.byte() % 3; i > 0; --i) args.push_back(in.value());
    const std::vector<uint8_t> image = generate(in);
    if (image.empty()) return 0;
    Outcome fused, plain;
    const bool a = runAll(image, true, args, budget, fused);
    const bool b = runAll(image, false, args, budget, plain);
    if (a != b) {
        std::fprintf(stderr, "the image loads only one way\n");
        std::abort();
    }
    if (a && !(fused == plain)) {
        std::fprintf(stderr, "fused and plain runs differ\n");
        std::abort();
    }
    return 0;
}
