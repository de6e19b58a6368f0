#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "net/MessageIdentifiers.h"
#include "net/NetworkTypes.h"
#include "net/Packet.h"
#include "net/PlayerID.h"

namespace velt {
namespace {

PlayerID Address(const char* dotted, uint16_t port) {
    PlayerID id{};
    inet_pton(AF_INET, dotted, &id.binaryAddress);
    id.port = port;
    return id;
}

TEST(PlayerIDTest, TextOrderingAndEquality) {
    struct Case {
        const char* address;
        uint16_t port;
        const char* withPort;
        const char* withoutPort;
    };
    const Case cases[] = {
        {"127.0.0.1", 7777, "127.0.0.1:7777", "127.0.0.1"},
        {"0.0.0.0", 0, "0.0.0.0:0", "0.0.0.0"},
        {"255.255.255.255", 65535, "255.255.255.255:65535", "255.255.255.255"},
        {"10.1.200.3", 8192, "10.1.200.3:8192", "10.1.200.3"},
    };
    for (const Case& c : cases) {
        PlayerID id = Address(c.address, c.port);
        EXPECT_STREQ(id.ToString(true), c.withPort);
        EXPECT_STREQ(id.ToString(false), c.withoutPort);
        char out[PlayerID::kStringSize];
        EXPECT_STREQ(id.ToString(true, out, sizeof(out)), c.withPort);
    }
    EXPECT_STREQ(UNASSIGNED_PLAYER_ID.ToString(), "255.255.255.255:65535");
    char small[6];
    EXPECT_STREQ(Address("127.0.0.1", 7777).ToString(true, small, sizeof(small)), "127.0");

    // Unsigned address first, then port.
    PlayerID high{0x80000000u, 1}, low{0x00000001u, 9};
    EXPECT_TRUE(high > low);
    EXPECT_TRUE(low < high);
    EXPECT_TRUE((PlayerID{5, 1} < PlayerID{5, 2}));
    EXPECT_FALSE((PlayerID{5, 2} < PlayerID{5, 2}));
    EXPECT_EQ((PlayerID{5, 2}), (PlayerID{5, 2}));
    EXPECT_NE((PlayerID{5, 2}), (PlayerID{5, 3}));
    EXPECT_NE((PlayerID{4, 2}), (PlayerID{5, 2}));
    EXPECT_EQ(UNASSIGNED_PLAYER_ID.binaryAddress, 0xFFFFFFFFu);
    EXPECT_EQ(UNASSIGNED_PLAYER_ID.port, 0xFFFF);
}

// The network thread and the main thread format addresses at the same time.
TEST(PlayerIDTest, ToStringBufferIsPerThread) {
    auto hammer = [](PlayerID id, std::string want, bool* ok) {
        for (int i = 0; i < 20000; ++i) {
            const char* text = id.ToString(true);
            if (want != text) {
                *ok = false;
                return;
            }
        }
        *ok = true;
    };
    bool okA = false, okB = false;
    std::thread a(hammer, Address("1.2.3.4", 1), "1.2.3.4:1", &okA);
    std::thread b(hammer, Address("200.100.50.25", 65000), "200.100.50.25:65000", &okB);
    a.join();
    b.join();
    EXPECT_TRUE(okA);
    EXPECT_TRUE(okB);
}

TEST(IntToTextTest, BasesSignsAndLimits) {
    struct Case {
        int32_t value;
        int base;
        const char* text;
    };
    const Case cases[] = {
        {-10, 16, "a"},
        {-10, 10, "-10"},
        {-10, 1, ""},
        {-10, 17, ""},
        {0, 10, "0"},
        {0, 2, "0"},
        {255, 16, "ff"},
        {5, 2, "101"},
        {INT32_MAX, 10, "2147483647"},
        {INT32_MIN, 10, "-2147483648"},
        {INT32_MIN, 16, "80000000"},
        {-1, 2, "1"},
        {35, 7, "50"},
        {INT32_MIN, 2, "10000000000000000000000000000000"},
    };
    for (const Case& c : cases) {
        char buffer[kIntToTextBufferSize];
        std::memset(buffer, 'X', sizeof(buffer));
        EXPECT_EQ(IntToText(c.value, buffer, c.base), buffer);
        EXPECT_STREQ(buffer, c.text) << c.value << " base " << c.base;
    }
}

TEST(NetworkIDTest, ProcessWideSwitchChoosesTheComparison) {
    NetworkID a{PlayerID{1, 1}, 7}, b{PlayerID{2, 1}, 7}, c{PlayerID{1, 1}, 3};
    ASSERT_FALSE(NetworkID::IsPeerToPeerMode());
    EXPECT_TRUE(a == b);  // index alone
    EXPECT_TRUE(c < b);
    EXPECT_FALSE(a < b);
    NetworkID::SetPeerToPeerMode(true);
    EXPECT_TRUE(NetworkID::IsPeerToPeerMode());
    EXPECT_TRUE(a != b);  // address first
    EXPECT_TRUE(a < b);
    EXPECT_TRUE(c < a);
    EXPECT_TRUE(b > c);
    NetworkID::SetPeerToPeerMode(false);
    NetworkID copy = b;
    EXPECT_EQ(copy.playerId, b.playerId);
    EXPECT_EQ(UNASSIGNED_NETWORK_ID.localIndex, 0xFFFF);
}

TEST(PacketTest, AllocationOwnershipAndRelease) {
    Packet* p = NewPacket(10);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->data, reinterpret_cast<uint8_t*>(p + 1));
    EXPECT_EQ(p->ownsData, 0);
    EXPECT_EQ(p->length, 10u);
    EXPECT_EQ(p->bitLength, 80u);
    EXPECT_EQ(p->playerIndex, 0xFFFF);
    EXPECT_EQ(p->sender, UNASSIGNED_PLAYER_ID);
    std::memset(p->data, 0x55, 10);  // the whole block is usable
    FreePacket(p);

