// The helpers of the native calling convention: bounded addresses, text copies into scripts,
// text reads, the parameter-count check, and the table itself.

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "tests/script/HostTestUtil.h"

namespace velt::test {
namespace {

class NativesTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string path = dir.FilterScript("recorder", "r");
        ASSERT_EQ(LoadScriptFromFile(&inst, path.c_str()), 0);
        // 16 cells on the heap, filled with a marker; the heap top is right after them.
        ASSERT_EQ(vm_Allot(&inst, 16, &heapAddr, &heapCells), 0);
        for (int i = 0; i < 16; ++i) heapCells[i] = kMark;
    }
    void TearDown() override { FreeScript(&inst); }

    static constexpr cell kMark = 0x5A5A5A5A;
    ScriptDir dir;
    VmInstance inst{};
    cell heapAddr = 0;
    cell* heapCells = nullptr;
};

TEST_F(NativesTest, SetScriptStringCopiesWithinSize) {
    struct Case {
        std::string text;
        cell size;
        int32_t written;
        std::vector<cell> cells;  // expected from the start; the rest keeps the marker
    };
    const std::string twentyFour(24, 'x');
    std::vector<cell> twentyThree(23, 'x');
    twentyThree.push_back(0);
    const Case cases[] = {
        {"abc", 10, 3, {'a', 'b', 'c', 0}},
        {twentyFour, 24, 23, twentyThree},
        {"abc", 1, 0, {0}},
        {"abc", 0, 0, {}},
        {"abc", -3, 0, {}},
        {"", 5, 0, {0}},
        {"\xC8"
         "A",
         5,
         2,
         {-56, 'A', 0}},  // bytes above 127 arrive sign-extended
    };
    for (const Case& c : cases) {
        for (int i = 0; i < 16; ++i) heapCells[i] = kMark;
        // A 24-cell copy needs more than the 16 heap cells: use the data area there.
        cell addr = heapAddr;
        cell* cells = heapCells;
        if (c.cells.size() > 16) {
            addr = 0;
            ASSERT_EQ(vm_GetAddr(&inst, 0, &cells), 0);
        }
        EXPECT_EQ(SetScriptString(&inst, addr, c.text.c_str(), c.size), c.written) << c.text;
        for (size_t i = 0; i < c.cells.size(); ++i) EXPECT_EQ(cells[i], c.cells[i]) << c.text << " " << i;
        if (addr == heapAddr && c.cells.size() < 16) {
            EXPECT_EQ(cells[c.cells.size()], kMark) << c.text;
        }
    }
}

TEST_F(NativesTest, SetScriptStringRefusesRangesOutsideTheScript) {
    // The copy of "abcdef" needs 7 cells: from 2 cells before the heap top it would run into the
    // free space between heap and stack.
    const cell nearTop = heapAddr + 14 * 4;
    EXPECT_EQ(SetScriptString(&inst, nearTop, "abcdef", 10), 0);
    EXPECT_EQ(heapCells[14], kMark);
    EXPECT_EQ(SetScriptString(&inst, nearTop, "a", 10), 1) << "two cells fit";
    EXPECT_EQ(SetScriptString(&inst, heapAddr + 16 * 4, "a", 10), 0) << "free space";
    EXPECT_EQ(SetScriptString(&inst, -4, "a", 10), 0);
    EXPECT_EQ(SetScriptString(&inst, inst.stack_top, "a", 10), 0);
    EXPECT_EQ(SetScriptString(&inst, 0x7FFFFFFC, "a", 10), 0);
    EXPECT_EQ(SetScriptString(&inst, heapAddr, nullptr, 10), 0);
}

