#pragma once

// Shared pieces of the script host tests: a scratch run directory with "gamemodes/" and
// "filterscripts/" holding assembled fixtures, an environment that records what the hosts ask of
// the server, and the two test natives the fixtures call:
//   rec(name, argsAddr)  records the public's name and its argument block; returns the result the
//                        test configured (default 1)
//   cmd(word)            hands a word to the test, which decides what it does (unload, reload ...)

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "server/console/Log.h"
#include "server/game/ScriptServices.h"
#include "server/hosts/ScriptHostEnv.h"
#include "server/natives/ScriptNatives.h"
#include "server/runtime/ScriptIdentity.h"
#include "server/vm/ScriptLoader.h"
#include "server/vm/vm.h"

namespace velt::test {

struct Rec {
    std::string script;  // "gm", "fs<slot>" or "?" for a script no host has registered
    std::string name;
    std::vector<cell> args;
    std::vector<std::string> texts;  // the text at each argument's address ("" when none)
    cell argsAddr = 0;               // script address of the argument-size cell
};

inline std::string ScriptLabel(const VmInstance* inst) {
    ScriptKind kind;
    int slot = -1;
    if (!LiveScriptInfo(inst, &kind, &slot)) return "?";
    if (kind == ScriptKind::GameMode) return "gm";
    if (kind == ScriptKind::FilterScript) return "fs" + std::to_string(slot);
    return "other";
}

class HostTestEnv;
inline HostTestEnv*& CurrentEnv() {
    static HostTestEnv* env = nullptr;
    return env;
}

class HostTestEnv : public ScriptHostEnv, public ScriptPluginHooks {
public:
    HostTestEnv() { CurrentEnv() = this; }
    ~HostTestEnv() override { CurrentEnv() = nullptr; }

    bool IsPlayerConnected(int32_t id) override { return connected.count(id) != 0; }
    void BroadcastChat(int32_t id, const char* text, size_t length) override {
        broadcasts.push_back(std::to_string(id) + ":" + std::string(text, length));
    }
    void RemoveScriptTimers(VmInstance* inst) override { events.push_back("timers " + ScriptLabel(inst)); }
    void RegisterDatabaseNatives(VmInstance*) override { events.push_back("db natives"); }
    void DatabaseNativesCleanup(VmInstance*) override { events.push_back("db cleanup"); }
    ScriptPluginHooks& Plugins() override { return *this; }
    FilterScripts* GetFilterScripts() override { return filterScripts; }

    void VmLoad(VmInstance* inst) override;
    void VmUnload(VmInstance* inst) override {
        // Plugins must see the script whole: its image and its publics still there.
        int count = -1;
        const bool intact = inst->image != nullptr && vm_CountPublics(inst, &count) == VM_ERR_NONE;
        events.push_back(std::string("VmUnload ") + (intact ? "intact" : "zeroed"));
    }

    // Result of rec for "<label>:<public>", else for "<public>", else defaultResult.
    cell ResultFor(const Rec& r) const {
        auto it = results.find(r.script + ":" + r.name);
        if (it != results.end()) return it->second;
        it = results.find(r.name);
        if (it != results.end()) return it->second;
        return defaultResult;
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> out;
        for (const Rec& r : recs) out.push_back(r.script + ":" + r.name);
        return out;
    }

