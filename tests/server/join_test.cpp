// Joining: the refusal table with its reason bytes, the invalid-client paths, admission with the
// world sent to the newcomer, bots and "maxnpc", and joins during the intermission.

#include "server/protocol/JoinHandlers.h"

#include <arpa/inet.h>

#include "tests/server/dispatch_fixture.h"

namespace velt::test {
namespace {

struct JoinFields {
    uint32_t version = kProtocolVersion;
    uint8_t checkByte = 1;
    std::string name = "Alice";
    int declaredLength = -1;  // -1: the name's own length
    uint32_t answer = ProtocolTest::kChallenge ^ kProtocolVersion;
    std::string serial = "4F1E2D3C";
    bool withClientVersion = true;
    std::string clientVersion = "0.3.DL";
};

void WriteText8(BitStream& bs, const std::string& text, int declared = -1) {
    bs.Write(uint8_t(declared < 0 ? text.size() : size_t(declared)));
    bs.WriteBytes(text.data(), int32_t(text.size()));
}

void WriteJoin(BitStream& bs, const JoinFields& f, bool bot) {
    bs.Write(f.version);
    bs.Write(f.checkByte);
    WriteText8(bs, f.name, f.declaredLength);
    bs.Write(f.answer);
    if (bot) return;
    WriteText8(bs, f.serial);
    if (f.withClientVersion) WriteText8(bs, f.clientVersion);
}

std::string Ip(uint16_t slot) { return FakeNetServer::AddressOf(slot).ToString(false); }

class JoinTest : public ProtocolTest {
protected:
    void SetUp() override {
        ProtocolTest::SetUp();
        StartProtocol();
    }
    void PlayerJoin(uint16_t slot, const JoinFields& fields) {
        net_->AddSlot(slot, FakeNetServer::AddressOf(slot));
        BitStream bs;
        WriteJoin(bs, fields, false);
        CallRpc(RPC_PlayerJoin, slot, bs);
    }
    void NpcJoin(uint16_t slot, const JoinFields& fields) {
        net_->AddSlot(slot, FakeNetServer::AddressOf(slot));
        BitStream bs;
        WriteJoin(bs, fields, true);
        CallRpc(RPC_NpcJoin, slot, bs);
    }
    // The one refusal the slot got (0 when none), checked to be followed by a kick.
    int RejectReason(uint16_t slot, MessageReliability expected) {
        auto rejects = RpcsTo(slot, RPC_ConnectionRejected);
        if (rejects.empty()) return 0;
        EXPECT_EQ(rejects.size(), 1u);
        EXPECT_EQ(rejects[0].bytes.size(), 1u);
        EXPECT_EQ(rejects[0].reliability, expected);
        EXPECT_EQ(rejects[0].channel, 0);
        EXPECT_TRUE(Kicked(slot));
        EXPECT_FALSE(pool()->IsConnected(slot));
        return rejects[0].bytes[0];
    }
};

TEST_F(JoinTest, AdmittedPlayerIsLoggedOnAndReceivesTheWorld) {
    Join(0, "Zed");
    JoinFields f;
    f.withClientVersion = false;  // an old client without the version part
    PlayerJoin(7, f);

    ASSERT_TRUE(pool()->IsConnected(7));
    EXPECT_STREQ(pool()->GetName(7), "Alice");
    EXPECT_STREQ(pool()->GetSerial(7), "4F1E2D3C");
    EXPECT_STREQ(pool()->GetVersion(7), "unknown");
    EXPECT_EQ(fake()->SystemOf(7).loggedOn.load(), 1);
    EXPECT_TRUE(RpcsTo(7, RPC_ConnectionRejected).empty());
    EXPECT_FALSE(Kicked(7));
    EXPECT_TRUE(Logged("[join] Alice has joined the server (7:" + Ip(7) + ")"));

    // GameInit carries the receiver's own id as its twelfth field.
    auto init = RpcsTo(7, RPC_GameInit);
    ASSERT_EQ(init.size(), 1u);
    Reader r(init[0]);
    for (int i = 0; i < 4; ++i) r.Get<bool>();
    r.Get<float>();
    r.Get<bool>();
    r.Get<float>();
    for (int i = 0; i < 3; ++i) r.Get<bool>();
    r.Get<uint32_t>();
    EXPECT_EQ(r.Get<uint16_t>(), 7);
    // The player already there is announced to the newcomer, and the newcomer to him.
    auto existing = RpcsTo(7, RPC_PlayerJoined);
    ASSERT_EQ(existing.size(), 1u);
    EXPECT_EQ(Reader(existing[0]).Get<uint16_t>(), 0);
    EXPECT_EQ(RpcsTo(0, RPC_PlayerJoined).size(), 1u);
}

TEST_F(JoinTest, ClientVersionOfTheLongestAcceptedLengthIsAdmittedWhole) {
    // 24 characters pass the join's own check; the pool must take them too, not drop the
    // connection without a word.
    JoinFields f;
    f.clientVersion = std::string(23, 'v') + "Z";
    PlayerJoin(6, f);
    ASSERT_TRUE(pool()->IsConnected(6));
    EXPECT_EQ(std::string(pool()->GetVersion(6)), f.clientVersion);
    EXPECT_FALSE(Kicked(6));
    EXPECT_EQ(fake()->SystemOf(6).loggedOn.load(), 1);
}

TEST_F(JoinTest, RefusalsCarryTheirReasonByte) {
    struct Case {
        const char* what;
        void (*edit)(JoinFields&);
        int reason;
    };
    const Case cases[] = {
        {"20 characters", [](JoinFields& f) { f.name = std::string(20, 'n'); }, 0},
        {"21 characters", [](JoinFields& f) { f.name = std::string(21, 'n'); }, 2},
        {"too short", [](JoinFields& f) { f.name = "ab"; }, 2},
        {"blank inside", [](JoinFields& f) { f.name = "Al ice"; }, 2},
        {"embedded zero", [](JoinFields& f) { f.name = std::string("Ali\0ce", 6); }, 2},
        {"declared length covers a trailing zero", [](JoinFields& f) { f.name = std::string("Alice\0", 6); },
         2},
        {"taken in another case", [](JoinFields& f) { f.name = "bOB"; }, 2},
        {"old version", [](JoinFields& f) { f.version = kProtocolVersion - 1; }, 1},
        {"wrong challenge answer", [](JoinFields& f) { f.answer ^= 1; }, 1},
        {"check byte", [](JoinFields& f) { f.checkByte = 0; }, 3},
        {"version before check byte",
         [](JoinFields& f) {
             f.version = 1;
             f.checkByte = 9;
         },
         1},
    };
    Join(0, "Bob");
    uint16_t slot = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        JoinFields f;
        c.edit(f);
        if (c.reason == 0) f.name = "P" + std::to_string(slot) + std::string(f.name.size() - 2, 'x');
        PlayerJoin(slot, f);
        EXPECT_EQ(RejectReason(slot, RELIABILITY_UNRELIABLE), c.reason);
        EXPECT_EQ(pool()->IsConnected(slot), c.reason == 0);
        ++slot;
    }
}

TEST_F(JoinTest, InvalidClientsAreKickedWithoutAReason) {
    struct Case {
        const char* what;
        void (*edit)(JoinFields&);
        std::string log;
    };
    const Case cases[] = {
        {"no serial", [](JoinFields& f) { f.serial.clear(); }, "(0) Invalid client connecting from "},
        {"version text of 25", [](JoinFields& f) { f.clientVersion = std::string(25, 'v'); },
         "Invalid client connecting from "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        net_->calls.clear();
        JoinFields f;
        c.edit(f);
        PlayerJoin(2, f);
        EXPECT_TRUE(Logged(c.log + Ip(2)));
        EXPECT_TRUE(Kicked(2));
        EXPECT_FALSE(pool()->IsConnected(2));
        EXPECT_TRUE(RpcsTo(2, RPC_ConnectionRejected).empty());
    }
    // A connection the transport holds no record of.
    fake()->withoutSystem.insert(4);
    PlayerJoin(4, JoinFields{});
    EXPECT_TRUE(Logged("(1) Invalid client connecting from " + Ip(4)));
    EXPECT_FALSE(pool()->IsConnected(4));
}

TEST_F(JoinTest, EveryTruncationOfAJoinIsDroppedWhole) {
    BitStream full;
    WriteJoin(full, JoinFields{}, false);
    std::vector<uint8_t> bytes = Bytes(full);
    net_->AddSlot(3, FakeNetServer::AddressOf(3));
    // Each prefix that stops inside the mandatory part; the optional version part may be absent.
    const size_t mandatory = 4 + 1 + 1 + 5 + 4 + 1 + 8;
    for (size_t cut = 0; cut < mandatory; ++cut) {
        SCOPED_TRACE(cut);
        std::vector<uint8_t> payload(bytes.begin(), bytes.begin() + long(cut));
        RpcCallParams params{payload.empty() ? nullptr : payload.data(), uint32_t(cut * 8),
                             FakeNetServer::AddressOf(3), nullptr};
        RpcPlayerJoin(&params);
        RpcNpcJoin(&params);
        EXPECT_FALSE(pool()->IsConnected(3));
    }
    // A version part that promises more than it holds is no version part either.
    std::vector<uint8_t> cutVersion(bytes.begin(), bytes.end() - 1);
    RpcCallParams params{cutVersion.data(), uint32_t(cutVersion.size() * 8), FakeNetServer::AddressOf(3),
                         nullptr};
    RpcPlayerJoin(&params);
    EXPECT_FALSE(pool()->IsConnected(3));
}

TEST_F(JoinTest, SecondJoinOnATakenSlotKicksWithoutReason) {
    PlayerJoin(5, JoinFields{});
    ASSERT_TRUE(pool()->IsConnected(5));
    PlayerJoin(5, JoinFields{});
    EXPECT_TRUE(Logged("Player slot (5) is taken. Kicking " + Ip(5) + ":20005."));
    EXPECT_FALSE(pool()->IsConnected(5));
    EXPECT_TRUE(RpcsTo(5, RPC_ConnectionRejected).empty());
}

TEST_F(JoinTest, SlotBeyondThePlayerIdsIsRefusedWithReasonFour) {
    PlayerJoin(1000, JoinFields{});
    EXPECT_EQ(RejectReason(1000, RELIABILITY_UNRELIABLE), 4);
}

TEST_F(JoinTest, BotsNeedRoomUnderMaxNpcAndAValidName) {
    settings_.maxNpc = 0;
    JoinFields f;
    f.name = "Bot_1";
    NpcJoin(1, f);
    EXPECT_EQ(RejectReason(1, RELIABILITY_RELIABLE), 4);

    settings_.maxNpc = 2;
    f.name = std::string(24, 'b');
    NpcJoin(2, f);
    ASSERT_TRUE(pool()->IsBot(2));
    EXPECT_EQ(fake()->SystemOf(2).loggedOn.load(), 1);
    EXPECT_TRUE(Logged("[npc:join] " + f.name + " has joined the server (2:" + Ip(2) + ")"));

    f.name = std::string(25, 'b');
    NpcJoin(3, f);
    EXPECT_EQ(RejectReason(3, RELIABILITY_RELIABLE), 2);
    f.name = "Bot_4";
    f.checkByte = 2;
    NpcJoin(4, f);
    EXPECT_EQ(RejectReason(4, RELIABILITY_RELIABLE), 3);

    f.checkByte = 1;
    NpcJoin(5, f);
    ASSERT_TRUE(pool()->IsBot(5));
    // Two bots now: the limit is reached.
    f.name = "Bot_6";
    NpcJoin(6, f);
    EXPECT_EQ(RejectReason(6, RELIABILITY_RELIABLE), 4);
}

// Bot joins from addresses that are not this machine's, with and without a bind address.
class BotJoinTest : public ProtocolTest {
protected:
    void Start(const char* bind) {
        console_->SetStringVariable("bind", bind);
        StartProtocol();
        settings_.maxNpc = 8;
    }
    bool BotJoinFrom(uint16_t slot, const char* dotted) {
        in_addr a{};
        inet_pton(AF_INET, dotted, &a);
        const PlayerID from{a.s_addr, uint16_t(7000 + slot)};
        net_->AddSlot(slot, from);
        JoinFields f;
        f.name = "Bot_" + std::to_string(slot);
        BitStream bs;
        WriteJoin(bs, f, true);
        CallRpcFrom(RPC_NpcJoin, from, bs);
        const bool admitted = pool()->IsConnected(slot);
        if (!admitted) {
            EXPECT_TRUE(Logged("[connection:npc:error] bot join from a remote address refused (" +
                               std::string(from.ToString(true)) + ")"));
            EXPECT_EQ(fake()->SystemOf(slot).loggedOn.load(), 0);
        }
        return admitted;
    }
};

TEST_F(BotJoinTest, OnlyLoopbackJoinsWithoutABindAddress) {
    Start("");
    EXPECT_TRUE(BotJoinFrom(1, "127.0.0.1"));
    EXPECT_TRUE(BotJoinFrom(2, "127.3.2.1"));  // all of 127/8 is this machine
    EXPECT_FALSE(BotJoinFrom(3, "10.0.0.5"));
}

TEST_F(BotJoinTest, TheBindAddressJoinsToo) {
    Start("10.0.0.5");
    EXPECT_TRUE(BotJoinFrom(1, "10.0.0.5"));  // bots connect to the bound address, from it
    EXPECT_FALSE(BotJoinFrom(2, "10.0.0.6"));
    EXPECT_TRUE(BotJoinFrom(3, "127.0.0.1"));
}

TEST_F(JoinTest, IntermissionJoinIsAdmittedAndToldTheGamemodeRestarts) {
    game_->EndGameMode();
    ASSERT_EQ(game_->GetGameState(), GAME_STATE_ENDED);
    net_->sent.clear();
    PlayerJoin(3, JoinFields{});
    ASSERT_TRUE(pool()->IsConnected(3));
    std::vector<uint8_t> order;
    for (const FakeNetServer::Message& m : net_->To(FakeNetServer::AddressOf(3)))
        if (m.isRpc && (m.rpcId == RPC_GameInit || m.rpcId == RPC_GameModeRestart)) order.push_back(m.rpcId);
    EXPECT_EQ(order, (std::vector<uint8_t>{RPC_GameInit, RPC_GameModeRestart}));
    auto restart = RpcsTo(3, RPC_GameModeRestart);
    EXPECT_EQ(restart[0].reliability, RELIABILITY_RELIABLE);
    EXPECT_EQ(restart[0].channel, 0);
    EXPECT_EQ(restart[0].bits, 0);
}

}  // namespace
}  // namespace velt::test
