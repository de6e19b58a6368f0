#include "server/runtime/ScriptMemory.h"

namespace velt {

namespace {

// Scans a script text from `p` (the host pointer of a valid, aligned script address) without
// leaving the script's memory: `cellsLeft` cells are readable from p on. Returns the length in
// characters, or -1 when no terminator lies within reach.
int32_t BoundedLength(const cell* p, int64_t cellsLeft) {
    if (cellsLeft <= 0) return -1;
    const ucell first = static_cast<ucell>(LoadScriptCell(p));
    // The machine's own rule: a first cell above 0xFFFFFF means packed.
    const bool packed = first > 0xFFFFFFu;
    if (!packed) {
        for (int64_t i = 0; i < cellsLeft; ++i) {
            if (LoadScriptCell(p, static_cast<size_t>(i)) == 0) return static_cast<int32_t>(i);
        }
        return -1;
    }
    int64_t len = 0;
    for (int64_t k = 0; k < cellsLeft; ++k) {
        const ucell c = static_cast<ucell>(LoadScriptCell(p, static_cast<size_t>(k)));
        for (int b = 0; b < 4; ++b) {
            if (((c >> (24 - 8 * b)) & 0xFFu) == 0) return static_cast<int32_t>(len);
            ++len;
        }
    }
    return -1;
}

// Readable cells from a valid address to the end of its region: below the heap top the region ends
// at the heap top, from the stack pointer on it ends at the stack top.
int64_t CellsToRegionEnd(const VmInstance* inst, ucell address) {
    const int64_t a = address;
    const int64_t end = a < inst->heap ? inst->heap : static_cast<int64_t>(inst->stack_top);
    return (end - a) / 4;
}

}  // namespace

cell* ScriptCellAddress(VmInstance* inst, ucell address, int32_t cells) {
    if (inst == nullptr || inst->image == nullptr) return nullptr;
    if (address > 0x7FFFFFFFu) return nullptr;
    const int64_t bytes = static_cast<int64_t>(cells > 0 ? cells : 1) * 4;
    cell* p = nullptr;
    if (vm_GetAddrRange(inst, static_cast<cell>(address), bytes, &p) != VM_ERR_NONE) return nullptr;
    return p;
}

int32_t StoreScriptText(VmInstance* inst, cell address, cell size, const char* text, size_t length,
                        ScriptCharCells chars) {
    if (size <= 0) return 0;
    if (text == nullptr) length = 0;
    if (length > static_cast<size_t>(size) - 1) length = static_cast<size_t>(size) - 1;
    cell* dest = ScriptCellAddress(inst, static_cast<ucell>(address), static_cast<int32_t>(length + 1));
    if (dest == nullptr) return 0;
    for (size_t i = 0; i < length; ++i) {
        const cell c = chars == ScriptCharCells::SignExtend
                           ? static_cast<cell>(static_cast<signed char>(text[i]))
                           : static_cast<cell>(static_cast<unsigned char>(text[i]));
        StoreScriptCell(dest, i, c);
    }
    StoreScriptCell(dest, length, 0);
    return static_cast<int32_t>(length);
}

int32_t SetScriptString(VmInstance* inst, cell address, const char* text, cell size) {
    if (size <= 0 || text == nullptr) return 0;
    return StoreScriptText(inst, address, size, text, std::strlen(text), ScriptCharCells::SignExtend);
}

int32_t ScriptStringLength(VmInstance* inst, cell address) {
    if (inst == nullptr || inst->image == nullptr || (address & 3) != 0) return -1;
    cell* p = ScriptCellAddress(inst, static_cast<ucell>(address), 1);
    if (p == nullptr) return -1;
    return BoundedLength(p, CellsToRegionEnd(inst, static_cast<ucell>(address)));
}

size_t ReadScriptString(VmInstance* inst, cell address, char* buffer, size_t size) {
    if (buffer == nullptr || size == 0) return 0;
    buffer[0] = '\0';
    if (ScriptStringLength(inst, address) <= 0) return 0;
    cell* p = ScriptCellAddress(inst, static_cast<ucell>(address), 1);
    vm_ReadString(buffer, p, 0, size);
    return std::strlen(buffer);
}

bool ReadScriptString(VmInstance* inst, cell address, std::string& out) {
    out.clear();
    const int32_t len = ScriptStringLength(inst, address);
    if (len < 0) return false;
    if (len == 0) return true;
    out.resize(static_cast<size_t>(len) + 1);
    cell* p = ScriptCellAddress(inst, static_cast<ucell>(address), 1);
    vm_ReadString(out.data(), p, 0, out.size());
    out.resize(std::strlen(out.c_str()));
    return true;
}

}  // namespace velt
