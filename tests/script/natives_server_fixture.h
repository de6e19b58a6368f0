#pragma once
// The natives tests' world: a game server on the recording fake transport (stand-in script hosts,
// but real VM script timers) in a scratch directory with its own log, and fixture scripts bound
// to the server's native table that call any native through their generic "call" public.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "server/console/Console.h"
#include "server/console/ConsoleVariables.h"
#include "server/console/Log.h"
#include "server/game/GameServer.h"
#include "server/game/PlayerPool.h"
#include "server/game/ServerStartup.h"
#include "server/hosts/ScriptServicesStandIn.h"
#include "server/natives/ScriptNatives.h"
#include "server/runtime/ScriptIdentity.h"
#include "server/runtime/ScriptTimers.h"
#include "tests/script/natives_test_util.h"
#include "tests/server/FakeNetServer.h"

namespace velt::scripttest {

struct Outcome {
    int err;
    cell value;
    bool operator==(const Outcome&) const = default;
};
inline std::ostream& operator<<(std::ostream& os, const Outcome& o) {
    return os << "{err " << o.err << ", value " << o.value << "}";
}

// A fixture script, live (registered as the given kind) and bound to the server's natives plus
// the test's own.
class NativeScript {
public:
    NativeScript(const std::string& fixture, ScriptKind kind, int slot, const VmNativeEntry* testNatives,
                 cell id = 0)
        : mem(fixture) {
        EXPECT_EQ(mem.loadError, VM_ERR_NONE) << fixture;
        RegisterScriptNatives(&mem.vm);
        if (testNatives != nullptr) vm_Register(&mem.vm, testNatives, -1);
        ref = RegisterLiveScript(&mem.vm, kind, slot);
        cell addr = 0;
        if (vm_LookupPubVar(&mem.vm, "myid", &addr) == VM_ERR_NONE) {
            cell* p = ScriptCellAddress(&mem.vm, static_cast<ucell>(addr), 1);
            if (p != nullptr) StoreScriptCell(p, 0, id);
        }
    }
    ~NativeScript() { UnregisterLiveScript(&mem.vm); }
    NativeScript(const NativeScript&) = delete;
    NativeScript& operator=(const NativeScript&) = delete;

    VmInstance* vm() { return &mem.vm; }

    // Runs a public with the given arguments (pushed last to first).
    Outcome Run(const char* name, const std::vector<cell>& args) {
        int index = -1;
        if (vm_LookupPublic(&mem.vm, name, &index) != VM_ERR_NONE) return {-1, 0};
        for (auto it = args.rbegin(); it != args.rend(); ++it) vm_PushCell(&mem.vm, *it);
        cell value = 0;
        const int err = ExecScript(&mem.vm, &value, index);
        return {err, err == VM_ERR_NONE ? value : 0};
    }
    // Calls a native through the script's "call" public, as the script itself would.
    Outcome Call(const char* native, std::vector<cell> args) {
        int index = -1;
        if (vm_LookupNative(&mem.vm, native, &index) != VM_ERR_NONE) return {-2, 0};
        args.insert(args.begin(), index);
        return Run("call", args);
    }

    ScriptMemory mem;
    ScriptRef ref;
};

// Stand-in hosts, except that the timers are the real ones.
class VmTimersHostFactory : public StandInScriptHostFactory {
public:
    using StandInScriptHostFactory::StandInScriptHostFactory;
    std::unique_ptr<ScriptTimers> CreateScriptTimers() override { return std::make_unique<VmScriptTimers>(); }
    // Tests that need the real HTTP request table set this before the game server is made.
    std::function<std::unique_ptr<HttpRequestPool>()> makeRequestPool;
    std::unique_ptr<HttpRequestPool> CreateHttpRequestPool() override {
        return makeRequestPool ? makeRequestPool() : StandInScriptHostFactory::CreateHttpRequestPool();
    }
};

class NativesServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> counter{0};
        home_ = std::filesystem::current_path();
        dir_ = home_ / ("natives_scratch_" + std::to_string(getpid()) + "_" + std::to_string(counter++));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_ / "gamemodes");
        std::filesystem::current_path(dir_);
        std::ofstream("gamemodes/a.vmb") << "x";

        ExitRequested.store(0);
        GameModeChangePending.store(0);
        test::FakeNetServer::nextStartSucceeds = true;
        console_ = std::make_unique<Console>();
        RegisterServerVariables(*console_, settings_, MakeServerVariableCallbacks(*console_, settings_));
        settings_.timestamp = 0;
        PublishLogSettings(*console_);
        OpenLogFile();
        console_->SetStringVariable("gamemode0", "a");
        ServerConsole = console_.get();

        game_ = std::make_unique<GameServer>(*console_, settings_, test::FakeNetServer::Factory(), hosts_);
        net_ = test::FakeNetServer::last;
        TheGameServer = game_.get();
        ASSERT_EQ(game_->StartFailed(), StartFailure::None);
        game_->Init(true);
    }

    void TearDown() override {
        TheGameServer = nullptr;
        game_.reset();
        ServerConsole = nullptr;
        console_.reset();
        CloseLogFile();
        GameModeChangePending.store(0);
        std::filesystem::current_path(home_);
        std::filesystem::remove_all(dir_);
    }

    std::vector<std::string> LogLines() const {
        std::vector<std::string> lines;
        std::ifstream in("server_log.txt");
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    bool Logged(const std::string& line) const {
        for (const std::string& l : LogLines())
            if (l == line) return true;
        return false;
    }

    VmScriptTimers* timers() { return dynamic_cast<VmScriptTimers*>(game_->GetScriptTimers()); }

    // A player joined on slot id, with an address the fake transport knows.
    void Join(uint16_t id, const char* name, bool bot = false) {
        net_->AddSlot(id, test::FakeNetServer::AddressOf(id));
        ASSERT_EQ(game_->GetPlayerPool()->Connect(id, name, nullptr, nullptr, bot), 1);
    }
    // The company most native tests keep: Zed on slot 0, Alice on the slot the test acts on and Bob
    // on a third, so that a native that reaches the wrong player or everyone shows it.
    void JoinZedAliceBob(uint16_t alice, uint16_t bob = 7) {
        Join(0, "Zed");
        Join(alice, "Alice");
        Join(bob, "Bob");
    }

    std::filesystem::path home_;
    std::filesystem::path dir_;
    ServerSettings settings_;
    std::unique_ptr<Console> console_;
    StandInScripts scripts_;
    VmTimersHostFactory hosts_{scripts_};
    std::unique_ptr<GameServer> game_;
    test::FakeNetServer* net_ = nullptr;
};

}  // namespace velt::scripttest
