// Console library against a pseudo-terminal: standard input and output of the test process are
// the terminal's slave side while a test runs; the test types keys on the master side and reads
// back what the natives wrote.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/vm/lib_fixture.h"

namespace velt::libtest {
namespace {

std::vector<cell> g_keys;  // what @keypressed received

cell n_Got(VmInstance* vm, const cell*) {
    cell* frame = nullptr;
    if (vm_GetAddrRange(vm, vm->frame + 12, 4, &frame) == VM_ERR_NONE) g_keys.push_back(*frame);
    return 0;
}

const VmNativeEntry kGot[] = {{"Got", n_Got}, {nullptr, nullptr}};

// Standard input and output on a fresh pseudo-terminal in raw mode, until destruction.
class Terminal {
public:
    Terminal() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
        slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY);
        if (slave_ < 0) return;
        termios t{};
        tcgetattr(slave_, &t);
        cfmakeraw(&t);
        tcsetattr(slave_, TCSANOW, &t);
        std::fflush(stdout);
        savedIn_ = dup(STDIN_FILENO);
        savedOut_ = dup(STDOUT_FILENO);
        dup2(slave_, STDIN_FILENO);
        dup2(slave_, STDOUT_FILENO);
    }
    ~Terminal() {
        std::fflush(stdout);
        if (savedIn_ >= 0) dup2(savedIn_, STDIN_FILENO);
        if (savedOut_ >= 0) dup2(savedOut_, STDOUT_FILENO);
        for (int fd : {savedIn_, savedOut_, slave_, master_})
            if (fd >= 0) close(fd);
    }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    bool Ready() const { return savedOut_ >= 0; }
    void Type(const std::string& keys) { (void)!write(master_, keys.data(), keys.size()); }
    // Everything written since the last call.
    std::string Output() {
        std::fflush(stdout);
        std::string out;
        char buf[512];
        pollfd p{master_, POLLIN, 0};
        while (poll(&p, 1, 50) == 1) {
            const ssize_t n = read(master_, buf, sizeof buf);
            if (n <= 0) break;
            out.append(buf, static_cast<size_t>(n));
        }
        return out;
    }
    // Drops keys typed and not read.
    void Discard() { tcflush(slave_, TCIFLUSH); }

private:
    int master_ = -1;
    int slave_ = -1;
    int savedIn_ = -1;
    int savedOut_ = -1;
};

class ConsoleLib : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(s.loadError, VM_ERR_NONE);
        vm_Register(&s.vm, kGot, -1);
        ASSERT_EQ(s.attach({vm_AttachConsoleLib}), VM_ERR_NONE);
        g_keys.clear();
    }
    void TearDown() override { vm_DetachConsoleLib(&s.vm); }
    Script s{"lib_console"};
};

// Assertions run after the terminal is gone, so that their messages reach the real output.
struct Seen {
    cell value;
    std::string text;
    std::string output;
};

TEST_F(ConsoleLib, ReadsKeysLinesAndNumbers) {
    std::vector<Seen> seen;
    {
        Terminal term;
        ASSERT_TRUE(term.Ready());
        auto run = [&](const std::string& keys, const char* native, std::vector<cell> args,
                       cell textAt = -1) {
            term.Type(keys);
            const cell v = s.call(native, std::move(args)).value;
            seen.push_back({v, textAt >= 0 ? s.text(textAt) : "", term.Output()});
            term.Discard();
        };
        run("a", "getchar", {1});
        run("b", "getchar", {0});
        const cell line = s.unpacked("", 16);
        run("hello\nrest", "getstring", {line, 16, 0}, line);
        const cell packed = s.alloc({0, 0, 0});
        run("abcdefghij\n", "getstring", {packed, 2, 1}, packed);
        const cell cr = s.alloc({'\r'});
        run("-12\r", "getvalue", {10, cr});
        run("ff\n", "getvalue", {16, cr});
        run("12\b3\r", "getvalue", {10, cr});
        run("7x9\r", "getvalue", {10, cr});
        run("zz\r", "getvalue", {36, cr});
        run("12\r", "getvalue", {40, cr});
    }
    const std::vector<std::pair<cell, std::string>> want = {
        {'a', "a"}, {'b', ""}, {5, "hello\n"}, {7, "abcdefg\n"}, {-12, ""},
        {255, ""},  {13, ""},  {7, ""},        {1295, ""},       {0, ""},
    };
    ASSERT_EQ(seen.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(seen[i].value, want[i].first) << i;
        EXPECT_EQ(seen[i].output, want[i].second) << i;
    }
    EXPECT_EQ(seen[2].text, "hello");
    EXPECT_EQ(seen[3].text, "abcdefg");
}

