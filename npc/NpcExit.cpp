#include "npc/NpcExit.h"

#include <unistd.h>

#include <cstdio>

namespace velt {

namespace {

NpcExitHook g_hook = nullptr;
NpcExitHandler g_handler = nullptr;

}  // namespace

void NpcExit(int status) {
    if (g_handler != nullptr) {
        g_handler(status);
        return;
    }
    // The hook may itself fail in ways that end up here again: run it once.
    NpcExitHook hook = g_hook;
    g_hook = nullptr;
    if (hook != nullptr) hook();
    std::fflush(nullptr);
    _exit(status);
}

void SetNpcExitHook(NpcExitHook hook) { g_hook = hook; }

void SetNpcExitHandler(NpcExitHandler handler) { g_handler = handler; }

}  // namespace velt