TEST_F(NativesTest, ScriptCellAddressBoundsTheWholeRange) {
    struct Case {
        ucell address;
        int32_t cells;
        bool valid;
    };
    const ucell top = static_cast<ucell>(heapAddr + 16 * 4);  // heap top
    const ucell stackTop = static_cast<ucell>(inst.stack_top);
    ASSERT_EQ(vm_PushCell(&inst, 1), 0);  // one cell in use at the top of the stack
    const Case cases[] = {
        {0, 1, true},
        {static_cast<ucell>(heapAddr), 16, true},
        {static_cast<ucell>(heapAddr), 17, false},
        {top - 4, 0, true},  // no size: the one cell
        {top, 1, false},
        {stackTop - 4, 1, true},
        {stackTop - 4, 2, false},
        {stackTop, 1, false},
        {0xFFFFFFFCu, 1, false},  // -4 taken as unsigned
        {0x80000000u, 1, false},
        {0, 0x40000000, false},  // byte count beyond 32 bits
    };
    for (const Case& c : cases) {
        cell* p = ScriptCellAddress(&inst, c.address, c.cells);
        EXPECT_EQ(p != nullptr, c.valid) << std::hex << c.address << " x" << std::dec << c.cells;
    }
    EXPECT_EQ(ScriptCellAddress(nullptr, 0, 1), nullptr);
    EXPECT_TRUE(SetScriptCell(&inst, heapAddr, 77));
    EXPECT_EQ(heapCells[0], 77);
    EXPECT_FALSE(SetScriptCell(&inst, static_cast<cell>(top), 77));
}

TEST_F(NativesTest, ReadScriptStringStaysInsideTheScript) {
    // Unpacked and packed texts.
    const char* text = "hello";
    vm_SetString(heapCells, text, 0, 0, 16);
    std::string s;
    EXPECT_TRUE(ReadScriptString(&inst, heapAddr, s));
    EXPECT_EQ(s, "hello");
    char small[4];
    EXPECT_EQ(ReadScriptString(&inst, heapAddr, small, sizeof small), 3u);
    EXPECT_STREQ(small, "hel");
    vm_SetString(heapCells, "packed text", 1, 0, 16);
    EXPECT_TRUE(ReadScriptString(&inst, heapAddr, s));
    EXPECT_EQ(s, "packed text");

    // A text that runs up to the heap top without a terminator reads as nothing; so does one at
    // an address outside the script.
    for (int i = 0; i < 16; ++i) heapCells[i] = 'z';
    EXPECT_EQ(ScriptStringLength(&inst, heapAddr), -1);
    EXPECT_FALSE(ReadScriptString(&inst, heapAddr, s));
    EXPECT_TRUE(s.empty());
    char buf[8] = "junk";
    EXPECT_EQ(ReadScriptString(&inst, heapAddr, buf, sizeof buf), 0u);
    EXPECT_STREQ(buf, "");
    EXPECT_FALSE(ReadScriptString(&inst, -8, s));
    EXPECT_FALSE(ReadScriptString(&inst, heapAddr + 2, s)) << "unaligned";
    heapCells[0] = 0;
    EXPECT_TRUE(ReadScriptString(&inst, heapAddr, s));
    EXPECT_TRUE(s.empty());
}

TEST(ScriptParamCountTest, LogsTheCountOutsideTheRange) {
    LogCapture log;
    struct Case {
        int32_t args, min, max;
        bool ok;
        const char* line;
    };
    const Case cases[] = {
        {4, 4, 260, true, nullptr},
        {260, 4, 260, true, nullptr},
        {3, 4, 260, false, "SCRIPT: Bad parameter count (3 < 4): "},
        {261, 4, 260, false, "SCRIPT: Bad parameter count (261 > 260): "},
        {1, 2, 258, false, "SCRIPT: Bad parameter count (1 < 2): "},
        {259, 2, 258, false, "SCRIPT: Bad parameter count (259 > 258): "},
    };
    for (const Case& c : cases) {
        LogCapture::Lines().clear();
        const cell params[1] = {c.args * 4};
        EXPECT_EQ(CheckScriptParamCount(nullptr, params, c.min, c.max), c.ok) << c.args;
        if (c.line == nullptr)
            EXPECT_TRUE(LogCapture::Lines().empty());
        else
            EXPECT_EQ(LogCapture::Lines(), std::vector<std::string>{c.line});
    }
}

// Every row of the table names a native no other row names and carries a function; the table
// ends with the null row the machine's registration stops at.
TEST(ScriptNativesTableTest, RowsAreWellFormed) {
    const VmNativeEntry* table = ScriptNatives();
    const size_t count = ScriptNativeCount();
    std::set<std::string> names;
    for (size_t i = 0; i < count; ++i) {
        ASSERT_NE(table[i].name, nullptr) << i;
        EXPECT_NE(table[i].name[0], '\0') << i;
        EXPECT_NE(table[i].func, nullptr) << table[i].name;
        EXPECT_TRUE(names.insert(table[i].name).second) << "twice: " << table[i].name;
    }
    EXPECT_EQ(table[count].name, nullptr);
}

}  // namespace
}  // namespace velt::test