    uint8_t* owned = new uint8_t[4]{1, 2, 3, 4};
    p = NewPacket(4, owned);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->data, owned);
    EXPECT_EQ(p->ownsData, 1);
    FreePacket(p);  // frees owned too (the leak checker would see it otherwise)

    uint8_t kept[3] = {9, 9, 9};
    p = NewPacket(0, kept);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->length, 0u);
    EXPECT_EQ(p->data, nullptr);
    EXPECT_EQ(p->ownsData, 0);
    FreePacket(p);  // must not free the stack buffer
    EXPECT_EQ(kept[0], 9);
    p = NewPacket(5, nullptr);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->data, nullptr);
    FreePacket(p);

    FreePacket(nullptr);
    EXPECT_EQ(NewPacket(kMaxPacketLength + 1), nullptr);
    uint8_t* refused = new uint8_t[1];
    EXPECT_EQ(NewPacket(0xFFFFFFFFu, refused), nullptr);  // the buffer stays the caller's
    delete[] refused;
}

TEST(PacketTest, TimestampPrefixRule) {
    struct Case {
        std::vector<uint8_t> bytes;
        bool prefixed;
        uint8_t id;
    };
    const Case cases[] = {
        {{ID_TIMESTAMPED, 1, 2, 3, 4, 207}, true, 207},
        {{ID_TIMESTAMPED, 1, 2, 3, 4}, true, 0xFF},  // time but no identifier
        {{ID_TIMESTAMPED, 1, 2}, false, 0xFF},
        {{ID_RPC_CALL, 40}, false, ID_RPC_CALL},
        {{ID_CONN_LOST}, false, ID_CONN_LOST},
        {{}, false, 0xFF},
    };
    for (const Case& c : cases) {
        const uint8_t* data = c.bytes.empty() ? nullptr : c.bytes.data();
        uint32_t length = uint32_t(c.bytes.size());
        EXPECT_EQ(HasTimestampPrefix(data, length), c.prefixed) << length;
        EXPECT_EQ(GetPacketIdentifier(data, length), c.id) << length;
        Packet* p = NewPacket(length);
        ASSERT_NE(p, nullptr);
        if (length) std::memcpy(p->data, data, length);
        EXPECT_EQ(GetPacketIdentifier(p), c.id);
        FreePacket(p);
    }
    EXPECT_EQ(GetPacketIdentifier(nullptr), 0xFF);
}

}  // namespace
}  // namespace velt
