#pragma once

// How the bot ends when something fails: a refused or lost connection, a missing script. The
// transport's network thread is still running at that point, so the process must not run static
// destructors under it: the end is a best-effort disconnect, a flush of every open stdio stream
// (files a script was writing), then _exit.

namespace velt {

// Ends the process with `status`. Only a test handler returns; callers stop their work right
// after the call either way.
void NpcExit(int status);

// Work to do before the process ends (the game's disconnect). One hook; null removes it.
using NpcExitHook = void (*)();
void SetNpcExitHook(NpcExitHook hook);

// Tests take the end over: the handler receives the status instead of the process ending (null
// restores the real end).
using NpcExitHandler = void (*)(int status);
void SetNpcExitHandler(NpcExitHandler handler);

}  // namespace velt
