#include "net/ChannelLines.h"

#include <cstdio>

namespace velt {

void ChannelLines::Reset() {
    for (RepeatRun& run : runs_) run = RepeatRun{};
}

void ChannelLines::Write(const char* format, va_list args) const {
    // The hook is printf-like and variadic; format here once and pass the line as "%s" so the
    // hook's own formatting cannot be confused by what an address or count prints as.
    char line[256];
    std::vsnprintf(line, sizeof line, format, args);
    log_("%s", line);
}

const char* ChannelLines::NameOf(Line line) {
    switch (line) {
        case Line::RefusedSplit: return "dropping a split packet";
        case Line::AckRangeHole: return "messageholelimit (1)";
        case Line::MessageHole: return "messageholelimit (2)";
        case Line::AcksLimit: return "ackslimit";
        case Line::MessagesLimit: return "messageslimit";
        case Line::HeldMessages: return "too many out-of-order messages";
        case Line::HeldBytes: return "too many out-of-order message bytes";
        case Line::SplitBytes: return "too many split message bytes";
        case Line::kCount: break;
    }
    return "";
}

void ChannelLines::Emit(const char* format, ...) const {
    va_list args;
    va_start(args, format);
    Write(format, args);
    va_end(args);
}

void ChannelLines::LogHeldBack(Line line, uint32_t count, PlayerID sender) const {
    if (!log_) return;
    char address[PlayerID::kStringSize];
    Emit("[warning] %s: %u more from %s not logged", NameOf(line), unsigned(count),
         sender.ToString(true, address, sizeof address));
}

void ChannelLines::Log(Line line, uint64_t time, PlayerID sender, const char* format, ...) {
    if (!log_) return;
    uint32_t ended = 0;
    const bool pass = runs_[size_t(line)].Admit(NetTime(time / 1000), kRepeatedLineIntervalMs, ended);
    if (ended != 0) LogHeldBack(line, ended, sender);
    if (!pass) return;
    va_list args;
    va_start(args, format);
    Write(format, args);
    va_end(args);
}

void ChannelLines::Flush(PlayerID remote, uint64_t time, bool force) {
    for (size_t i = 0; i < size_t(Line::kCount); ++i) {
        uint32_t count = 0;
        if (runs_[i].TakeEnded(NetTime(time / 1000), kRepeatedLineIntervalMs, force, count))
            LogHeldBack(Line(i), count, remote);
    }
}

}  // namespace velt
