#include "net/BanList.h"

#include <cstring>
#include <mutex>

#include "net/PeerSettings.h"

namespace velt {

namespace {

// Length of text when it is below limit, else limit (never reads past limit + 1 characters).
size_t BoundedLength(const char* text, size_t limit) {
    size_t n = 0;
    while (n < limit && text[n] != '\0') ++n;
    return n;
}

constexpr const char* kLoopback = "127.0.0.1";

}  // namespace

NetTime BanList::Now() const { return clock_ != nullptr ? clock_->NowMs() : GetTimeMs(); }

bool BanList::Matches(const char* pattern, const char* ip) {
    for (size_t i = 0;; ++i) {
        if (pattern[i] == '*') return ip[i] != '\0';
        if (pattern[i] != ip[i]) return false;
        if (pattern[i] == '\0') return true;
    }
}

void BanList::Add(const char* ip, uint32_t durationMs) {
    if (ip == nullptr || ip[0] == '\0') return;
    const size_t length = BoundedLength(ip, kMaxTextLength + 1);
    if (length > kMaxTextLength) return;
    if (std::strcmp(ip, kLoopback) == 0) return;

    NetTime expiry = 0;
    if (durationMs != 0) {
        expiry = Now() + durationMs;
        // 0 would read as "never": a ban that lands exactly on the wrap lasts 1 ms longer.
        if (expiry == 0) expiry = 1;
    }

    std::lock_guard<SimpleMutex> lock(mutex_);
    for (Entry& e : entries_) {
        if (std::strcmp(e.text, ip) == 0) {
            e.expiry = expiry;
            return;
        }
    }
    Entry e{};
    std::memcpy(e.text, ip, length);
    e.text[length] = '\0';
    e.expiry = expiry;
    entries_.push_back(e);
    count_.store(uint32_t(entries_.size()), std::memory_order_relaxed);
}

void BanList::Remove(const char* ip) {
    if (ip == nullptr) return;
    if (BoundedLength(ip, kMaxTextLength + 1) > kMaxTextLength) return;
    std::lock_guard<SimpleMutex> lock(mutex_);
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (std::strcmp(entries_[i].text, ip) == 0) {
            entries_[i] = entries_.back();
            entries_.pop_back();
            count_.store(uint32_t(entries_.size()), std::memory_order_relaxed);
            return;
        }
    }
}

void BanList::Clear() {
    std::lock_guard<SimpleMutex> lock(mutex_);
    entries_.clear();
    count_.store(0, std::memory_order_relaxed);
}

bool BanList::IsBanned(const char* ip) {
    if (ip == nullptr || ip[0] == '\0') return false;
    if (BoundedLength(ip, kMaxTextLength + 1) > kMaxTextLength) return false;
    if (std::strcmp(ip, kLoopback) == 0) return false;

    const NetTime now = Now();
    std::lock_guard<SimpleMutex> lock(mutex_);
    size_t i = 0;
    while (i < entries_.size()) {
        Entry& e = entries_[i];
        if (e.expiry != 0 && TimeBefore(e.expiry, now)) {
            // The last entry takes its place and is examined next.
            e = entries_.back();
            entries_.pop_back();
            count_.store(uint32_t(entries_.size()), std::memory_order_relaxed);
            continue;
        }
        if (Matches(e.text, ip)) return true;
        ++i;
    }
    return false;
}

uint32_t BanList::Size() const {
    std::lock_guard<SimpleMutex> lock(mutex_);
    return static_cast<uint32_t>(entries_.size());
}

}  // namespace velt
