// The file list: entries, its stream form read as a hostile sender would write it, comparing two
// lists, and its traffic with a real directory tree (links, pipes, names that would leave it).

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "filelist_test_util.h"
#include "net/BitStream.h"
#include "net/StringCompressor.h"
#include "net/ext/FileDigest.h"
#include "net/ext/FileList.h"
#include "net/ext/FileListPaths.h"

using namespace velt;
using velt::filetest::Bytes;
using velt::filetest::ReadFile;
using velt::filetest::TempTree;

namespace {

void Add(FileList& list, const std::string& name, const std::string& data, uint32_t fileLength) {
    ASSERT_TRUE(list.AddEntry(name.c_str(), reinterpret_cast<const uint8_t*>(data.data()),
                              uint32_t(data.size()), fileLength, 7));
}

std::vector<std::string> Names(const FileList& list) {
    std::vector<std::string> names;
    for (uint32_t i = 0; i < list.Size(); ++i) names.push_back(list[i].filename);
    return names;
}

// Name to (data, fileLength), for lists whose order does not matter.
std::map<std::string, std::pair<std::string, uint32_t>> Contents(const FileList& list) {
    std::map<std::string, std::pair<std::string, uint32_t>> out;
    for (uint32_t i = 0; i < list.Size(); ++i)
        out[list[i].filename] = {std::string(list[i].data.begin(), list[i].data.end()), list[i].fileLength};
    return out;
}

std::string DigestText(const std::string& bytes) {
    const FileDigest d = DigestOf(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return std::string(d.begin(), d.end());
}

TEST(FileList, AddEntryKeepsOneEntryPerNameAndMovesAChangedOneToTheEnd) {
    FileList list;
    Add(list, "a", "xyz", 3);
    Add(list, "b", "", 10);
    Add(list, "a", "xyz", 3);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"a", "b"}));
    Add(list, "a", "xyzw", 4);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"b", "a"}));
    Add(list, "b", "", 11);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(list[1].fileLength, 11u);

    EXPECT_FALSE(list.AddEntry(nullptr, nullptr, 0, 0, 0));
    EXPECT_FALSE(list.AddEntry(std::string(FileList::kMaxNameLength + 1, 'n').c_str(), nullptr, 0, 0, 0));
    EXPECT_FALSE(list.AddEntry("c", nullptr, 5, 5, 0));
    EXPECT_EQ(list.Size(), 2u);
}

TEST(FileList, StreamRoundTripKeepsEveryForm) {
    FileList list;
    Add(list, "content only.txt", "hello", 5);
    Add(list, "dir/digest only", DigestText("1234567"), 7);
    Add(list, "dir/sub/both", DigestText("xy") + "xy", 2);
    Add(list, "empty", "", 0);
    Add(list, "absent data", "", 123456);
    BitStream stream;
    list.Serialize(stream);

    FileList read;
    Add(read, "stale", "old", 3);
    ASSERT_TRUE(read.Deserialize(stream));
    EXPECT_EQ(Names(read), Names(list));
    EXPECT_EQ(Contents(read), Contents(list));
    for (uint32_t i = 0; i < read.Size(); ++i) EXPECT_EQ(read[i].context, 7);
    EXPECT_EQ(stream.GetNumberOfUnreadBits(), 0);
}

// A count, then count entries as the writer would put them, each with the given data length field.
void WriteRawList(BitStream& out, uint32_t count, uint32_t entries, uint32_t dataLength, uint32_t dataBytes) {
    out.WriteCompressed(count);
    for (uint32_t i = 0; i < entries; ++i) {
        out.WriteCompressed(uint8_t{0});
        const std::string name = "f" + std::to_string(i);
        StringCompressor::Instance()->EncodeString(name.c_str(), 512, out);
        out.Write(dataLength > 0);
        if (dataLength > 0) {
            out.WriteCompressed(dataLength);
            for (uint32_t b = 0; b < dataBytes; ++b) out.Write(uint8_t(b));
        }
        out.Write(true);
    }
}

