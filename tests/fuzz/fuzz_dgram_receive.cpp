// Fuzzes what the datagram library does with a received datagram: the choice between
// "@receivestring" and "@receivepacket", the UTF-8 check and decoding, the packet's cells, and the
// clean-up after a push that does not fit the heap.
//
// The first input byte picks the script: bit 0 gives it "@receivepacket" besides
// "@receivestring", bit 1 a heap too small for most datagrams. The rest is the datagram. Each
// public checks that its arguments lie in the script's memory as they claim; after the delivery
// the heap and the stack must be where they were.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "server/vm/vm.h"
#include "server/vm/vmlib.h"
#include "tools/vmasm/VmAsm.h"

using namespace velt;

namespace {

// Every argument of the running public: texts end inside the script's memory, a packet holds as
// many cells as its size says.
cell n_Check(VmInstance* vm, const cell*) {
    cell* frame = nullptr;
    if (vm_GetAddrRange(vm, vm->frame + 8, 4, &frame) != VM_ERR_NONE) __builtin_trap();
    const int argc = *frame / 4;
    cell* args = nullptr;
    if (vm_GetAddrRange(vm, vm->frame + 12, argc * 4, &args) != VM_ERR_NONE) __builtin_trap();
    auto checkText = [vm](cell addr) {
        cell* p = nullptr;
        int length = 0;
        if (vm_GetAddr(vm, addr, &p) != VM_ERR_NONE || vm_StrLen(p, &length) != VM_ERR_NONE) __builtin_trap();
        if (vm_GetAddrRange(vm, addr, int64_t{length} + 1, &p) != VM_ERR_NONE) __builtin_trap();
    };
    if (argc == 2) {
        checkText(args[0]);
        checkText(args[1]);
    } else if (argc == 3) {
        cell* packet = nullptr;
        if (args[1] < 0 || args[1] > 512) __builtin_trap();
        if (vm_GetAddrRange(vm, args[0], (int64_t{args[1]} + 3) / 4 * 4, &packet) != VM_ERR_NONE)
            __builtin_trap();
        checkText(args[2]);
    } else {
        __builtin_trap();
    }
    return 0;
}

const VmNativeEntry kCheck[] = {{"Check", n_Check}, {nullptr, nullptr}};

std::string Source(bool withPacket, bool tinyHeap) {
    std::string s = ".native Check\n";
    s += tinyHeap ? ".stack 640\n" : ".stack 16384\n";
    const char* body = "    proc\n    push.c 0\n    sysreq.c Check\n    stack 4\n    zero.pri\n    retn\n";
    s += ".public @receivestring on_string\non_string:\n";
    s += body;
    if (withPacket) {
        s += ".public @receivepacket on_packet\non_packet:\n";
        s += body;
    }
    return s;
}

const std::vector<uint8_t>& Image(int variant) {
    static std::vector<uint8_t> images[4];
    std::vector<uint8_t>& image = images[variant];
    if (image.empty()) {
        std::string error;
        if (!VmAssemble(Source(variant & 1, variant & 2), image, &error)) __builtin_trap();
    }
    return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::vector<uint8_t>& image = Image(data[0] & 3);
    VmInstance vm{};
    if (vm_LoadImage(&vm, image.data(), image.size()) != VM_ERR_NONE) __builtin_trap();
    vm_Register(&vm, kCheck, -1);
    vm_AttachDGramLib(&vm);
    const cell heap = vm.heap;
    const cell stack = vm.stack;
    vmlib::DeliverDatagram(&vm, data + 1, size - 1, "127.0.0.1:9930");
    if (vm.heap != heap || vm.stack != stack) __builtin_trap();
    vm_FreeImage(&vm);
    return 0;
}
