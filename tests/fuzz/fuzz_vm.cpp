// Fuzzes loading and running script images: vm_LoadImage/vm_Init on raw bytes, and bounded runs
// of generated programs (valid enough to load, so the interpreter's checks are what is tested).
//
// The first input byte picks the mode:
//   0: the rest is an image as stored in a file;
//   1: the rest drives a program generator (instructions, operands, targets, data, tables);
//   2: a generated image whose bytes are then patched by (offset, value) pairs from the input.
// Every run has an instruction budget (fuzz builds of the VM count instructions).

#include <cstddef>
#include <cstdint>
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

int g_depth = 0;

// A native that uses the embedding interface the way library natives do.
cell fuzzNative(VmInstance* inst, const cell* params) {
    cell argv[4] = {};
    const int argc = params[0] / 4;
    for (int i = 0; i < argc && i < 4; ++i) std::memcpy(&argv[i], params + 1 + i, 4);
    switch (ucell(argv[0]) % 6) {
        case 0: {  // read a string argument
            cell* s;
            if (vm_GetAddr(inst, argv[1], &s) == VM_ERR_NONE) {
                int len = 0;
                vm_StrLen(s, &len);
                char buf[64];
                vm_ReadString(buf, s, 0, sizeof buf);
                vm_UTF8Len(s, &len);
                return len;
            }
            return -1;
        }
        case 1: {  // write a string back over a checked range
            cell* d;
            const int64_t cells = argv[2] & 63;
            if (vm_GetAddrRange(inst, argv[1], cells * 4, &d) == VM_ERR_NONE && cells > 0)
                vm_SetString(d, "fuzzed text", argv[3] & 1, 0, size_t(cells));
            return 0;
        }
        case 2: vm_RaiseError(inst, VM_ERR_SLEEP); return argv[1];
        case 3:  // run a public of the same script from inside the call
            if (g_depth < 2) {
                int n = 0;
                vm_CountPublics(inst, &n);
                if (n > 0) {
                    ++g_depth;
                    cell r;
                    vm_PushCell(inst, argv[1]);
                    vm_Exec(inst, &r, int(ucell(argv[2]) % ucell(n)));
                    --g_depth;
                }
            }
            return 1;
        case 4: {
            cell addr, *host;
            if (vm_Allot(inst, argv[1] & 15, &addr, &host) == VM_ERR_NONE) vm_Unallot(inst, addr);
            return 2;
        }
        default:
            if (argv[1] == 7) vm_RaiseError(inst, VM_ERR_NATIVE);
            return argv[1];
    }
}

std::vector<uint8_t> generate(Input& in) {
    VmImageBuilder b;
    const uint8_t opts = in.byte();
    b.GetOptions().compact = opts & 1;
    b.GetOptions().nameTable = !(opts & 2);
    b.GetOptions().stackBytes = 64 + 4 * (in.byte() % 200);
    const int natives = in.byte() % 4;
    for (int i = 0; i < natives; ++i) b.AddNative("nat" + std::to_string(i));
    const int count = 1 + in.byte() % 48;
    auto target = [&](uint8_t k) { return VmOperandRef("i" + std::to_string(k % count)); };
    std::vector<std::string> tables = {"tbl_end"};
    for (int i = 0; i < count; ++i) {
        b.Label("i" + std::to_string(i));
        int op = 1 + in.byte() % (OP_NUM_OPCODES - 1);
        switch (OpcodeInfo(op).operand) {
            case VmOperand::None: b.Op(op); break;
            case VmOperand::Value: b.Op(op, in.value()); break;
            case VmOperand::Code:
                if (op == OP_SWITCH)
                    b.Op(op, VmOperandRef(tables[in.byte() % tables.size()]));
                else
                    b.Op(op, target(in.byte()));
                break;
            case VmOperand::Rel: b.Op(op, 0); break;
            case VmOperand::Native:
                if (natives)
                    b.Op(op, in.byte() % natives);
                else
                    b.Op(OP_NOP);
                break;
            case VmOperand::Two: b.Op(op, in.value(), in.value()); break;
            case VmOperand::Bytes: b.BytesOp(op, std::vector<cell>(in.byte() % 3, in.value())); break;
            case VmOperand::CaseTbl: {
                std::string name = "tbl" + std::to_string(i);
                b.Label(name);
                tables.push_back(name);
                b.CaseTable(target(in.byte()));
                for (int r = in.byte() % 4; r > 0; --r) b.AddCase(in.value(), target(in.byte()));
                break;
            }
        }
    }
    b.Op(OP_HALT, 0);
    b.Label("tbl_end");
    b.CaseTable(target(in.byte()));
    b.AddCase(in.value(), target(in.byte()));
    const int data = in.byte() % 16;
    for (int i = 0; i < data; ++i) b.DataCell(in.value());
    const int publics = in.byte() % 4;
    for (int i = 0; i < publics; ++i) b.AddPublic("p" + std::to_string(i), target(in.byte()));
    if (in.byte() & 1) b.SetMain(target(in.byte()));
    std::vector<uint8_t> out;
    b.Build(out);
    return out;
}

void run(VmInstance* inst, Input& in) {
    int n = 0;
    vm_NumNatives(inst, &n);
    char name[64];
    for (int i = 0; i < n; ++i)
        if (vm_GetNative(inst, i, name) == VM_ERR_NONE)
            vm_Register(inst, vm_MakeNativeEntry(name, fuzzNative), 1);
    vm_Register(inst, nullptr, 0);
    int publics = 0;
    vm_CountPublics(inst, &publics);
    for (int round = 0; round < 4; ++round) {
        const int pick = in.byte() % (publics + 1);
        for (int a = in.byte() % 3; a > 0; --a) vm_PushCell(inst, in.value());
        if (in.byte() & 1) {
            cell addr;
            vm_PushString(inst, &addr, nullptr, "arg", in.byte() & 1, 0);
        }
        vm_internal::g_stepBudget = 20000;
        cell r = 0;
        int err = vm_Exec(inst, &r, pick == publics ? VM_EXEC_MAIN : pick);
        for (int k = 0; err == VM_ERR_SLEEP && k < 3; ++k) err = vm_Exec(inst, &r, VM_EXEC_CONTINUE);
    }
    vm_internal::g_stepBudget = -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    Input in{data + 1, size - 1};
    std::vector<uint8_t> image;
    const uint8_t mode = data[0] % 3;
    if (mode == 0) {
        image.assign(data + 1, data + size);
    } else {
        image = generate(in);
        if (mode == 2 && !image.empty()) {
            for (int k = in.byte() % 8; k > 0; --k) {
                size_t at = (size_t(in.byte()) << 8 | in.byte()) % image.size();
                image[at] = in.byte();
            }
        }
    }
    VmInstance inst{};
    if (vm_LoadImage(&inst, image.data(), image.size(), 1 << 20) != VM_ERR_NONE) return 0;
    uint16_t flags;
    long a, b, c;
    int len;
    vm_HeaderFlags(&inst, &flags);
    vm_MemorySizes(&inst, &a, &b, &c);
    vm_NameLength(&inst, &len);
    char name[64];
    vm_FindTagId(&inst, in.value(), name);
    run(&inst, in);
    vm_FreeImage(&inst);
    return 0;
}
