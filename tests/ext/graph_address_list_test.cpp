// The address list: its wire and file forms, and what a damaged form does to it.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "net/ext/AddressList.h"

namespace velt {
namespace {

const PlayerID kA{0x0100007F, 7000};
const PlayerID kB{0x0200007F, 7001};
const PlayerID kC{0x0300007F, 7002};

std::vector<uint8_t> Bytes(const AddressList& list) {
    BitStream out;
    list.Serialize(out);
    return std::vector<uint8_t>(out.GetData(), out.GetData() + out.GetNumberOfBytesUsed());
}

class AddressListFile : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/velt_address_list_XXXXXX";
        const int fd = mkstemp(name);
        ASSERT_NE(fd, -1);
        close(fd);
        path_ = name;
    }
    void TearDown() override { std::remove(path_.c_str()); }
    void WriteFile(const std::vector<uint8_t>& bytes) {
        std::FILE* file = std::fopen(path_.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
    std::string path_;
};

TEST(AddressList, WireForm) {
    EXPECT_EQ(Bytes(AddressList()), (std::vector<uint8_t>{0, 0}));
    EXPECT_EQ(Bytes(AddressList(kA)), (std::vector<uint8_t>{1, 0, 0x7F, 0, 0, 1, 0x58, 0x1B}));

    AddressList list;
    for (const PlayerID& id : {kA, kB, kA, kC}) list.Add(id);
    BitStream stream;
    list.Serialize(stream);
    AddressList copy(kC);
    ASSERT_TRUE(copy.Deserialize(stream));
    ASSERT_EQ(copy.Size(), 4u);
    for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(copy[i], list[i]);
}

TEST(AddressList, DamagedWireForm) {
    AddressList list(kA);
    BitStream noCount;
    EXPECT_FALSE(list.Deserialize(noCount));
    EXPECT_EQ(list.Size(), 1u);  // untouched when not even the count is there

    const std::vector<uint8_t> cut = {2, 0, 0x7F, 0, 0, 1, 0x58, 0x1B, 0x7F, 0};
    BitStream truncated(cut.data(), uint32_t(cut.size()), false);
    EXPECT_FALSE(list.Deserialize(truncated));
    EXPECT_EQ(list.Size(), 0u);
}

TEST(AddressList, RemoveTakesTheFirstOccurrenceOnly) {
    AddressList list;
    for (const PlayerID& id : {kA, kB, kA, kC}) list.Add(id);
    list.Remove(kA);
    list.Remove(PlayerID{kB.binaryAddress, 1});  // same address, other port: not listed
    ASSERT_EQ(list.Size(), 3u);
    EXPECT_EQ(list[0], kB);
    EXPECT_EQ(list[1], kA);
    EXPECT_EQ(list[2], kC);
}

TEST(AddressList, ShuffleKeepsEveryEntry) {
    AddressList list;
    for (uint16_t i = 0; i < 50; ++i) list.Add(PlayerID{i, i});
    list.Shuffle();
    std::vector<int> seen(50, 0);
    bool moved = false;
    for (uint32_t i = 0; i < list.Size(); ++i) {
        ++seen[list[i].port];
        moved |= list[i].port != i;
    }
    EXPECT_EQ(seen, std::vector<int>(50, 1));
    EXPECT_TRUE(moved);
}

TEST_F(AddressListFile, SaveAndLoad) {
    AddressList list;
    for (const PlayerID& id : {kA, kB}) list.Add(id);
    ASSERT_TRUE(list.Save(path_.c_str()));
    AddressList loaded;
    ASSERT_TRUE(loaded.Load(path_.c_str()));
    ASSERT_EQ(loaded.Size(), 2u);
    EXPECT_EQ(loaded[1], kB);

    EXPECT_FALSE(loaded.Load("/nonexistent/dir/list"));
    EXPECT_FALSE(list.Save("/nonexistent/dir/list"));
}

TEST_F(AddressListFile, LoadReportsDamagedFiles) {
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    const std::vector<Case> cases = {
        {"empty file", {}},
        {"count only half there", {1}},
        {"entry cut off", {1, 0, 0x7F, 0, 0}},
        {"fewer entries than counted", {2, 0, 0x7F, 0, 0, 1, 0x58, 0x1B}},
    };
    for (const Case& c : cases) {
        WriteFile(c.bytes);
        AddressList list(kC);
        EXPECT_FALSE(list.Load(path_.c_str())) << c.name;
        EXPECT_LE(list.Size(), 1u) << c.name;
    }
}

}  // namespace
}  // namespace velt
