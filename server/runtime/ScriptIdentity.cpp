#include "server/runtime/ScriptIdentity.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "server/vm/ScriptLoader.h"

namespace velt {

namespace {

struct LiveEntry {
    VmInstance* instance = nullptr;
    uint64_t generation = 0;
    ScriptKind kind = ScriptKind::Other;
    int slot = -1;
    uint64_t order = 0;  // registration order, for "others"
    // The script's file as its run-time error lines name it, and the publics whose error has
    // been logged: a callback that fails on every sync packet says so once, not thirty times a
    // second.
    std::array<char, kScriptFileMax> file{};
    std::vector<int32_t> failedPublics;
};

// A fixed table: registration happens per load, lookups per dispatch step; no allocation.
struct Registry {
    std::array<LiveEntry, kMaxLiveScripts> entries{};
    uint64_t nextGeneration = 1;
};

Registry& Reg() {
    static Registry registry;
    return registry;
}

LiveEntry* Find(const VmInstance* inst) {
    if (inst == nullptr) return nullptr;
    for (LiveEntry& e : Reg().entries) {
        if (e.instance == inst) return &e;
    }
    return nullptr;
}

// Runs in progress per instance. Entries exist only while a run is in progress, so the table holds
// at most one entry per distinct running instance; no allocation on the run path.
struct RunEntry {
    VmInstance* instance = nullptr;
    int depth = 0;
    bool releasePending = false;
};

struct RunTable {
    // The first `used` entries are the instances running now (usually none or one): the lookup
    // on every run scans only those.
    std::array<RunEntry, kMaxLiveScripts * 2> entries{};
    size_t used = 0;
    int totalDepth = 0;
    // Releases waiting for their instance's last run; allocated only when an unload meets a
    // running script.
    std::vector<std::pair<VmInstance*, std::function<void()>>> pending;
};

RunTable& Runs() {
    static RunTable table;
    return table;
}

RunEntry* FindRun(const VmInstance* inst) {
    RunTable& runs = Runs();
    for (size_t i = 0; i < runs.used; ++i) {
        if (runs.entries[i].instance == inst) return &runs.entries[i];
    }
    return nullptr;
}

// Drops a finished entry, keeping the used entries at the front. Entries of runs further out on
// the host stack are re-found by instance, never held across a nested run.
void RemoveRun(RunEntry* e) {
    RunTable& runs = Runs();
    RunEntry* last = &runs.entries[runs.used - 1];
    if (e != last) *e = *last;
    *last = RunEntry{};
    --runs.used;
}

void RunPendingReleases(VmInstance* inst) {
    RunTable& runs = Runs();
    // A release may unload or release further scripts; take ours out of the list first.
    for (size_t i = 0; i < runs.pending.size();) {
        if (runs.pending[i].first != inst) {
            ++i;
            continue;
        }
        std::function<void()> fn = std::move(runs.pending[i].second);
        runs.pending.erase(runs.pending.begin() + static_cast<std::ptrdiff_t>(i));
        fn();
        i = 0;
    }
}

}  // namespace

namespace {

// A run refused before it started leaves the arguments pushed for it on the stack; they would
// otherwise be taken as the arguments of the next run.
void DropPushedArgs(VmInstance* inst) {
    if (inst->pushed_args > 0) inst->stack += inst->pushed_args * 4;
    inst->pushed_args = 0;
}

// A public that ended in an error leaves no other trace: the host only sees a result it ignores.
// Main's errors have their own line (the sleeping-main runner), a sleeping public is no error,
// an unloaded script's forced end is none of its own, and a script whose natives were never all
// bound was named at its load.
void ReportPublicError(VmInstance* inst, int index, int err) {
    if (index < 0 || err == VM_ERR_NONE || err == VM_ERR_SLEEP) return;
    if (err == VM_ERR_NOTFOUND && !(inst->flags & VMF_NATIVES_READY)) return;
    LiveEntry* e = Find(inst);
    if (e == nullptr) return;
    std::vector<int32_t>& failed = e->failedPublics;
    if (std::find(failed.begin(), failed.end(), index) != failed.end()) return;
    failed.push_back(index);
    int nameLength = 0;
    std::string name;
    if (vm_NameLength(inst, &nameLength) == VM_ERR_NONE) {
        name.assign(size_t(nameLength) + 1, '\0');
        if (vm_GetPublic(inst, index, name.data()) != VM_ERR_NONE) name[0] = '\0';
    }
    LogScriptRunError(e->file.data(), err, name.c_str());
}

}  // namespace

int ExecScript(VmInstance* inst, cell* retval, int index) {
    if (inst == nullptr || inst->image == nullptr) return VM_ERR_INIT;
    RunTable& runs = Runs();
    RunEntry* entry = FindRun(inst);
    // More distinct instances running at once than the table holds is far beyond what the
    // server can nest: the nesting cap is reached first in practice.
    if (runs.totalDepth >= kMaxScriptNesting || (entry == nullptr && runs.used >= runs.entries.size())) {
        if (index != VM_EXEC_CONTINUE) DropPushedArgs(inst);
        ReportPublicError(inst, index, VM_ERR_STACKERR);
        return VM_ERR_STACKERR;
    }
    if (entry == nullptr) {
        entry = &runs.entries[runs.used++];
        *entry = RunEntry{inst, 0, false};
    }
    ++entry->depth;
    ++runs.totalDepth;
    int err = vm_Exec(inst, retval, index);
    if (err == VM_ERR_SLEEP && index >= 0) {
        // The sleeping public is abandoned; its restore points are the values at its entry.
        inst->stack = inst->resume_stack;
        inst->heap = inst->resume_heap;
    } else if (err != VM_ERR_NONE && err != VM_ERR_SLEEP && index != VM_EXEC_CONTINUE) {
        DropPushedArgs(inst);
    }
    --runs.totalDepth;
    // Nested runs of other instances may have moved this entry.
    entry = FindRun(inst);
    const bool unloaded = entry != nullptr && entry->releasePending;
    if (!unloaded) ReportPublicError(inst, index, err);
    if (entry != nullptr && --entry->depth == 0) {
        const bool release = entry->releasePending;
        RemoveRun(entry);
        if (release) RunPendingReleases(inst);
    }
    return err;
}

bool IsScriptRunning(const VmInstance* inst) {
    const RunEntry* e = FindRun(inst);
    return e != nullptr && e->depth > 0;
}

namespace script_identity_detail {

void ReleaseWhenIdle(VmInstance* inst, std::function<void()> release) {
    RunEntry* e = FindRun(inst);
    if (e == nullptr || e->depth == 0) {
        release();
        return;
    }
    e->releasePending = true;
    // Stop the unloaded script's code once the native that is executing now returns.
    vm_RaiseError(inst, VM_ERR_EXIT);
    Runs().pending.emplace_back(inst, std::move(release));
}

}  // namespace script_identity_detail

ScriptRef RegisterLiveScript(VmInstance* inst, ScriptKind kind, int slot, const char* file) {
    if (inst == nullptr) return {};
    Registry& reg = Reg();
    LiveEntry* e = Find(inst);
    if (e == nullptr) {
        for (LiveEntry& free : reg.entries) {
            if (free.instance == nullptr) {
                e = &free;
                break;
            }
        }
    }
    // A full table cannot name the script; it still runs, but nothing can keep a reference to it
    // (its timers and cross-script calls find it dead), which is the safe way to fail.
    if (e == nullptr) return {};
    const uint64_t gen = reg.nextGeneration++;
    *e = LiveEntry{};
    e->instance = inst;
    e->generation = gen;
    e->kind = kind;
    e->slot = slot;
    e->order = gen;
    std::snprintf(e->file.data(), e->file.size(), "%s", file != nullptr ? file : "");
    return ScriptRef{inst, gen, static_cast<uint32_t>(e - reg.entries.data())};
}

void UnregisterLiveScript(VmInstance* inst) {
    if (LiveEntry* e = Find(inst)) *e = LiveEntry{};
}

ScriptRef LiveScriptRef(const VmInstance* inst) {
    const LiveEntry* e = Find(inst);
    if (e == nullptr) return {};
    return ScriptRef{e->instance, e->generation, static_cast<uint32_t>(e - Reg().entries.data())};
}

bool IsScriptAlive(const ScriptRef& ref) {
    if (!ref || ref.entry >= kMaxLiveScripts) return false;
    // Generations are never reused, so a matching entry is that very load.
    const LiveEntry& e = Reg().entries[ref.entry];
    return e.instance == ref.instance && e.generation == ref.generation;
}

bool LiveScriptInfo(const VmInstance* inst, ScriptKind* kind, int* slot) {
    const LiveEntry* e = Find(inst);
    if (e == nullptr) return false;
    if (kind != nullptr) *kind = e->kind;
    if (slot != nullptr) *slot = e->slot;
    return true;
}

size_t LiveScriptsInOrder(ScriptRef* out, size_t max) {
    // Rank: gamemode 0, filterscripts 1 + slot, others after them by registration order. A
    // selection over at most 32 entries is cheaper than anything that would allocate.
    auto rank = [](const LiveEntry& e) -> uint64_t {
        switch (e.kind) {
            case ScriptKind::GameMode: return 0;
            case ScriptKind::FilterScript: return 1 + static_cast<uint64_t>(e.slot < 0 ? 0 : e.slot);
            default: return 1000 + e.order;
        }
    };
    const auto& entries = Reg().entries;
    size_t written = 0;
    bool taken[kMaxLiveScripts] = {};
    while (written < max) {
        int best = -1;
        for (size_t i = 0; i < entries.size(); ++i) {
            if (entries[i].instance == nullptr || taken[i]) continue;
            if (best < 0 || rank(entries[i]) < rank(entries[static_cast<size_t>(best)]))
                best = static_cast<int>(i);
        }
        if (best < 0) break;
        taken[best] = true;
        out[written++] =
            ScriptRef{entries[static_cast<size_t>(best)].instance,
                      entries[static_cast<size_t>(best)].generation, static_cast<uint32_t>(best)};
    }
    return written;
}

}  // namespace velt
