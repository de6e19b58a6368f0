#pragma once

#include <cstddef>
#include <cstdint>

namespace velt {

class Console;

// Splits a console line in place the way commands have always read it: blank-separated tokens,
// or everything that is left. Each Execute has its own, so a console line run from inside a
// script callback cannot disturb the line that raised the callback.
class ConsoleLineTokens {
public:
    explicit ConsoleLineTokens(char* line) : cursor_(line) {}
    // Next token: leading blanks skipped, ended by a blank (replaced by a terminator) or the end;
    // null when none is left.
    char* Next();
    // The rest of the line from the cursor, blanks included; null when nothing is left.
    char* Rest();

private:
    char* cursor_;
};

inline constexpr uint32_t CON_CMDFLAG_DEBUG = 1;

struct ConsoleCommand {
    const char* name;
    uint32_t flags;
    // Reads its arguments by continuing the tokenising of the line.
    void (*handler)(Console& console, ConsoleLineTokens& args);
};

// Matched in this order; "cmdlist" prints them in this order.
extern const ConsoleCommand kConsoleCommands[];
extern const size_t kConsoleCommandCount;

}  // namespace velt
