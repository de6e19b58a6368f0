#include "server/runtime/ScriptArgs.h"

#include <cstring>
#include <string>

#include "server/runtime/ScriptMemory.h"
#include "server/vm/vmlib_common.h"

namespace velt {

ScriptArgList CopyScriptArgs(VmInstance* vm, const cell* params, int32_t formatIndex) {
    ScriptArgList out;
    const int32_t count = params != nullptr ? vmlib::ArgCount(vm, params) : 0;
    if (formatIndex < 1 || formatIndex > count) return out;
    std::string format;
    ReadScriptString(vm, params[formatIndex], format);

    // Character k describes argument formatIndex + 1 + k (an array's size is the one after it);
    // walking from the last character makes the stored order the push order.
    for (size_t k = format.size(); k-- > 0;) {
        const int64_t argIndex = formatIndex + 1 + static_cast<int64_t>(k);
        if (argIndex > count) continue;
        const cell address = params[argIndex];
        ScriptArgCopy arg;
        if (format[k] == kScriptArgArray) {
            cell size = 0;
            if (argIndex + 1 > count || !GetScriptCell(vm, params[argIndex + 1], size) || size < 0) continue;
            const cell* src = ScriptCellAddress(vm, static_cast<ucell>(address), size);
            if (src == nullptr) continue;
            arg.onHeap = true;
            arg.cells.resize(static_cast<size_t>(size));
            if (size > 0) std::memcpy(arg.cells.data(), src, static_cast<size_t>(size) * sizeof(cell));
        } else if (format[k] == kScriptArgText) {
            std::string text;
            ReadScriptString(vm, address, text);
            // Scripts cannot tell an empty text from a missing one; a text of code 1 is what
            // receiving publics have always been given instead.
            if (text.empty()) text.push_back('\x01');
            arg.onHeap = true;
            arg.cells.reserve(text.size() + 1);
            for (unsigned char ch : text) arg.cells.push_back(ch);
            arg.cells.push_back(0);
        } else {
            GetScriptCell(vm, address, arg.value);
        }
        out.push_back(std::move(arg));
    }
    return out;
}

bool PushScriptArgs(VmInstance* vm, const ScriptArgList& args, ScriptArgFrame& frame) {
    frame = {vm->heap, vm->stack, vm->pushed_args};
    for (const ScriptArgCopy& arg : args) {
        cell value = arg.value;
        if (arg.onHeap) {
            cell* host = nullptr;
            if (vm_Allot(vm, static_cast<int>(arg.cells.size()), &value, &host) != VM_ERR_NONE) continue;
            if (!arg.cells.empty()) std::memcpy(host, arg.cells.data(), arg.cells.size() * sizeof(cell));
        }
        if (vm_PushCell(vm, value) != VM_ERR_NONE) {
            vm->stack = frame.stack;
            vm->pushed_args = frame.pushed;
            vm_Unallot(vm, frame.heap);
            return false;
        }
    }
    return true;
}

void ReleaseScriptArgs(VmInstance* vm, const ScriptArgFrame& frame) { vm_Unallot(vm, frame.heap); }

}  // namespace velt
