#pragma once
// Lines and replies that a remote system can trigger at will: the first of a run goes through,
// the rest within the interval are only counted, and the count comes out when the run ends. A
// flood then costs one line (or reply) and one count per sender and interval.

#include <cstdint>
#include <vector>

#include "net/Clock.h"
#include "net/PlayerID.h"

namespace velt {

// How long a run of repeated log lines lasts: its first line is logged, the rest only counted.
inline constexpr NetTime kRepeatedLineIntervalMs = 10000;

// One run of repeated events.
class RepeatRun {
public:
    // True: let this one through (the first of a run). When it starts a new run, the count of
    // the one before is handed out in endedCount (0 when it let everything through).
    bool Admit(NetTime now, NetTime intervalMs, uint32_t& endedCount) {
        endedCount = 0;
        if (open_ && int32_t(now - start_) < int32_t(intervalMs)) {
            ++suppressed_;
            return false;
        }
        endedCount = open_ ? suppressed_ : 0;
        open_ = true;
        start_ = now;
        suppressed_ = 0;
        return true;
    }
    // Ends a run whose interval has passed (or any run when force) and hands out what it held back.
    bool TakeEnded(NetTime now, NetTime intervalMs, bool force, uint32_t& count) {
        if (!open_ || (!force && int32_t(now - start_) < int32_t(intervalMs))) return false;
        count = suppressed_;
        open_ = false;
        suppressed_ = 0;
        return count != 0;
    }

private:
    NetTime start_ = 0;
    uint32_t suppressed_ = 0;
    bool open_ = false;
};

// Runs per key (an address) in a fixed table: memory stays the same however many senders a flood
// spoofs. Two keys that share an entry take turns, which at worst lets one more through.
class RepeatThrottle {
public:
    struct Ended {
        uint64_t key = 0;
        uint32_t count = 0;
    };

    RepeatThrottle(uint32_t entriesLog2, NetTime intervalMs)
        : entries_(size_t(1) << entriesLog2),
          mask_((uint64_t(1) << entriesLog2) - 1),
          interval_(intervalMs) {}

    static uint64_t KeyOf(PlayerID id) { return (uint64_t(id.binaryAddress) << 16) | id.port; }
    static uint64_t KeyOfAddress(uint32_t binaryAddress) { return uint64_t(binaryAddress) << 16; }
    static PlayerID PlayerIdOf(uint64_t key) { return PlayerID{uint32_t(key >> 16), uint16_t(key)}; }

    // True: let this one through. A run that ended to make way (its interval passed, or another
    // key took its entry) comes out in ended when it held anything back.
    bool Admit(uint64_t key, NetTime now, Ended& ended) {
        ended = Ended{};
        Entry& e = entries_[Home(key)];
        if (!e.used || e.key != key) {
            uint32_t count = 0;
            if (e.used && e.run.TakeEnded(now, interval_, true, count)) ended = {e.key, count};
            e.used = true;
            e.key = key;
            e.run = RepeatRun{};
        }
        uint32_t count = 0;
        const bool pass = e.run.Admit(now, interval_, count);
        if (count != 0) ended = {key, count};
        return pass;
    }

    // Hands every run whose interval has passed and that held something back to report(key,
    // count). Cost follows the table's size: call it now and then, not per event.
    template <class Report>
    void Sweep(NetTime now, Report&& report) {
        for (Entry& e : entries_) {
            uint32_t count = 0;
            if (!e.used) continue;
            if (e.run.TakeEnded(now, interval_, false, count)) report(e.key, count);
        }
    }

private:
    struct Entry {
        uint64_t key = 0;
        bool used = false;
        RepeatRun run;
    };
    size_t Home(uint64_t key) const {
        key ^= key >> 33;
        key *= 0xff51afd7ed558ccdull;
        key ^= key >> 33;
        return size_t(key & mask_);
    }

    std::vector<Entry> entries_;
    uint64_t mask_;
    NetTime interval_;
};

}  // namespace velt