TEST(FileList, HostileStreamsLeaveTheListAsItWas) {
    struct Case {
        const char* what;
        uint32_t count, entries, dataLength, dataBytes;
        bool ok;
    } cases[] = {
        {"10,000 entries", 10000, 10000, 0, 0, true},
        {"10,001 entries", 10001, 10001, 0, 0, false},
        {"a huge count, no entries", 0xFFFFFFFFu, 0, 0, 0, false},
        {"fewer entries than counted", 3, 2, 0, 0, false},
        {"a data length above the limit", 1, 1, FileList::kMaxDataLength + 1, 16, false},
        // 190 MB claimed, 16 bytes there: refused before any allocation.
        {"a data length beyond the stream", 1, 1, 190000000, 16, false},
        {"a data length one byte beyond the stream", 1, 1, 17, 16, false},
    };
    for (const Case& c : cases) {
        BitStream stream;
        WriteRawList(stream, c.count, c.entries, c.dataLength, c.dataBytes);
        FileList list;
        Add(list, "kept", "k", 1);
        EXPECT_EQ(list.Deserialize(stream), c.ok) << c.what;
        if (c.ok)
            EXPECT_EQ(list.Size(), c.entries) << c.what;
        else
            EXPECT_EQ(Names(list), (std::vector<std::string>{"kept"})) << c.what;
    }

    // Every cut of a good stream.
    FileList good;
    Add(good, "one", "first file", 10);
    Add(good, "two/three", DigestText("x"), 1);
    BitStream full;
    good.Serialize(full);
    for (int32_t bits = 0; bits < full.GetNumberOfBitsUsed(); ++bits) {
        BitStream cut;
        cut.WriteRawBits(full.GetData(), bits, false);
        FileList list;
        Add(list, "kept", "k", 1);
        EXPECT_FALSE(list.Deserialize(cut)) << bits << " bits";
        EXPECT_EQ(list.Size(), 1u) << bits << " bits";
    }
}

TEST(FileList, DiffAgainstComparesNamesBelowBothSubdirectories) {
    FileList own;
    Add(own, "a/same", DigestText("s"), 1);
    Add(own, "a/changed", DigestText("new"), 3);
    Add(own, "a/resized", DigestText("r"), 1);
    Add(own, "a/b/missing", DigestText("m"), 1);
    Add(own, "ab/outside", DigestText("o"), 1);
    Add(own, "top", DigestText("t"), 1);
    FileList theirs;
    Add(theirs, "out/SAME", DigestText("s"), 1);
    Add(theirs, "out/changed", DigestText("old"), 3);
    Add(theirs, "out/resized", DigestText("r"), 2);

    const std::vector<std::string> expected{"a/changed", "a/resized", "a/b/missing"};
    struct Case {
        const char* own;
        const char* theirs;
    } cases[] = {{"a", "out"}, {"a/", "out/"}, {"A", "out\\"}};
    for (const Case& c : cases) {
        FileList delta;
        own.DiffAgainst(theirs, delta, c.own, c.theirs);
        EXPECT_EQ(Names(delta), expected) << c.own << " / " << c.theirs;
        for (uint32_t i = 0; i < delta.Size(); ++i) EXPECT_EQ(delta[i].DataLength(), 0u);
    }

    // No subdirectory on this side: every entry takes part, compared below the other's.
    FileList mine;
    Add(mine, "same", DigestText("s"), 1);
    Add(mine, "new", DigestText("n"), 1);
    FileList delta;
    mine.DiffAgainst(theirs, delta, nullptr, "out");
    EXPECT_EQ(Names(delta), (std::vector<std::string>{"new"}));
}

TEST(FilePaths, TextHelpers) {
    struct Slash {
        const char* in;
        const char* out;
    } slashes[] = {{"", ""}, {"a", "a/"}, {"a/", "a/"}, {"a\\", "a/"}, {"/", "/"}};
    for (const Slash& s : slashes) {
        std::string text = s.in;
        EnsureTrailingSlash(text);
        EXPECT_EQ(text, s.out) << s.in;
    }
    struct Quote {
        const char* in;
        const char* out;
    } quotes[] = {{"plain", "plain"}, {"with space", "\"with space\""}, {"", ""}};
    for (const Quote& q : quotes) {
        std::string text = q.in;
        QuoteIfHasSpace(text);
        EXPECT_EQ(text, q.out) << q.in;
    }
    struct Join {
        const char* directory;
        const char* name;
        const char* out;
    } joins[] = {
        {"", "x", "./x"}, {nullptr, "x", "./x"}, {"d", "x", "d/x"}, {"d/", "x", "d/x"}, {"d\\", "x", "d\\x"}};
    for (const Join& j : joins) {
        std::string out;
        EXPECT_TRUE(JoinPath(j.directory, j.name, out));
        EXPECT_EQ(out, j.out) << (j.directory ? j.directory : "null");
    }
    std::string out;
    EXPECT_FALSE(JoinPath("d", std::string(kMaxJoinedPathBytes, 'x').c_str(), out));

    struct Name {
        const char* name;
        bool safe;
    } names[] = {{"a", true},     {"a/b c.txt", true}, {"..x/y..", true}, {"a..b", true},
                 {"", false},     {"../x", false},     {"/etc/x", false}, {"a/../../x", false},
                 {"a/..", false}, {"..", false},       {"a\\b", false},   {"..\\x", false}};
    for (const Name& n : names) EXPECT_EQ(IsSafeRelativeName(n.name), n.safe) << n.name;
    EXPECT_FALSE(IsSafeRelativeName(nullptr));
}

