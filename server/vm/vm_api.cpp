// The embedding functions: header queries, table lookups, native binding and dispatch, memory
// and arguments, user data and cloning.

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "server/vm/VmOpcodes.h"
#include "server/vm/vm.h"
#include "server/vm/vm_internal.h"

namespace velt {

using namespace vm_internal;

namespace {

constexpr int kNotFoundIndex = 0x7FFFFFFF;

bool Loaded(const VmInstance* inst) { return inst && inst->image; }

int Count(VmInstance* inst, TableKind kind, int* out) {
    *out = 0;
    if (!Loaded(inst)) return VM_ERR_INIT;
    *out = Table(inst->image, kind).count;
    return VM_ERR_NONE;
}

// Bisection over a table sorted by name (byte order).
int Bisect(const uint8_t* image, const VmTable& t, const char* name) {
    int lo = 0, hi = t.count - 1;
    while (lo <= hi) {
        int mid = lo + (hi - lo) / 2;
        int c = std::strcmp(EntryName(image, t.Entry(mid)), name);
        if (c < 0)
            lo = mid + 1;
        else if (c > 0)
            hi = mid - 1;
        else
            return mid;
    }
    return -1;
}

}  // namespace

const char* vm_ErrorText(int code) {
    static const char* const texts[] = {
        "(none)",
        "Forced exit",
        "Assertion failed",
        "Stack/heap collision (insufficient stack size)",
        "Array index out of bounds",
        "Invalid memory access",
        "Invalid instruction",
        "Stack underflow",
        "Heap underflow",
        "No (valid) native function callback",
        "Native function failed",
        "Divide by zero",
        "(sleep mode)",
        "(reserved)",
        "(reserved)",
        "(reserved)",
        "Out of memory",
        "Invalid/unsupported P-code file format",
        "File is for a newer version of the VM",
        "File or function is not found",
        "Invalid index parameter (bad entry point)",
        "Debugger cannot run",
        "VM not initialized (or doubly initialized)",
        "Unable to set user data field (table full)",
        "Cannot initialize the JIT",
        "Parameter error",
    };
    if (code < 0 || code >= int(sizeof texts / sizeof texts[0])) return "(unknown)";
    return texts[code];
}

// ---------------------------------------------------------------------------------------------
// Header and sizes.

int vm_HeaderFlags(VmInstance* inst, uint16_t* flags) {
    *flags = 0;
    if (int err = CheckHeader(inst)) return err;
    *flags = ReadU16(inst->image + 8);
    return VM_ERR_NONE;
}

int vm_MemorySizes(VmInstance* inst, long* codeSize, long* dataSize, long* stackHeap) {
    if (int err = CheckHeader(inst)) return err;
    VmFileHeader h = VmFileHeader::Read(inst->image);
    if (codeSize) *codeSize = long(h.dat) - h.cod;
    if (dataSize) *dataSize = long(h.hea) - h.dat;
    if (stackHeap) *stackHeap = long(h.stack_top) - h.hea;
    return VM_ERR_NONE;
}

int vm_NameLength(VmInstance* inst, int* length) {
    *length = 0;
    if (!Loaded(inst)) return VM_ERR_INIT;
    VmFileHeader h = VmFileHeader::Read(inst->image);
    if (h.defsize == VM_DEFSIZE_NAMETABLE) {
        if (h.file_version < 7) return VM_ERR_FORMAT;
        *length = ReadU16(inst->image + h.nametable);
    } else {
        *length = h.defsize - 4;
    }
    return VM_ERR_NONE;
}

uint16_t* vm_Align16(uint16_t* v) { return v; }
uint32_t* vm_Align32(uint32_t* v) { return v; }
int vm_JitSetup(VmInstance*, void*, void*) { return VM_ERR_INIT_JIT; }

// ---------------------------------------------------------------------------------------------
// Publics, natives, public variables, tags.

int vm_CountPublics(VmInstance* inst, int* n) { return Count(inst, TableKind::Publics, n); }
int vm_NumNatives(VmInstance* inst, int* n) { return Count(inst, TableKind::Natives, n); }
int vm_NumPubVars(VmInstance* inst, int* n) { return Count(inst, TableKind::PubVars, n); }

int vm_NumTags(VmInstance* inst, int* n) {
    *n = 0;
    if (!Loaded(inst)) return VM_ERR_INIT;
    if (inst->image[6] < 5) return VM_ERR_VERSION;
    return Count(inst, TableKind::Tags, n);
}

int vm_GetPublic(VmInstance* inst, int index, char* name) {
    if (!Loaded(inst)) return VM_ERR_INIT;
    VmTable t = Table(inst->image, TableKind::Publics);
    if (index < 0 || index >= t.count) return VM_ERR_INDEX;
    std::strcpy(name, EntryName(inst->image, t.Entry(index)));
    return VM_ERR_NONE;
}

int vm_LookupPublic(VmInstance* inst, const char* name, int* index) {
    *index = kNotFoundIndex;
    if (!Loaded(inst)) return VM_ERR_INIT;
    int i = Bisect(inst->image, Table(inst->image, TableKind::Publics), name);
    if (i < 0) return VM_ERR_NOTFOUND;
    *index = i;
    return VM_ERR_NONE;
}

int vm_GetNative(VmInstance* inst, int index, char* name) {
    if (!Loaded(inst)) return VM_ERR_INIT;
    VmTable t = Table(inst->image, TableKind::Natives);
    if (index < 0 || index >= t.count) return VM_ERR_INDEX;
    std::strcpy(name, EntryName(inst->image, t.Entry(index)));
    return VM_ERR_NONE;
}

int vm_LookupNative(VmInstance* inst, const char* name, int* index) {
    *index = kNotFoundIndex;
    if (!Loaded(inst)) return VM_ERR_INIT;
    VmTable t = Table(inst->image, TableKind::Natives);
    for (int i = 0; i < t.count; ++i) {
        if (std::strcmp(EntryName(inst->image, t.Entry(i)), name) == 0) {
            *index = i;
            return VM_ERR_NONE;
        }
    }
    return VM_ERR_NOTFOUND;
}

int vm_GetPubVar(VmInstance* inst, int index, char* name, cell* address) {
    if (!Loaded(inst)) return VM_ERR_INIT;
    VmTable t = Table(inst->image, TableKind::PubVars);
    if (index < 0 || index >= t.count) return VM_ERR_INDEX;
    std::strcpy(name, EntryName(inst->image, t.Entry(index)));
    *address = cell(ReadU32(t.Entry(index)));
    return VM_ERR_NONE;
}

int vm_LookupPubVar(VmInstance* inst, const char* name, cell* address) {
    *address = 0;
    if (!Loaded(inst)) return VM_ERR_INIT;
    VmTable t = Table(inst->image, TableKind::PubVars);
    int i = Bisect(inst->image, t, name);
    if (i < 0) return VM_ERR_NOTFOUND;
    *address = cell(ReadU32(t.Entry(i)));
    return VM_ERR_NONE;
}

int vm_GetTag(VmInstance* inst, int index, char* name, cell* tagId) {
    *name = '\0';
    *tagId = 0;
    if (!Loaded(inst)) return VM_ERR_INIT;
    if (inst->image[6] < 5) return VM_ERR_VERSION;
    VmTable t = Table(inst->image, TableKind::Tags);
    if (index < 0 || index >= t.count) return VM_ERR_INDEX;
    std::strcpy(name, EntryName(inst->image, t.Entry(index)));
    *tagId = cell(ReadU32(t.Entry(index)));
    return VM_ERR_NONE;
}

int vm_FindTagId(VmInstance* inst, cell tagId, char* name) {
    *name = '\0';
    if (!Loaded(inst)) return VM_ERR_INIT;
    VmTable t = Table(inst->image, TableKind::Tags);
    // Bisection is only meaningful over strictly ascending ids; a table that is not gives "absent".
    for (int i = 1; i < t.count; ++i)
        if (ReadU32(t.Entry(i - 1)) >= ReadU32(t.Entry(i))) return VM_ERR_NOTFOUND;
    int lo = 0, hi = t.count - 1;
    while (lo <= hi) {
        int mid = lo + (hi - lo) / 2;
        ucell id = ReadU32(t.Entry(mid));
        if (id < ucell(tagId))
            lo = mid + 1;
        else if (id > ucell(tagId))
            hi = mid - 1;
        else {
            std::strcpy(name, EntryName(inst->image, t.Entry(mid)));
            return VM_ERR_NONE;
        }
    }
    return VM_ERR_NOTFOUND;
}

// ---------------------------------------------------------------------------------------------
// Binding natives.

int vm_Register(VmInstance* inst, const VmNativeEntry* list, int rows) {
    if (!Loaded(inst) || !(inst->flags & VMF_RELOCATED)) return VM_ERR_INIT;
    VmTable t = Table(inst->image, TableKind::Natives);
    bool missing = false;
    for (int i = 0; i < t.count && i < inst->nativeCount; ++i) {
        // The instance's own table says what is bound: a clone shares the file's cells.
        if (inst->nativeTable[i]) continue;
        const char* name = EntryName(inst->image, t.Entry(i));
        for (int r = 0; list && (rows == -1 || r < rows); ++r) {
            if (!list[r].name) break;
            if (std::strcmp(list[r].name, name) != 0) continue;
            if (list[r].func) {
                inst->nativeTable[i] = list[r].func;
                WriteU32(const_cast<uint8_t*>(t.Entry(i)), ucell(i) + 1);
            }
            break;
        }
        if (!inst->nativeTable[i]) missing = true;
    }
    if (missing) return VM_ERR_NOTFOUND;
    inst->flags |= VMF_NATIVES_READY;
    return VM_ERR_NONE;
}

VmNativeEntry* vm_MakeNativeEntry(const char* name, VmNative func) {
    static VmNativeEntry row;
    row.name = name;
    row.func = func;
    return &row;
}

int vm_SetCallback(VmInstance* inst, VmNativeDispatch dispatch) {
    inst->native_dispatch = dispatch;
    return VM_ERR_NONE;
}

int vm_Callback(VmInstance* inst, int index, cell* result, const cell* params) {
    if (index < 0 || index >= inst->nativeCount || !inst->nativeTable[index]) return VM_ERR_NOTFOUND;
    VmNative func = inst->nativeTable[index];
    if (inst->direct_native_op) {
        // Patch only a real SYSREQ.C that carries this index: the cell before CIP may also be the
        // opcode of a SYSREQ.PRI, or an operand of something else entirely.
        const int64_t at = int64_t(inst->cip) - 8;
        uint8_t* code = CodeBase(inst);
        if (at >= 0 && IsInstructionStart(inst, ucell(at)) && LoadBlockCell(code + at) == OP_SYSREQ_C &&
            LoadBlockCell(code + at + 4) == index) {
            StoreBlockCell(code + at, VM_OP_SYSREQ_D);
        }
    }
    inst->error_code = 0;
    *result = func(inst, params);
    return inst->error_code;
}

int vm_RaiseError(VmInstance* inst, int error) {
    inst->error_code = error;
    return VM_ERR_NONE;
}

int vm_SetDebugHook(VmInstance* inst, VmDebugHook hook) {
    inst->debug_hook = hook;
    return VM_ERR_NONE;
}

// ---------------------------------------------------------------------------------------------
// Memory and arguments.

int vm_Allot(VmInstance* inst, int cells, cell* scriptAddr, cell** hostAddr) {
    if (cells < 0) return VM_ERR_PARAMS;
    if (inst->heap < inst->heap_low || inst->stack > inst->stack_top || (inst->heap & 3) != 0)
        return VM_ERR_MEMORY;
    if (int64_t(inst->stack) - inst->heap - int64_t(cells) * 4 < 64) return VM_ERR_MEMORY;
    *scriptAddr = inst->heap;
    *hostAddr = reinterpret_cast<cell*>(DataBase(inst) + inst->heap);
    inst->heap += cells * 4;
    return VM_ERR_NONE;
}

int vm_Unallot(VmInstance* inst, cell scriptAddr) {
    // Never below the initialised data: a later allotment there would overwrite globals.
    if (scriptAddr >= inst->heap_low && scriptAddr < inst->heap) inst->heap = scriptAddr;
    return VM_ERR_NONE;
}

int vm_PushCell(VmInstance* inst, cell value) {
    if (inst->stack > inst->stack_top) return VM_ERR_STACKLOW;
    if (int64_t(inst->stack) < int64_t(inst->heap) + 64) return VM_ERR_STACKERR;
    inst->stack -= 4;
    StoreBlockCell(DataBase(inst) + inst->stack, value);
    inst->pushed_args += 1;
    return VM_ERR_NONE;
}

int vm_PushArray(VmInstance* inst, cell* scriptAddr, cell** hostAddr, const cell* array, int n) {
    cell addr;
    cell* ptr;
    if (int err = vm_Allot(inst, n, &addr, &ptr)) return err;
    if (n > 0) std::memcpy(ptr, array, size_t(n) * sizeof(cell));
    if (scriptAddr) *scriptAddr = addr;
    if (hostAddr) *hostAddr = ptr;
    return vm_PushCell(inst, addr);
}

int vm_PushString(VmInstance* inst, cell* scriptAddr, cell** hostAddr, const void* text, int packed,
                  int wide) {
    static_assert(sizeof(wchar_t) == 4, "wide script strings are 32-bit characters");
    size_t len =
        wide ? std::wcslen(static_cast<const wchar_t*>(text)) : std::strlen(static_cast<const char*>(text));
    size_t cells = packed ? (len + 4) / 4 : len + 1;
    if (cells > size_t(0x7FFFFFFF / 4)) return VM_ERR_MEMORY;
    cell addr;
    cell* ptr;
    if (int err = vm_Allot(inst, int(cells), &addr, &ptr)) return err;
    vm_SetString(ptr, text, packed, wide, 0x7FFFFFFF);
    if (scriptAddr) *scriptAddr = addr;
    if (hostAddr) *hostAddr = ptr;
    return vm_PushCell(inst, addr);
}

int vm_GetAddr(VmInstance* inst, cell scriptAddr, cell** hostAddr) {
    // Unaligned addresses are refused here: the string functions scan from this pointer until a
    // zero cell, and from an unaligned start that scan would straddle the sentinel cell and run
    // past the block. Byte-exact work goes through vm_GetAddrRange, which bounds the whole range.
    if ((scriptAddr & 3) != 0) {
        *hostAddr = nullptr;
        return VM_ERR_MEMACCESS;
    }
    return vm_GetAddrRange(inst, scriptAddr, 0, hostAddr);
}

int vm_GetAddrRange(VmInstance* inst, cell scriptAddr, int64_t bytes, cell** hostAddr) {
    *hostAddr = nullptr;
    const int64_t a = scriptAddr, end = a + bytes;
    if (a < 0 || a >= inst->stack_top || bytes < 0) return VM_ERR_MEMACCESS;
    if (a >= inst->heap && a < inst->stack) return VM_ERR_MEMACCESS;
    if (bytes > 0) {
        if (end > inst->stack_top) return VM_ERR_MEMACCESS;
        if (a < inst->heap && end > inst->heap) return VM_ERR_MEMACCESS;  // runs into the free space
    }
    *hostAddr = reinterpret_cast<cell*>(DataBase(inst) + a);
    return VM_ERR_NONE;
}

// ---------------------------------------------------------------------------------------------
// User data.

int vm_GetUserData(VmInstance* inst, int32_t tag, void** ptr) {
    *ptr = nullptr;
    if (tag == 0) return VM_ERR_USERDATA;
    for (int i = 0; i < 4; ++i) {
        if (inst->user_tags[i] == tag) {
            *ptr = inst->user_data[i];
            return VM_ERR_NONE;
        }
    }
    return VM_ERR_USERDATA;
}

int vm_SetUserData(VmInstance* inst, int32_t tag, void* ptr) {
    if (tag == 0) return VM_ERR_PARAMS;
    int slot = -1;
    for (int i = 0; i < 4 && slot < 0; ++i)
        if (inst->user_tags[i] == tag) slot = i;
    for (int i = 0; i < 4 && slot < 0; ++i)
        if (inst->user_tags[i] == 0) slot = i;
    if (slot < 0) return VM_ERR_INDEX;
    inst->user_tags[slot] = tag;
    inst->user_data[slot] = ptr;
    return VM_ERR_NONE;
}

// ---------------------------------------------------------------------------------------------
// Cloning.

int vm_Clone(VmInstance* clone, VmInstance* source, void* dataBlock) {
    if (!source) return VM_ERR_FORMAT;
    if (!clone || !dataBlock) return VM_ERR_PARAMS;
    if (!(source->flags & VMF_RELOCATED)) return VM_ERR_INIT;
    if (int err = CheckHeader(source)) return err;
    const VmFileHeader h = VmFileHeader::Read(source->image);

    VmNative* natives = nullptr;
    uint32_t* starts = nullptr;
    const size_t startWords = (size_t(source->codeSize) / 4 + 31) / 32;
    if (source->nativeCount > 0) {
        natives = static_cast<VmNative*>(std::malloc(size_t(source->nativeCount) * sizeof(VmNative)));
        if (!natives) return VM_ERR_MEMORY;
        std::memcpy(natives, source->nativeTable, size_t(source->nativeCount) * sizeof(VmNative));
    }
    if (startWords > 0) {
        starts = static_cast<uint32_t*>(std::malloc(startWords * sizeof(uint32_t)));
        if (!starts) {
            std::free(natives);
            return VM_ERR_MEMORY;
        }
        std::memcpy(starts, source->codeStarts, startWords * sizeof(uint32_t));
    }

    uint8_t* data = static_cast<uint8_t*>(dataBlock);
    const size_t init = size_t(h.hea - h.dat), block = size_t(h.stack_top - h.dat);
    std::memcpy(data, DataBase(source), init);
    std::memset(data + init, 0, block - init);  // free space and the sentinel cell

    clone->image = source->image;
    clone->data_seg = data;
    clone->heap_low = clone->heap = h.hea - h.dat;
    clone->stack_top = clone->stack = h.stack_top - h.dat - 4;
    if (!clone->native_dispatch) clone->native_dispatch = source->native_dispatch;
    if (!clone->debug_hook) clone->debug_hook = source->debug_hook;
    clone->flags = source->flags;
    clone->direct_native_op = source->direct_native_op;
    clone->nativeTable = natives;
    clone->nativeCount = source->nativeCount;
    clone->codeSize = source->codeSize;
    clone->codeStarts = starts;
    clone->frameOffsetLow = source->frameOffsetLow;
    clone->frameOffsetEnd = source->frameOffsetEnd;
    return VM_ERR_NONE;
}

}  // namespace velt
