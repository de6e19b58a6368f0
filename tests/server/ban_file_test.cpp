#include "server/game/BanFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace velt {
namespace {

namespace fs = std::filesystem;
using Patterns = std::vector<std::string>;

class BanFileTest : public testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        dir_ = fs::temp_directory_path() / ("velt_ban_test_" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        path_ = (dir_ / kBanFileName).string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    void WriteFile(const std::string& text) {
        std::ofstream f(path_, std::ios::binary | std::ios::trunc);
        f << text;
    }
    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::string Contents() const { return ReadFile(path_); }
    bool TempExists() const { return fs::exists(path_ + ".temp"); }

    // What a fresh load of the file bans.
    Patterns Reloaded() const {
        BanListStandIn fresh;
        BanFile file(fresh, path_);
        file.Load();
        return fresh.Patterns();
    }

    fs::path dir_;
    std::string path_;
    BanListStandIn list_;
};

TEST_F(BanFileTest, LoadKeepsExactlyTheIntendedEntries) {
    const std::string longTail(300, 'r');
    const std::string fill255 = "12.12.12.12 " + std::string(255 - 12, 'f');
    WriteFile(
        "# bans of the old server\r\n"
        "\r\n"
        "1.2.3.4\r\n"
        "10.0.0.* [01/01/24 | 10:00:00] Bob - cheating\n"
        "\t5.5.5.5 a line starting with a tab has an empty first token\n"
        "#9.9.9.9 commented out\n"
        // Over-long lines: what lies past the kept characters must not become an entry of its own.
        + std::string(255, 'x') + "6.6.6.6 tail of a junk line\n" + "#" + std::string(254, 'y') +
        "8.8.8.8 tail of a long comment\n"
        // A valid address with a long reason still counts; so does a line of exactly 255.
        + "11.11.11.11 [01/01/24 | 10:00:00] Ann - " + longTail + "\n" + fill255 + "\n" +
        "13.13.13.13");  // last line without a line end

    list_.AddToBanList("99.99.99.99", 1000);  // cleared by the load
    BanFile file(list_, path_);
    ASSERT_TRUE(file.Load());
    EXPECT_EQ(list_.Patterns(),
              (Patterns{"1.2.3.4", "10.0.0.*", "11.11.11.11", "12.12.12.12", "13.13.13.13"}));
    for (const auto& e : list_.entries) EXPECT_EQ(e.milliseconds, 0u) << e.pattern;

    // A missing file is no error: the list is simply empty.
    fs::remove(path_);
    EXPECT_FALSE(file.Load());
    EXPECT_TRUE(list_.entries.empty());
}

TEST_F(BanFileTest, AddWritesOneSanitisedLine) {
    BanFile file(list_, path_);
    const std::time_t when = 86400 * 365 + 3600 * 13 + 60 * 5 + 9;  // 01/01/71 13:05:09 UTC
    ASSERT_TRUE(file.Add("Bob", "1.2.3.4", "CONSOLE BAN", when));
    EXPECT_EQ(Contents(), "1.2.3.4 [01/01/71 | 13:05:09] Bob - CONSOLE BAN\n");
    EXPECT_TRUE(list_.Contains("1.2.3.4"));
    EXPECT_FALSE(TempExists());

    // A reason that tries to start a line of its own (a '*' ban, here) stays on the ban's line.
    ASSERT_TRUE(file.Add("Eve\tX", "5.6.7.8", "bye\r\n* [01/01/24 | 00:00:00] x - y\n#", when));
    EXPECT_EQ(Contents(),
              "1.2.3.4 [01/01/71 | 13:05:09] Bob - CONSOLE BAN\n"
              "5.6.7.8 [01/01/71 | 13:05:09] Eve X - bye  * [01/01/24 | 00:00:00] x - y #\n");
    EXPECT_EQ(Reloaded(), (Patterns{"1.2.3.4", "5.6.7.8"}));

    // Adding the same address twice writes two lines.
    ASSERT_TRUE(file.Add(nullptr, "1.2.3.4", nullptr, when));
    EXPECT_EQ(Reloaded(), (Patterns{"1.2.3.4", "5.6.7.8"}));
    EXPECT_NE(Contents().find("1.2.3.4 [01/01/71 | 13:05:09]  - \n"), std::string::npos);

    // Addresses that could not be read back as one token are refused outright.
    const std::string before = Contents();
    for (const char* bad : {"", "1.2.3.4 5", "1.2.3.4\n*", "1.2.3.4\t", "\r"}) {
        EXPECT_FALSE(file.Add("n", bad, "r", when)) << bad;
        EXPECT_EQ(list_.entries.size(), 2u);
    }
    EXPECT_FALSE(file.Add("n", nullptr, "r", when));
    EXPECT_EQ(Contents(), before);
}

TEST_F(BanFileTest, AddCutsALongLineToWhatTheReaderReadsBack) {
    BanFile file(list_, path_);
    const std::time_t when = 86400 * 365;
    // A reason far beyond the reader's line, with line breaks near where it would cut.
    const std::string reason = std::string(200, 'r') + "\n9.9.9.9" + std::string(300, 's') + "\r\n*";
    ASSERT_TRUE(file.Add(std::string(40, 'n').c_str(), "1.2.3.4", reason.c_str(), when));
    ASSERT_TRUE(file.Add("Bob", "5.6.7.8", "short", when));
    const std::string text = Contents();
    const size_t end = text.find('\n');
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(end, kBanLineMax);
    EXPECT_EQ(text.substr(end + 1), "5.6.7.8 [01/01/71 | 00:00:00] Bob - short\n");
    EXPECT_EQ(Reloaded(), (Patterns{"1.2.3.4", "5.6.7.8"}));
    // An address no line could hold whole is refused.
    EXPECT_FALSE(file.Add("n", std::string(kBanLineMax, '1').c_str(), "r", when));
    EXPECT_EQ(Contents(), text);
}

TEST_F(BanFileTest, AddKeepsExistingBytesAndMendsAMissingLineEnd) {
    const std::string old = "# hand-written\r\n1.1.1.1\r\n" + std::string(600, 'z') + "\n2.2.2.2";
    WriteFile(old);
    BanFile file(list_, path_);
    ASSERT_TRUE(file.Add("Bob", "3.3.3.3", "r", 0));
    // Appending straight after "2.2.2.2" would have made one token "2.2.2.23.3.3.3": both lost.
    EXPECT_EQ(Contents(), old + "\n3.3.3.3 [01/01/70 | 00:00:00] Bob - r\n");
    EXPECT_EQ(Reloaded(), (Patterns{"1.1.1.1", "2.2.2.2", "3.3.3.3"}));
}

TEST_F(BanFileTest, RemoveDropsEveryLineOfThatAddressOnly) {
    const std::string longComment = "# " + std::string(400, 'c') + "\n";
    WriteFile(
        "1.2.3.4 [01/01/24 | 10:00:00] A - one\n"
        "1.2.3.45 [01/01/24 | 10:00:00] B - longer address\r\n"
        "1.2.3.4\r\n"
        "# 1.2.3.4 in a comment\n" +
        longComment +
        "1.2.3.4\t[tab separated]\n"
        "10.0.0.* [01/01/24 | 10:00:00] C - pattern\n"
        "1.2.3.4");
    list_.AddToBanList("1.2.3.4", 0);
    BanFile file(list_, path_);
    ASSERT_TRUE(file.Remove("1.2.3.4"));
    EXPECT_FALSE(list_.Contains("1.2.3.4"));
    EXPECT_EQ(Contents(),
              "1.2.3.45 [01/01/24 | 10:00:00] B - longer address\r\n"
              "# 1.2.3.4 in a comment\n" +
                  longComment + "10.0.0.* [01/01/24 | 10:00:00] C - pattern\n");
    EXPECT_FALSE(TempExists());

    // Patterns are plain text.
    ASSERT_TRUE(file.Remove("10.0.0.*"));
    EXPECT_EQ(Reloaded(), (Patterns{"1.2.3.45"}));

    // Nothing to remove from: the file is not created.
    fs::remove(path_);
    EXPECT_FALSE(file.Remove("1.2.3.45"));
    EXPECT_FALSE(fs::exists(path_));
    EXPECT_FALSE(file.Remove(""));
}

// The old file is replaced, never rewritten in place: a reader that had it open still sees it
// whole, the new one appears under the name in one step, the temporary file is gone and the
// permissions stay.
TEST_F(BanFileTest, RewritesReplaceTheFileAtomically) {
    const std::string old = "1.1.1.1\n2.2.2.2\n";
    WriteFile(old);
    ASSERT_EQ(chmod(path_.c_str(), 0600), 0);
    BanFile file(list_, path_);

    for (int step = 0; step < 2; ++step) {
        SCOPED_TRACE(step == 0 ? "add" : "remove");
        const std::string before = Contents();
        struct stat oldSt {};
        ASSERT_EQ(stat(path_.c_str(), &oldSt), 0);
        std::ifstream heldOpen(path_, std::ios::binary);
        ASSERT_TRUE(step == 0 ? file.Add("n", "3.3.3.3", "r", 0) : file.Remove("1.1.1.1"));
        const std::string seen{std::istreambuf_iterator<char>(heldOpen), std::istreambuf_iterator<char>()};
        EXPECT_EQ(seen, before);
        struct stat newSt {};
        ASSERT_EQ(stat(path_.c_str(), &newSt), 0);
        EXPECT_NE(newSt.st_ino, oldSt.st_ino);
        EXPECT_EQ(newSt.st_mode & 0777, 0600u);
        EXPECT_FALSE(TempExists());
    }
    EXPECT_EQ(Contents(), "2.2.2.2\n3.3.3.3 [01/01/70 | 00:00:00] n - r\n");

    // When the temporary file cannot be made, the file stays as it was and the ban holds in
    // memory only.
    fs::create_directory(path_ + ".temp");
    const std::string before = Contents();
    EXPECT_FALSE(file.Add("n", "4.4.4.4", "r", 0));
    EXPECT_TRUE(list_.Contains("4.4.4.4"));
    EXPECT_FALSE(file.Remove("2.2.2.2"));
    EXPECT_EQ(Contents(), before);
    EXPECT_TRUE(fs::is_directory(path_ + ".temp"));
}

}  // namespace
}  // namespace velt
