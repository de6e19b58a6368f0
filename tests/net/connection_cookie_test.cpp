// The keyed hash behind the connection cookie, the cookie's time buckets, and comparing secrets.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "net/ConnectionCookie.h"
#include "net/ConstantTime.h"

namespace velt {
namespace {

TEST(ConnectionCookie, SipHashMatchesTheReferenceVectors) {
    uint8_t key[16];
    uint8_t message[15];
    for (int i = 0; i < 16; ++i) key[i] = uint8_t(i);
    for (int i = 0; i < 15; ++i) message[i] = uint8_t(i);
    EXPECT_EQ(SipHash24(key, message, 0), 0x726fdb47dd0e0e31ull);
    EXPECT_EQ(SipHash24(key, message, 8), 0x93f5f5799a932462ull);
    EXPECT_EQ(SipHash24(key, message, 15), 0xa129ca6149be45e5ull);
}

TEST(ConnectionCookie, GoodForItsBucketAndTheNextOnly) {
    ConnectionCookie cookie;
    const uint8_t key[ConnectionCookie::kKeyBytes] = {7};
    cookie.SetKey(key);
    const PlayerID a{0x0200000A, 5000};
    const uint64_t t = 10 * ConnectionCookie::kBucketUs + 1;
    const uint16_t c = cookie.For(a, 42, t);
    EXPECT_TRUE(cookie.Accepts(c, a, 42, t + ConnectionCookie::kBucketUs - 2));
    EXPECT_TRUE(cookie.Accepts(c, a, 42, t + 2 * ConnectionCookie::kBucketUs - 2));
    EXPECT_FALSE(cookie.Accepts(c, a, 42, t + 2 * ConnectionCookie::kBucketUs));
    EXPECT_FALSE(cookie.Accepts(c, a, 43, t));  // the seed was redrawn
    // Keys differ between servers (and restarts): the same sender gets other cookies.
    ConnectionCookie other;
    int same = 0;
    for (uint16_t port = 1; port <= 64; ++port)
        same += other.For({a.binaryAddress, port}, 42, t) == cookie.For({a.binaryAddress, port}, 42, t);
    EXPECT_LT(same, 4);
}

TEST(ConstantTime, EqualOnlyForTheSameBytesAndLength) {
    struct Case {
        const char* attempt;
        const char* secret;
        bool equal;
    };
    const Case cases[] = {
        {"s3cret", "s3cret", true},
        {"s3cre", "s3cret", false},
        {"s3cret!", "s3cret", false},
        {"S3cret", "s3cret", false},
        {"", "", true},
        {"x", "", false},
        {"", "x", false},
        {"s3cres3cret", "s3cret", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ConstantTimeEquals(c.attempt, std::strlen(c.attempt), c.secret, std::strlen(c.secret)),
                  c.equal)
            << c.attempt << " / " << c.secret;
}

}  // namespace
}  // namespace velt
