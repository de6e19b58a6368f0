// Core natives: variable-argument access, public lookup, character mapping, min/max/clamp,
// the pseudo-random generator and the property store shared by every script of the process.

#include "server/vm/vmlib.h"
#include "server/vm/vmlib_common.h"

#include <cstdint>
#include <ctime>
#include <list>
#include <new>
#include <string>

namespace velt {
namespace {

using namespace vmlib;

// Scripts run on the main thread only, so the process-wide state needs no lock.
constexpr uint32_t kInitialSeed = 0xCAA938DBu;
uint32_t g_seed = kInitialSeed;

struct Property {
    cell id;
    std::string name;
    cell value;
};
std::list<Property> g_properties;  // newest first

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(static_cast<unsigned char>(a[i])) != AsciiLower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::list<Property>::iterator FindProperty(cell id, const std::string& name, cell value) {
    for (auto it = g_properties.begin(); it != g_properties.end(); ++it) {
        if (it->id != id) continue;
        if (name.empty() ? it->value == value : SameNameIgnoringCase(it->name, name)) return it;
    }
    return g_properties.end();
}

// Address of argument `arg` of the script function that called the native.
int64_t CallerArgAddress(VmInstance* vm, cell arg) {
    return static_cast<int64_t>(vm->frame) + 12 + int64_t{arg} * 4;
}

// The cell that argument `arg` of the caller points at, index cells further on.
unsigned char* CallerArgTarget(VmInstance* vm, cell arg, cell index) {
    unsigned char* ref = ScriptSpan(vm, CallerArgAddress(vm, arg), 4);
    if (ref == nullptr) return nullptr;
    return ScriptSpan(vm, int64_t{LoadCell(ref)} + int64_t{index} * 4, 4);
}

cell n_numargs(VmInstance* vm, const cell*) {
    unsigned char* p = ScriptSpan(vm, int64_t{vm->frame} + 8, 4);
    return p != nullptr ? LoadCell(p) / 4 : 0;
}

cell n_getarg(VmInstance* vm, const cell* params) {
    if (ArgCount(vm, params) < 2) return 0;
    unsigned char* p = CallerArgTarget(vm, params[1], params[2]);
    return p != nullptr ? LoadCell(p) : 0;
}

cell n_setarg(VmInstance* vm, const cell* params) {
    if (ArgCount(vm, params) < 3) return 0;
    unsigned char* p = CallerArgTarget(vm, params[1], params[2]);
    if (p == nullptr) return 0;
    StoreCell(p, params[3]);
    return 1;
}

cell n_heapspace(VmInstance* vm, const cell*) { return vm->stack - vm->heap; }

cell n_funcidx(VmInstance* vm, const cell* params) {
    ScriptText name;
    if (ArgCount(vm, params) < 1 || !ReadText(vm, params[1], name) || name.chars.size() >= 64) {
        vm_RaiseError(vm, VM_ERR_NATIVE);
        return 0;
    }
    int index = 0;
    if (vm_LookupPublic(vm, ToBytes(name).c_str(), &index) != 0) return -1;
    return index;
}

cell n_swapchars(VmInstance* vm, const cell* params) {
    if (ArgCount(vm, params) < 1) return 0;
    const ucell c = static_cast<ucell>(params[1]);
    return static_cast<cell>((c >> 24) | ((c >> 8) & 0xFF00u) | ((c << 8) & 0xFF0000u) | (c << 24));
}

cell n_tolower(VmInstance* vm, const cell* params) {
    return ArgCount(vm, params) < 1 ? 0 : AsciiLower(params[1]);
}
cell n_toupper(VmInstance* vm, const cell* params) {
    return ArgCount(vm, params) < 1 ? 0 : AsciiUpper(params[1]);
}

cell n_min(VmInstance* vm, const cell* params) {
    if (ArgCount(vm, params) < 2) return 0;
    return params[1] < params[2] ? params[1] : params[2];
}

cell n_max(VmInstance* vm, const cell* params) {
    if (ArgCount(vm, params) < 2) return 0;
    return params[1] > params[2] ? params[1] : params[2];
}

cell n_clamp(VmInstance* vm, const cell* params) {
    if (ArgCount(vm, params) < 3) return 0;
    const cell value = params[1], low = params[2], high = params[3];
    if (high < low) {
        vm_RaiseError(vm, VM_ERR_NATIVE);
        return 0;
    }
    return value < low ? low : value > high ? high : value;
}

cell n_random(VmInstance* vm, const cell* params) {
    if (ArgCount(vm, params) < 1) return 0;
    if (g_seed == kInitialSeed) g_seed = static_cast<uint32_t>(std::time(nullptr));
    const uint32_t lo = g_seed & 0xFFFFu, hi = g_seed >> 16;
    // Bits 16-46 of seed * 0x41C64E6D + 12345 taken in full width: the high half of the next seed.
    uint32_t result = ((lo * 0x4E6Du + 12345u) >> 16) + lo * 0x41C6u + hi * 0x4E6Du + ((hi * 0x41C6u) << 16);
    result &= 0x7FFFFFFFu;
    g_seed = g_seed * 1103515245u + 12345u;
    const ucell max = static_cast<ucell>(params[1]);
    if (max != 0) result %= max;
    return static_cast<cell>(result);
}

cell n_getproperty(VmInstance* vm, const cell* params) {
    std::string name;
    if (ArgCount(vm, params) < 4 || !ReadBytes(vm, params[2], name)) return 0;
    auto it = FindProperty(params[1], name, params[3]);
    if (it == g_properties.end()) return 0;
    if (name.empty() && !WriteBytes(vm, params[4], it->name, true)) {
        vm_RaiseError(vm, VM_ERR_MEMACCESS);
        return 0;
    }
    return it->value;
}

cell n_setproperty(VmInstance* vm, const cell* params) {
    try {
        std::string name;
        if (ArgCount(vm, params) < 4 || !ReadBytes(vm, params[2], name)) return 0;
        const cell id = params[1], value = params[3];
        std::string newName = name;
        if (name.empty() && !ReadBytes(vm, params[4], newName)) return 0;
        auto it = FindProperty(id, name, value);
        cell previous = 0;
        if (it == g_properties.end()) {
            g_properties.push_front(Property{id, std::string(), 0});
            it = g_properties.begin();
        } else {
            previous = it->value;
        }
        it->name = std::move(newName);
        it->id = id;
        it->value = value;
        return previous;
    } catch (const std::bad_alloc&) {
        vm_RaiseError(vm, VM_ERR_MEMORY);
        return 0;
    }
}

cell n_deleteproperty(VmInstance* vm, const cell* params) {
    std::string name;
    if (ArgCount(vm, params) < 3 || !ReadBytes(vm, params[2], name)) return 0;
    auto it = FindProperty(params[1], name, params[3]);
    if (it == g_properties.end()) return 0;
    const cell value = it->value;
    g_properties.erase(it);
    return value;
}

cell n_existproperty(VmInstance* vm, const cell* params) {
    std::string name;
    if (ArgCount(vm, params) < 3 || !ReadBytes(vm, params[2], name)) return 0;
    return FindProperty(params[1], name, params[3]) != g_properties.end() ? 1 : 0;
}

const VmNativeEntry kCoreNatives[] = {
    {"numargs", n_numargs},
    {"getarg", n_getarg},
    {"setarg", n_setarg},
    {"heapspace", n_heapspace},
    {"funcidx", n_funcidx},
    {"swapchars", n_swapchars},
    {"tolower", n_tolower},
    {"toupper", n_toupper},
    {"min", n_min},
    {"max", n_max},
    {"clamp", n_clamp},
    {"random", n_random},
    {"getproperty", n_getproperty},
    {"setproperty", n_setproperty},
    {"deleteproperty", n_deleteproperty},
    {"existproperty", n_existproperty},
    {nullptr, nullptr},
};

}  // namespace

int vm_AttachCoreLib(VmInstance* vm) { return vm_Register(vm, kCoreNatives, -1); }

int vm_DetachCoreLib(VmInstance*) {
    g_properties.clear();
    return 0;
}

}  // namespace velt
