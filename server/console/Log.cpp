#include "server/console/Log.h"

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

// Everything below is guarded by g_logMutex.
std::mutex g_logMutex;
FILE* g_logFile = nullptr;
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

// Standard output and file, with g_logMutex held.
void WriteLocked(const char* line) {
    if (g_console != nullptr && g_output) {
        std::fputs(line, stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    if (g_logFile == nullptr) return;
    if (g_console != nullptr && g_timestamp) {
        char stamp[kLogTimeSize];
        std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        // The format comes from the configuration; strftime takes no arguments from it, and a
        // result that does not fit (return 0) leaves an empty prefix instead of stale bytes.
        if (std::strftime(stamp, sizeof stamp, g_timeFormat.c_str(), &local) == 0) stamp[0] = '\0';
        std::fprintf(g_logFile, "%s %s\n", stamp, line);
    } else {
        std::fprintf(g_logFile, "%s\n", line);
    }
    std::fflush(g_logFile);
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
    // vsnprintf cuts an over-long line at kLogLineSize - 1 characters.
    int n = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n < 0) line[0] = '\0';
    EmitLine(line);
}

void LogPrintfFileOnly(const char* format, ...) {
    char line[kLogLineSize];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n < 0) line[0] = '\0';
    std::lock_guard<std::mutex> lock(g_logMutex);
    if (g_logFile == nullptr) return;
    std::fprintf(g_logFile, "%s\n", line);
    std::fflush(g_logFile);
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
        if (g_logFile != nullptr) {
            std::fclose(g_logFile);
            g_logFile = nullptr;
            reload = true;
        }
        // "e": close-on-exec, so the bots and helper programs the server starts do not inherit it.
        g_logFile = std::fopen(kLogFileName, "ae");
        opened = g_logFile != nullptr;
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
    if (g_logFile != nullptr) {
        std::fclose(g_logFile);
        g_logFile = nullptr;
    }
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
