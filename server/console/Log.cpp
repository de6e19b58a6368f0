#include "server/console/Log.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

namespace velt {

thread_local uint16_t RconAdminId = kNoRconAdmin;
thread_local bool RconQueryActive = false;

namespace {

// Everything below is guarded by g_logMutex. The descriptor is also read, without the lock, by
// the forced-exit path of a signal handler, hence an atomic.
std::mutex g_logMutex;
std::atomic<int> g_logFd{-1};
static_assert(std::atomic<int>::is_always_lock_free, "the log descriptor is read in a signal handler");
const void* g_console = nullptr;
bool g_output = false;
bool g_timestamp = false;
std::string g_timeFormat;

std::atomic<LogAdminSink> g_adminSink{nullptr};
std::atomic<LogRconSink> g_rconSink{nullptr};
std::atomic<bool> g_reopenRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the reopen request is set from a signal handler");

// A sink that logs again must not be echoed back into itself.
thread_local bool t_echoing = false;

// Time prefix, line and newline: room for the longest of each.
constexpr size_t kLogRecordSize = kLogTimeSize + 1 + kLogLineSize + 1;

// Lines go out with one write(2) each, never through a stdio buffer: nothing a line left half
// written can be lost when the process ends without running its destructors, and a forced exit
// from a signal handler finds the log complete.
void WriteAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        ssize_t n = ::write(fd, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        data += n;
        length -= size_t(n);
    }
}

void WriteLine(int fd, const char* prefix, const char* line) {
    char record[kLogRecordSize];
    int n = std::snprintf(record, sizeof record, "%s%s\n", prefix, line);
    if (n < 0) return;
    WriteAll(fd, record, std::min(size_t(n), sizeof record - 1));
}

// Standard output and file, with g_logMutex held.
void WriteLocked(const char* line) {
    if (g_console != nullptr && g_output) WriteLine(STDOUT_FILENO, "", line);
    const int fd = g_logFd.load(std::memory_order_relaxed);
    if (fd == -1) return;
    if (g_console != nullptr && g_timestamp) {
        char stamp[kLogTimeSize + 1];
        std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        // The format comes from the configuration; strftime takes no arguments from it, and a
        // result that does not fit (return 0) leaves an empty prefix instead of stale bytes.
        size_t length = std::strftime(stamp, kLogTimeSize, g_timeFormat.c_str(), &local);
        stamp[length] = ' ';
        stamp[length + 1] = '\0';
        WriteLine(fd, stamp, line);
    } else {
        WriteLine(fd, "", line);
    }
}

// Whether standard output and standard error lead to the same file (a terminal, one log of a
// service manager), so that a line already on standard output is not shown twice.
bool StderrIsStdout() {
    struct stat out {};
    struct stat err {};
    if (::fstat(STDOUT_FILENO, &out) != 0 || ::fstat(STDERR_FILENO, &err) != 0) return false;
    return out.st_dev == err.st_dev && out.st_ino == err.st_ino;
}

// Remote echo runs without the lock: the sinks send network messages and may log themselves.
void Echo(const char* line) {
    if (t_echoing) return;
    if (RconAdminId != kNoRconAdmin) {
        if (LogAdminSink sink = g_adminSink.load(std::memory_order_acquire)) {
            t_echoing = true;
            sink(RconAdminId, line);
            t_echoing = false;
        }
    } else if (RconQueryActive) {
        if (LogRconSink sink = g_rconSink.load(std::memory_order_acquire)) {
            t_echoing = true;
            sink(line);
            t_echoing = false;
        }
    }
}

// vsnprintf cuts an over-long line at kLogLineSize - 1 characters; a format it cannot use gives
// an empty line rather than stale bytes.
void FormatLine(char (&line)[kLogLineSize], const char* format, va_list args) {
    if (std::vsnprintf(line, sizeof line, format, args) < 0) line[0] = '\0';
}

void EmitLine(const char* line) {
    {
        std::lock_guard<std::mutex> lock(g_logMutex);
        WriteLocked(line);
    }
    Echo(line);
}

}  // namespace

void LogPrintf(const char* format, ...) {
    char line[kLogLineSize];
    va_list args;
    va_start(args, format);
    FormatLine(line, format, args);
    va_end(args);
    EmitLine(line);
}

void LogError(const char* format, ...) {
    char line[kLogLineSize];
    va_list args;
    va_start(args, format);
    FormatLine(line, format, args);
    va_end(args);
    bool shownOnStdout;
    {
        std::lock_guard<std::mutex> lock(g_logMutex);
        WriteLocked(line);
        shownOnStdout = g_console != nullptr && g_output;
    }
    if (!shownOnStdout || !StderrIsStdout()) WriteLine(STDERR_FILENO, "", line);
    Echo(line);
}

void LogPrintfFileOnly(const char* format, ...) {
    char line[kLogLineSize];
    va_list args;
    va_start(args, format);
    FormatLine(line, format, args);
    va_end(args);
    std::lock_guard<std::mutex> lock(g_logMutex);
    const int fd = g_logFd.load(std::memory_order_relaxed);
    if (fd != -1) WriteLine(fd, "", line);
}

void OpenLogFile() {
    static constexpr const char* kRule = "----------";
    const char* header[4] = {"", kRule, nullptr, kRule};
    bool opened;
    {
        // The header is written under the same lock as the open, so it is the first thing in a
        // reopened file even while other threads log.
        std::lock_guard<std::mutex> lock(g_logMutex);
        bool reload = false;
        const int old = g_logFd.exchange(-1);
        if (old != -1) {
            ::close(old);
            reload = true;
        }
        // Readable by the owner alone: "varlist" writes the remote-console password into it.
        // Close-on-exec, so the bots and helper programs the server starts do not inherit it.
        const int fd = ::open(kLogFileName, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        g_logFd.store(fd);
        opened = fd != -1;
        header[2] =
            reload ? "Reloaded log file: \"server_log.txt\"." : "Loaded log file: \"server_log.txt\".";
        if (opened) {
            for (const char* line : header) WriteLocked(line);
        }
    }
    if (opened) {
        for (const char* line : header) Echo(line);
    } else {
        LogPrintf("Failed to load log file: \"%s\".", kLogFileName);
    }
}

void CloseLogFile() {
    std::lock_guard<std::mutex> lock(g_logMutex);
    const int fd = g_logFd.exchange(-1);
    if (fd != -1) ::close(fd);
}

void WriteRawLogLine(const char* line, size_t length) {
    const int fd = g_logFd.load(std::memory_order_relaxed);
    if (fd != -1) WriteAll(fd, line, length);
}

void RequestLogReopen() { g_reopenRequested.store(true, std::memory_order_relaxed); }

bool ReopenLogIfRequested() {
    if (!g_reopenRequested.exchange(false, std::memory_order_relaxed)) return false;
    OpenLogFile();
    return true;
}

void SetLogSinks(LogAdminSink admin, LogRconSink rcon) {
    g_adminSink.store(admin, std::memory_order_release);
    g_rconSink.store(rcon, std::memory_order_release);
}

void LogAttachConsole(const void* console, bool output, bool timestamp, const char* timeFormat) {
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_console = console;
    g_output = output;
    g_timestamp = timestamp;
    g_timeFormat = timeFormat != nullptr ? timeFormat : "";
}

void LogDetachConsole(const void* console) {
    std::lock_guard<std::mutex> lock(g_logMutex);
    if (g_console != console) return;
    g_console = nullptr;
    g_output = false;
    g_timestamp = false;
    g_timeFormat.clear();
}

}  // namespace velt
