// The announce program: started directly (no shell) from the working directory every 300 s of the
// passes' elapsed time, with the port and the bind address as arguments; every run is collected,
// also when runs overlap, so no zombie stays behind.

#include <sys/stat.h>

#include <sstream>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/server/game_server_fixture.h"

namespace velt::test {
namespace {

// Children of this process: every one, or those that have ended and not been collected.
int Children(bool zombiesOnly) {
    int children = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line)) continue;
        // pid (comm) state ppid ...: the command may hold blanks, so read after its last ')'.
        const size_t close = line.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(line.substr(close + 1));
        char state = 0;
        int ppid = 0;
        rest >> state >> ppid;
        if (ppid == getpid() && (!zombiesOnly || state == 'Z')) ++children;
    }
    return children;
}
int ZombieChildren() { return Children(true); }

class AnnounceTest : public GameServerTest {
protected:
    // A stand-in announce program that notes its arguments, after `delay` seconds.
    void InstallStub(const char* delay = "0") {
        WriteFile("announce",
                  std::string("#!/bin/sh\nsleep ") + delay + "\necho \"$@\" >> announce_runs.txt\n");
        chmod("announce", 0755);
    }
    std::vector<std::string> Runs() const {
        std::vector<std::string> out;
        std::ifstream in("announce_runs.txt");
        for (std::string line; std::getline(in, line);) out.push_back(line);
        return out;
    }
    // Passes of no time until `count` runs have noted themselves and every run has ended and been
    // collected (a zombie is a child too).
    void SettleRuns(size_t count) {
        for (int i = 0; i < 1000 && (Runs().size() < count || Children(false) != 0); ++i) {
            game_->Process(0.0f);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
};

TEST_F(AnnounceTest, RunsAtOnceAndThenEvery300SecondsWithPortAndBind) {
    InstallStub();
    settings_.announce = 1;
    console_->SetStringVariable("bind", "127.0.0.1");
    Start();
    game_->Process(0.0f);  // the first pass announces
    game_->Process(299.5f);
    SettleRuns(1);
    EXPECT_EQ(Runs(), std::vector<std::string>{"8192 127.0.0.1"});
    game_->Process(0.5f);  // 300 s since the first run
    SettleRuns(2);
    EXPECT_EQ(Runs(), (std::vector<std::string>{"8192 127.0.0.1", "8192 127.0.0.1"}));
    EXPECT_EQ(ZombieChildren(), 0);
}

TEST_F(AnnounceTest, OverlappingRunsAreAllCollected) {
    InstallStub("0.3");
    settings_.announce = 1;
    Start();
    for (int i = 0; i < 3; ++i) game_->Process(300.0f);  // three runs while the first still sleeps
    SettleRuns(3);
    EXPECT_EQ(Runs(), (std::vector<std::string>{"8192", "8192", "8192"}));
    EXPECT_EQ(ZombieChildren(), 0);
}

TEST_F(AnnounceTest, NothingRunsWhileSwitchedOffOrWithoutTheProgram) {
    settings_.announce = 1;
    Start();
    game_->Process(300.0f);  // no program in the working directory: nothing to collect
    EXPECT_EQ(ZombieChildren(), 0);
    InstallStub();
    settings_.announce = 0;
    game_->Process(300.0f);
    SettleRuns(0);
    EXPECT_TRUE(Runs().empty());
}

}  // namespace
}  // namespace velt::test
