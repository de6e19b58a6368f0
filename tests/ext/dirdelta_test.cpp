// A directory served by one library peer and fetched by another: the first fetch makes the trees
// equal (diff -r), a second sends nothing, a changed file goes alone; big files report progress
// and travel compressed. A crafted server's names never write outside the output directory.

#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>

#include <random>
#include <string>
#include <vector>

#include "filelist_peers.h"
#include "filelist_test_util.h"
#include "net/BitStream.h"
#include "net/ext/DirectoryDeltaTransfer.h"
#include "net/ext/FileList.h"
#include "net/ext/FileListTransfer.h"

extern char** environ;

using namespace velt;
using velt::filetest::ConnectPeers;
using velt::filetest::ReadFile;
using velt::filetest::TempTree;
using velt::filetest::TestPeer;

namespace {

struct Written {
    std::string path;
    bool hasData;
    uint32_t dataLength;
    uint32_t compressedBytes;
};

class UserCallback : public FileListTransferCBInterface {
public:
    void FileReceived(uint32_t, const char* filename, const uint8_t* data, uint32_t compressedBytes,
                      uint32_t dataLength, uint16_t, uint32_t, uint32_t, uint32_t, uint8_t) override {
        files.push_back({filename ? filename : "(null)", data != nullptr, dataLength, compressedBytes});
    }
    void FilePartReceived(uint32_t, const char* filename, uint32_t, uint32_t, uint16_t, uint32_t, uint32_t,
                          uint32_t, uint8_t, uint32_t partsReceived, uint32_t partsTotal, uint32_t) override {
        parts.push_back(filename ? filename : "(null)");
        EXPECT_LE(partsReceived, partsTotal);
    }
    std::vector<Written> files;
    std::vector<std::string> parts;
};

// Runs diff -r (no shell) and gives its exit status.
int DiffTrees(const std::string& a, const std::string& b) {
    std::vector<std::string> args{"diff", "-r", a, b};
    std::vector<char*> argv;
    for (std::string& s : args) argv.push_back(s.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, "diff", nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 random(seed);
    std::string out(n, '\0');
    for (char& c : out) c = char(random());
    return out;
}

class DirectoryDelta : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_.Start());
        ASSERT_TRUE(client_.Start());
        for (auto [peer, transfer, delta, root] :
             {std::tuple{&server_, &serverTransfer_, &serverDelta_, tree_.Path("server")},
              std::tuple{&client_, &clientTransfer_, &clientDelta_, tree_.Path("client")}}) {
            (*peer)->AttachPlugin(transfer);
            (*peer)->AttachPlugin(delta);
            delta->SetTransfer(transfer);
            delta->SetRootDirectory(root.c_str());
        }
        tree_.MakeDirectory("client");
        ASSERT_TRUE(ConnectPeers(client_, server_));
        serverSide_ = client_.Remote();
    }

    // Asks for subdirectory into the client's root + output and waits until the set has ended.
    uint16_t Fetch(const char* subdirectory, const char* output, UserCallback& user) {
        const uint16_t setId = clientDelta_.RequestSubdirectory(subdirectory, output, true, serverSide_,
                                                                &user, HIGH_PRIORITY_LEVEL, 0);
        EXPECT_NE(setId, kNoFileListSet);
        EXPECT_TRUE(
            filetest::PumpUntil({&server_, &client_}, [&] { return clientTransfer_.ReceiverCount() == 0; }));
        return setId;
    }

    TempTree tree_;
    FileListTransfer serverTransfer_, clientTransfer_;
    DirectoryDeltaTransfer serverDelta_, clientDelta_;
    TestPeer server_;
    TestPeer client_;
    PlayerID serverSide_{};
};

TEST_F(DirectoryDelta, FetchesTheTreeThenOnlyWhatChanged) {
    tree_.Write("server/levels/empty", "");
    tree_.Write("server/levels/one byte", "1");
    tree_.Write("server/levels/big.bin", RandomBytes(10u << 20, 5));
    tree_.Write("server/levels/nested/deeper/with space.txt", std::string(5000, 'w'));
    tree_.Write("server/levels/nested/x", "x version 1");
    tree_.Write("server/other/not offered", "o");
    serverDelta_.OfferSubdirectory("levels");
    ASSERT_EQ(serverDelta_.OfferedCount(), 5u);
    client_->SetSplitMessageProgressInterval(32);

    const std::string out = tree_.Path("client/out");
    UserCallback first;
    Fetch("levels", "out", first);
    EXPECT_EQ(first.files.size(), 5u);
    EXPECT_EQ(DiffTrees(tree_.Path("server/levels"), out), 0);
    EXPECT_FALSE(first.parts.empty()) << "the 10 MB file arrives in reported parts";
    for (const std::string& part : first.parts) EXPECT_EQ(part, out + "/big.bin");
    for (const Written& w : first.files) {
        EXPECT_EQ(w.path.rfind(out + "/", 0), 0u) << w.path;
        EXPECT_TRUE(w.hasData);
        if (w.dataLength > 0) {
            EXPECT_GT(w.compressedBytes, 0u) << "sent compressed";
        }
    }

    UserCallback second;
    Fetch("levels", "out", second);
    ASSERT_EQ(second.files.size(), 1u) << "nothing differs: one empty report";
    EXPECT_EQ(second.files[0].path, "");
    EXPECT_FALSE(second.files[0].hasData);

    tree_.Write("server/levels/nested/x", "x version 2, longer");
    serverDelta_.ClearOffered();
    serverDelta_.OfferSubdirectory("levels/");
    UserCallback third;
    Fetch("levels/", "out/", third);
    ASSERT_EQ(third.files.size(), 1u);
    EXPECT_EQ(third.files[0].path, out + "/nested/x");
    EXPECT_EQ(DiffTrees(tree_.Path("server/levels"), out), 0);
}

