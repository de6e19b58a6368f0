// Ban list: pattern matching, expiry against the peer's clock, the loopback address, and the
// limits on the texts it takes.

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "net/BanList.h"
#include "net/PeerSettings.h"

namespace velt {
namespace {

class ManualClock final : public PeerClock {
public:
    uint64_t NowUs() const override { return us.load(); }
    void AdvanceMs(uint64_t ms) { us += ms * 1000; }
    std::atomic<uint64_t> us{1000000};
};

TEST(PeerBanList, PatternsAndExactTexts) {
    struct Case {
        const char* entry;
        const char* tested;
        bool banned;
    };
    const Case cases[] = {
        {"10.0.*", "10.0.3.4", true},
        {"10.0.*", "10.1.0.1", false},
        {"10.0.*", "10.0.", false},       // the '*' needs a character under it
        {"10.0.*.9", "10.0.77.1", true},  // everything after the '*' is ignored
        {"*", "8.8.8.8", true},
        {"1.2.3.4", "1.2.3.4", true},
        {"1.2.3.4", "1.2.3.40", false},
        {"1.2.3.40", "1.2.3.4", false},
        {"1.2.3.4", "", false},
        {"*", "127.0.0.1", false},  // the server's own bots are never locked out
        {"127.*", "127.0.0.1", false},
        {"127.*", "127.0.0.2", true},
    };
    for (const Case& c : cases) {
        BanList list;
        list.Add(c.entry, 0);
        EXPECT_EQ(list.IsBanned(c.tested), c.banned) << c.entry << " vs " << c.tested;
    }
}

TEST(PeerBanList, RefusedTexts) {
    BanList list;
    list.Add(nullptr, 0);
    list.Add("", 0);
    list.Add("127.0.0.1", 0);
    list.Add("1234567890123456", 0);  // 16 characters
    EXPECT_EQ(list.Size(), 0u);
    list.Add("123.123.123.123", 0);  // 15 characters: the longest address
    EXPECT_EQ(list.Size(), 1u);
    EXPECT_TRUE(list.IsBanned("123.123.123.123"));
    EXPECT_FALSE(list.IsBanned("123.123.123.1234"));
    EXPECT_FALSE(list.IsBanned(nullptr));
}

TEST(PeerBanList, ExpiryFollowsTheClockAndDropsTheEntry) {
    ManualClock clock;
    BanList list(&clock);
    list.Add("10.1.1.1", 5000);
    list.Add("10.1.1.2", 0);
    clock.AdvanceMs(5000);
    EXPECT_TRUE(list.IsBanned("10.1.1.1"));  // still within its 5 s
    clock.AdvanceMs(1);
    EXPECT_FALSE(list.IsBanned("10.1.1.1"));
    EXPECT_EQ(list.Size(), 1u);  // removed by the check itself
    clock.AdvanceMs(1u << 30);
    EXPECT_TRUE(list.IsBanned("10.1.1.2"));  // duration 0 never ends
}

TEST(PeerBanList, ReAddReplacesExpiryAndRemoveKeepsOthers) {
    ManualClock clock;
    BanList list(&clock);
    list.Add("10.0.0.1", 1000);
    list.Add("10.0.0.2", 0);
    list.Add("10.0.0.3", 0);
    list.Add("10.0.0.1", 0);  // now permanent, still one entry
    EXPECT_EQ(list.Size(), 3u);
    clock.AdvanceMs(2000);
    EXPECT_TRUE(list.IsBanned("10.0.0.1"));

    list.Remove("10.0.0.1");
    EXPECT_FALSE(list.IsBanned("10.0.0.1"));
    EXPECT_TRUE(list.IsBanned("10.0.0.2"));
    EXPECT_TRUE(list.IsBanned("10.0.0.3"));
    list.Clear();
    EXPECT_FALSE(list.IsBanned("10.0.0.2"));
}

TEST(PeerBanList, ExpiryAcrossTheClockWrap) {
    ManualClock clock;
    clock.us = (uint64_t{0xFFFFFFFFu} - 100) * 1000;  // 100 ms before the ms clock wraps
    BanList list(&clock);
    list.Add("10.9.9.9", 1000);
    clock.AdvanceMs(500);  // past the wrap
    EXPECT_TRUE(list.IsBanned("10.9.9.9"));
    clock.AdvanceMs(600);
    EXPECT_FALSE(list.IsBanned("10.9.9.9"));
}

TEST(PeerBanList, AutomaticBansNeverShortenAndStayCapped) {
    ManualClock clock;
    BanList list(&clock);
    list.Add("10.3.0.1", 0);
    EXPECT_FALSE(list.AddAutomatic("10.3.0.1", 1000));  // a permanent ban stays permanent
    EXPECT_FALSE(list.AddAutomatic("10.3.0.2", 0));     // a flood never bans for ever
    EXPECT_FALSE(list.AddAutomatic("127.0.0.1", 1000));
    EXPECT_FALSE(list.AddAutomatic("10.3.*", 1000));
    EXPECT_TRUE(list.AddAutomatic("10.3.0.3", 5000));
    EXPECT_FALSE(list.AddAutomatic("10.3.0.3", 1000));  // shorter: no change
    EXPECT_TRUE(list.AddAutomatic("10.3.0.3", 9000));   // longer: extended
    clock.AdvanceMs(8000);
    EXPECT_TRUE(list.IsBanned("10.3.0.3"));
    clock.AdvanceMs(1001);
    EXPECT_FALSE(list.IsBanned("10.3.0.3"));

    // Past the cap the oldest automatic bans give way; the one someone asked for never does.
    for (uint32_t i = 0; i < BanList::kMaxAutomaticBans + 100; ++i) {
        const std::string ip = "10.4." + std::to_string(i >> 8) + "." + std::to_string(i & 0xFF);
        list.AddAutomatic(ip.c_str(), 60000);
    }
    EXPECT_EQ(list.AutomaticSize(), BanList::kMaxAutomaticBans);
    EXPECT_FALSE(list.IsBanned("10.4.0.0"));
    EXPECT_TRUE(list.IsBanned("10.4.32.99"));  // the last one
    EXPECT_TRUE(list.IsBanned("10.3.0.1"));
    // Someone's own ban of an address replaces its automatic one (and lasts as asked).
    list.Add("10.4.32.99", 0);
    EXPECT_EQ(list.AutomaticSize(), BanList::kMaxAutomaticBans - 1);
    clock.AdvanceMs(60001);
    EXPECT_TRUE(list.IsBanned("10.4.32.99"));
}

TEST(PeerBanList, BothThreadsAtOnce) {
    BanList list;
    std::thread writer([&] {
        for (int i = 0; i < 2000; ++i) {
            const std::string ip = "10.2.0." + std::to_string(i % 200);
            list.Add(ip.c_str(), i % 3 == 0 ? 0 : 1);
            if (i % 7 == 0) list.Remove(ip.c_str());
        }
    });
    for (int i = 0; i < 2000; ++i) (void)list.IsBanned("10.2.0.3");
    writer.join();
    EXPECT_LE(list.Size(), 200u);  // one entry per text, however the calls interleaved
}

}  // namespace
}  // namespace velt
