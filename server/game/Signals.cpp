#include "server/game/Signals.h"

#include <signal.h>

#include <atomic>

#include "server/console/Console.h"
#include "server/console/Log.h"

namespace velt {

namespace {

std::atomic<bool> g_banReloadRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");
static_assert(std::atomic<int>::is_always_lock_free, "ExitRequested is set from a signal handler");

extern "C" void HandleSignal(int signal) { OnSignal(signal); }

}  // namespace

void OnSignal(int signal) {
    switch (signal) {
        case SIGINT:
        case SIGTERM: ExitRequested.store(1); break;
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
