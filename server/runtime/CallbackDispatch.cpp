#include "server/runtime/CallbackDispatch.h"

#include <cstring>

#include "server/runtime/ScriptMemory.h"

namespace velt {

void ScriptPublicCache::Fill(VmInstance* inst) {
    for (size_t i = 0; i < kScriptCallbackCount; ++i)
        index_[i] = FindScriptPublic(inst, kScriptCallbacks[i].name);
}

int32_t FindScriptPublic(VmInstance* inst, const char* name) {
    if (inst == nullptr || inst->image == nullptr || name == nullptr) return -1;
    int index = -1;
    if (vm_LookupPublic(inst, name, &index) != VM_ERR_NONE || index < 0) return -1;
    return index;
}

namespace dispatch_detail {

PublicCall::PublicCall(VmInstance* inst)
    : inst_(inst), stackBefore_(inst->stack), heapBefore_(inst->heap), pushedBefore_(inst->pushed_args) {}

void PublicCall::Push(int32_t value) {
    if (vm_PushCell(inst_, value) != VM_ERR_NONE) failed_ = true;
}

void PublicCall::Push(float value) { Push(FloatToCell(value)); }

void PublicCall::Push(const char* text) {
    if (textCount_ >= kMaxTexts) {
        failed_ = true;
        return;
    }
    cell addr = 0;
    if (vm_PushString(inst_, &addr, nullptr, text != nullptr ? text : "", 0, 0) != VM_ERR_NONE) {
        failed_ = true;
        return;
    }
    texts_[textCount_++] = addr;
}

void PublicCall::Push(char* text) {
    const int before = textCount_;
    Push(static_cast<const char*>(text));
    if (failed_ || textCount_ == before || text == nullptr) return;
    writable_ = text;
    writableLength_ = std::strlen(text);
    writableAddr_ = texts_[textCount_ - 1];
}

void PublicCall::Undo() {
    inst_->stack = stackBefore_;
    inst_->heap = heapBefore_;
    inst_->pushed_args = pushedBefore_;
}

void PublicCall::Finish() {
    if (writable_ != nullptr) {
        // The script may have shortened the text, never lengthened it: at most the original
        // length comes back, read from within the copy's own cells whether or not the script
        // left a terminator there.
        const int32_t cells = static_cast<int32_t>(writableLength_ + 1);
        if (const cell* copy = ScriptCellAddress(inst_, static_cast<ucell>(writableAddr_), cells))
            vm_ReadString(writable_, copy, 0, writableLength_ + 1);
    }
    for (int i = textCount_ - 1; i >= 0; --i) vm_Unallot(inst_, texts_[i]);
    // Stack and heap exactly as before the call, whatever the run did (an abandoned sleep, a
    // refusal before the run started).
    inst_->stack = stackBefore_;
    inst_->heap = heapBefore_;
    inst_->pushed_args = pushedBefore_;
}

}  // namespace dispatch_detail

}  // namespace velt
