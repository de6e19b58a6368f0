// The log: where each line goes for every combination of the console's "output" and "timestamp",
// lines from before the console exists, reopening (the header and the SIGUSR1 path), cut lines,
// remote echo, and two threads logging at once.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "server/console/Console.h"
#include "server/console/ConsoleVariables.h"
#include "server/console/Log.h"

namespace velt {
namespace {

namespace fs = std::filesystem;

void EnterScratchDir() {
    static bool done = false;
    if (done) return;
    // Beside the binary, wherever the program is started from.
    fs::path dir = fs::canonical("/proc/self/exe").parent_path() / "log_test_tmp";
    fs::remove_all(dir);
    fs::create_directories(dir);
    ASSERT_EQ(::chdir(dir.c_str()), 0);
    done = true;
}

std::string ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream ss(text);
    std::string line;
    while (std::getline(ss, line)) lines.push_back(line);
    return lines;
}

const std::string kLoadedHeader = "\n----------\nLoaded log file: \"server_log.txt\".\n----------\n";
const std::string kReloadedHeader = "\n----------\nReloaded log file: \"server_log.txt\".\n----------\n";
const char* kStampPattern = R"(\[\d\d:\d\d:\d\d\] )";

class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnterScratchDir();
        CloseLogFile();
        fs::remove_all(kLogFileName);
    }
    void TearDown() override {
        CloseLogFile();
        SetLogSinks(nullptr, nullptr);
        RconAdminId = kNoRconAdmin;
        RconQueryActive = false;
    }
};

TEST_F(LogTest, LinesBeforeTheConsoleGoToTheFileOnlyWithoutPrefix) {
    testing::internal::CaptureStdout();
    OpenLogFile();
    LogPrintf("early %d", 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(ReadFile(kLogFileName), kLoadedHeader + "early 1\n");

    // Once the console is gone again (shutdown) the same holds.
    {
        Console console;
        ServerSettings settings;
        RegisterServerVariables(console, settings);
        console.Execute("output 1");
    }
    testing::internal::CaptureStdout();
    LogPrintf("late");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(ReadFile(kLogFileName), kLoadedHeader + "early 1\nlate\n");
}

TEST_F(LogTest, OutputAndTimestampMatrix) {
    struct Case {
        int output;
        int timestamp;
        std::string stdoutText;
        std::string fileLine;  // regex
    } cases[] = {
        {0, 0, "", "hello 42"},
        {1, 0, "hello 42\n", "hello 42"},
        {0, 1, "", std::string(kStampPattern) + "hello 42"},
        {1, 1, "hello 42\n", std::string(kStampPattern) + "hello 42"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("output " + std::to_string(c.output) + " timestamp " + std::to_string(c.timestamp));
        CloseLogFile();
        fs::remove(kLogFileName);
        Console console;
        ServerSettings settings;
        RegisterServerVariables(console, settings);
        console.Execute(("output " + std::to_string(c.output)).c_str());
        console.Execute(("timestamp " + std::to_string(c.timestamp)).c_str());
        OpenLogFile();

        testing::internal::CaptureStdout();
        LogPrintf("hello %d", 42);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.stdoutText);
        std::vector<std::string> lines = SplitLines(ReadFile(kLogFileName));
        ASSERT_FALSE(lines.empty());
        EXPECT_TRUE(std::regex_match(lines.back(), std::regex(c.fileLine))) << lines.back();
    }
}

TEST_F(LogTest, TimeFormatComesFromTheConsole) {
    Console console;
    ServerSettings settings;
    RegisterServerVariables(console, settings);
    console.Execute("logtimeformat <%Y>");
    OpenLogFile();
    LogPrintf("stamped");
    std::vector<std::string> lines = SplitLines(ReadFile(kLogFileName));
    EXPECT_TRUE(std::regex_match(lines.back(), std::regex(R"(<\d{4}> stamped)"))) << lines.back();
}

TEST_F(LogTest, ReopenStartsTheNewFileWithTheReloadHeader) {
    OpenLogFile();
    LogPrintf("before");
    // What a log rotation does before it signals the server.
    fs::rename(kLogFileName, "old_log.txt");
    EXPECT_FALSE(ReopenLogIfRequested());
    RequestLogReopen();
    EXPECT_TRUE(ReopenLogIfRequested());
    EXPECT_FALSE(ReopenLogIfRequested());  // one request, one reopen
    LogPrintf("after");
    EXPECT_EQ(ReadFile("old_log.txt"), kLoadedHeader + "before\n");
    EXPECT_EQ(ReadFile(kLogFileName), kReloadedHeader + "after\n");

    // The console command takes the same road.
    Console console;
    console.Execute("reloadlog");
    EXPECT_EQ(ReadFile(kLogFileName), kReloadedHeader + "after\n" + kReloadedHeader);
}

TEST_F(LogTest, FailedOpenIsReportedOnStandardOutputAndLoggingGoesOn) {
    fs::create_directory(kLogFileName);  // a directory cannot be opened for appending
    Console console;
    ServerSettings settings;
    RegisterServerVariables(console, settings);
    console.Execute("output 1");
    testing::internal::CaptureStdout();
    OpenLogFile();
    LogPrintf("still here");
    LogPrintfFileOnly("nowhere");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Failed to load log file: \"server_log.txt\".\nstill here\n");
    fs::remove(kLogFileName);
}

