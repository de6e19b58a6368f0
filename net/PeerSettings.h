#pragma once
// What a peer takes from outside besides datagrams: the admission settings the console owns,
// the two seeds the server draws, and the clock. The network thread never reads console
// variables; the main thread publishes their values here and the network thread loads them.

#include <atomic>
#include <cstdint>

#include "net/Clock.h"

namespace velt {

// The mask a client XORs into the cookie it was sent before repeating its open-connection
// request.
inline constexpr uint16_t kCookieMask = 0x52D7;

class PeerSettings {
public:
    // "conncookies": the cookie check on open-connection requests (on when non-zero).
    int32_t ConnCookies() const { return connCookies_.load(std::memory_order_relaxed); }
    void SetConnCookies(int32_t v) { connCookies_.store(v, std::memory_order_relaxed); }
    // "cookielogging": log each cookie handed out.
    int32_t CookieLogging() const { return cookieLogging_.load(std::memory_order_relaxed); }
    void SetCookieLogging(int32_t v) { cookieLogging_.store(v, std::memory_order_relaxed); }
    // "minconnectiontime": ms between accepted open-connection requests; 0 or less = no limit.
    int32_t MinConnectionTime() const { return minConnectionTime_.load(std::memory_order_relaxed); }
    void SetMinConnectionTime(int32_t v) { minConnectionTime_.store(v, std::memory_order_relaxed); }

    // Drawn by the server at start; the cookie seed is redrawn every "connseedtime" ms.
    uint32_t CookieSeed() const { return cookieSeed_.load(std::memory_order_relaxed); }
    void SetCookieSeed(uint32_t v) { cookieSeed_.store(v, std::memory_order_relaxed); }
    uint32_t ServerChallenge() const { return serverChallenge_.load(std::memory_order_relaxed); }
    void SetServerChallenge(uint32_t v) { serverChallenge_.store(v, std::memory_order_relaxed); }

private:
    std::atomic<int32_t> connCookies_{1};
    std::atomic<int32_t> cookieLogging_{0};
    std::atomic<int32_t> minConnectionTime_{0};
    std::atomic<uint32_t> cookieSeed_{0};
    std::atomic<uint32_t> serverChallenge_{0};
};

// The peer's clock. Milliseconds are the microsecond clock divided by 1000, so one reading
// serves both the slot rules (ms) and the channels (us).
class PeerClock {
public:
    virtual ~PeerClock() = default;
    virtual uint64_t NowUs() const = 0;
    NetTime NowMs() const { return static_cast<NetTime>(NowUs() / 1000u); }
};

class SystemPeerClock final : public PeerClock {
public:
    uint64_t NowUs() const override { return GetTimeUs(); }
};

// The process clock plus an offset that only moves forward: lets a test or a test program jump
// over the 10 s, 20 s and 30 s rules while sockets and threads keep running in real time.
class SteppedPeerClock final : public PeerClock {
public:
    uint64_t NowUs() const override { return GetTimeUs() + offsetUs_.load(std::memory_order_relaxed); }
    void AdvanceMs(uint32_t ms) { offsetUs_.fetch_add(uint64_t{ms} * 1000u, std::memory_order_relaxed); }

private:
    std::atomic<uint64_t> offsetUs_{0};
};

}  // namespace velt
