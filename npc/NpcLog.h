#pragma once

// The bot's one log function. The bot runs unattended as a child of the server and has no log file
// or console of its own, so every line is formatted (arguments are still evaluated and checked)
// and then dropped. Text from the network or a script is passed as "%s", never as the format.

#include <cstddef>

namespace velt {

// Room for one formatted line, terminator included; a longer line is cut.
inline constexpr size_t kNpcLogLineSize = 2072;

void NpcLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace velt