    std::set<int32_t> connected;
    std::vector<Rec> recs;
    std::vector<std::string> events;
    std::vector<std::string> broadcasts;
    std::map<std::string, cell> results;
    cell defaultResult = 1;
    // Runs inside rec after recording (the script is live): may change the script's memory.
    std::function<void(VmInstance*, const Rec&)> onRec;
    std::function<void(const std::string& word, VmInstance*)> onCmd;
    FilterScripts* filterScripts = nullptr;
};

inline cell n_rec(VmInstance* inst, const cell* params) {
    HostTestEnv* env = CurrentEnv();
    if (env == nullptr || !HasNativeArgs(inst, params, 2)) return 0;
    Rec r;
    r.script = ScriptLabel(inst);
    ReadScriptString(inst, params[1], r.name);
    r.argsAddr = params[2];
    if (cell* block = ScriptCellAddress(inst, static_cast<ucell>(params[2]), 1)) {
        const cell bytes = LoadScriptCell(block);
        const int32_t count = bytes / 4;
        if (count > 0 && ScriptCellAddress(inst, static_cast<ucell>(params[2]), count + 1)) {
            for (int32_t i = 1; i <= count; ++i) {
                const cell v = LoadScriptCell(block, static_cast<size_t>(i));
                r.args.push_back(v);
                std::string text;
                ReadScriptString(inst, v, text);
                r.texts.push_back(text);
            }
        }
    }
    env->recs.push_back(r);
    const cell result = env->ResultFor(r);
    if (env->onRec) env->onRec(inst, r);
    return result;
}

inline cell n_cmd(VmInstance* inst, const cell* params) {
    HostTestEnv* env = CurrentEnv();
    if (env == nullptr || !HasNativeArgs(inst, params, 1)) return 0;
    std::string word;
    ReadScriptString(inst, params[1], word);
    if (env->onCmd) env->onCmd(word, inst);
    return 1;
}

inline void HostTestEnv::VmLoad(VmInstance* inst) {
    static const VmNativeEntry kTestNatives[] = {{"rec", n_rec}, {"cmd", n_cmd}, {nullptr, nullptr}};
    events.push_back("VmLoad");
    vm_Register(inst, kTestNatives, -1);
}

// Captures every LogPrintf line of the test's thread.
class LogCapture {
public:
    LogCapture() {
        Lines().clear();
        SetLogSinks(nullptr, &Sink);
        RconQueryActive = true;
        SetScriptLogFunction(&LogPrintf);
    }
    ~LogCapture() {
        RconQueryActive = false;
        SetLogSinks(nullptr, nullptr);
        SetScriptLogFunction(nullptr);
    }
    static std::vector<std::string>& Lines() {
        static std::vector<std::string> lines;
        return lines;
    }

private:
    static void Sink(const char* line) { Lines().push_back(line); }
};

// A scratch directory the test runs in, with "gamemodes/" and "filterscripts/".
class ScriptDir {
public:
    ScriptDir() {
        char tmpl[] = "/tmp/velt_hosts_XXXXXX";
        const char* dir = mkdtemp(tmpl);
        EXPECT_NE(dir, nullptr);
        root_ = dir;
        old_ = std::filesystem::current_path();
        std::filesystem::current_path(root_);
        std::filesystem::create_directories("gamemodes");
        std::filesystem::create_directories("filterscripts");
    }
    ~ScriptDir() {
        std::filesystem::current_path(old_);
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    ScriptDir(const ScriptDir&) = delete;
    ScriptDir& operator=(const ScriptDir&) = delete;

    static std::string Fixture(const std::string& name) {
        return std::string(VELT_SCRIPT_FIXTURE_DIR) + "/" + name + ".vmb";
    }
    // Copies fixture "host_<fixture>" to "<dir>/<name>.vmb" and returns that path.
    std::string Install(const std::string& fixture, const std::string& dir, const std::string& name) {
        const std::string to = dir + "/" + name + ".vmb";
        std::filesystem::copy_file(Fixture("host_" + fixture), to,
                                   std::filesystem::copy_options::overwrite_existing);
        return to;
    }
    std::string Gamemode(const std::string& fixture, const std::string& name) {
        return Install(fixture, "gamemodes", name);
    }
    std::string FilterScript(const std::string& fixture, const std::string& name) {
        return Install(fixture, "filterscripts", name);
    }

private:
    std::filesystem::path root_;
    std::filesystem::path old_;
};

}  // namespace velt::test
