#pragma once
// Addresses refused before anything else looks at their datagrams. Both threads use it: the
// network thread bans floods and tests every datagram, the main thread runs the ban commands.

#include <atomic>
#include <cstdint>
#include <vector>

#include "net/Clock.h"
#include "net/SimpleMutex.h"

namespace velt {

class PeerClock;

class BanList {
public:
    // Longest address text an entry holds ("255.255.255.255").
    static constexpr uint32_t kMaxTextLength = 15;

    // Expiry times come from clock (the process clock when null). The clock must outlive the list.
    explicit BanList(const PeerClock* clock = nullptr) : clock_(clock) {}
    BanList(const BanList&) = delete;
    BanList& operator=(const BanList&) = delete;
    // Only while no other thread uses the list.
    void SetClock(const PeerClock* clock) { clock_ = clock; }

    // Bans ip for durationMs (0 = until removed). An existing entry with the same text only
    // gets the new expiry. Ignored for an empty or null text, a text of 16 or more characters,
    // and "127.0.0.1": the server's own bots connect from there.
    void Add(const char* ip, uint32_t durationMs);
    // Removes the entry whose text equals ip (the last entry takes its place).
    void Remove(const char* ip);
    void Clear();
    // True when an unexpired entry matches ip: equal texts, or equal up to a '*' in the entry
    // where ip still has a character. Expired entries are dropped on the way. "127.0.0.1" is
    // never banned, not even by a pattern such as "127.*" or "*".
    bool IsBanned(const char* ip);

    uint32_t Size() const;
    // Without the lock: every datagram asks, and most servers ban nobody. A ban added by another
    // thread at the same moment may be seen one datagram later.
    bool IsEmpty() const { return count_.load(std::memory_order_relaxed) == 0; }

private:
    struct Entry {
        char text[kMaxTextLength + 1];
        NetTime expiry;  // 0 = never
    };

    NetTime Now() const;
    static bool Matches(const char* pattern, const char* ip);

    const PeerClock* clock_;
    mutable SimpleMutex mutex_;
    std::vector<Entry> entries_;
    std::atomic<uint32_t> count_{0};  // entries_.size(), kept under the lock
};

}  // namespace velt
