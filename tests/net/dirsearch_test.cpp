// Directory search handles: each stays valid whatever happens to the others, and a search that
// finds nothing hands out no handle.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "net/DirectorySearch.h"

using namespace velt;

namespace {

class DirSearch : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/velt_dirsearch_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        for (const char* name : {"one.txt", "two.txt", "three.txt", "four.dat"}) {
            FILE* f = std::fopen((root_ + "/" + name).c_str(), "wb");
            ASSERT_NE(f, nullptr);
            std::fputs(name, f);
            std::fclose(f);
        }
    }
    void TearDown() override {
        for (const char* name : {"one.txt", "two.txt", "three.txt", "four.dat"})
            std::remove((root_ + "/" + name).c_str());
        rmdir(root_.c_str());
    }
    std::string root_;
};

// Everything a search yields, first entry included.
std::set<std::string> Rest(int32_t handle, const FindData& first) {
    std::set<std::string> names{first.name};
    FindData data;
    while (DirFindNext(handle, &data) == 0) names.insert(data.name);
    return names;
}

TEST_F(DirSearch, ClosingOneSearchLeavesTheOthersValid) {
    FindData a, b, c;
    const int32_t ha = DirFindFirst((root_ + "/*.txt").c_str(), &a);
    const int32_t hb = DirFindFirst((root_ + "/*.dat").c_str(), &b);
    const int32_t hc = DirFindFirst((root_ + "/*").c_str(), &c);
    ASSERT_GE(ha, 0);
    ASSERT_GE(hb, 0);
    ASSERT_GE(hc, 0);
    EXPECT_EQ(_findclose(ha), 0);
    EXPECT_EQ(Rest(hb, b), (std::set<std::string>{"four.dat"}));
    EXPECT_EQ(Rest(hc, c), (std::set<std::string>{"one.txt", "two.txt", "three.txt", "four.dat"}));
    EXPECT_EQ(_findclose(hc), 0);
    EXPECT_EQ(_findclose(hb), 0);

    // A closed handle is dead for every call.
    FindData data;
    EXPECT_EQ(DirFindNext(hb, &data), -1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(_findclose(hb), -1);
    EXPECT_EQ(_findclose(-1), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error _findclose\nError _findclose\n");
}

TEST_F(DirSearch, NothingFoundGivesNoHandleAndLeavesDataAlone) {
    FindData data;
    data.name[0] = 'k';
    data.name[1] = '\0';
    EXPECT_EQ(DirFindFirst((root_ + "/*.none").c_str(), &data), -1);
    EXPECT_EQ(DirFindFirst((root_ + "/missing/*").c_str(), &data), -1);
    EXPECT_EQ(DirFindFirst(nullptr, &data), -1);
    EXPECT_STREQ(data.name, "k");
    const int32_t handle = DirFindFirst((root_ + "/one.*").c_str(), &data);
    ASSERT_GE(handle, 0);
    EXPECT_STREQ(data.name, "one.txt");
    EXPECT_EQ(data.attrib, kFindAttribFile);
    EXPECT_EQ(data.size, 7u);
    EXPECT_EQ(DirFindNext(handle, &data), -1);
    EXPECT_EQ(_findclose(handle), 0);
}

}  // namespace
