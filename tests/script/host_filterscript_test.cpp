// The filterscript host: slots, names, refusals, load and unload order, CallPublic, images from
// memory.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "server/hosts/FilterScriptHost.h"
#include "tests/script/HostTestUtil.h"

namespace velt::test {
namespace {

using Names = std::vector<std::string>;

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

class FilterScriptTest : public ::testing::Test {
protected:
    void SetUp() override {
        env.filterScripts = &fs;
        for (const char* name : {"a", "b", "c", "d", "admin"}) dir.FilterScript("recorder", name);
    }
    std::vector<std::string> SlotNames() const {
        std::vector<std::string> out;
        for (int slot = 0; slot < kMaxFilterScripts; ++slot) out.push_back(fs.SlotName(slot));
        while (!out.empty() && out.back().empty()) out.pop_back();
        return out;
    }

    ScriptDir dir;
    HostTestEnv env;
    VmFilterScripts fs{env};
};

TEST_F(FilterScriptTest, LoadTakesTheLowestFreeSlot) {
    ASSERT_TRUE(fs.LoadFilterScript("a"));
    ASSERT_TRUE(fs.LoadFilterScript("b"));
    ASSERT_TRUE(fs.LoadFilterScript("c"));
    EXPECT_EQ(fs.UnloadFilterScript("b"), 1);
    EXPECT_EQ(SlotNames(), (Names{"a", "", "c"}));
    ASSERT_TRUE(fs.LoadFilterScript("d"));
    EXPECT_EQ(SlotNames(), (Names{"a", "d", "c"}));
    EXPECT_EQ(fs.Count(), 3);
}

TEST_F(FilterScriptTest, LoadAndUnloadRunTheirStepsInOrder) {
    ASSERT_TRUE(fs.LoadFilterScript("a"));
    EXPECT_EQ(env.events, (Names{"db natives", "VmLoad"}));
    EXPECT_EQ(env.Names(), (Names{"fs0:OnFilterScriptInit"}));
    env.events.clear();
    env.recs.clear();
    EXPECT_EQ(fs.UnloadFilterScript("a"), 1);
    EXPECT_EQ(env.Names(), (Names{"fs0:OnFilterScriptExit"}));
    // Timers first (the script is still registered), plugins while it is intact, database last.
    EXPECT_EQ(env.events, (Names{"timers fs0", "VmUnload intact", "db cleanup"}));
    EXPECT_EQ(fs.Count(), 0);
    EXPECT_EQ(fs.SlotInstance(0), nullptr);
}

TEST_F(FilterScriptTest, RefusedLoads) {
    ASSERT_TRUE(fs.LoadFilterScript("admin"));
    ASSERT_TRUE(fs.LoadFilterScript("a"));
    EXPECT_EQ(fs.UnloadFilterScript("admin"), 1);
    EXPECT_FALSE(fs.LoadFilterScript("a")) << "a name already loaded, in a later slot";
    EXPECT_FALSE(fs.LoadFilterScript("missing")) << "no such file";
    EXPECT_FALSE(fs.LoadFilterScript(std::string(255, 'n').c_str())) << "name too long";
    EXPECT_FALSE(fs.LoadFilterScript(nullptr));
    EXPECT_EQ(fs.Count(), 1);

    for (int i = 0; i < 15; ++i) {
        const std::string name = "f" + std::to_string(i);
        dir.FilterScript("empty", name);
        ASSERT_TRUE(fs.LoadFilterScript(name.c_str())) << name;
    }
    EXPECT_EQ(fs.Count(), 16);
    EXPECT_FALSE(fs.LoadFilterScript("b")) << "all 16 slots taken";
}

TEST_F(FilterScriptTest, UnloadableFileIsLoggedAndLeavesTheSlotFree) {
    dir.FilterScript("newer_version", "newer");
    ASSERT_TRUE(fs.LoadFilterScript("a"));
    LogCapture log;
    EXPECT_FALSE(fs.LoadFilterScript("newer"));
    EXPECT_EQ(LogCapture::Lines(), (Names{"Failed to load 'newer.vmb' filterscript."}));
    EXPECT_EQ(fs.Count(), 1);
    EXPECT_EQ(fs.SlotInstance(1), nullptr);
    ASSERT_TRUE(fs.LoadFilterScript("b"));
    EXPECT_EQ(SlotNames(), (Names{"a", "b"}));
}

TEST_F(FilterScriptTest, UnloadOfUnknownNamesAndOfAnEmptyHostDoNothing) {
    EXPECT_EQ(fs.UnloadFilterScript("a"), 0);
    EXPECT_EQ(fs.UnloadFilterScript(nullptr), 0);
    fs.UnloadAll();
    EXPECT_EQ(fs.Count(), 0);
    ASSERT_TRUE(fs.LoadFilterScript("a"));
    ASSERT_TRUE(fs.LoadFilterScript("b"));
    env.recs.clear();
    fs.UnloadAll();
    EXPECT_EQ(fs.Count(), 0);
    EXPECT_EQ(env.Names(), (Names{"fs0:OnFilterScriptExit", "fs1:OnFilterScriptExit"}));
}

TEST_F(FilterScriptTest, CallPublicStopsAtTheFirstZero) {
    EXPECT_EQ(fs.CallPublic("OnPlayerConnect"), 0);
    dir.FilterScript("empty", "none");
    for (const char* name : {"a", "none", "b", "c"}) ASSERT_TRUE(fs.LoadFilterScript(name));
    env.recs.clear();
    env.results = {{"fs0:OnPlayerConnect", 5}, {"fs2:OnPlayerConnect", 6}, {"fs3:OnPlayerConnect", 7}};
    EXPECT_EQ(fs.CallPublic("OnPlayerConnect"), 7);
    env.results["fs2:OnPlayerConnect"] = 0;
    env.recs.clear();
    EXPECT_EQ(fs.CallPublic("OnPlayerConnect"), 0);
    EXPECT_EQ(env.Names(), (Names{"fs0:OnPlayerConnect", "fs2:OnPlayerConnect"}));
    EXPECT_EQ(fs.CallPublic("NobodyDefinesThis"), 0);
}

// OnFilterScriptInit runs with the slot occupied: a callback raised from inside it reaches the
// new script too.
TEST_F(FilterScriptTest, CallbacksFromInsideInitReachTheNewScript) {
    dir.FilterScript("actor", "actor");
    env.onCmd = [this](const std::string& word, VmInstance*) {
        if (word == "init") fs.OnPlayerSpawn(2);
    };
    ASSERT_TRUE(fs.LoadFilterScript("actor"));
    EXPECT_EQ(env.Names(), (Names{"fs0:OnFilterScriptInit", "fs0:OnPlayerSpawn"}));
}

TEST_F(FilterScriptTest, ImagesFromMemory) {
    std::vector<uint8_t> image = ReadFile(ScriptDir::Fixture("host_recorder"));
    const std::vector<uint8_t> original = image;
    LogCapture log;
    EXPECT_EQ(fs.LoadFilterScriptFromMemory("mem", image.data(), image.size()), 1);
    EXPECT_EQ(image, original) << "the caller keeps its image unchanged";
    EXPECT_STREQ(fs.SlotName(0), "mem");
    EXPECT_EQ(fs.LoadFilterScriptFromMemory("mem", image.data(), image.size()), 0) << "same name";

    std::vector<uint8_t> junk(100, 0x5A);
    EXPECT_EQ(fs.LoadFilterScriptFromMemory("junk", junk.data(), junk.size()), 0);
    EXPECT_EQ(fs.LoadFilterScriptFromMemory("cut", image.data(), 300), 0) << "shorter than its header says";
    EXPECT_EQ(fs.LoadFilterScriptFromMemory("none", nullptr), 0);
    EXPECT_TRUE(LogCapture::Lines().empty()) << "images from memory fail silently";
    EXPECT_EQ(fs.Count(), 1);
    EXPECT_EQ(fs.SlotInstance(1), nullptr);
}

}  // namespace
}  // namespace velt::test
