#pragma once
// Public interface of the script virtual machine: image header, instance record, error codes,
// native binding and every vm_ function a host, a native library or a plugin calls.
//
// 64-bit notes: a cell is 32 bits and never holds a host pointer. Natives bound by vm_Register
// live in a per-instance table indexed by native number; the opcode cells of the code keep their
// opcode numbers (token-threaded dispatch), and every jump operand stays code-relative.

#include <bit>
#include <cstddef>
#include <cstdint>

namespace velt {

using cell = int32_t;
using ucell = uint32_t;

// Floats travel in cells as their IEEE-754 single-precision bits.
inline float CellToFloat(cell c) { return std::bit_cast<float>(c); }
inline cell FloatToCell(float f) { return std::bit_cast<cell>(f); }

// ---------------------------------------------------------------------------------------------
// Error codes and their texts.
enum VmError : int {
    VM_ERR_NONE = 0,
    VM_ERR_EXIT = 1,       // forced exit
    VM_ERR_ASSERT = 2,     // assertion failed
    VM_ERR_STACKERR = 3,   // stack/heap collision
    VM_ERR_BOUNDS = 4,     // array index out of bounds
    VM_ERR_MEMACCESS = 5,  // invalid memory access
    VM_ERR_INVINSTR = 6,   // invalid instruction
    VM_ERR_STACKLOW = 7,   // stack underflow
    VM_ERR_HEAPLOW = 8,    // heap underflow
    VM_ERR_CALLBACK = 9,   // no native dispatcher
    VM_ERR_NATIVE = 10,    // native failed
    VM_ERR_DIVIDE = 11,    // divide by zero
    VM_ERR_SLEEP = 12,     // the run went to sleep; continue with index VM_EXEC_CONTINUE
    VM_ERR_MEMORY = 16,    // out of memory
    VM_ERR_FORMAT = 17,    // bad file format
    VM_ERR_VERSION = 18,   // file is for a newer VM
    VM_ERR_NOTFOUND = 19,  // file, function or native not found
    VM_ERR_INDEX = 20,     // bad entry point
    VM_ERR_DEBUG = 21,     // debugger cannot run
    VM_ERR_INIT = 22,      // not initialised, or initialised twice
    VM_ERR_USERDATA = 23,  // user-data table full / tag absent
    VM_ERR_INIT_JIT = 24,  // no JIT
    VM_ERR_PARAMS = 25,    // parameter error
    VM_ERR_DOMAIN = 26,    // raised by the float library
    VM_ERR_GENERAL = 27,   // raised by the datagram library
};

// The text a host prints for an error code; "(unknown)" above 25.
const char* vm_ErrorText(int code);

// ---------------------------------------------------------------------------------------------
// File header (56 bytes, little-endian on disk; read and written field by field).
constexpr uint16_t VM_MAGIC = 0xF1E0;
constexpr int VM_HEADER_SIZE = 56;
constexpr int VM_MIN_FILE_VERSION = 6;   // oldest file format we load
constexpr int VM_MAX_VM_VERSION = 8;     // newest machine version we run
constexpr int VM_MAX_NAME_LENGTH = 31;   // longest-name value allowed in a name table
constexpr int VM_DEFSIZE_INLINE = 24;    // table entry with the name inline (at most 19 chars)
constexpr int VM_DEFSIZE_NAMETABLE = 8;  // table entry pointing into the name table

// Header flags.
constexpr int16_t VMF_COMPACT = 0x04;
// Instance state flags.
constexpr int32_t VMF_NATIVES_READY = 0x1000;
constexpr int32_t VMF_BROWSE = 0x4000;
constexpr int32_t VMF_RELOCATED = 0x8000;

constexpr int OP_NUM_OPCODES = 138;
constexpr cell VM_OP_SYSREQ_D = 135;  // token of the direct native call

// vm_Exec entry indexes besides public numbers.
constexpr int VM_EXEC_MAIN = -1;
constexpr int VM_EXEC_CONTINUE = -2;

// User-data tag under which the libraries chain their idle hooks ("Idle", little-endian).
constexpr int32_t VM_IDLE_TAG = 0x656C6449;

struct VmFileHeader {
    int32_t size = 0;  // stored image size (of the compact form when compact)
    uint16_t magic = 0;
    uint8_t file_version = 0;
    uint8_t vm_version = 0;
    int16_t flags = 0;
    int16_t defsize = 0;
    int32_t cod = 0;          // offset of the code section
    int32_t dat = 0;          // offset of the data section
    int32_t hea = 0;          // end of the initialised data
    int32_t stack_top = 0;    // size of the whole memory block
    int32_t main_entry = -1;  // code-relative address of main, negative when absent
    int32_t publics = 0;
    int32_t natives = 0;
    int32_t libraries = 0;
    int32_t pubvars = 0;
    int32_t tags = 0;
    int32_t nametable = 0;

