#include "server/shared/PathUtil.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace velt {
namespace {

std::string Text(const OwnedText& text) { return text ? std::string(text.get()) : std::string("<null>"); }

TEST(PathUtil, DirectoryAndPrefix) {
    struct Case {
        const char* path;
        const char* dir;
        const char* prefix;
    };
    const Case cases[] = {
        {"/usr/local/bin/", "/usr/local/bin", "/usr/local"},
        {"/usr/local/bin/velt", "/usr/local/bin", "/usr/local"},
        {"server.cfg", ".", "server.cfg"},
        {"", ".", "/"},
        {"/velt", "/", "/"},
        {"/bin/velt", "/bin", "/"},
        {"bin/velt", "bin", "bin"},
        {"a//b", "a", "a"},
        {"//x", "/", "/"},
        {"/", "/", "/"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Text(br_extract_dir(c.path)), c.dir) << c.path;
        EXPECT_EQ(Text(br_extract_prefix(c.path)), c.prefix) << c.path;
    }
}

TEST(PathUtil, CopiesAndNullArguments) {
    EXPECT_EQ(Text(br_strndup("gamemodes", 4)), "game");
    EXPECT_EQ(Text(br_strndup("ab", 10)), "ab");
    EXPECT_EQ(Text(br_strndup("", 3)), "");
    const char unterminated[3] = {'x', 'y', 'z'};  // n bounds the read
    EXPECT_EQ(Text(br_strndup(unterminated, 3)), "xyz");

    EXPECT_EQ(Text(br_concat("npcmodes/", "bot.vmb")), "npcmodes/bot.vmb");
    EXPECT_EQ(Text(br_concat(nullptr, "b")), "b");
    EXPECT_EQ(Text(br_concat("a", nullptr)), "a");
    EXPECT_EQ(Text(br_concat(nullptr, nullptr)), "");

    testing::internal::CaptureStderr();
    EXPECT_EQ(br_strndup(nullptr, 3), nullptr);
    EXPECT_EQ(br_extract_dir(nullptr), nullptr);
    EXPECT_EQ(br_extract_prefix(nullptr), nullptr);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("(br_strndup): assertion str != (char *) NULL failed\n"), std::string::npos) << err;
    EXPECT_NE(err.find("(br_extract_dir): assertion path != (char *) NULL failed\n"), std::string::npos);
    EXPECT_NE(err.find("(br_extract_prefix): assertion path != (char *) NULL failed\n"), std::string::npos);
}

TEST(PathUtil, FileExistsOnlyForReadableRegularFiles) {
    char dir[] = "/tmp/velt_path_util_XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string base = dir;
    const std::string file = base + "/mode.vmb";
    const std::string fifo = base + "/pipe.vmb";
    std::FILE* f = std::fopen(file.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

    EXPECT_TRUE(FileExists(file.c_str()));
    EXPECT_FALSE(FileExists((base + "/missing.vmb").c_str()));
    EXPECT_FALSE(FileExists(base.c_str()));  // a directory is not a loadable file
    EXPECT_FALSE(FileExists(fifo.c_str()));  // and probing a FIFO must not block
    EXPECT_FALSE(FileExists(nullptr));
    if (::geteuid() != 0) {  // root reads regardless of permissions
        ASSERT_EQ(::chmod(file.c_str(), 0), 0);
        EXPECT_FALSE(FileExists(file.c_str()));
    }

    std::remove(fifo.c_str());
    std::remove(file.c_str());
    ::rmdir(dir);
}

}  // namespace
}  // namespace velt
