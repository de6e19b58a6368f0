// The animation name table: the shipped names file passes the row check that the build applies,
// the check catches each kind of bad row and a wrong line count, and both lookups answer the rows
// the table knows and nothing for numbers outside it or rows it does not know.

#include "server/game/AnimationNames.h"

#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <iterator>
#include <string>

namespace velt {
namespace {

std::string RowsFile(const std::string& row, int32_t at, int32_t lines = kAnimationCount) {
    std::string text;
    for (int32_t line = 1; line <= lines; ++line) text += (line == at ? row : std::string()) + "\n";
    return text;
}

TEST(AnimationNames, ShippedFilePassesTheCheck) {
    std::ifstream in(VELT_ANIMATION_NAMES_FILE, std::ios::binary);
    ASSERT_TRUE(in.good());
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(CheckAnimationNameFile(text), "");
}

TEST(AnimationNames, CheckNamesTheFirstBadLine) {
    struct Case {
        const char* row;
        AnimationRowFault fault;
    };
    const Case cases[] = {
        {"", AnimationRowFault::None},
        {"PED:WALK_PLAYER", AnimationRowFault::None},
        {"A:B", AnimationRowFault::None},
        {"LIBRARY_12345:NAME_6789012345", AnimationRowFault::None},   // 29
        {"LIBRARY_12345:NAME_67890123456", AnimationRowFault::None},  // 30
        {"LIBRARY_12345:NAME_678901234567", AnimationRowFault::TooLong},
        {"PED:walk", AnimationRowFault::LowerCase},
        {"PEDWALK", AnimationRowFault::NoColon},
        {"PED:WALK:FAST", AnimationRowFault::ExtraColon},
        {":WALK", AnimationRowFault::EmptyPart},
        {"PED:", AnimationRowFault::EmptyPart},
        {"PED: WALK", AnimationRowFault::BadCharacter},
        {"PED:WALK\r", AnimationRowFault::BadCharacter},
        {"PED:\tWALK", AnimationRowFault::BadCharacter},
        {"PED:WALK\xC3\x89", AnimationRowFault::BadCharacter},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.row);
        EXPECT_EQ(CheckAnimationNameRow(c.row), c.fault);
        const std::string expected = c.fault == AnimationRowFault::None
                                         ? ""
                                         : std::string("line 77: ") + AnimationRowFaultText(c.fault);
        EXPECT_EQ(CheckAnimationNameFile(RowsFile(c.row, 77)), expected);
    }
    // One line per animation; the last line feed may be left out.
    EXPECT_EQ(CheckAnimationNameFile(RowsFile("", 0, kAnimationCount - 1)), "1811 lines, not 1812");
    EXPECT_EQ(CheckAnimationNameFile(RowsFile("", 0, kAnimationCount + 1)), "1813 lines, not 1812");
    std::string unterminated = RowsFile("VELT:FISHINGIDLE", kAnimationCount);
    unterminated.pop_back();
    EXPECT_EQ(CheckAnimationNameFile(unterminated), "");
    EXPECT_EQ(CheckAnimationNameFile(""), "1 lines, not 1812");
}

TEST(AnimationNames, LookupByNumber) {
    EXPECT_STREQ(AnimationNameByIndex(1), "AIRPORT:THRW_BARL_THRW");
    EXPECT_STREQ(AnimationNameByIndex(1812), "VELT:FISHINGIDLE");
    for (int32_t number : {0, 1813, -1, INT_MIN, INT_MAX, 2, 1811})
        EXPECT_EQ(AnimationNameByIndex(number), nullptr) << number;
}

TEST(AnimationNames, LookupByName) {
    EXPECT_EQ(AnimationIndexByName("airport", "thrw_barl_thrw"), 1);
    EXPECT_EQ(AnimationIndexByName("VELT", "FishingIdle"), 1812);
    EXPECT_EQ(AnimationIndexByName("VELT", "FISHING"), -1);
    EXPECT_EQ(AnimationIndexByName("AIRPORT:THRW_BARL_THRW", ""), -1);
    EXPECT_EQ(AnimationIndexByName("", ""), -1);  // rows without a name never match
    EXPECT_EQ(AnimationIndexByName(nullptr, "THRW_BARL_THRW"), -1);
    EXPECT_EQ(AnimationIndexByName("AIRPORT", nullptr), -1);
    EXPECT_EQ(AnimationIndexByName(std::string(30, 'A').c_str(), "1234567"), -1);
    EXPECT_EQ(AnimationIndexByName(std::string(5000, 'A').c_str(), "B"), -1);
}

}  // namespace
}  // namespace velt
