#pragma once

// Running one callback public in one script: the part of callback dispatch that both hosts share.
// Which scripts run, in what order and how their results combine is the callback table's
// (VELT_SCRIPT_CALLBACKS in ScriptCallbacks.h) and its walk helpers; this file pushes the arguments,
// runs the public and cleans up after it.
//
// Argument shapes come from the C++ parameter types of the table's rows: int32_t is pushed as its
// value, float as its bit pattern, const char* as an unpacked copy on the script's heap, char* (a
// text the script may shorten) the same and read back afterwards within its original length.

#include <array>
#include <cstddef>
#include <cstdint>

#include "server/runtime/ScriptCallbacks.h"
#include "server/runtime/ScriptIdentity.h"
#include "server/vm/vm.h"

namespace velt {

// Public indexes of the callback table, looked up once per load so that dispatch (OnPlayerUpdate
// runs for every sync packet) does no name search.
class ScriptPublicCache {
public:
    void Fill(VmInstance* inst);
    void Clear() { index_.fill(-1); }
    int32_t Get(ScriptCallback cb) const { return index_[static_cast<size_t>(cb)]; }

private:
    std::array<int32_t, kScriptCallbackCount> index_ = MakeEmpty();
    static constexpr std::array<int32_t, kScriptCallbackCount> MakeEmpty() {
        std::array<int32_t, kScriptCallbackCount> a{};
        for (auto& v : a) v = -1;
        return a;
    }
};

// Index of a public by name, -1 when the script has none.
int32_t FindScriptPublic(VmInstance* inst, const char* name);

namespace dispatch_detail {

// One run of one public: the pushes, with what is needed to undo them.
class PublicCall {
public:
    explicit PublicCall(VmInstance* inst);

    void Push(int32_t value);
    void Push(float value);
    void Push(const char* text);
    void Push(char* text);  // a text the script may shorten; read back after the run
    bool Failed() const { return failed_; }
    // Undoes every push (a failed push skips the public).
    void Undo();
    // After the run, on a script that is still alive: reads the writable text back, then gives the
    // texts' heap space back.
    void Finish();

private:
    static constexpr int kMaxTexts = 4;
    VmInstance* inst_;
    cell stackBefore_;
    cell heapBefore_;
    int32_t pushedBefore_;
    cell texts_[kMaxTexts] = {};
    int textCount_ = 0;
    char* writable_ = nullptr;
    size_t writableLength_ = 0;
    cell writableAddr_ = 0;
    bool failed_ = false;
};

inline void PushAll(PublicCall&) {}
// Last argument first, so the script receives them in declaration order.
template <class First, class... Rest>
void PushAll(PublicCall& call, First first, Rest... rest) {
    PushAll(call, rest...);
    if (!call.Failed()) call.Push(first);
}

}  // namespace dispatch_detail

// Runs public `index` of the live script `ref` with the arguments. `result` holds the caller's
// result cell: the public's return value replaces it; a run that ends in an error leaves it as it
// was. Returns false, leaving `result` alone, when the script is not alive, has no such public
// (index < 0), an argument cannot be pushed (heap full), or the script was unloaded during its own
// run: then nothing of it is touched any more, and it counts as not having run.
template <class... Args>
bool RunScriptPublic(ScriptRef ref, int32_t index, int32_t& result, Args... args) {
    if (index < 0 || !IsScriptAlive(ref)) return false;
    VmInstance* inst = ref.instance;
    dispatch_detail::PublicCall call(inst);
    dispatch_detail::PushAll(call, args...);
    if (call.Failed()) {
        call.Undo();
        return false;
    }
    cell r = result;
    ExecScript(inst, &r, index);
    // A script unloaded by its own run (it was stopped there) has no say in the result.
    if (!IsScriptAlive(ref)) return false;
    call.Finish();
    result = r;
    return true;
}

}  // namespace velt
