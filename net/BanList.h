#pragma once
// Addresses refused before anything else looks at their datagrams. Both threads use it: the
// network thread bans floods and tests every datagram, the main thread runs the ban commands.
//
// Every datagram asks, so a test must cost the same with a long list as with a short one: exact
// addresses live in a hash table, patterns (texts with a '*') in a list of their own that stays
// short. The transport's own flood bans are capped and expire, so a flood of spoofed senders
// cannot grow the list without bound.

#include <atomic>
#include <cstdint>
#include <deque>
#include <unordered_map>
#include <vector>

#include "net/SimpleMutex.h"

namespace velt {

class PeerClock;

class BanList {
public:
    // Longest address text an entry holds ("255.255.255.255").
    static constexpr uint32_t kMaxTextLength = 15;
    // The transport's own bans in force at once; beyond it the oldest gives way.
    static constexpr uint32_t kMaxAutomaticBans = 8192;

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
    // The transport's ban of an address that flooded it: never shortens or replaces a ban already
    // in force, and never lasts forever (a duration of 0 bans nothing). False when nothing was
    // added.
    bool AddAutomatic(const char* ip, uint32_t durationMs);
    // Removes the entry whose text equals ip.
    void Remove(const char* ip);
    void Clear();
    // True when an unexpired entry matches ip: equal texts, or equal up to a '*' in the entry
    // where ip still has a character. Expired entries met on the way are dropped. "127.0.0.1" is
    // never banned, not even by a pattern such as "127.*" or "*".
    bool IsBanned(const char* ip);

    uint32_t Size() const;
    uint32_t AutomaticSize() const;
    // Without the lock: every datagram asks, and most servers ban nobody. A ban added by another
    // thread at the same moment may be seen one datagram later.
    bool IsEmpty() const { return count_.load(std::memory_order_relaxed) == 0; }

private:
    struct Text {
        char chars[kMaxTextLength + 1];
        bool operator==(const Text& other) const;
    };
    struct TextHash {
        size_t operator()(const Text& text) const;
    };
    // Times are milliseconds of the 64-bit clock: a ban never comes back to life when the 32-bit
    // clock wraps round.
    struct Ban {
        uint64_t expiry;     // 0 = never
        uint64_t automatic;  // 0 for a ban someone asked for, else its place in automaticOrder_
    };
    struct Pattern {
        Text text;
        uint64_t expiry;
    };
    struct AutomaticRef {
        Text text;
        uint64_t sequence;
    };

    uint64_t Now() const;
    static bool ToText(const char* ip, Text& out);
    static bool Matches(const char* pattern, const char* ip);
    static bool HasExpired(uint64_t expiry, uint64_t now) { return expiry != 0 && expiry < now; }
    // Lock held: drops the automatic ban of the entry if it is one.
    void Forget(std::unordered_map<Text, Ban, TextHash>::iterator it);
    // Lock held: drops automatic bans that expired or were replaced from the front of the order,
    // and the oldest ones while more than the cap are in force.
    void TrimAutomatic(uint64_t now, uint32_t room);
    // Lock held: drops every expired entry, at most once a second.
    void Sweep(uint64_t now);
    void StoreCount() { count_.store(uint32_t(exact_.size() + patterns_.size()), std::memory_order_relaxed); }

    const PeerClock* clock_;
    mutable SimpleMutex mutex_;
    std::unordered_map<Text, Ban, TextHash> exact_;
    std::vector<Pattern> patterns_;
    // Automatic bans oldest first; an entry whose ban was replaced or removed since is skipped.
    std::deque<AutomaticRef> automaticOrder_;
    uint64_t nextSequence_ = 1;
    uint32_t automaticInForce_ = 0;
    uint64_t lastSweep_ = 0;
    std::atomic<uint32_t> count_{0};  // exact_.size() + patterns_.size(), kept under the lock
};

}  // namespace velt