// The request's set id, as the asking side wrote it after the message id.
uint16_t SetIdOfRequest(const std::vector<uint8_t>& request) {
    BitStream in(request.data(), uint32_t(request.size()), false);
    in.SkipBits(8);
    uint16_t setId = kNoFileListSet;
    EXPECT_TRUE(in.Read(setId));
    return setId;
}

TEST_F(DirectoryDelta, NamesFromACraftedServerStayInsideTheOutputDirectory) {
    // The server answers by hand: no delta plugin reads the requests there.
    server_->DetachPlugin(&serverDelta_);
    const std::string absolute = tree_.Path("absolute escape");
    struct Case {
        const char* subdirectory;
        std::vector<std::string> refused;
        std::string accepted;
        const char* written;
    } cases[] = {
        {nullptr,
         {"../x", "/etc/x", absolute, "a/../../x", "a\\..\\..\\x", ".."},
         "fine/ok.txt",
         "fine/ok.txt"},
        {"levels", {"levels/../x", "other/x", "levelsX/x", "levels/", absolute}, "LEVELS/a/b.dat", "a/b.dat"},
    };
    for (const Case& c : cases) {
        server_.appPackets.clear();
        UserCallback user;
        const uint16_t setId = clientDelta_.RequestSubdirectory(c.subdirectory, "out", true, serverSide_,
                                                                &user, HIGH_PRIORITY_LEVEL, 0);
        ASSERT_NE(setId, kNoFileListSet);
        ASSERT_TRUE(
            filetest::PumpUntil({&server_, &client_}, [&] { return server_.Got(ID_DIRECTORY_REQUEST); }));
        for (const auto& p : server_.appPackets)
            if (p[0] == ID_DIRECTORY_REQUEST) {
                EXPECT_EQ(SetIdOfRequest(p), setId);
            }

        FileList hostile;
        for (const std::string& name : c.refused)
            hostile.AddEntry(name.c_str(), reinterpret_cast<const uint8_t*>("evil"), 4, 4, 0);
        hostile.AddEntry(c.accepted.c_str(), reinterpret_cast<const uint8_t*>("good"), 4, 4, 0);
        serverTransfer_.Send(hostile, server_.Get(), server_.Remote(), setId, HIGH_PRIORITY_LEVEL, 0, true);
        ASSERT_TRUE(
            filetest::PumpUntil({&server_, &client_}, [&] { return clientTransfer_.ReceiverCount() == 0; }));

        ASSERT_EQ(user.files.size(), c.refused.size() + 1);
        for (size_t i = 0; i < c.refused.size(); ++i) EXPECT_EQ(user.files[i].path, "") << c.refused[i];
        EXPECT_EQ(user.files.back().path, tree_.Path("client/out/") + c.written);
        EXPECT_EQ(ReadFile(user.files.back().path), "good");
    }
    for (const char* outside : {"x", "client/x", "absolute escape", "client/out/x"})
        EXPECT_FALSE(tree_.Exists(outside)) << outside;
}

TEST_F(DirectoryDelta, RefusesTheFileSystemRootAsOutput) {
    UserCallback user;
    for (const char* output : {"/", "/tmp/..", "//", "/./"})
        EXPECT_EQ(clientDelta_.RequestSubdirectory(nullptr, output, false, serverSide_, &user,
                                                   HIGH_PRIORITY_LEVEL, 0),
                  kNoFileListSet)
            << output;
    clientDelta_.SetRootDirectory("/");
    EXPECT_EQ(
        clientDelta_.RequestSubdirectory(nullptr, nullptr, true, serverSide_, &user, HIGH_PRIORITY_LEVEL, 0),
        kNoFileListSet);
    EXPECT_EQ(clientDelta_.RequestSubdirectory(nullptr, "x", true, PlayerID{0x0100007F, 9}, &user,
                                               HIGH_PRIORITY_LEVEL, 0),
              kNoFileListSet);
    EXPECT_EQ(clientTransfer_.ReceiverCount(), 0u);
}

TEST(DeltaTargetPath, MapsOnlyNamesInsideTheRequestedSubdirectory) {
    struct Case {
        const char* output;
        const char* subdirectory;
        const char* name;
        const char* target;  // null: refused
    } cases[] = {
        {"out/", "levels", "levels/a/b.dat", "out/a/b.dat"},
        {"out/", "levels/", "levels/a/b.dat", "out/a/b.dat"},
        {"out/", "Levels", "levels/a", "out/a"},
        {"./", nullptr, "a b/c", "./a b/c"},
        {"./", "", "a", "./a"},
        {"out/", "levels", "levels/", nullptr},
        {"out/", "levels", "levels", nullptr},
        {"out/", "levels", "levelsX/a", nullptr},
        {"out/", "levels", "other/a", nullptr},
        {"out/", "levels", "levels/../a", nullptr},
        {"out/", "levels", "levels\\a", nullptr},
        {"out/", nullptr, "/etc/x", nullptr},
        {"out/", nullptr, "a/../../x", nullptr},
        {"out/", nullptr, "", nullptr},
        {"out/", nullptr, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        std::string target = "stale";
        const bool ok = DeltaTargetPath(c.output, c.subdirectory, c.name, target);
        EXPECT_EQ(ok, c.target != nullptr) << (c.name ? c.name : "null");
        EXPECT_EQ(target, c.target ? c.target : "") << (c.name ? c.name : "null");
    }
}

}  // namespace