    // Reads / writes the 56 header bytes at p.
    static VmFileHeader Read(const uint8_t* p);
    void Write(uint8_t* p) const;
};

// ---------------------------------------------------------------------------------------------
// Instance record. A host zeroes it before vm_Init (or presets only native_dispatch).
struct VmInstance;

// A native: the instance and its argument cells (params[0] = argument size in bytes, then the
// arguments, first argument first). Failure is reported with vm_RaiseError.
using VmNative = cell (*)(VmInstance* inst, const cell* params);
// The native-call handler: calls native `index`, writes its value into *result, returns a VmError.
using VmNativeDispatch = int (*)(VmInstance* inst, int index, cell* result, const cell* params);
// Called by the BREAK instruction; non-zero is handled like a native's error (12 sleeps).
using VmDebugHook = int (*)(VmInstance* inst);

struct VmNativeEntry {
    const char* name;
    VmNative func;
};

struct VmInstance {
    uint8_t* image;                    // the memory block; starts with the file header
    uint8_t* data_seg;                 // separate data block (clones), or null
    VmNativeDispatch native_dispatch;  // vm_Callback by default
    VmDebugHook debug_hook;
    cell cip;        // code-relative, saved at native calls and halts
    cell frame;      // data-relative frame pointer
    cell heap;       // data-relative heap top
    cell heap_low;   // = hea - dat
    cell stack;      // data-relative stack pointer
    cell stack_top;  // = header stack_top - dat - 4 (the sentinel cell)
    int32_t flags;
    int32_t user_tags[4];
    void* user_data[4];
    int32_t error_code;   // raised by the running native (vm_RaiseError)
    int32_t pushed_args;  // cells pushed by the host since the last run
    cell reg_pri;
    cell reg_alt;
    cell resume_stack;  // restore points of a sleeping run
    cell resume_heap;
    cell direct_native_op;  // token of SYSREQ.D; 0 turns call patching off

