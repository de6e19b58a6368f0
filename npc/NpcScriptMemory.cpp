#include "npc/NpcScriptMemory.h"

#include <cstring>

namespace velt {

bool NpcReadCell(VmInstance* vm, cell address, cell& out) {
    if (vm == nullptr || vm->image == nullptr) return false;
    cell* p = nullptr;
    if (vm_GetAddrRange(vm, address, 4, &p) != VM_ERR_NONE || p == nullptr) return false;
    std::memcpy(&out, p, sizeof out);
    return true;
}

bool NpcWriteCell(VmInstance* vm, cell address, cell value) {
    if (vm == nullptr || vm->image == nullptr) return false;
    cell* p = nullptr;
    if (vm_GetAddrRange(vm, address, 4, &p) != VM_ERR_NONE || p == nullptr) return false;
    std::memcpy(p, &value, sizeof value);
    return true;
}

bool NpcReadTextChar(VmInstance* vm, cell address, int64_t index, char& out) {
    const int64_t at = int64_t(address) + index * 4;
    if (index < 0 || at > INT32_MAX) return false;
    cell c = 0;
    if (!NpcReadCell(vm, cell(at), c)) return false;
    out = char(c & 0xFF);
    return true;
}

size_t NpcReadScriptText(VmInstance* vm, cell address, char* out, size_t size) {
    if (out == nullptr || size == 0) return 0;
    out[0] = '\0';
    cell first = 0;
    if (!NpcReadCell(vm, address, first)) return 0;
    // The machine's rule: a first cell above 0xFFFFFF holds packed characters.
    const bool packed = ucell(first) > 0xFFFFFFu;
    size_t n = 0;
    for (int64_t k = 0; n + 1 < size; ++k) {
        const int64_t at = int64_t(address) + k * 4;
        cell c = 0;
        if (at > INT32_MAX || !NpcReadCell(vm, cell(at), c)) break;
        if (!packed) {
            if (c == 0) break;
            out[n++] = char(c & 0xFF);
            continue;
        }
        bool ended = false;
        for (int b = 0; b < 4 && n + 1 < size; ++b) {
            const char ch = char((ucell(c) >> (24 - 8 * b)) & 0xFFu);
            if (ch == '\0') {
                ended = true;
                break;
            }
            out[n++] = ch;
        }
        if (ended) break;
    }
    out[n] = '\0';
    return n;
}

int32_t NpcStoreScriptText(VmInstance* vm, cell address, cell cells, const char* text, size_t length) {
    if (vm == nullptr || vm->image == nullptr || cells <= 0) return 0;
    if (text == nullptr) length = 0;
    size_t n = length;
    if (n > size_t(cells) - 1) n = size_t(cells) - 1;
    cell* p = nullptr;
    if (vm_GetAddrRange(vm, address, int64_t(n + 1) * 4, &p) != VM_ERR_NONE || p == nullptr) return 0;
    for (size_t i = 0; i < n; ++i) {
        const cell c = cell(static_cast<unsigned char>(text[i]));
        std::memcpy(reinterpret_cast<uint8_t*>(p) + i * 4, &c, sizeof c);
    }
    const cell zero = 0;
    std::memcpy(reinterpret_cast<uint8_t*>(p) + n * 4, &zero, sizeof zero);
    return int32_t(n);
}

}  // namespace velt
