// Two library-role peers with the secure connection, joined by hand: no sockets, every datagram
// carried (and lost, or changed) by the test, time moved by the test.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "common/LittleEndian.h"
#include "net/PeerSecurity.h"
#include "secure_link_harness.h"

namespace velt {
namespace {

using peertest::Got;
using securelink::kClientPort;
using securelink::kServerPort;
using securelink::SecureLink;

// Numbered reliable ordered messages from the client, counted in order at the server.
uint32_t Exchange(SecureLink& link, uint32_t count) {
    uint32_t sent = 0, next = 0, errors = 0;
    for (int round = 0; round < 200000 && next < count; ++round) {
        while (sent < count && sent - next < 400) {
            uint8_t m[5] = {200};
            WriteU32(m + 1, sent++);
            link.client.SendBytes(m, 5, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE_ORDERED, 0, link.ServerId(),
                                  false);
        }
        link.Round(5);
        for (const Got& g : link.serverGot) {
            if (g.Id() != 200) continue;
            if (g.bytes.size() != 5 || ReadU32(g.bytes.data() + 1) != next) ++errors;
            ++next;
        }
        link.serverGot.clear();
    }
    return next == count ? errors : errors + 1;
}

TEST(SecurePeer, EnciphersEveryDatagramAndCarriesOrderedMessagesThroughLoss) {
    for (double loss : {0.0, 0.05, 0.20}) {
        SCOPED_TRACE(loss);
        SecureLink link;
        ASSERT_TRUE(link.ok);
        link.loss = loss;
        ASSERT_TRUE(link.Connect());
        // From here on, every datagram either way is whole blocks of the cipher.
        size_t seen = 0, unblocked = 0;
        link.wire = [&](bool, std::vector<uint8_t>& bytes) {
            ++seen;
            unblocked += bytes.size() % 8 != 0;
            return true;
        };
        EXPECT_EQ(Exchange(link, 10000), 0u);
        // Datagrams in the clear from before the other side's switch are no tampering.
        EXPECT_EQ(SecureLink::Count(link.clientGot, ID_PACKET_MODIFIED), 0u);
        EXPECT_GT(seen, 100u);
        EXPECT_EQ(unblocked, 0u);
        EXPECT_GT(link.client.GetStatistics(link.ServerId())->encryptionBitsSent, 0u);
        EXPECT_GT(link.server.GetStatistics(link.ClientId())->encryptionBitsSent, 0u);
    }
}

TEST(SecurePeer, WithoutSecurityOnTheClientTheServerStillEnciphers) {
    SecureLink link(false);
    ASSERT_TRUE(link.ok);
    ASSERT_TRUE(link.Connect());
    EXPECT_EQ(Exchange(link, 200), 0u);
    EXPECT_GT(link.client.GetStatistics(link.ServerId())->encryptionBitsSent, 0u);
}

TEST(SecurePeer, WrongServerKeyIsRefused) {
    uint8_t e[4], n[32];
    {
        SecureLink probe;  // any other server's key
        WriteU32(e, probe.server.SecurityKey().e);
        probe.server.SecurityKey().n.ToBytes(n);
    }
    SecureLink link(true, e, n);
    ASSERT_TRUE(link.ok);
    ASSERT_TRUE(link.client.Connect("127.0.0.1", kServerPort, nullptr, 0));
    ASSERT_TRUE(
        link.RoundsUntil([&] { return SecureLink::Count(link.clientGot, ID_PUBLIC_KEY_MISMATCH) == 1; }));
    for (int i = 0; i < 300; ++i) link.Round();
    EXPECT_EQ(SecureLink::Count(link.clientGot, ID_CONN_ACCEPTED), 0u);
    EXPECT_EQ(SecureLink::Count(link.serverGot, ID_CONN_HANDSHAKE_DONE), 0u);
    EXPECT_EQ(link.client.GetStatistics(UNASSIGNED_PLAYER_ID)->Rejections(Rejected::SecureKeyMismatch), 1u);
}

TEST(SecurePeer, RightServerKeyIsTaken) {
    SecureLink link;
    ASSERT_TRUE(link.ok);
    // The same server key, told to a second client up front.
    uint8_t e[4], n[32];
    WriteU32(e, link.server.SecurityKey().e);
    link.server.SecurityKey().n.ToBytes(n);
    link.client.Disconnect(0, 0);
    ASSERT_TRUE(link.client.InitializeSecurity(e, n, nullptr, nullptr));
    ASSERT_TRUE(link.client.Initialize(1, kClientPort, 0, "127.0.0.1"));
    ASSERT_TRUE(link.Connect());
    EXPECT_EQ(Exchange(link, 100), 0u);
}

TEST(SecurePeer, ClientExpectingAKeyRefusesAServerInTheClear) {
    SecureLink link;
    uint8_t e[4], n[32];
    WriteU32(e, link.server.SecurityKey().e);
    link.server.SecurityKey().n.ToBytes(n);
    link.server.Disconnect(0, 0);
    link.server.DisableSecurity();
    ASSERT_TRUE(link.server.Initialize(2, kServerPort, 0, "127.0.0.1"));
    link.client.Disconnect(0, 0);
    ASSERT_TRUE(link.client.InitializeSecurity(e, n, nullptr, nullptr));
    ASSERT_TRUE(link.client.Initialize(1, kClientPort, 0, "127.0.0.1"));
    ASSERT_TRUE(link.client.Connect("127.0.0.1", kServerPort, nullptr, 0));
    ASSERT_TRUE(
        link.RoundsUntil([&] { return SecureLink::Count(link.clientGot, ID_PUBLIC_KEY_MISMATCH) == 1; }));
    EXPECT_EQ(SecureLink::Count(link.clientGot, ID_CONN_ACCEPTED), 0u);
    EXPECT_EQ(link.client.GetStatistics(UNASSIGNED_PLAYER_ID)->Rejections(Rejected::SecureInsecureAccept),
              1u);
}

TEST(SecurePeer, ChangedDatagramIsDroppedCountedAndItsMessageResent) {
    SecureLink link;
    ASSERT_TRUE(link.ok);
    ASSERT_TRUE(link.Connect());
    int flipped = 0;
    link.wire = [&](bool toServer, std::vector<uint8_t>& bytes) {
        if (toServer && flipped == 0 && bytes.size() >= 16) {
            bytes[bytes.size() / 2] ^= 0x10;
            ++flipped;
        }
        return true;
    };
    const uint64_t badBefore = link.server.GetStatistics(link.ClientId())->packetsReceivedBad;
    EXPECT_EQ(Exchange(link, 50), 0u);
    ASSERT_EQ(flipped, 1);
    EXPECT_EQ(link.server.GetStatistics(link.ClientId())->packetsReceivedBad, badBefore + 1);
}

// Handshake messages replayed once the link is up are neither acted on nor handed to the game.
TEST(SecurePeer, HandshakeMessagesAfterTheHandshakeAreCountedAndDropped) {
    SecureLink link;
    ASSERT_TRUE(link.ok);
    ASSERT_TRUE(link.Connect());
    uint8_t response[PeerSecurity::kResponseBytes] = {ID_SECURE_RESPONSE};
    uint8_t confirm[PeerSecurity::kConfirmBytes] = {ID_SECURE_CONFIRM};
    ASSERT_TRUE(link.server.SendBytes(response, sizeof response, HIGH_PRIORITY_LEVEL,
                                      RELIABILITY_RELIABLE_ORDERED, 0, link.ClientId(), false));
    ASSERT_TRUE(link.client.SendBytes(confirm, sizeof confirm, HIGH_PRIORITY_LEVEL,
                                      RELIABILITY_RELIABLE_ORDERED, 0, link.ServerId(), false));
    ASSERT_TRUE(link.RoundsUntil([&] {
        return link.Rejections(link.client, Rejected::SecureOutOfTurn) == 1 &&
               link.Rejections(link.server, Rejected::SecureOutOfTurn) == 1;
    }));
    EXPECT_EQ(SecureLink::Count(link.clientGot, ID_SECURE_RESPONSE), 0u);
    EXPECT_EQ(SecureLink::Count(link.serverGot, ID_SECURE_CONFIRM), 0u);
    EXPECT_EQ(Exchange(link, 20), 0u);  // the link is as it was
}

// ---- the handshake steps themselves ----

struct SecurityPair {
    PeerSecurity server, client;
    SecurityPair() {
        server.Initialize(nullptr, nullptr, nullptr, nullptr);
        client.Initialize(nullptr, nullptr, nullptr, nullptr);
    }
};

TEST(PeerSecurity, BothSidesDeriveTheSameLinkKey) {
    SecurityPair s;
    const PlayerID requester{0x0100007F, 5555};
    uint8_t response[PeerSecurity::kResponseBytes], confirm[PeerSecurity::kConfirmBytes];
    uint8_t clientKey[16], serverKey[16];
    s.server.MakeResponse(requester, GetTimeMs(), response);
    EXPECT_EQ(response[0], ID_SECURE_RESPONSE);
    ASSERT_EQ(s.client.Answer(response, confirm, clientKey), PeerSecurity::Result::Ok);
    EXPECT_EQ(confirm[0], ID_SECURE_CONFIRM);
    ASSERT_EQ(s.server.Confirm(requester, confirm, serverKey), PeerSecurity::Result::Ok);
    EXPECT_EQ(0, std::memcmp(clientKey, serverKey, 16));

    // Another sender replaying it, a changed secret, a changed digest.
    EXPECT_EQ(s.server.Confirm(PlayerID{0x0100007F, 5556}, confirm, serverKey),
              PeerSecurity::Result::DigestMismatch);
    uint8_t changed[PeerSecurity::kConfirmBytes];
    std::memcpy(changed, confirm, sizeof changed);
    changed[30] ^= 1;
    EXPECT_EQ(s.server.Confirm(requester, changed, serverKey), PeerSecurity::Result::Undecipherable);
    std::memcpy(changed, confirm, sizeof changed);
    changed[5] ^= 1;
    EXPECT_EQ(s.server.Confirm(requester, changed, serverKey), PeerSecurity::Result::DigestMismatch);
    // A ciphered value at or above the modulus.
    std::memcpy(changed, confirm, sizeof changed);
    std::memset(changed + 21, 0xFF, 32);
    EXPECT_EQ(s.server.Confirm(requester, changed, serverKey), PeerSecurity::Result::Undecipherable);
}

TEST(PeerSecurity, ConfirmationOutlivesOneRenewalOfTheRandomButNotTwo) {
    SecurityPair s;
    const PlayerID requester{0x0100007F, 5555};
    uint8_t response[PeerSecurity::kResponseBytes], confirm[PeerSecurity::kConfirmBytes], key[16];
    NetTime now = GetTimeMs();
    s.server.MakeResponse(requester, now, response);
    ASSERT_EQ(s.client.Answer(response, confirm, key), PeerSecurity::Result::Ok);
    uint8_t later[PeerSecurity::kResponseBytes];
    s.server.MakeResponse(requester, now += 6000, later);
    EXPECT_EQ(s.server.Confirm(requester, confirm, key), PeerSecurity::Result::Ok);
    s.server.MakeResponse(requester, now += 6000, later);
    EXPECT_EQ(s.server.Confirm(requester, confirm, key), PeerSecurity::Result::DigestMismatch);
}

TEST(PeerSecurity, UnusableOrUnexpectedKeysAreRefused) {
    SecurityPair s;
    uint8_t response[PeerSecurity::kResponseBytes], confirm[PeerSecurity::kConfirmBytes], key[16];
    s.server.MakeResponse(PlayerID{1, 2}, GetTimeMs(), response);
    struct Case {
        const char* what;
        std::function<void(uint8_t*)> change;
    };
    const Case cases[] = {
        {"exponent 1", [](uint8_t* r) { WriteU32(r + 21, 1); }},
        {"even exponent", [](uint8_t* r) { WriteU32(r + 21, 4); }},
        {"even modulus", [](uint8_t* r) { r[25] &= 0xFE; }},
        {"modulus below the secret", [](uint8_t* r) { std::memset(r + 25 + 16, 0, 16); }},
        {"zero modulus", [](uint8_t* r) { std::memset(r + 25, 0, 32); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        uint8_t bad[PeerSecurity::kResponseBytes];
        std::memcpy(bad, response, sizeof bad);
        c.change(bad);
        EXPECT_EQ(s.client.Answer(bad, confirm, key), PeerSecurity::Result::KeyUnusable);
    }
    PeerSecurity expecting;
    uint8_t e[4], n[32];
    std::memcpy(e, response + 21, 4);
    std::memcpy(n, response + 25, 32);
    n[3] ^= 1;
    ASSERT_TRUE(expecting.Initialize(e, n, nullptr, nullptr));
    EXPECT_FALSE(expecting.Accepts());
    EXPECT_EQ(expecting.Answer(response, confirm, key), PeerSecurity::Result::KeyMismatch);
}

}  // namespace
}  // namespace velt
