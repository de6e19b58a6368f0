// Starting a bot: which requests are refused, the argument vector handed to the program, and a
// real start of a stand-in program that notes its arguments and is reaped after it ends.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "server/game/NpcLauncher.h"

namespace velt {
namespace {

NpcLaunchRequest Request(std::string name, std::string script) {
    NpcLaunchRequest r;
    r.name = std::move(name);
    r.script = std::move(script);
    r.port = 8192;
    r.directory = "/srv/game";
    return r;
}

TEST(NpcLauncher, RefusesWhatCouldNotBeMeant) {
    struct Case {
        const char* what;
        NpcLaunchRequest request;
        NpcLaunchStatus status;
    };
    NpcLaunchRequest controlInPassword = Request("Bob", "drive");
    controlInPassword.password = "pa\x1bss";
    NpcLaunchRequest controlInBind = Request("Bob", "drive");
    controlInBind.bind = "127.0.0.1\n";
    NpcLaunchRequest longBind = Request("Bob", "drive");
    longBind.bind = std::string(256, 'a');
    NpcLaunchRequest longDirectory = Request("Bob", "drive");
    longDirectory.directory = "/" + std::string(260, 'd');
    const Case cases[] = {
        {"empty name", Request("", "drive"), NpcLaunchStatus::Empty},
        {"empty script", Request("Bob", ""), NpcLaunchStatus::Empty},
        {"shell separator in the name", Request("x;rm -rf ~", "drive"), NpcLaunchStatus::BadCharacter},
        {"newline in the name", Request("Bob\nrm", "drive"), NpcLaunchStatus::BadCharacter},
        {"option mark in the name", Request("Bob-1", "drive"), NpcLaunchStatus::BadCharacter},
        {"control character in the script", Request("Bob", "dr\tive"), NpcLaunchStatus::BadCharacter},
        {"control character in the password", controlInPassword, NpcLaunchStatus::BadCharacter},
        {"control character in the bind text", controlInBind, NpcLaunchStatus::BadCharacter},
        {"bind text beyond 255", longBind, NpcLaunchStatus::TooLong},
        {"directory beyond 260", longDirectory, NpcLaunchStatus::TooLong},
        {"arguments beyond 511", Request("Bob", std::string(500, 's')), NpcLaunchStatus::TooLong},
    };
    for (const Case& c : cases) {
        NpcLaunch launch;
        EXPECT_EQ(BuildNpcLaunch(c.request, launch), c.status) << c.what;
        EXPECT_TRUE(launch.argv.empty()) << c.what;
    }
}

TEST(NpcLauncher, BuildsTheArgumentVector) {
    NpcLaunch launch;
    ASSERT_EQ(BuildNpcLaunch(Request("Bob", "drive"), launch), NpcLaunchStatus::Ok);
    EXPECT_EQ(launch.program, "/srv/game/velt-npc");
    EXPECT_EQ(launch.argv, (std::vector<std::string>{"velt-npc", "-h", "127.0.0.1", "-p", "8192", "-n", "Bob",
                                                     "-m", "drive"}));

    NpcLaunchRequest bound = Request("Bob", "drive");
    bound.bind = "10.0.0.7";
    bound.password = "secret";
    ASSERT_EQ(BuildNpcLaunch(bound, launch), NpcLaunchStatus::Ok);
    EXPECT_EQ(launch.argv, (std::vector<std::string>{"velt-npc", "-h", "10.0.0.7", "-p", "8192", "-n", "Bob",
                                                     "-m", "drive", "-z", "secret"}));
}

TEST(NpcLauncher, LimitsSitAtTheirBoundaries) {
    // "-h 127.0.0.1 -p 8192 -n Bob -m " is 31 characters: a script of 480 makes 511 exactly.
    NpcLaunchRequest request = Request("Bob", std::string(480, 's'));
    request.directory = "/d";
    NpcLaunch launch;
    EXPECT_EQ(BuildNpcLaunch(request, launch), NpcLaunchStatus::Ok);
    request.script += 's';
    EXPECT_EQ(BuildNpcLaunch(request, launch), NpcLaunchStatus::TooLong);
    // Within its own limits, the directory can still make the whole command too long.
    request.script.pop_back();
    request.directory = "/" + std::string(10, 'd');
    EXPECT_EQ(BuildNpcLaunch(request, launch), NpcLaunchStatus::TooLong);
}

std::string ReadWhenPresent(const std::string& path) {
    for (int i = 0; i < 500; ++i) {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        if (text.str().find("end\n") != std::string::npos) return text.str();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return {};
}

TEST(NpcLauncher, StartsTheProgramWithoutAShellAndReapsIt) {
    char dir[] = "/tmp/velt_npc_launch_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string program = std::string(dir) + "/velt-npc";
    {
        std::ofstream script(program);
        script << "#!/bin/sh\nfor a in \"$@\"; do echo \"[$a]\"; done > \"$(dirname \"$0\")/args.txt.tmp\"\n"
                  "echo end >> \"$(dirname \"$0\")/args.txt.tmp\"\n"
                  "mv \"$(dirname \"$0\")/args.txt.tmp\" \"$(dirname \"$0\")/args.txt\"\n";
    }
    ASSERT_EQ(chmod(program.c_str(), 0755), 0);
    NpcLaunchRequest request = Request("Bob", "walk $(touch pwned)");
    request.directory = dir;
    NpcLaunch launch;
    ASSERT_EQ(BuildNpcLaunch(request, launch), NpcLaunchStatus::Ok);
    const pid_t pid = SpawnNpc(launch);
    ASSERT_GT(pid, 0);
    EXPECT_EQ(ReadWhenPresent(std::string(dir) + "/args.txt"),
              "[-h]\n[127.0.0.1]\n[-p]\n[8192]\n[-n]\n[Bob]\n[-m]\n[walk $(touch pwned)]\nend\n");
    struct stat st {};
    EXPECT_NE(stat((std::string(dir) + "/pwned").c_str(), &st), 0);
    // Reaped by the launcher: once it is gone the id no longer names a child of ours.
    bool reaped = false;
    for (int i = 0; i < 500 && !reaped; ++i) {
        reaped = kill(pid, 0) != 0 && errno == ESRCH;
        if (!reaped) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(reaped);

    launch.program = std::string(dir) + "/missing";
    EXPECT_EQ(SpawnNpc(launch), -1);
    std::system((std::string("rm -rf ") + dir).c_str());
}

}  // namespace
}  // namespace velt
