#pragma once

// The filterscript host: up to 16 scripts in numbered slots, loaded and unloaded by name while the
// server runs, each seeing every callback before the gamemode.

#include <array>
#include <cstdint>

#include "server/game/ScriptServices.h"
#include "server/hosts/ScriptHostEnv.h"
#include "server/runtime/CallbackDispatch.h"
#include "server/runtime/ScriptIdentity.h"
#include "server/vm/vm.h"

namespace velt {

class VmFilterScripts final : public FilterScripts {
public:
    // Names are stored in 255-byte fields: at most 254 characters.
    static constexpr size_t kMaxNameLength = 254;

    explicit VmFilterScripts(ScriptHostEnv& env);
    ~VmFilterScripts() override;
    VmFilterScripts(const VmFilterScripts&) = delete;
    VmFilterScripts& operator=(const VmFilterScripts&) = delete;

    bool LoadFilterScript(const char* name) override;
    int LoadFilterScriptFromMemory(const char* name, const void* image) override;
    // The same with the image's length known (bounds what is read of it).
    int LoadFilterScriptFromMemory(const char* name, const void* image, size_t length);
    int UnloadFilterScript(const char* name) override;
    void UnloadSlot(int slot);
    void UnloadAll();
    int32_t CallPublic(const char* name) override;

    int Count() const { return count_; }
    // The script of a slot (null when free) and the name it was loaded under ("" when free).
    VmInstance* SlotInstance(int slot) const;
    const char* SlotName(int slot) const;

#define VELT_X(name, params, args, fsInit, fsRule, gmInit, gmKind) int32_t name params override;
    VELT_SCRIPT_CALLBACKS(VELT_X)
#undef VELT_X

private:
    struct Slot {
        VmInstance* inst = nullptr;
        ScriptRef ref;
        ScriptPublicCache publics;
        char name[kMaxNameLength + 1] = "";
        bool unloading = false;  // its exit public is running
    };

    // Shared by both loads: `loadImage` fills the fresh instance and returns a machine error code.
    template <class LoadImage>
    bool LoadInto(const char* name, LoadImage&& loadImage, bool logFailure);
    int FindName(const char* name) const;

    template <class... Args>
    int32_t Dispatch(ScriptCallback cb, Args... args);

    ScriptHostEnv& env_;
    std::array<Slot, kMaxFilterScripts> slots_{};
    int count_ = 0;
};

template <class... Args>
int32_t VmFilterScripts::Dispatch(ScriptCallback cb, Args... args) {
    const ScriptCallbackInfo& info = GetScriptCallbackInfo(cb);
    // The dispatcher's one result cell: each script that runs overwrites it; a script whose run
    // ends in an error leaves it as it was.
    int32_t resultCell = info.fsInitial;
    return DispatchFilterScriptSlots(info.fsRule, info.fsInitial, [&](int slot, int32_t& r) {
        // The slot is read afresh for every step: an earlier script may have emptied or refilled it.
        const Slot& s = slots_[static_cast<size_t>(slot)];
        if (s.inst == nullptr) return false;
        if (!RunScriptPublic(s.ref, s.publics.Get(cb), resultCell, args...)) return false;
        r = resultCell;
        return true;
    });
}

}  // namespace velt