TEST_F(ConsoleLib, WritesTextAndControlSequences) {
    std::vector<std::string> out;
    cell x = 0;
    cell y = 0;
    {
        Terminal term;
        ASSERT_TRUE(term.Ready());
        auto run = [&](const char* native, std::vector<cell> args) {
            s.call(native, std::move(args));
            out.push_back(term.Output());
        };
        const cell a = s.alloc({42});
        const cell b = s.alloc({7});
        const cell h = s.alloc({255});
        const cell z = s.alloc({'Z'});
        const cell str = s.unpacked("hey");
        run("printf", {s.unpacked("%d|%5d|%+d|%x|%c|%s|%.2s|%%|%f|%q"), a, a, b, h, z, str, str, a, a});
        run("printf", {s.packed("packed %d\n"), b});
        run("print", {s.unpacked("hi"), 1, 2, 1});
        run("setattr", {3, -1, -1});
        run("print", {s.unpacked("x")});
        run("clrscr", {});
        run("clreol", {});
        run("gotoxy", {5, 3});
        run("console", {80, 25});
        run("consctrl", {1, 1});
        run("consctrl", {1, 0});
        run("consctrl", {2, 1});
        const cell where = s.alloc({0, 0});
        term.Type("\33[12;34R");
        run("wherexy", {where, where + 4});
        const std::vector<cell> xy = s.read(where, 2);
        x = xy[0];
        y = xy[1];
    }
    EXPECT_EQ(out, (std::vector<std::string>{
                       "42|   42|+7|ff|Z|hey|he|%|(no rational number support)|(no rational number support)",
                       "packed 7\n",
                       "\33[31m\33[42m\33[1mhi",
                       "\33[33m",
                       "x\33[33m",
                       "\33[2J",
                       "\33[K",
                       "\33[3;5H",
                       "\33[8;25;80t",
                       "\33[?7h",
                       "\33[?7l",
                       "",
                       "\33[6n",
                   }));
    EXPECT_EQ(x, 34);
    EXPECT_EQ(y, 12);
}

TEST_F(ConsoleLib, IdleHookHandsAWaitingKeyToKeyPressed) {
    int first = -1;
    int second = -1;
    {
        Terminal term;
        ASSERT_TRUE(term.Ready());
        first = vm_ConsoleIdle(&s.vm);  // nothing typed: nothing runs
        term.Type("k");
        second = vm_ConsoleIdle(&s.vm);
    }
    EXPECT_EQ(first, VM_ERR_NONE);
    EXPECT_EQ(second, VM_ERR_NONE);
    EXPECT_EQ(g_keys, (std::vector<cell>{'k'}));
}

TEST_F(ConsoleLib, WithoutATerminalNoKeyIsRead) {
    std::fflush(stdout);
    const int saved = dup(STDIN_FILENO);
    const int null = open("/dev/null", O_RDONLY);
    dup2(null, STDIN_FILENO);
    const cell key = s.call("getchar", {1}).value;
    const int idle = vm_ConsoleIdle(&s.vm);
    dup2(saved, STDIN_FILENO);
    close(saved);
    close(null);
    EXPECT_EQ(key, -1);
    EXPECT_EQ(idle, VM_ERR_NONE);
    EXPECT_TRUE(g_keys.empty());
}

}  // namespace
}  // namespace velt::libtest
