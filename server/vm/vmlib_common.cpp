#include "server/vm/vmlib_common.h"

#include <algorithm>
#include <limits>

namespace velt::vmlib {

int ArgCount(VmInstance* vm, const cell* params) {
    if (params == nullptr || params[0] <= 0) return 0;
    const int64_t claimed = params[0] / static_cast<int64_t>(sizeof(cell));
    // Arguments the interpreter hands over start right above the script's stack pointer; only
    // there does the script control params[0]. A host calling a native with its own array
    // vouches for it.
    unsigned char* sp = vm != nullptr ? ScriptSpan(vm, vm->stack, 0) : nullptr;
    if (sp != nullptr && reinterpret_cast<const unsigned char*>(params) == sp) {
        const int64_t room = (static_cast<int64_t>(vm->stack_top) - vm->stack) / 4 - 1;
        if (claimed > room) return 0;
    }
    return static_cast<int>(std::min<int64_t>(claimed, std::numeric_limits<int>::max()));
}

unsigned char* ScriptSpan(VmInstance* vm, int64_t addr, int64_t bytes) {
    if (vm == nullptr || addr < 0 || bytes < 0 || addr > std::numeric_limits<cell>::max()) return nullptr;
    cell* p = nullptr;
    if (vm_GetAddrRange(vm, static_cast<cell>(addr), bytes, &p) != VM_ERR_NONE || p == nullptr)
        return nullptr;
    return reinterpret_cast<unsigned char*>(p);
}

namespace {

// Cells from addr to the end of the valid region it starts in.
int64_t RegionCells(VmInstance* vm, int64_t addr) {
    const int64_t end = addr < vm->heap ? vm->heap : vm->stack_top;
    return end > addr ? (end - addr) / 4 : 0;
}

uint8_t PackedByte(cell c, int i) { return static_cast<uint8_t>(static_cast<ucell>(c) >> (24 - 8 * i)); }

}  // namespace

bool ReadText(VmInstance* vm, int64_t addr, ScriptText& out) {
    out.packed = false;
    out.chars.clear();
    if (ScriptSpan(vm, addr, 0) == nullptr) return false;
    const int64_t cells = RegionCells(vm, addr);
    unsigned char* p = cells > 0 ? ScriptSpan(vm, addr, cells * 4) : nullptr;
    if (p == nullptr) return false;
    out.packed = static_cast<ucell>(LoadCell(p)) > 0xFFFFFFu;
    for (int64_t i = 0; i < cells; ++i) {
        const cell c = LoadCell(p + 4 * i);
        if (!out.packed) {
            if (c == 0) break;
            out.chars.push_back(c);
            continue;
        }
        for (int b = 0; b < 4; ++b) {
            const uint8_t ch = PackedByte(c, b);
            if (ch == 0) return true;
            out.chars.push_back(ch);
        }
    }
    return true;
}

std::string ToBytes(const ScriptText& text) {
    std::string s;
    s.reserve(text.chars.size());
    for (cell c : text.chars) {
        const char ch = static_cast<char>(c & 0xFF);
        if (ch == '\0') break;
        s.push_back(ch);
    }
    return s;
}

bool ReadBytes(VmInstance* vm, int64_t addr, std::string& out) {
    ScriptText text;
    if (!ReadText(vm, addr, text)) return false;
    out = ToBytes(text);
    return true;
}

int64_t TextCells(int64_t n, bool packed) { return packed ? n / 4 + 1 : n + 1; }

bool WriteText(VmInstance* vm, int64_t addr, int64_t at, const cell* chars, size_t n, bool packed) {
    if (at < 0) return false;
    const int64_t end = at + static_cast<int64_t>(n);
    const int64_t first = packed ? at / 4 : at;
    const int64_t count = TextCells(end, packed) - first;
    unsigned char* p = ScriptSpan(vm, addr + first * 4, count * 4);
    if (p == nullptr) return false;
    if (!packed) {
        for (size_t i = 0; i < n; ++i) StoreCell(p + 4 * i, chars[i]);
        StoreCell(p + 4 * n, 0);
        return true;
    }
    // Rebuild every touched cell in full: the leading characters of the first cell survive, the
    // cell holding the end is zero-filled behind it.
    ucell cur = at % 4 ? static_cast<ucell>(LoadCell(p)) & ~(0xFFFFFFFFu >> (8 * (at % 4))) : 0;
    int64_t cellIndex = 0;
    for (int64_t pos = at; pos <= end; ++pos) {
        const ucell byte = pos < end ? static_cast<ucell>(chars[pos - at]) & 0xFFu : 0;
        cur |= byte << (24 - 8 * (pos % 4));
        if (pos % 4 == 3 || pos == end) {
            StoreCell(p + 4 * cellIndex, static_cast<cell>(cur));
            ++cellIndex;
            cur = 0;
        }
    }
    // A count ending on a cell boundary puts its terminator in a cell of its own, which the loop
    // above has written already (pos == end falls at the start of that cell).
    return true;
}

bool WriteBytes(VmInstance* vm, int64_t addr, const std::string& text, bool packed) {
    std::vector<cell> chars(text.begin(), text.end());
    for (cell& c : chars) c &= 0xFF;
    return WriteText(vm, addr, 0, chars.data(), chars.size(), packed);
}

cell AsciiLower(cell c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }
cell AsciiUpper(cell c) { return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c; }

void ChainIdleHook(VmInstance* vm, IdleHook hook, IdleHook& previous) {
    void* current = nullptr;
    if (vm_GetUserData(vm, VM_IDLE_TAG, &current) != 0) current = nullptr;
    const IdleHook replaced = reinterpret_cast<IdleHook>(current);
    if (replaced != hook) previous = replaced;
    vm_SetUserData(vm, VM_IDLE_TAG, reinterpret_cast<void*>(hook));
}

}  // namespace velt::vmlib
