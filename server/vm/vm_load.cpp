// Loading an image: header and layout checks, compact expansion, code validation and the
// per-instance tables. Everything the interpreter trusts without a run-time check (opcode cells,
// instruction lengths, jump and call targets, case tables, native indexes) is proven here.

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "server/vm/VmOpcodes.h"
#include "server/vm/vm.h"
#include "server/vm/vm_internal.h"

static_assert(std::endian::native == std::endian::little,
              "script cells are stored little-endian and accessed in place");

namespace velt {

using namespace vm_internal;

VmFileHeader VmFileHeader::Read(const uint8_t* p) {
    VmFileHeader h;
    h.size = int32_t(ReadU32(p + 0));
    h.magic = ReadU16(p + 4);
    h.file_version = p[6];
    h.vm_version = p[7];
    h.flags = int16_t(ReadU16(p + 8));
    h.defsize = int16_t(ReadU16(p + 10));
    h.cod = int32_t(ReadU32(p + 12));
    h.dat = int32_t(ReadU32(p + 16));
    h.hea = int32_t(ReadU32(p + 20));
    h.stack_top = int32_t(ReadU32(p + 24));
    h.main_entry = int32_t(ReadU32(p + 28));
    h.publics = int32_t(ReadU32(p + 32));
    h.natives = int32_t(ReadU32(p + 36));
    h.libraries = int32_t(ReadU32(p + 40));
    h.pubvars = int32_t(ReadU32(p + 44));
    h.tags = int32_t(ReadU32(p + 48));
    h.nametable = int32_t(ReadU32(p + 52));
    return h;
}

void VmFileHeader::Write(uint8_t* p) const {
    WriteU32(p + 0, uint32_t(size));
    WriteU16(p + 4, magic);
    p[6] = file_version;
    p[7] = vm_version;
    WriteU16(p + 8, uint16_t(flags));
    WriteU16(p + 10, uint16_t(defsize));
    WriteU32(p + 12, uint32_t(cod));
    WriteU32(p + 16, uint32_t(dat));
    WriteU32(p + 20, uint32_t(hea));
    WriteU32(p + 24, uint32_t(stack_top));
    WriteU32(p + 28, uint32_t(main_entry));
    WriteU32(p + 32, uint32_t(publics));
    WriteU32(p + 36, uint32_t(natives));
    WriteU32(p + 40, uint32_t(libraries));
    WriteU32(p + 44, uint32_t(pubvars));
    WriteU32(p + 48, uint32_t(tags));
    WriteU32(p + 52, uint32_t(nametable));
}

namespace vm_internal {

namespace {
// End of the tag table: the name table follows it from file version 7 on, the code before that.
int32_t TagsEnd(const VmFileHeader& h) { return h.file_version >= 7 ? h.nametable : h.cod; }
}  // namespace

VmTable Table(const uint8_t* image, TableKind kind) {
    VmFileHeader h = VmFileHeader::Read(image);
    VmTable t;
    t.defsize = h.defsize;
    int32_t from = 0, to = 0;
    switch (kind) {
        case TableKind::Publics:
            from = h.publics;
            to = h.natives;
            break;
        case TableKind::Natives:
            from = h.natives;
            to = h.libraries;
            break;
        case TableKind::PubVars:
            from = h.pubvars;
            to = h.tags;
            break;
        case TableKind::Tags:
            from = h.tags;
            to = TagsEnd(h);
            break;
    }
    t.base = image + from;
    t.count = h.defsize > 0 && to > from ? (to - from) / h.defsize : 0;
    return t;
}

const char* EntryName(const uint8_t* image, const uint8_t* entry) {
    if (ReadU16(image + 10) == VM_DEFSIZE_NAMETABLE)
        return reinterpret_cast<const char*>(image + ReadU32(entry + 4));
    return reinterpret_cast<const char*>(entry + 4);
}

int ExpandCompact(uint8_t* image, uint32_t cod, uint32_t size, uint32_t hea, int* held) {
    if (size < cod || hea < cod || (hea - cod) % 4 != 0) return VM_ERR_FORMAT;
    // Cells whose target still overlaps stream bytes not yet read wait here, highest target first.
    struct Pending {
        uint32_t target;
        ucell value;
    };
    constexpr int kRing = 64;
    Pending ring[kRing];
    int head = 0, pending = 0, most = 0;
    uint32_t rp = size;  // stream bytes [cod, rp) are still unread
    uint32_t wp = hea;   // cells [wp, hea) are placed (written or pending)
    auto release = [&] {
        while (pending > 0 && ring[head].target >= rp) {
            StoreBlockCell(image + ring[head].target, cell(ring[head].value));
            head = (head + 1) % kRing;
            --pending;
        }
    };
    while (rp > cod) {
        release();
        uint32_t end = rp;
        if (image[end - 1] & 0x80) return VM_ERR_FORMAT;  // a cell's last byte has bit 7 clear
        uint32_t start = end - 1;
        while (start > cod && (image[start - 1] & 0x80)) {
            --start;
            if (end - start > 5) return VM_ERR_FORMAT;  // more than 32 bits of value
        }
        ucell v = (image[start] & 0x40) ? ~ucell(0) : 0;
        for (uint32_t p = start; p < end; ++p) v = (v << 7) | (image[p] & 0x7Fu);
        rp = start;
        if (wp - cod < 4) return VM_ERR_FORMAT;  // more cells than the sections hold
        wp -= 4;
        if (wp < rp) {
            if (pending == kRing) return VM_ERR_FORMAT;
            ring[(head + pending) % kRing] = {wp, v};
            ++pending;
            if (pending > most) most = pending;
        } else {
            StoreBlockCell(image + wp, cell(v));
        }
    }
    release();
    if (held) *held = most;
    if (wp != cod || pending != 0) return VM_ERR_FORMAT;
    return VM_ERR_NONE;
}

namespace {
std::atomic<bool> g_codeFusion{true};
}  // namespace

void SetCodeFusion(bool on) { g_codeFusion.store(on, std::memory_order_relaxed); }
bool CodeFusion() { return g_codeFusion.load(std::memory_order_relaxed); }

int CheckHeader(const VmInstance* inst) {
    if (!inst || !inst->image) return VM_ERR_FORMAT;
    const uint8_t* p = inst->image;
    if (ReadU16(p + 4) != VM_MAGIC) return VM_ERR_FORMAT;
    if (p[6] > 8 || p[7] < 6) return VM_ERR_VERSION;
    return VM_ERR_NONE;
}

}  // namespace vm_internal

namespace {

// Header offsets in the documented order, each table a whole number of entries, and the
// cell-sized sections the interpreter relies on.
int CheckLayout(const VmFileHeader& h) {
    const int64_t top = h.stack_top;
    if (h.size < VM_HEADER_SIZE || h.size > top) return VM_ERR_FORMAT;
    const int64_t order[] = {VM_HEADER_SIZE, h.publics, h.natives, h.libraries, h.pubvars, h.tags};
    for (size_t i = 1; i < sizeof order / sizeof order[0]; ++i)
        if (order[i] < order[i - 1]) return VM_ERR_FORMAT;
    int64_t tagsEnd = h.file_version >= 7 ? int64_t(h.nametable) : int64_t(h.cod);
    if (tagsEnd < h.tags || h.cod < tagsEnd) return VM_ERR_FORMAT;
    if (h.dat < h.cod || h.hea < h.dat || int64_t(h.hea) + 4 > top) return VM_ERR_FORMAT;
    const int64_t spans[] = {int64_t(h.natives) - h.publics, int64_t(h.libraries) - h.natives,
                             int64_t(h.tags) - h.pubvars, tagsEnd - h.tags};
    for (int64_t s : spans)
        if (s % h.defsize != 0) return VM_ERR_FORMAT;
    // Cell-aligned sections: natives get host cell pointers into the data, and scans of
    // aligned strings always end at the sentinel cell.
    if (h.cod % 4 != 0 || h.dat % 4 != 0 || (h.hea - h.dat) % 4 != 0 || (top - h.dat) % 4 != 0)
        return VM_ERR_FORMAT;
    if (h.flags & VMF_COMPACT) {
        if (h.size < h.cod) return VM_ERR_FORMAT;
    } else if (h.size != h.hea) {
        return VM_ERR_FORMAT;
    }
    return VM_ERR_NONE;
}

// Every name terminated inside its own area and no longer than the declared longest.
int CheckNames(const uint8_t* image, const VmFileHeader& h) {
    int longest = 19;
    int64_t namesFrom = 0, namesTo = 0;
    if (h.defsize == VM_DEFSIZE_NAMETABLE) {
        if (h.file_version < 7 || int64_t(h.nametable) + 2 > h.cod) return VM_ERR_FORMAT;
        longest = ReadU16(image + h.nametable);
        if (longest > VM_MAX_NAME_LENGTH) return VM_ERR_FORMAT;
        namesFrom = int64_t(h.nametable) + 2;
        namesTo = h.cod;
    }
    for (TableKind kind : {TableKind::Publics, TableKind::Natives, TableKind::PubVars, TableKind::Tags}) {
        VmTable t = Table(image, kind);
        for (int i = 0; i < t.count; ++i) {
            const uint8_t* e = t.Entry(i);
            const uint8_t* name;
            int64_t room;
            if (h.defsize == VM_DEFSIZE_NAMETABLE) {
                int64_t off = ReadU32(e + 4);
                if (off < namesFrom || off >= namesTo) return VM_ERR_FORMAT;
                name = image + off;
                room = namesTo - off;
            } else {
                name = e + 4;
                room = VM_DEFSIZE_INLINE - 4;
            }
            const void* nul = std::memchr(name, 0, size_t(room < longest + 1 ? room : longest + 1));
            if (!nul) return VM_ERR_FORMAT;
        }
    }
    return VM_ERR_NONE;
}

struct CodeMap {
    std::vector<uint32_t> bits;
    bool Has(int64_t off) const {
        if (off < 0 || (off & 3) || (off >> 2) >= int64_t(bits.size()) * 32) return false;
        uint64_t i = uint64_t(off) >> 2;
        return (bits[i >> 5] >> (i & 31)) & 1u;
    }
    // Only for offsets already proven to be instruction starts.
    void Set(int64_t off) { bits[size_t(off >> 7)] |= 1u << ((off >> 2) & 31); }
};

// Walks the code once to find where instructions start (and that each one is whole), then checks
// every static target against those starts and records it in `targets`.
int CheckCode(const uint8_t* code, uint32_t size, int natives, CodeMap& map, CodeMap& targets) {
    map.bits.assign((size / 4 + 31) / 32, 0);
    uint32_t pc = 0;
    int last = -1;
    while (pc < size) {
        cell op = LoadBlockCell(code + pc);
        if (op < 1 || op >= OP_NUM_OPCODES) return VM_ERR_FORMAT;
        map.bits[(pc >> 2) >> 5] |= 1u << ((pc >> 2) & 31);
        uint64_t len = 4;
        switch (OpcodeInfo(op).operand) {
            case VmOperand::None: len = 4; break;
            case VmOperand::Value:
            case VmOperand::Code:
            case VmOperand::Rel:
            case VmOperand::Native: len = 8; break;
            case VmOperand::Two: len = 12; break;
            case VmOperand::Bytes: {
                if (uint64_t(pc) + 8 > size) return VM_ERR_FORMAT;
                cell n = LoadBlockCell(code + pc + 4);
                if (n < 0 || n % 4 != 0) return VM_ERR_FORMAT;
                len = 8 + uint64_t(n);
                break;
            }
            case VmOperand::CaseTbl: {
                if (uint64_t(pc) + 12 > size) return VM_ERR_FORMAT;
                len = 12 + 8 * uint64_t(ucell(LoadBlockCell(code + pc + 4)));
                break;
            }
        }
        if (uint64_t(pc) + len > size) return VM_ERR_FORMAT;
        last = op;
        pc += uint32_t(len);
    }
    if (last >= 0 && OpcodeFallsThrough(last)) return VM_ERR_FORMAT;

    targets.bits.assign(map.bits.size(), 0);
    for (pc = 0; pc < size;) {
        cell op = LoadBlockCell(code + pc);
        const VmOpInfo& info = OpcodeInfo(op);
        uint32_t len = 4;
        switch (info.operand) {
            case VmOperand::None: break;
            case VmOperand::Value: len = 8; break;
            case VmOperand::Code: {
                cell t = LoadBlockCell(code + pc + 4);
                if (!map.Has(t)) return VM_ERR_FORMAT;
                if (op == OP_SWITCH && LoadBlockCell(code + t) != OP_CASETBL) return VM_ERR_FORMAT;
                targets.Set(t);
                len = 8;
                break;
            }
            case VmOperand::Rel: {
                const int64_t t = int64_t(pc) + 8 + LoadBlockCell(code + pc + 4);
                if (!map.Has(t)) return VM_ERR_FORMAT;
                targets.Set(t);
                len = 8;
                break;
            }
            case VmOperand::Native: {
                cell n = LoadBlockCell(code + pc + 4);
                if (n < 0 || n >= natives) return VM_ERR_FORMAT;
                len = 8;
                break;
            }
            case VmOperand::Two: len = 12; break;
            case VmOperand::Bytes: len = 8 + uint32_t(LoadBlockCell(code + pc + 4)); break;
            case VmOperand::CaseTbl: {
                uint32_t n = ucell(LoadBlockCell(code + pc + 4));
                if (!map.Has(LoadBlockCell(code + pc + 8))) return VM_ERR_FORMAT;
                targets.Set(LoadBlockCell(code + pc + 8));
                for (uint32_t i = 0; i < n; ++i) {
                    const cell t = LoadBlockCell(code + pc + 12 + 8 * i + 4);
                    if (!map.Has(t)) return VM_ERR_FORMAT;
                    targets.Set(t);
                }
                len = 12 + 8 * n;
                break;
            }
        }
        pc += len;
    }
    return VM_ERR_NONE;
}

// The range [low, end) of the frame offsets of the instructions the interpreter runs unchecked
// inside a frame that holds them all; empty when the code names none.
void FrameOffsetRange(const uint8_t* code, uint32_t size, int64_t& low, int64_t& end) {
    low = end = 0;
    bool any = false;
    for (uint32_t pc = 0; pc < size;) {
        const cell op = LoadBlockCell(code + pc);
        if (op == OP_LOAD_S_PRI || op == OP_LOAD_S_ALT || op == OP_STOR_S_PRI || op == OP_INC_S) {
            const int64_t off = LoadBlockCell(code + pc + 4);
            low = any ? std::min(low, off) : off;
            end = any ? std::max(end, off + 1) : off + 1;
            any = true;
        }
        // Lengths as CheckCode proved them.
        switch (OpcodeInfo(op).operand) {
            case VmOperand::None: pc += 4; break;
            case VmOperand::Two: pc += 12; break;
            case VmOperand::Bytes: pc += 8 + ucell(LoadBlockCell(code + pc + 4)); break;
            case VmOperand::CaseTbl: pc += 12 + 8 * ucell(LoadBlockCell(code + pc + 4)); break;
            default: pc += 8; break;
        }
    }
}

// Whether `op` is a comparison of the kind of `like`: EQ..SGEQ for EQ, JEQ..JSGEQ for JEQ.
bool SameCompareKind(cell op, int like) {
    if (like == OP_EQ) return op >= OP_EQ && op <= OP_SGEQ;
    return like == OP_JEQ && op >= OP_JEQ && op <= OP_JSGEQ;
}

// Length in bytes of a fusible instruction (every one has at most one operand).
uint32_t PlainLength(int op) { return OpcodeInfo(op).operand == VmOperand::None ? 4 : 8; }

// Rewrites the head cell of every fusible sequence of validated code into its fused token (see
// VELT_VM_FUSED). A sequence qualifies only when no static target lands past its head, so every
// jump the file names still enters it at the top; sequences do not overlap.
void FuseCode(uint8_t* code, uint32_t size, const CodeMap& targets) {
    for (uint32_t pc = 0; pc < size;) {
        const cell op = LoadBlockCell(code + pc);
        uint32_t next = 0;
        for (int token = kVmFusedFirst; token < OPF_END && next == 0; ++token) {
            const VmFusedInfo& f = FusedOpcodeInfo(token);
            uint32_t at = pc;
            int k = 0;
            for (; k < f.count; ++k) {
                if (at >= size || (k > 0 && targets.Has(at))) break;
                const cell got = LoadBlockCell(code + at);
                if (got != f.ops[k] && !(k == f.anyCompareAt && SameCompareKind(got, f.ops[k]))) break;
                at += PlainLength(f.ops[k]);
            }
            // A loop form only where its JUMP comes back to its own head.
            if (k == f.count && f.loop && ucell(LoadBlockCell(code + at - 4)) != pc) k = 0;
            if (k == f.count) {
                StoreBlockCell(code + pc, token);
                next = at;
            }
        }
        if (next != 0) {
            pc = next;
            continue;
        }
        // Lengths as CheckCode proved them.
        switch (OpcodeInfo(op).operand) {
            case VmOperand::None: pc += 4; break;
            case VmOperand::Two: pc += 12; break;
            case VmOperand::Bytes: pc += 8 + ucell(LoadBlockCell(code + pc + 4)); break;
            case VmOperand::CaseTbl: pc += 12 + 8 * ucell(LoadBlockCell(code + pc + 4)); break;
            default: pc += 8; break;
        }
    }
}

}  // namespace

int vm_Init(VmInstance* inst, void* imagePtr) {
    if (inst->flags & VMF_RELOCATED) return VM_ERR_INIT;
    uint8_t* image = static_cast<uint8_t*>(imagePtr);
    const VmFileHeader h = VmFileHeader::Read(image);
    if (h.magic != VM_MAGIC) return VM_ERR_FORMAT;
    if (h.file_version < VM_MIN_FILE_VERSION || h.vm_version > VM_MAX_VM_VERSION) return VM_ERR_VERSION;
    if (h.defsize != VM_DEFSIZE_INLINE && h.defsize != VM_DEFSIZE_NAMETABLE) return VM_ERR_FORMAT;
    if (h.stack_top <= 0) return VM_ERR_FORMAT;
    if (int err = CheckLayout(h)) return err;
    if (int err = CheckNames(image, h)) return err;

    if (h.flags & VMF_COMPACT) {
        if (int err = ExpandCompact(image, uint32_t(h.cod), uint32_t(h.size), uint32_t(h.hea), nullptr))
            return err;
    }
    // Heap, stack and the sentinel cell start zeroed: a script never sees what the host left there.
    std::memset(image + h.hea, 0, size_t(h.stack_top - h.hea));

    const uint32_t codeSize = uint32_t(h.dat - h.cod);
    VmTable natives = Table(image, TableKind::Natives);
    VmTable publics = Table(image, TableKind::Publics);
    CodeMap map, targets;
    if (int err = CheckCode(image + h.cod, codeSize, natives.count, map, targets)) return err;
    if (h.main_entry >= 0) {
        if (!map.Has(h.main_entry)) return VM_ERR_FORMAT;
        targets.Set(h.main_entry);
    }
    for (int i = 0; i < publics.count; ++i) {
        if (!map.Has(ReadU32(publics.Entry(i)))) return VM_ERR_FORMAT;
        targets.Set(ReadU32(publics.Entry(i)));
    }

    uint32_t* starts = nullptr;
    VmNative* bound = nullptr;
    if (!map.bits.empty()) {
        starts = static_cast<uint32_t*>(std::malloc(map.bits.size() * sizeof(uint32_t)));
        if (!starts) return VM_ERR_MEMORY;
        std::memcpy(starts, map.bits.data(), map.bits.size() * sizeof(uint32_t));
    }
    if (natives.count > 0) {
        bound = static_cast<VmNative*>(std::calloc(size_t(natives.count), sizeof(VmNative)));
        if (!bound) {
            std::free(starts);
            return VM_ERR_MEMORY;
        }
    }
    // Bindings live in the instance's table; the file's cells only say "bound" (non-zero).
    for (int i = 0; i < natives.count; ++i) WriteU32(const_cast<uint8_t*>(natives.Entry(i)), 0);
    int64_t frameLow = 0, frameEnd = 0;
    FrameOffsetRange(image + h.cod, codeSize, frameLow, frameEnd);
    // Last, once nothing can fail: a refused image keeps the code of its file.
    if (CodeFusion()) FuseCode(image + h.cod, codeSize, targets);

    inst->image = image;
    inst->data_seg = nullptr;
    inst->heap_low = inst->heap = h.hea - h.dat;
    inst->stack_top = inst->stack = h.stack_top - h.dat - 4;
    if (!inst->native_dispatch) inst->native_dispatch = vm_Callback;
    inst->direct_native_op = VM_OP_SYSREQ_D;
    inst->nativeTable = bound;
    inst->nativeCount = natives.count;
    inst->codeSize = int32_t(codeSize);
    inst->codeStarts = starts;
    inst->frameOffsetLow = frameLow;
    inst->frameOffsetEnd = frameEnd;
    inst->flags = VMF_RELOCATED;
    return VM_ERR_NONE;
}

int vm_Teardown(VmInstance* inst) {
    if (!inst) return VM_ERR_NONE;
    std::free(inst->nativeTable);
    std::free(inst->codeStarts);
    inst->nativeTable = nullptr;
    inst->codeStarts = nullptr;
    inst->nativeCount = 0;
    inst->codeSize = 0;
    inst->frameOffsetLow = inst->frameOffsetEnd = 0;
    // Without its tables the instance can no longer run.
    inst->flags &= ~(VMF_RELOCATED | VMF_NATIVES_READY);
    return VM_ERR_NONE;
}

int vm_LoadImage(VmInstance* inst, const void* file, size_t length, size_t maxBlock) {
    if (!inst || !file) return VM_ERR_PARAMS;
    if (inst->flags & VMF_RELOCATED) return VM_ERR_INIT;
    if (length < size_t(VM_HEADER_SIZE)) return VM_ERR_FORMAT;
    const uint8_t* bytes = static_cast<const uint8_t*>(file);
    VmFileHeader h = VmFileHeader::Read(bytes);
    if (h.magic != VM_MAGIC) return VM_ERR_FORMAT;
    if (h.size < VM_HEADER_SIZE || size_t(h.size) > length || h.stack_top < h.size) return VM_ERR_FORMAT;
    if (maxBlock && size_t(h.stack_top) > maxBlock) return VM_ERR_MEMORY;
    uint8_t* block = static_cast<uint8_t*>(std::calloc(size_t(h.stack_top), 1));
    if (!block) return VM_ERR_MEMORY;
    std::memcpy(block, bytes, size_t(h.size));
    int err = vm_Init(inst, block);
    if (err != VM_ERR_NONE) {
        std::free(block);
        inst->image = nullptr;
    }
    return err;
}

void vm_FreeImage(VmInstance* inst) {
    if (!inst) return;
    vm_Teardown(inst);
    std::free(inst->image);
    inst->image = nullptr;
}

}  // namespace velt
