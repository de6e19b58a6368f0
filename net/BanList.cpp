#include "net/BanList.h"

#include <cstring>
#include <mutex>

#include "net/PeerSettings.h"

namespace velt {

namespace {

constexpr const char* kLoopback = "127.0.0.1";
constexpr uint64_t kSweepIntervalMs = 1000;
// Automatic bans replaced while still queued leave a stale reference behind; past this many the
// queue is rebuilt without them.
constexpr size_t kMaxOrderEntries = 4 * BanList::kMaxAutomaticBans;

using Lock = std::lock_guard<SimpleMutex>;

}  // namespace

bool BanList::Text::operator==(const Text& other) const { return std::strcmp(chars, other.chars) == 0; }

size_t BanList::TextHash::operator()(const Text& text) const {
    uint64_t h = 1469598103934665603ull;
    for (const char* c = text.chars; *c != '\0'; ++c) h = (h ^ uint8_t(*c)) * 1099511628211ull;
    return size_t(h ^ (h >> 32));
}

uint64_t BanList::Now() const { return (clock_ != nullptr ? clock_->NowUs() : GetTimeUs()) / 1000u; }

bool BanList::ToText(const char* ip, Text& out) {
    if (ip == nullptr || ip[0] == '\0') return false;
    size_t length = 0;
    while (length <= kMaxTextLength && ip[length] != '\0') ++length;
    if (length > kMaxTextLength) return false;
    std::memset(out.chars, 0, sizeof out.chars);
    std::memcpy(out.chars, ip, length);
    return true;
}

bool BanList::Matches(const char* pattern, const char* ip) {
    for (size_t i = 0;; ++i) {
        if (pattern[i] == '*') return ip[i] != '\0';
        if (pattern[i] != ip[i]) return false;
        if (pattern[i] == '\0') return true;
    }
}

void BanList::Forget(std::unordered_map<Text, Ban, TextHash>::iterator it) {
    if (it->second.automatic != 0) {
        --automaticInForce_;
        it->second.automatic = 0;
    }
}

void BanList::Add(const char* ip, uint32_t durationMs) {
    Text text;
    if (!ToText(ip, text) || std::strcmp(text.chars, kLoopback) == 0) return;
    const uint64_t now = Now();
    const uint64_t expiry = durationMs == 0 ? 0 : now + durationMs;

    Lock lock(mutex_);
    if (std::strchr(text.chars, '*') != nullptr) {
        bool found = false;
        for (Pattern& p : patterns_)
            if (p.text == text) {
                p.expiry = expiry;
                found = true;
            }
        if (!found) patterns_.push_back({text, expiry});
    } else {
        auto it = exact_.find(text);
        if (it != exact_.end()) {
            Forget(it);
            it->second.expiry = expiry;
        } else {
            exact_.emplace(text, Ban{expiry, 0});
        }
    }
    Sweep(now);
    StoreCount();
}

bool BanList::AddAutomatic(const char* ip, uint32_t durationMs) {
    Text text;
    if (durationMs == 0 || !ToText(ip, text) || std::strcmp(text.chars, kLoopback) == 0) return false;
    if (std::strchr(text.chars, '*') != nullptr) return false;
    const uint64_t now = Now();
    const uint64_t expiry = now + durationMs;

    Lock lock(mutex_);
    TrimAutomatic(now, 1);
    auto it = exact_.find(text);
    if (it != exact_.end() && !HasExpired(it->second.expiry, now)) {
        // Whatever is in force stays: someone's permanent ban must not become a flood's minute.
        if (it->second.automatic == 0 || expiry <= it->second.expiry) return false;
        it->second.expiry = expiry;
        it->second.automatic = nextSequence_++;
        automaticOrder_.push_back({text, it->second.automatic});
        return true;
    }
    if (it != exact_.end()) {
        Forget(it);
        exact_.erase(it);
    }
    const uint64_t sequence = nextSequence_++;
    exact_.emplace(text, Ban{expiry, sequence});
    automaticOrder_.push_back({text, sequence});
    ++automaticInForce_;
    StoreCount();
    return true;
}

void BanList::TrimAutomatic(uint64_t now, uint32_t room) {
    if (automaticOrder_.size() > kMaxOrderEntries) {
        std::deque<AutomaticRef> live;
        for (const AutomaticRef& ref : automaticOrder_) {
            auto it = exact_.find(ref.text);
            if (it != exact_.end() && it->second.automatic == ref.sequence) live.push_back(ref);
        }
        automaticOrder_.swap(live);
    }
    while (!automaticOrder_.empty()) {
        const AutomaticRef& front = automaticOrder_.front();
        auto it = exact_.find(front.text);
        if (it == exact_.end() || it->second.automatic != front.sequence) {
            automaticOrder_.pop_front();
            continue;
        }
        if (!HasExpired(it->second.expiry, now) && automaticInForce_ + room <= kMaxAutomaticBans) break;
        Forget(it);
        exact_.erase(it);
        automaticOrder_.pop_front();
    }
    StoreCount();
}

void BanList::Sweep(uint64_t now) {
    if (now - lastSweep_ < kSweepIntervalMs) return;
    lastSweep_ = now;
    for (auto it = exact_.begin(); it != exact_.end();) {
        if (HasExpired(it->second.expiry, now)) {
            Forget(it);
            it = exact_.erase(it);
        } else {
            ++it;
        }
    }
    std::erase_if(patterns_, [&](const Pattern& p) { return HasExpired(p.expiry, now); });
}

void BanList::Remove(const char* ip) {
    Text text;
    if (!ToText(ip, text)) return;
    Lock lock(mutex_);
    auto it = exact_.find(text);
    if (it != exact_.end()) {
        Forget(it);
        exact_.erase(it);
    }
    std::erase_if(patterns_, [&](const Pattern& p) { return p.text == text; });
    StoreCount();
}

void BanList::Clear() {
    Lock lock(mutex_);
    exact_.clear();
    patterns_.clear();
    automaticOrder_.clear();
    automaticInForce_ = 0;
    StoreCount();
}

bool BanList::IsBanned(const char* ip) {
    Text text;
    if (!ToText(ip, text) || std::strcmp(text.chars, kLoopback) == 0) return false;
    const uint64_t now = Now();
    Lock lock(mutex_);
    if (auto it = exact_.find(text); it != exact_.end()) {
        if (!HasExpired(it->second.expiry, now)) return true;
        Forget(it);
        exact_.erase(it);
        StoreCount();
    }
    for (size_t i = 0; i < patterns_.size();) {
        if (HasExpired(patterns_[i].expiry, now)) {
            patterns_[i] = patterns_.back();
            patterns_.pop_back();
            StoreCount();
            continue;
        }
        if (Matches(patterns_[i].text.chars, text.chars)) return true;
        ++i;
    }
    return false;
}

uint32_t BanList::Size() const {
    Lock lock(mutex_);
    return uint32_t(exact_.size() + patterns_.size());
}

uint32_t BanList::AutomaticSize() const {
    Lock lock(mutex_);
    return automaticInForce_;
}

}  // namespace velt