TEST_F(LogTest, LongLinesAreCutAndFileOnlyLinesHaveNoPrefix) {
    Console console;
    ServerSettings settings;
    RegisterServerVariables(console, settings);  // timestamp is on by default
    LogPrintfFileOnly("not open yet");
    OpenLogFile();
    LogPrintf("%s", std::string(5000, 'x').c_str());
    LogPrintfFileOnly("bare %s", "line");
    std::vector<std::string> lines = SplitLines(ReadFile(kLogFileName));
    ASSERT_GE(lines.size(), 2u);
    std::string cut = lines[lines.size() - 2];
    EXPECT_TRUE(std::regex_match(cut, std::regex(std::string(kStampPattern) + "x{2047}"))) << cut.size();
    EXPECT_EQ(lines.back(), "bare line");
    EXPECT_EQ(ReadFile(kLogFileName).find("not open yet"), std::string::npos);
}

TEST_F(LogTest, FileIsTheOwnersAlone) {
    // "varlist" writes the remote-console password into the log: whatever the umask allows.
    const mode_t saved = ::umask(0);
    OpenLogFile();
    ::umask(saved);
    struct stat st {};
    ASSERT_EQ(::stat(kLogFileName, &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// A refused start must reach an operator who left "output" off: standard error, once, also when
// standard output and standard error are the same terminal.
TEST_F(LogTest, ErrorsReachStandardErrorOnce) {
    Console console;
    ServerSettings settings;
    RegisterServerVariables(console, settings);
    console.Execute("timestamp 0");
    OpenLogFile();
    for (int output : {0, 1}) {
        SCOPED_TRACE(output);
        console.Execute(("output " + std::to_string(output)).c_str());
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        LogError("refused %d", output);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "refused " + std::to_string(output) + "\n");
        EXPECT_EQ(testing::internal::GetCapturedStdout(), output ? "refused 1\n" : "");
    }
    EXPECT_EQ(ReadFile(kLogFileName), kLoadedHeader + "refused 0\nrefused 1\n");

    // One file behind both: the line is there once.
    const int shared = ::open("both.txt", O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_NE(shared, -1);
    const int savedOut = ::dup(STDOUT_FILENO);
    const int savedErr = ::dup(STDERR_FILENO);
    ::dup2(shared, STDOUT_FILENO);
    ::dup2(shared, STDERR_FILENO);
    LogError("shown once");
    ::dup2(savedOut, STDOUT_FILENO);
    ::dup2(savedErr, STDERR_FILENO);
    for (int fd : {shared, savedOut, savedErr}) ::close(fd);
    EXPECT_EQ(ReadFile("both.txt"), "shown once\n");
}

std::vector<std::string> g_echo;
void AdminEcho(uint16_t id, const char* line) { g_echo.push_back("admin" + std::to_string(id) + ":" + line); }
void RconEcho(const char* line) {
    g_echo.push_back(std::string("rcon:") + line);
    LogPrintf("echoing must not loop: %s", line);
}

TEST_F(LogTest, RemoteEchoFollowsTheCommandThatRunsOnThisThread) {
    g_echo.clear();
    SetLogSinks(&AdminEcho, &RconEcho);
    LogPrintf("no command running");
    RconQueryActive = true;
    LogPrintf("to %s", "rcon");
    RconAdminId = 4;
    LogPrintf("to admin");  // the in-game admin wins over a query
    // A line from another thread (a transport warning) is not part of the command's output.
    std::thread([] { LogPrintf("network thread"); }).join();
    RconAdminId = kNoRconAdmin;
    RconQueryActive = false;
    LogPrintf("done");
    EXPECT_EQ(g_echo, (std::vector<std::string>{"rcon:to rcon", "admin4:to admin"}));
}

TEST_F(LogTest, TwoThreadsLoseNoLineAndNeverInterleave) {
    Console console;
    ServerSettings settings;
    RegisterServerVariables(console, settings);
    OpenLogFile();
    constexpr int kPerThread = 2000;
    std::atomic<bool> go{false};
    auto writer = [&](int t) {
        while (!go.load()) std::this_thread::yield();
        for (int i = 0; i < kPerThread; ++i) LogPrintf("t%d-%05d-%s", t, i, "payload payload payload");
    };
    std::thread a(writer, 0), b(writer, 1);
    go = true;
    // Reopen requests served meanwhile, as the main loop would after SIGUSR1.
    for (int i = 0; i < 5; ++i) {
        RequestLogReopen();
        ReopenLogIfRequested();
        std::this_thread::yield();
    }
    a.join();
    b.join();

    std::map<std::string, int> seen;
    for (const std::string& raw : SplitLines(ReadFile(kLogFileName))) {
        // "[hh:mm:ss] " prefix, then either a header line or one writer's whole line.
        ASSERT_TRUE(raw.size() >= 11 && raw[0] == '[' && raw[9] == ']' && raw[10] == ' ') << raw;
        std::string line = raw.substr(11);
        if (line.empty() || line == "----------" || line.find("log file") != std::string::npos) continue;
        ASSERT_EQ(line.size(), 32u) << raw;
        ASSERT_TRUE(line.compare(0, 3, "t0-") == 0 || line.compare(0, 3, "t1-") == 0) << raw;
        ASSERT_EQ(line.substr(8), "-payload payload payload") << raw;
        ++seen[line];
    }
    EXPECT_EQ(seen.size(), 2u * kPerThread);
    for (const auto& [line, count] : seen) EXPECT_EQ(count, 1) << line;
}

}  // namespace
}  // namespace velt
