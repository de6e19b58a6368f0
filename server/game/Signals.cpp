#include "server/game/Signals.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>

#include "server/console/Console.h"
#include "server/console/Log.h"

namespace velt {

namespace {

std::atomic<bool> g_banReloadRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");
static_assert(std::atomic<int>::is_always_lock_free, "ExitRequested is set from a signal handler");

extern "C" void HandleSignal(int signal) { OnSignal(signal); }

// The main loop takes a stop request only between two passes; a script caught in an endless loop
// holds the pass for ever. A second stop request is the operator insisting: end at once. Only
// async-signal-safe calls here: two write(2) and _exit. Every log line is written whole, with one
// write(2), before LogPrintf returns, so the log holds everything up to this point without a flush.
void ForceExit() {
    static constexpr char kNotice[] =
        "Forced exit: a second stop signal came before the server could shut down.\n";
    WriteRawLogLine(kNotice, sizeof kNotice - 1);
    ssize_t ignored = ::write(STDERR_FILENO, kNotice, sizeof kNotice - 1);
    (void)ignored;
    _exit(1);
}

}  // namespace

void OnSignal(int signal) {
    switch (signal) {
        case SIGINT:
        case SIGTERM:
            if (ExitRequested.exchange(1) != 0) ForceExit();
            break;
        case SIGUSR1: RequestLogReopen(); break;
        case SIGUSR2: g_banReloadRequested.store(true); break;
        default: break;
    }
}

void InstallSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = HandleSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    for (int signal : {SIGTERM, SIGQUIT, SIGINT, SIGUSR1, SIGUSR2}) sigaction(signal, &action, nullptr);

    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

bool TakeBanReloadRequest() { return g_banReloadRequested.exchange(false); }

}  // namespace velt
