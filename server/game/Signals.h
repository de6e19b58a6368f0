#pragma once

namespace velt {

// Installs the one handler for SIGTERM, SIGQUIT, SIGINT, SIGUSR1 and SIGUSR2 (empty mask, no
// flags), and ignores SIGPIPE so that a peer resetting a TCP connection cannot end the server.
// The handler only marks what was asked: SIGINT and SIGTERM request the exit, SIGUSR1 a log
// reopen, SIGUSR2 a ban-list reload; SIGQUIT is caught and ignored. The main loop does the work
// on its next pass, since reopening files or taking locks inside a handler can deadlock. A
// SIGINT or SIGTERM while an exit is still pending ends the process at once with status 1,
// after a notice in the log and on standard error.
void InstallSignalHandlers();

// True once per SIGUSR2 received since the last call (several in between count as one).
bool TakeBanReloadRequest();

// The handler itself, for tests that deliver a signal number without raising it.
void OnSignal(int signal);

}  // namespace velt