    // Host-side tables that cannot live in 32-bit cells. Allocated by vm_Init / vm_Clone and
    // released by vm_Teardown, which every host calls before it frees the image.
    VmNative* nativeTable;  // bound natives, by native index
    int32_t nativeCount;
    int32_t codeSize;      // dat - cod, in bytes
    uint32_t* codeStarts;  // one bit per code cell: an instruction starts there
    // Frame offsets named by LOAD.S.PRI, LOAD.S.ALT, STOR.S.PRI and INC.S: [low, end), empty when
    // none (or not known). Inside a frame that holds all of them those run unchecked.
    int64_t frameOffsetLow;
    int64_t frameOffsetEnd;
};

// ---------------------------------------------------------------------------------------------
// Loading.

// Validates, expands and prepares the image in `image` (a block of at least the header's
// stack_top bytes holding the file's first `size` bytes). Everything the interpreter later
// trusts is checked here; a malformed image gives 17.
int vm_Init(VmInstance* inst, void* image);
// Per-instance clean-up: releases the host-side tables. Call it before freeing the image.
int vm_Teardown(VmInstance* inst);

// Loader convenience for hosts and tools: checks the file bytes (length, magic, size), allocates
// a zero-filled block of stack_top bytes, copies the file in and runs vm_Init. On failure nothing
// stays allocated and inst->image is null. `maxBlock` (0 = no limit) caps the block size (16).
int vm_LoadImage(VmInstance* inst, const void* file, size_t length, size_t maxBlock = 0);
// vm_Teardown, then frees a block allocated by vm_LoadImage and clears inst->image.
void vm_FreeImage(VmInstance* inst);

// ---------------------------------------------------------------------------------------------
// Running.

// index >= 0: public function; VM_EXEC_MAIN: main; VM_EXEC_CONTINUE: continue after a sleep.
// *retval (when non-null) receives PRI at HALT.
int vm_Exec(VmInstance* inst, cell* retval, int index);

// ---------------------------------------------------------------------------------------------
// Header and sizes.
int vm_HeaderFlags(VmInstance* inst, uint16_t* flags);
int vm_MemorySizes(VmInstance* inst, long* codeSize, long* dataSize, long* stackHeap);
int vm_NameLength(VmInstance* inst, int* length);
uint16_t* vm_Align16(uint16_t* v);
uint32_t* vm_Align32(uint32_t* v);
int vm_JitSetup(VmInstance* inst, void* a, void* b);

// Publics, natives, public variables, tags. Names are copied into a buffer of at least
// vm_NameLength() + 1 bytes.
int vm_CountPublics(VmInstance* inst, int* count);
int vm_GetPublic(VmInstance* inst, int index, char* name);
int vm_LookupPublic(VmInstance* inst, const char* name, int* index);
int vm_NumNatives(VmInstance* inst, int* count);
int vm_GetNative(VmInstance* inst, int index, char* name);
int vm_LookupNative(VmInstance* inst, const char* name, int* index);
int vm_NumPubVars(VmInstance* inst, int* count);
int vm_GetPubVar(VmInstance* inst, int index, char* name, cell* address);
int vm_LookupPubVar(VmInstance* inst, const char* name, cell* address);
int vm_NumTags(VmInstance* inst, int* count);
int vm_GetTag(VmInstance* inst, int index, char* name, cell* tagId);
int vm_FindTagId(VmInstance* inst, cell tagId, char* name);

// Binding natives.
int vm_Register(VmInstance* inst, const VmNativeEntry* list, int count);
VmNativeEntry* vm_MakeNativeEntry(const char* name, VmNative func);
int vm_SetCallback(VmInstance* inst, VmNativeDispatch dispatch);
int vm_Callback(VmInstance* inst, int index, cell* result, const cell* params);
int vm_RaiseError(VmInstance* inst, int error);
int vm_SetDebugHook(VmInstance* inst, VmDebugHook hook);

// Memory and arguments.
int vm_Allot(VmInstance* inst, int cells, cell* scriptAddr, cell** hostAddr);
int vm_Unallot(VmInstance* inst, cell scriptAddr);
int vm_PushCell(VmInstance* inst, cell value);
int vm_PushArray(VmInstance* inst, cell* scriptAddr, cell** hostAddr, const cell* array, int count);
int vm_PushString(VmInstance* inst, cell* scriptAddr, cell** hostAddr, const void* text, int packed,
                  int wide);
// Host pointer of one script address: 5 (and null) when it is negative, at or above stack_top,
// inside the free space between heap and stack, or not cell-aligned (script data is cells; a
// string scanned from an unaligned address could run past the end of the block).
int vm_GetAddr(VmInstance* inst, cell scriptAddr, cell** hostAddr);
// The checked form for natives that read or write more than one cell: validates the whole range
// [scriptAddr, scriptAddr + bytes) (computed in 64 bits) against the block end and the free
// space between heap and stack, and gives 5 and null when any byte of it is outside. `bytes` 0
// validates the address alone; negative sizes give 5. The address may be any byte (the pointer
// is then not cell-aligned: access it through memcpy). Natives that read or write arrays or
// strings of a known size in script memory go through this before the first access.
int vm_GetAddrRange(VmInstance* inst, cell scriptAddr, int64_t bytes, cell** hostAddr);

// Strings. `wide` texts are arrays of 32-bit characters (wchar_t on this platform).
int vm_StrLen(const cell* cstr, int* length);
int vm_SetString(cell* dest, const void* source, int packed, int wide, size_t sizeCells);
int vm_ReadString(void* dest, const cell* source, int wide, size_t sizeChars);
int vm_UTF8Get(const char* text, const char** end, cell* value);
int vm_UTF8Put(char* buffer, char** end, int room, cell value);
int vm_UTF8Len(const cell* cstr, int* length);
int vm_UTF8Validate(const char* text, int* count);

// User data: four (tag, pointer) slots per instance. Tag 0 marks a free slot and is refused.
int vm_GetUserData(VmInstance* inst, int32_t tag, void** ptr);
int vm_SetUserData(VmInstance* inst, int32_t tag, void* ptr);

// A second instance sharing the source's image and code, with its own data block (at least
// header stack_top - dat bytes) and its own copy of the native table. `clone` is zeroed or
// presets only its dispatcher and debug hook.
int vm_Clone(VmInstance* clone, VmInstance* source, void* data);

}  // namespace velt
