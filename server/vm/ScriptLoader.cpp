#include "server/vm/ScriptLoader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/LittleEndian.h"

namespace velt {

namespace {

ScriptLogFunction g_log = nullptr;
// Long enough for "gamemodes/" + a 254-character name + ".vmb".
char g_currentPath[512] = "";

// The header fields the loader itself trusts, checked before anything is allocated.
struct HeaderSizes {
    size_t size = 0;      // bytes of the file that form the image
    size_t stackTop = 0;  // bytes of the block: code, data, heap and stack
};

int CheckHeader(const uint8_t* header, HeaderSizes& out) {
    const uint16_t magic = ReadU16(header + 4);
    if (magic != VM_MAGIC) return VM_ERR_FORMAT;
    const uint32_t size = ReadU32(header);
    const uint32_t stackTop = ReadU32(header + 24);
    // A size below the header or above the block would read past the allocation.
    if (size < uint32_t(VM_HEADER_SIZE) || size > 0x7FFFFFFFu || stackTop > 0x7FFFFFFFu || stackTop < size)
        return VM_ERR_FORMAT;
    if (stackTop > kMaxScriptBlockBytes) return VM_ERR_MEMORY;
    out.size = size;
    out.stackTop = stackTop;
    return VM_ERR_NONE;
}

// Step shared by both loaders: the instance is zeroed and the machine prepares the block, which
// the instance owns from then on; on failure the block is freed and the instance owns nothing.
int InitInstance(VmInstance* inst, uint8_t* block) {
    std::memset(static_cast<void*>(inst), 0, sizeof *inst);
    int err = vm_Init(inst, block);
    if (err != VM_ERR_NONE) {
        vm_Teardown(inst);
        std::free(block);
        std::memset(static_cast<void*>(inst), 0, sizeof *inst);
    }
    return err;
}

}  // namespace

int LoadScriptFromFile(VmInstance* inst, const char* path) {
    if (inst == nullptr || path == nullptr) return VM_ERR_PARAMS;
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return VM_ERR_NOTFOUND;
    uint8_t header[VM_HEADER_SIZE];
    if (std::fread(header, 1, sizeof header, f) != sizeof header) {
        std::fclose(f);
        return VM_ERR_FORMAT;
    }
    HeaderSizes sizes;
    if (int err = CheckHeader(header, sizes)) {
        std::fclose(f);
        return err;
    }
    // Zero-filled: heap, stack and any bytes the file does not cover start defined.
    uint8_t* block = static_cast<uint8_t*>(std::calloc(sizes.stackTop, 1));
    if (block == nullptr) {
        std::fclose(f);
        return VM_ERR_MEMORY;
    }
    std::memcpy(block, header, sizeof header);
    const size_t rest = sizes.size - sizeof header;
    const size_t got = rest > 0 ? std::fread(block + sizeof header, 1, rest, f) : 0;
    std::fclose(f);
    if (got != rest) {
        // A truncated file: the header promises bytes that are not there.
        std::free(block);
        return VM_ERR_FORMAT;
    }
    return InitInstance(inst, block);
}

int LoadScriptFromMemory(VmInstance* inst, const void* image, size_t length) {
    if (inst == nullptr || image == nullptr) return VM_ERR_PARAMS;
    if (length < size_t(VM_HEADER_SIZE)) return VM_ERR_FORMAT;
    const uint8_t* bytes = static_cast<const uint8_t*>(image);
    HeaderSizes sizes;
    if (int err = CheckHeader(bytes, sizes)) return err;
    if (sizes.size > length) return VM_ERR_FORMAT;
    uint8_t* block = static_cast<uint8_t*>(std::calloc(sizes.stackTop, 1));
    if (block == nullptr) return VM_ERR_MEMORY;
    std::memcpy(block, bytes, sizes.size);
    return InitInstance(inst, block);
}

int FreeScript(VmInstance* inst) {
    if (inst == nullptr || inst->image == nullptr) return VM_ERR_NONE;
    vm_Teardown(inst);
    std::free(inst->image);
    std::memset(static_cast<void*>(inst), 0, sizeof *inst);
    return VM_ERR_NONE;
}

// The machine's own table: a host's error line and the machine's texts cannot drift apart.
const char* ScriptErrorName(int code) { return vm_ErrorText(code); }

void SetScriptLogFunction(ScriptLogFunction fn) { g_log = fn; }

void SetCurrentScriptPath(const char* path) {
    std::snprintf(g_currentPath, sizeof g_currentPath, "%s", path != nullptr ? path : "");
}

const char* CurrentScriptPath() { return g_currentPath; }

void LogScriptError(VmInstance*, int code) {
    if (code == 0 || g_log == nullptr) return;
    g_log("Script[%s]: Run time error %d: \"%s\"", g_currentPath, code, ScriptErrorName(code));
}

void LogScriptRunError(const char* file, int code, const char* publicName) {
    if (code == 0 || g_log == nullptr) return;
    g_log("Script[%s]: Run time error %d: \"%s\" in %s", file != nullptr ? file : "", code,
          ScriptErrorName(code), publicName != nullptr ? publicName : "");
}

bool LogUnregisteredNatives(VmInstance* inst, const char* file) {
    if (inst == nullptr || inst->image == nullptr || (inst->flags & VMF_NATIVES_READY)) return false;
    int count = 0;
    int nameLength = 0;
    if (vm_NumNatives(inst, &count) != VM_ERR_NONE || vm_NameLength(inst, &nameLength) != VM_ERR_NONE)
        return false;
    std::string name(size_t(nameLength) + 1, '\0');
    std::string missing;
    // A log line holds some two thousand characters: names past that would say nothing more.
    constexpr size_t kEnough = 2048;
    for (int i = 0; i < count && i < inst->nativeCount && missing.size() < kEnough; ++i) {
        if (inst->nativeTable[i] != nullptr || vm_GetNative(inst, i, name.data()) != VM_ERR_NONE) continue;
        if (!missing.empty()) missing += ", ";
        missing += name.c_str();
    }
    if (missing.empty()) return false;
    if (g_log != nullptr)
        g_log("Script[%s]: Natives not registered, so none of its code can run: %s",
              file != nullptr ? file : "", missing.c_str());
    return true;
}

}  // namespace velt