TEST(FileDigest, KnownDigest) {
    const std::string abc = DigestText("abc");
    const uint8_t expected[20] = {0xa9, 0x99, 0x3e, 0x36, 0x47, 0x06, 0x81, 0x6a, 0xba, 0x3e,
                                  0x25, 0x71, 0x78, 0x50, 0xc2, 0x6c, 0x9c, 0xd0, 0xd8, 0x9d};
    EXPECT_EQ(abc, std::string(reinterpret_cast<const char*>(expected), 20));
}

class FileListDisk : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(tree_.Root().empty());
        tree_.Write("root/empty", "");
        tree_.Write("root/one.bin", "1");
        tree_.Write("root/no dot", "no extension");
        tree_.Write("root/.hidden", "dot file");
        tree_.Write("root/sub/inner.txt", "inner");
        tree_.Write("root/sub/deeper/leaf", "leaf bytes");
        tree_.MakeDirectory("root/sub/nothing");
        tree_.Write("outside/secret", "not below the root");
        ASSERT_EQ(symlink(tree_.Path("outside").c_str(), tree_.Path("root/linked dir").c_str()), 0);
        ASSERT_EQ(symlink(tree_.Path("outside/secret").c_str(), tree_.Path("root/linked file").c_str()), 0);
        ASSERT_EQ(mkfifo(tree_.Path("root/pipe").c_str(), 0600), 0);
    }
    TempTree tree_;
};

TEST_F(FileListDisk, AddDirectoryTakesEveryRegularFileAndNoLink) {
    const std::string root = tree_.Path("root");
    const std::map<std::string, std::string> files{
        {"empty", ""},           {"one.bin", "1"},           {"no dot", "no extension"},
        {".hidden", "dot file"}, {"sub/inner.txt", "inner"}, {"sub/deeper/leaf", "leaf bytes"}};
    FileList content;
    content.AddDirectory(root.c_str(), nullptr, false, true, true, 3);
    FileList digests;
    digests.AddDirectory((root + "/").c_str(), nullptr, true, false, true, 3);
    FileList both;
    both.AddDirectory(root.c_str(), nullptr, true, true, true, 3);
    FileList sizes;
    sizes.AddDirectory(root.c_str(), nullptr, false, false, true, 3);
    std::map<std::string, std::pair<std::string, uint32_t>> wantContent, wantDigest, wantBoth, wantSize;
    for (const auto& [name, bytes] : files) {
        const uint32_t size = uint32_t(bytes.size());
        wantContent[name] = {bytes, size};
        wantDigest[name] = {DigestText(bytes), size};
        wantBoth[name] = {DigestText(bytes) + bytes, size};
        wantSize[name] = {"", size};
    }
    EXPECT_EQ(Contents(content), wantContent);
    EXPECT_EQ(Contents(digests), wantDigest);
    EXPECT_EQ(Contents(both), wantBoth);
    EXPECT_EQ(Contents(sizes), wantSize);
    EXPECT_EQ(content[0].context, 3);

    // Not recursive, and a subdirectory: names stay relative to the root.
    FileList flat;
    flat.AddDirectory(root.c_str(), nullptr, false, false, false, 0);
    EXPECT_EQ(flat.Size(), 4u);
    FileList sub;
    sub.AddDirectory(root.c_str(), "sub", false, true, true, 0);
    EXPECT_EQ(Contents(sub), (std::map<std::string, std::pair<std::string, uint32_t>>{
                                 {"sub/inner.txt", {"inner", 5}}, {"sub/deeper/leaf", {"leaf bytes", 10}}}));

    // From the working directory, without a root.
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(root.c_str()), 0);
    FileList here;
    here.AddDirectory(nullptr, "sub/", false, true, true, 0);
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_EQ(Contents(here), Contents(sub));

    FileList single;
    EXPECT_TRUE(single.AddFromDisk(tree_.Path("root/no dot").c_str(), "renamed", 1));
    EXPECT_FALSE(single.AddFromDisk(tree_.Path("root/linked file").c_str(), "link", 1));
    EXPECT_FALSE(single.AddFromDisk(tree_.Path("root/missing").c_str(), "missing", 1));
    EXPECT_EQ(Contents(single),
              (std::map<std::string, std::pair<std::string, uint32_t>>{{"renamed", {"no extension", 12}}}));
}

