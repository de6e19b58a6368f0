// The script loader: what it refuses (and what it leaves behind then), the error-name table and
// the runtime-error line.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/script/HostTestUtil.h"

namespace velt::test {
namespace {

std::vector<uint8_t> Recorder() {
    std::ifstream in(ScriptDir::Fixture("host_recorder"), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void PutU32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

bool AllBytes(const VmInstance& inst, uint8_t value) {
    const auto* p = reinterpret_cast<const uint8_t*>(&inst);
    for (size_t i = 0; i < sizeof inst; ++i)
        if (p[i] != value) return false;
    return true;
}

TEST(ScriptErrorNameTest, NamesByCode) {
    const std::pair<int, const char*> cases[] = {
        {0, "(none)"},
        {3, "Stack/heap collision (insufficient stack size)"},
        {12, "(sleep mode)"},
        {13, "(reserved)"},
        {19, "File or function is not found"},
        {25, "Parameter error"},
        {26, "(unknown)"},
        {1000, "(unknown)"},
        {-1, "(unknown)"},
    };
    for (const auto& [code, name] : cases) EXPECT_STREQ(ScriptErrorName(code), name) << code;
}

TEST(LogScriptErrorTest, OneLineNamingTheCurrentPathSilentForZero) {
    LogCapture log;
    SetCurrentScriptPath("gamemodes/x.vmb");
    LogScriptError(nullptr, 0);
    EXPECT_TRUE(LogCapture::Lines().empty());
    LogScriptError(nullptr, 5);
    ASSERT_EQ(LogCapture::Lines().size(), 1u);
    EXPECT_EQ(LogCapture::Lines()[0], "Script[gamemodes/x.vmb]: Run time error 5: \"Invalid memory access\"");
}

// Each bad image, from a file and from memory. Refusals found before the machine sees the image
// leave the instance untouched; a refusal by the machine leaves it zeroed. Either way it owns
// nothing and FreeScript on it does nothing.
TEST(LoadScriptTest, BadImagesAreRefused) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        int code;
        bool untouched;
    };
    const std::vector<uint8_t> good = Recorder();
    ASSERT_GT(good.size(), 200u);
    auto with = [&](auto edit) {
        std::vector<uint8_t> b = good;
        edit(b);
        return b;
    };
    const Case cases[] = {
        {"bad magic", with([](auto& b) { std::swap(b[4], b[5]); }), VM_ERR_FORMAT, true},
        {"shorter than a header", std::vector<uint8_t>(good.begin(), good.begin() + 20), VM_ERR_FORMAT, true},
        {"truncated", std::vector<uint8_t>(good.begin(), good.begin() + 200), VM_ERR_FORMAT, true},
        {"size below the header", with([](auto& b) { PutU32(b, 0, 40); }), VM_ERR_FORMAT, true},
        {"size above the block", with([&](auto& b) { PutU32(b, 24, uint32_t(good.size() - 4)); }),
         VM_ERR_FORMAT, true},
        {"block too large", with([](auto& b) { PutU32(b, 24, 0x7FFFFFF0u); }), VM_ERR_MEMORY, true},
        {"newer machine", with([](auto& b) { b[7] = 99; }), VM_ERR_VERSION, false},
        {"code offset past the data", with([](auto& b) { PutU32(b, 12, 0x7FFF0000u); }), VM_ERR_FORMAT,
         false},
    };
    ScriptDir dir;
    for (const Case& c : cases) {
        {
            std::ofstream out("bad.vmb", std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(c.bytes.data()), std::streamsize(c.bytes.size()));
        }
        VmInstance inst;
        std::memset(static_cast<void*>(&inst), 0xAB, sizeof inst);
        EXPECT_EQ(LoadScriptFromFile(&inst, "bad.vmb"), c.code) << c.what;
        if (c.untouched)
            EXPECT_TRUE(AllBytes(inst, 0xAB)) << c.what;
        else
            EXPECT_TRUE(AllBytes(inst, 0)) << c.what;

        std::memset(static_cast<void*>(&inst), 0, sizeof inst);
        EXPECT_EQ(LoadScriptFromMemory(&inst, c.bytes.data(), c.bytes.size()), c.code) << c.what;
        EXPECT_EQ(inst.image, nullptr) << c.what;
        EXPECT_EQ(FreeScript(&inst), 0);
        EXPECT_TRUE(AllBytes(inst, 0)) << c.what;
    }

    VmInstance inst;
    std::memset(static_cast<void*>(&inst), 0xAB, sizeof inst);
    EXPECT_EQ(LoadScriptFromFile(&inst, "no/such/file.vmb"), VM_ERR_NOTFOUND);
    EXPECT_TRUE(AllBytes(inst, 0xAB));
}

TEST(LoadScriptTest, LoadAndFree) {
    const std::vector<uint8_t> image = Recorder();
    const std::vector<uint8_t> copy = image;
    VmInstance inst{};
    ASSERT_EQ(LoadScriptFromMemory(&inst, image.data(), image.size()), 0);
    EXPECT_NE(inst.image, nullptr);
    EXPECT_EQ(image, copy);
    int index = -1;
    EXPECT_EQ(vm_LookupPublic(&inst, "OnPlayerUpdate", &index), 0);
    EXPECT_EQ(FreeScript(&inst), 0);
    EXPECT_TRUE(AllBytes(inst, 0));
    EXPECT_EQ(FreeScript(&inst), 0);

    ScriptDir dir;
    const std::string path = dir.FilterScript("recorder", "r");
    ASSERT_EQ(LoadScriptFromFile(&inst, path.c_str()), 0);
    EXPECT_EQ(std::memcmp(inst.image + 56, image.data() + 56, 64), 0);
    FreeScript(&inst);
}

}  // namespace
}  // namespace velt::test
