// Fuzzes the script format engine: a fuzzed format string and fuzzed arguments (values, texts,
// floats and raw, possibly bad, addresses) placed in a real script's memory, formatted through the
// natives' entry. The output must stay within its 4095 characters whatever the input.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "server/natives/ScriptFormat.h"
#include "server/vm/VmImageBuilder.h"
#include "server/vm/VmOpcodes.h"
#include "server/vm/vm.h"

using namespace velt;

namespace {

struct Input {
    const uint8_t* p;
    size_t n;
    uint8_t Byte() {
        if (n == 0) return 0;
        --n;
        return *p++;
    }
    cell Word() {
        ucell v = 0;
        for (int i = 0; i < 4; ++i) v = v << 8 | Byte();
        return static_cast<cell>(v);
    }
};

VmInstance* Script() {
    static VmInstance vm{};
    static bool ready = false;
    if (!ready) {
        VmImageBuilder::Options opt;
        opt.stackBytes = 1 << 18;
        VmImageBuilder b(opt);
        b.Label("idle");
        b.Op(OP_PROC);
        b.Op(OP_ZERO_PRI);
        b.Op(OP_RETN);
        b.AddPublic("Idle", "idle");
        std::vector<uint8_t> image;
        if (!b.Build(image) || vm_LoadImage(&vm, image.data(), image.size()) != VM_ERR_NONE) std::abort();
        ready = true;
    }
    return &vm;
}

cell Allot(VmInstance* vm, const std::vector<cell>& cells) {
    cell addr = 0;
    cell* host = nullptr;
    if (vm_Allot(vm, static_cast<int>(cells.size()), &addr, &host) != VM_ERR_NONE) return -4;
    std::memcpy(host, cells.data(), cells.size() * sizeof(cell));
    return addr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    VmInstance* vm = Script();
    vm_Unallot(vm, vm->heap_low);
    Input in{data, size};

    // The format: characters up to a 0 byte; a 0xFF byte makes a cell with high bits set.
    std::vector<cell> format;
    for (uint8_t b = in.Byte(); b != 0 && format.size() < 6000; b = in.Byte())
        format.push_back(b == 0xFF ? static_cast<cell>(in.Word() | 0x100) : b);
    const bool terminated = (in.Byte() & 7) != 0;  // sometimes let it run to the heap top
    if (terminated) format.push_back(0);

    std::vector<cell> args;
    const int count = in.Byte() % 24;
    for (int k = 0; k < count; ++k) {
        switch (in.Byte() % 4) {
            case 0: args.push_back(Allot(vm, {in.Word()})); break;
            case 1: {
                std::vector<cell> text;
                const int len = in.Byte();
                for (int i = 0; i < len; ++i) text.push_back(in.Byte() == 0x27 ? 0x27 : in.Byte());
                text.push_back(0);
                args.push_back(Allot(vm, text));
                break;
            }
            case 2: args.push_back(in.Word()); break;  // any address at all
            default: {
                // A big width or precision for "*".
                static const cell kEdges[] = {0, -1, 64, 65, 4095, 0x7FFFFFFF, static_cast<cell>(0x80000000)};
                args.push_back(Allot(vm, {kEdges[in.Byte() % 7]}));
                break;
            }
        }
    }
    // The format goes last so that an unterminated one ends exactly at the heap top.
    const cell formatAddress = format.empty() ? 0 : Allot(vm, format);
    std::vector<cell> params{static_cast<cell>((args.size() + 1) * 4), formatAddress};
    params.insert(params.end(), args.begin(), args.end());

    int32_t length = -1;
    const char* out = FormatScriptString(vm, params.data(), 1, &length);
    if (length < 0 || length > kFormatMaxChars || std::strlen(out) > static_cast<size_t>(length))
        std::abort();
    return 0;
}