TEST_F(FileListDisk, CheckAndLoadFollowTheDisk) {
    const std::string root = tree_.Path("root");
    FileList list;
    list.AddDirectory(root.c_str(), "sub", true, false, true, 0);
    ASSERT_EQ(list.Size(), 2u);
    tree_.Write("root/sub/inner.txt", "INNER");  // same size, other bytes
    ASSERT_EQ(unlink(tree_.Path("root/sub/deeper/leaf").c_str()), 0);

    FileList changed;
    list.CheckAgainstDisk(root.c_str(), changed, false, false);
    EXPECT_EQ(Contents(changed),
              (std::map<std::string, std::pair<std::string, uint32_t>>{
                  {"sub/inner.txt", {DigestText("INNER"), 5}}, {"sub/deeper/leaf", {"", 0}}}));
    FileList withoutHash;
    list.CheckAgainstDisk(root.c_str(), withoutHash, false, true);
    EXPECT_EQ(withoutHash[0].DataLength(), 0u);

    list.LoadFromDisk(root.c_str(), true, false, true);
    EXPECT_EQ(Contents(list),
              (std::map<std::string, std::pair<std::string, uint32_t>>{{"sub/inner.txt", {"INNER", 5}}}));
}

TEST_F(FileListDisk, SaveAndDeleteStopAtANameThatWouldLeaveTheDirectory) {
    const std::string out = tree_.Path("saved");
    struct Case {
        const char* bad;
    } cases[] = {{"../y"}, {"/abs/y"}, {"a/../../y"}, {"a\\..\\y"}};
    for (const Case& c : cases) {
        FileList list;
        Add(list, "x", "first", 5);
        Add(list, c.bad, "escape", 6);
        Add(list, "z", "last", 4);
        EXPECT_FALSE(list.SaveToDisk(out.c_str())) << c.bad;
        EXPECT_EQ(ReadFile(out + "/x"), "first");
        EXPECT_FALSE(tree_.Exists("saved/z")) << c.bad;
        EXPECT_FALSE(tree_.Exists("y")) << c.bad;
        EXPECT_FALSE(list.DeleteFromDisk(out.c_str()));
        EXPECT_FALSE(tree_.Exists("saved/x"));
    }

    FileList list;
    Add(list, "d1/d2/f", "deep", 4);
    Add(list, "empty file", "", 0);
    Add(list, "as directory", "", 9);
    EXPECT_TRUE(list.SaveToDisk(out.c_str()));
    EXPECT_EQ(ReadFile(out + "/d1/d2/f"), "deep");
    struct stat st;
    ASSERT_EQ(stat((out + "/empty file").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_size, 0);
    ASSERT_EQ(stat((out + "/as directory").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));

    // Saved into the working directory when none is given.
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(out.c_str()), 0);
    FileList here;
    Add(here, "here.txt", "h", 1);
    EXPECT_TRUE(here.SaveToDisk(""));
    EXPECT_TRUE(here.DeleteFromDisk(nullptr));
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_FALSE(tree_.Exists("saved/here.txt"));
    EXPECT_FALSE(tree_.Exists("here.txt"));
}

TEST_F(FileListDisk, WriteFileCreatingDirsNeverWritesThroughALink) {
    EXPECT_TRUE(WriteFileCreatingDirs(tree_.Path("w/d1/d2/f").c_str(), Bytes("data").data(), 4));
    EXPECT_EQ(ReadFile(tree_.Path("w/d1/d2/f")), "data");
    EXPECT_TRUE(WriteFileCreatingDirs(tree_.Path("w/d3/dir").c_str(), nullptr, 0));
    EXPECT_TRUE(DirectoryExists(tree_.Path("w/d3/dir").c_str()));
    EXPECT_FALSE(DirectoryExists(tree_.Path("w/d1/d2/f").c_str()));
    EXPECT_FALSE(WriteFileCreatingDirs("", Bytes("x").data(), 1));
    EXPECT_FALSE(WriteFileCreatingDirs(tree_.Path("root/linked file").c_str(), Bytes("x").data(), 1));
    EXPECT_EQ(ReadFile(tree_.Path("outside/secret")), "not below the root");
}

}  // namespace
