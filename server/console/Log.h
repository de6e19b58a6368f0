#pragma once

#include <cstddef>
#include <cstdint>

namespace velt {

inline constexpr const char* kLogFileName = "server_log.txt";
// One formatted line, terminator included; longer output is cut, never written past the buffer.
inline constexpr size_t kLogLineSize = 2048;
inline constexpr size_t kLogTimeSize = 256;
inline constexpr uint16_t kNoRconAdmin = 0xFFFF;

// The one log function of the server. Safe from any thread: each call formats into its own
// buffer and writes its line whole under the log lock. Text from players, scripts or the network
// must be an argument ("%s"), never the format.
void LogPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A line that tells an operator why the server cannot go on (a refused start): logged like any
// line, and written to standard error too, unless it just went to standard output and that is
// the same file. With "output" off by default, the log alone would leave a failed start silent.
void LogError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "%s\n" of the formatted text to the log file alone, no time prefix; nothing while no file is open.
void LogPrintfFileOnly(const char* format, ...) __attribute__((format(printf, 1, 2)));

// (Re)opens "server_log.txt" for appending and writes the load/reload header into it.
void OpenLogFile();
// Shutdown: closes the file; later lines still reach standard output when it is switched on.
void CloseLogFile();

// Appends `length` bytes as they are to the open log file, without the lock, formatting or time
// prefix: async-signal-safe (one write(2)), for a signal handler that ends the process. Every
// other line is written whole by the time LogPrintf returns, so the log needs no flush first.
void WriteRawLogLine(const char* line, size_t length);

// Signal side of a reopen: only marks it (async-signal-safe). The main loop calls
// ReopenLogIfRequested once per pass, which does the reopen on a normal thread; returns true when
// it reopened.
void RequestLogReopen();
bool ReopenLogIfRequested();

// Remote echo of log lines while a remote command runs. Per thread: only lines produced by the
// thread that runs the command (the main thread) are echoed, never a network-thread warning that
// happens to be logged at the same time.
extern thread_local uint16_t RconAdminId;  // in-game admin whose command runs; kNoRconAdmin when none
extern thread_local bool RconQueryActive;  // a remote-console query's command runs

// Where echoed lines go: the game server's white client message to the admin, and the query
// handler's reply datagram. Installed by their owners; null sinks drop the echo.
using LogAdminSink = void (*)(uint16_t playerId, const char* line);
using LogRconSink = void (*)(const char* line);
void SetLogSinks(LogAdminSink admin, LogRconSink rcon);

// The console's logging settings as the logger sees them. The console publishes a copy whenever
// "output", "timestamp" or "logtimeformat" change (see ConsoleVariables), so a line logged on the
// network thread never reads a console variable while the main thread changes it. Until a console
// attaches, or after it detaches, lines go to the file without prefix and not to standard output.
void LogAttachConsole(const void* console, bool output, bool timestamp, const char* timeFormat);
void LogDetachConsole(const void* console);

}  // namespace velt
