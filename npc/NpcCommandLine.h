#pragma once

// The bot's command line: "-h host -p port -n name -m npcmode -z password", each option also
// written with '/' in place of '-'. The arguments are joined into one line and scanned; a value
// ends at a blank, a '-' or a '/', so it can hold none of them (a name such as Bot-1 arrives as
// Bot). An option given twice keeps its last value; one not given, or given without a value, is
// the empty text. The server builds this command line when a script starts a bot.

#include <cstddef>
#include <cstdint>

namespace velt {

// Longest value kept; longer values are cut.
inline constexpr size_t kNpcOptionMax = 256;
// Longest joined line kept; arguments beyond it are cut.
inline constexpr size_t kNpcCommandLineMax = 1023;

struct NpcCommandLine {
    char host[kNpcOptionMax + 1] = {};
    char port[kNpcOptionMax + 1] = {};
    char name[kNpcOptionMax + 1] = {};
    char mode[kNpcOptionMax + 1] = {};
    char password[kNpcOptionMax + 1] = {};
};

// Every argument after the program name followed by one blank, into `out` (at most outSize - 1
// characters, always terminated). No arguments give the empty text.
void JoinNpcArguments(int argc, const char* const* argv, char* out, size_t outSize);

// Scans a joined line into `out` (every value cleared first) and logs the line.
void ParseNpcCommandLine(const char* line, NpcCommandLine& out);

// The port text as a number: leading blanks and an optional sign, then decimal digits; no digits
// give 0. The value is taken modulo 65536, and a text too long for any int cannot overflow.
uint16_t NpcPortFromText(const char* text);

}  // namespace velt
