#include "npc/NpcLog.h"

#include <cstdarg>
#include <cstdio>

namespace velt {

void NpcLog(const char* format, ...) {
    if (format == nullptr) return;
    char line[kNpcLogLineSize];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
}

}  // namespace velt
