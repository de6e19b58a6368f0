#pragma once
// Helpers shared by the loader, the interpreter and the embedding functions. Not for hosts.

#include <cstdint>
#include <cstring>

#include "common/LittleEndian.h"
#include "server/vm/vm.h"

namespace velt::vm_internal {

// Cells inside the memory block: the block is little-endian like the host, and script addresses
// need not be aligned, so every access goes through memcpy.
inline cell LoadBlockCell(const uint8_t* p) {
    cell v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void StoreBlockCell(uint8_t* p, cell v) { std::memcpy(p, &v, sizeof v); }

// One of the four tables of the header, as a view over the image.
struct VmTable {
    const uint8_t* base = nullptr;
    int count = 0;
    int defsize = 0;
    const uint8_t* Entry(int i) const { return base + size_t(i) * size_t(defsize); }
};

enum class TableKind { Publics, Natives, PubVars, Tags };

// The table of `kind` of a loaded (validated) image.
VmTable Table(const uint8_t* image, TableKind kind);
// The zero-terminated name of a table entry of a loaded image (validated by vm_Init).
const char* EntryName(const uint8_t* image, const uint8_t* entry);

inline uint8_t* DataBase(const VmInstance* inst) {
    if (inst->data_seg) return inst->data_seg;
    return inst->image + ReadU32(inst->image + 16);
}
inline uint8_t* CodeBase(const VmInstance* inst) { return inst->image + ReadU32(inst->image + 12); }

// True when a code-relative address is the start of an instruction.
inline bool IsInstructionStart(const VmInstance* inst, ucell off) {
    if (off >= ucell(inst->codeSize) || (off & 3) != 0 || !inst->codeStarts) return false;
    ucell idx = off >> 2;
    return (inst->codeStarts[idx >> 5] >> (idx & 31)) & 1u;
}

// Expands a compact image in place: the stream [cod, size) becomes the cells [cod, hea).
// Returns 0 or VM_ERR_FORMAT. `held`, when given, receives the most cells ever held back.
int ExpandCompact(uint8_t* image, uint32_t cod, uint32_t size, uint32_t hea, int* held);

#ifdef VELT_VM_STEP_BUDGET
// Fuzz builds only: instructions left before a run is ended with VM_ERR_EXIT (negative = no limit).
extern int64_t g_stepBudget;
#endif

// Whether vm_Init fuses common instruction sequences (on unless turned off). Internal: tests
// load the same image both ways and compare the runs.
void SetCodeFusion(bool on);
bool CodeFusion();

// Checks the header of an initialised or loaded image: 17 bad magic, 18 unsupported version.
int CheckHeader(const VmInstance* inst);

}  // namespace velt::vm_internal
