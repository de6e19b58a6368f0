// Plugins as the server loads them: real shared objects built from tests/script/plugins, opened by
// the plugin manager, told of a filterscript's load and release by the real filterscript host, and
// ticked; a native a plugin registers is called by the filterscript.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "server/console/Console.h"
#include "server/game/PluginManager.h"
#include "server/hosts/FilterScriptHost.h"
#include "tests/script/HostTestUtil.h"

namespace velt::test {
namespace {

std::string PluginPath(const std::string& name) { return std::string(VELT_TEST_PLUGIN_DIR) + "/" + name; }

// Keeps a plugin library mapped after the manager has closed it, to read what it recorded.
class PluginProbe {
public:
    PluginProbe(const std::string& name, const char* symbol) {
        handle_ = dlopen(PluginPath(name).c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (handle_ != nullptr) events_ = reinterpret_cast<const char* (*)()>(dlsym(handle_, symbol));
    }
    ~PluginProbe() {
        if (handle_ != nullptr) dlclose(handle_);
    }
    PluginProbe(const PluginProbe&) = delete;
    PluginProbe& operator=(const PluginProbe&) = delete;
    std::string Events() const { return events_ != nullptr ? events_() : "(not loaded)"; }

private:
    void* handle_ = nullptr;
    const char* (*events_)() = nullptr;
};

class PluginEnv : public ScriptHostEnv {
public:
    explicit PluginEnv(PluginManager& plugins) : plugins_(plugins) {}
    ScriptPluginHooks& Plugins() override { return plugins_; }

private:
    PluginManager& plugins_;
};

class PluginsTest : public ::testing::Test {
protected:
    void LoadConfigured(const char* names) {
        console_.AddStringVariable("plugins", 0, names);
        plugins_.LoadFromConfig(console_, VELT_TEST_PLUGIN_DIR);
    }
    static bool Logged(const std::string& line) {
        const auto& lines = LogCapture::Lines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    ScriptDir dir_;
    LogCapture log_;
    Console console_;
    PluginManager plugins_;
};

TEST_F(PluginsTest, RecorderHearsLoadScriptTicksAndUnloadInOrderAndItsNativeRuns) {
    dir_.Install("plugin_user", "filterscripts", "user");
    LoadConfigured("recorder.so");
    ASSERT_EQ(plugins_.Count(), 1u);
    PluginProbe recorder("recorder.so", "RecorderEvents");
    PluginEnv env(plugins_);
    {
        VmFilterScripts fs(env);
        ASSERT_TRUE(fs.LoadFilterScript("user"));
        EXPECT_EQ(fs.CallPublic("Twice"), 42);
        plugins_.ProcessTick();
        plugins_.ProcessTick();
        EXPECT_EQ(fs.UnloadFilterScript("user"), 1);
    }
    plugins_.UnloadAll();
    EXPECT_EQ(plugins_.Count(), 0u);
    EXPECT_EQ(recorder.Events(), "Load,VmLoad,native 21,ProcessTick,ProcessTick,VmUnload,Unload");
    // The log function of the data table reaches the server's log.
    EXPECT_TRUE(Logged("[recorder] loaded"));
}

TEST_F(PluginsTest, EachLoadingRuleRefusesWithItsLineAndTheRestLoadInOrder) {
    LoadConfigured("recorder.so newer.so refuses.so noload.so absent.so ticks.so");
    EXPECT_EQ(plugins_.Count(), 2u);
    const std::vector<std::string> expected = {
        "",
        "Server Plugins",
        "--------------",
        " Loading plugin: recorder.so",
        "[recorder] loaded",
        "  Loaded.",
        " Loading plugin: newer.so",
        "  Unsupported version - This plugin requires version 221.",
        "  Failed.",
        " Loading plugin: refuses.so",
        "  Failed.",
        " Loading plugin: noload.so",
        "  Plugin does not conform to architecture.",
        "  Failed.",
        " Loading plugin: absent.so",
        "  Failed (" + PluginPath("absent.so") +
            ": cannot open shared object file: No such file or directory)",
        " Loading plugin: ticks.so",
        "  Loaded.",
        " Loaded 2 plugins.\n",
    };
    EXPECT_EQ(LogCapture::Lines(), expected);
}

TEST_F(PluginsTest, FlagsDecideWhoHearsScriptsAndTicksAndUnloadMayBeMissing) {
    dir_.Install("plugin_user", "filterscripts", "user");
    LoadConfigured("ticks.so recorder.so");
    ASSERT_EQ(plugins_.Count(), 2u);
    PluginProbe ticks("ticks.so", "VariantEvents");
    PluginEnv env(plugins_);
    {
        VmFilterScripts fs(env);
        ASSERT_TRUE(fs.LoadFilterScript("user"));
        plugins_.ProcessTick();
    }
    plugins_.UnloadAll();
    // Ticks only: its VmLoad and VmUnload exports are never looked up, and it has no Unload.
    EXPECT_EQ(ticks.Events(), "Load,ProcessTick");
}

TEST(PluginTables, ListedWordsAreFilledAndEveryOtherWordIsNull) {
    PluginManager plugins;
    void* const* data = plugins.DataTable();
    const std::vector<size_t> dataWords = {0, 16, 17, 18, 225, 226, 227, 228, 229};
    for (size_t i = 0; i < plugin::kDataTableWords; ++i) {
        const bool listed = std::find(dataWords.begin(), dataWords.end(), i) != dataWords.end();
        EXPECT_EQ(data[i] != nullptr, listed) << "data word " << i;
    }
    EXPECT_EQ(data[plugin::kDataVmFunctions], static_cast<const void*>(plugins.VmFunctionTable()));
    void* const* vm = plugins.VmFunctionTable();
    for (size_t i = 0; i < plugin::kVmFunctionWords; ++i)
        EXPECT_EQ(vm[i] != nullptr, i >= 3 && i <= 39) << "function slot " << i;
    EXPECT_EQ(vm[plugin::kVmRegister], reinterpret_cast<void*>(&vm_Register));
    EXPECT_EQ(vm[plugin::kVmStrLen], reinterpret_cast<void*>(&vm_StrLen));

    // Without a game server the script calls answer 0 and the objects are null.
    EXPECT_EQ(plugin::Word<plugin::CallPublicFn>(data, plugin::kDataCallFilterScriptPublic)("OnAny"), 0);
    EXPECT_EQ(plugin::Word<plugin::CallPublicFn>(data, plugin::kDataCallGameModePublic)("OnAny"), 0);
    EXPECT_EQ(plugin::Word<plugin::GetObjectFn>(data, plugin::kDataGetGameServer)(), nullptr);
    EXPECT_EQ(plugin::Word<plugin::GetObjectFn>(data, plugin::kDataGetNetServer)(), nullptr);
    EXPECT_EQ(plugin::Word<plugin::UnloadFilterScriptFn>(data, plugin::kDataUnloadFilterScript)("x"), 0);
}

}  // namespace
}  // namespace velt::test
