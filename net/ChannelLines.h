#pragma once
// The warning lines of a connection's receiving side. A sender can make any of them at will, so
// each kind is logged once per interval and the ones held back are counted and logged when the
// run ends.

#include <cstdarg>
#include <cstdint>

#include "net/PlayerID.h"
#include "net/ReliabilityWire.h"
#include "net/RepeatThrottle.h"

namespace velt {

class ChannelLines {
public:
    enum class Line : uint8_t {
        RefusedSplit,
        AckRangeHole,
        MessageHole,
        AcksLimit,
        MessagesLimit,
        HeldMessages,
        HeldBytes,
        SplitBytes,
        kCount
    };

    explicit ChannelLines(WireLogFn log) : log_(log) {}
    void SetLog(WireLogFn log) { log_ = log; }
    // Forgets every run (a new connection).
    void Reset();

    // The line, unless one of its kind was logged less than an interval before.
    void Log(Line line, uint64_t time, PlayerID sender, const char* format, ...)
        __attribute__((format(printf, 5, 6)));
    // Logs the counts of runs whose interval has passed (all with force).
    void Flush(PlayerID remote, uint64_t time, bool force);

private:
    static const char* NameOf(Line line);
    void LogHeldBack(Line line, uint32_t count, PlayerID sender) const;
    void Write(const char* format, va_list args) const;
    void Emit(const char* format, ...) const __attribute__((format(printf, 2, 3)));

    WireLogFn log_;
    RepeatRun runs_[size_t(Line::kCount)];
};

}  // namespace velt
