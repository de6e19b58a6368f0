// Message, game text, dialog and audio natives, called from a real script on a game server whose
// fake transport records every RPC: one table row per native (good, wrapped, bad and disconnected
// ids; payloads byte for byte; the channel each family goes on), then the texts: sent as they
// stand, never read as formats, and cut where their length field ends.

#include <cstring>
#include <string>
#include <vector>

#include "net/BitStream.h"
#include "net/StringCompressor.h"
#include "server/shared/GameRpc.h"
#include "tests/script/natives_rows.h"

namespace velt::scripttest {
namespace {

constexpr uint16_t kPlayer = 3;  // the player the rows act on; 0 and 7 are also connected
constexpr uint16_t kOther = 7;

// Client messages, chat lines, death messages and game text go reliable but unordered on their
// own channel; everything else of these natives in order on the world channel.
bool OnMessageChannel(uint8_t rpc) {
    return rpc == RPC_ClientMessage || rpc == RPC_ChatText || rpc == RPC_DeathMessage ||
           rpc == RPC_GameTextShow;
}

std::vector<Rpc> TakeSent(test::FakeNetServer& net) {
    std::vector<Rpc> out;
    for (const test::FakeNetServer::Message& m : net.sent) {
        EXPECT_TRUE(m.isRpc);
        EXPECT_EQ(m.priority, HIGH_PRIORITY_LEVEL);
        const bool message = OnMessageChannel(m.rpcId);
        EXPECT_EQ(m.reliability, message ? RELIABILITY_RELIABLE : RELIABILITY_RELIABLE_ORDERED)
            << int(m.rpcId);
        EXPECT_EQ(m.channel, message ? 3 : 2) << int(m.rpcId);
        out.push_back({m.rpcId, uint16_t(net.GetIndexFromPlayerID(m.target)), m.bytes});
    }
    net.sent.clear();
    return out;
}

Bytes Payload(const BitStream& bs) { return Bytes(bs.GetData(), bs.GetData() + bs.GetNumberOfBytesUsed()); }

// The dialog's body as the client reads it: the compressed text after the byte-aligned head.
std::string DialogInfo(const Bytes& payload, size_t head) {
    BitStream bs(payload.data(), uint32_t(payload.size()), false);
    bs.SkipBits(int32_t(head * 8));
    std::string text(8192, '\0');
    EXPECT_TRUE(StringCompressor::Instance()->DecodeString(text.data(), int32_t(text.size()), bs));
    text.resize(std::strlen(text.c_str()));
    return text;
}

class MessageNatives : public NativesServerTest {
protected:
    void SetUp() override {
        NativesServerTest::SetUp();
        JoinZedAliceBob(kPlayer, kOther);
        net_->sent.clear();
    }

    std::vector<Rpc> Sent() { return TakeSent(*net_); }
    static std::vector<Rpc> ToAll(uint8_t id, const Bytes& payload) {
        return {{id, 0, payload}, {id, kPlayer, payload}, {id, kOther, payload}};
    }
    // The rows of a table, each run over good and bad ids as RunNativeRows does, with the channel
    // of each RPC checked by its kind.
    void RunRows(const std::vector<NativeRow>& rows) {
        for (const NativeRow& row : rows) {
            for (cell id : {cell(kPlayer), cell(65536 + kPlayer), static_cast<cell>(0xFFFF0000u) + kPlayer}) {
                if (row.reset) row.reset();
                net_->sent.clear();
                EXPECT_EQ(script.Call(row.native, row.args(id)), (Outcome{0, row.ok}))
                    << row.native << " " << id;
                EXPECT_EQ(Sent(), row.rpcs) << row.native << " " << id;
                if (row.check) row.check();
            }
            for (cell id : {cell(5), cell(1000), cell(65535), cell(65536 + 5), cell(-1)}) {
                EXPECT_EQ(script.Call(row.native, row.args(id)), (Outcome{0, row.fail}))
                    << row.native << " " << id;
                EXPECT_TRUE(Sent().empty()) << row.native << " " << id;
            }
        }
    }

    NativeScript script{"natives_messages", ScriptKind::GameMode, -1, nullptr};
};

TEST_F(MessageNatives, EveryNativeOnGoodBadAndWrappedIds) {
    ScriptMemory& m = script.mem;
    PlayerPool* pool = game_->GetPlayerPool();
    const cell format = m.Str("50% off %s%n%d");
    const cell hello = m.Str("hello");
    const cell gameText = m.Packed("~r~go");
    const cell caption = m.Str("Cap");
    const cell info = m.Str("Line one\nLine two");
    const cell ok = m.Str("OK");
    const cell none = m.Str("");
    const cell url = m.Str("http://radio.example/a.mp3");
    const cell shop = m.Str("ammun1");

    // Both players stand on foot; the other also at a known place, as a suspect.
    for (uint16_t id : {kPlayer, kOther}) pool->GetAt(id)->SetState(PLAYER_STATE_ONFOOT);
    pool->GetAt(kOther)->UpdatePosition(1.5f, -2.5f, 3.0f, false);
    pool->GetAt(kPlayer)->UpdatePosition(-7.0f, 8.0f, 9.0f, false);
    net_->sent.clear();

    BitStream dialog;
    dialog.Write(uint16_t(7));
    dialog.Write(uint8_t(2));
    for (const char* text : {"Cap", "OK", ""}) {
        dialog.Write(uint8_t(std::strlen(text)));
        dialog.WriteBytes(text, int32_t(std::strlen(text)));
    }
    StringCompressor::Instance()->EncodeString("Line one\nLine two", 18, dialog);

    const Bytes shopField = Cat({Text("ammun1"), Bytes(26, 0)});
    const std::vector<NativeRow> rows = {
        {"SendClientMessage",
         [&](cell id) {
             return std::vector<cell>{id, static_cast<cell>(0xAABBCCDDu), format};
         },
         1,
         0,
         {{RPC_ClientMessage, kPlayer, Cat({U32(0xAABBCCDD), U32(14), Text("50% off %s%n%d")})}}},
        {"SendClientMessage",
         [&](cell id) {
             return std::vector<cell>{id, 1, none};
         },
         1,
         0,
         {{RPC_ClientMessage, kPlayer, Cat({U32(1), U32(0)})}}},
        {"SendPlayerMessageToPlayer",
         [&](cell id) {
             return std::vector<cell>{id, kOther, hello};
         },
         1,
         0,
         {{RPC_ChatText, kPlayer, Cat({U16(kOther), U8(5), Text("hello")})}}},
        {"SendPlayerMessageToPlayer",
         [&](cell id) {
             return std::vector<cell>{kOther, id, hello};
         },
         1,
         0,
         {{RPC_ChatText, kOther, Cat({U16(kPlayer), U8(5), Text("hello")})}}},
        {"SendPlayerMessageToAll",
         [&](cell id) {
             return std::vector<cell>{id, hello};
         },
         1, 0, ToAll(RPC_ChatText, Cat({U16(kPlayer), U8(5), Text("hello")}))},
        // No check of its own: the send drops a message to nobody, and the result stays 1.
        {"SendDeathMessageToPlayer",
         [](cell id) {
             return std::vector<cell>{id, 0x10001, 0xFFFF, 300};
         },
         1,
         1,
         {{RPC_DeathMessage, kPlayer, Cat({U16(1), U16(0xFFFF), U8(44)})}}},
        {"GameTextForPlayer",
         [&](cell id) {
             return std::vector<cell>{id, gameText, 3000, 5};
         },
         1,
         0,
         {{RPC_GameTextShow, kPlayer, Cat({U32(5), U32(3000), U32(5), Text("~r~go")})}}},
        {"ShowPlayerDialog",
         [&](cell id) { return std::vector<cell>{id, 0x10007, 0x102, caption, info, ok, none}; },
         1,
         0,
         {{RPC_DialogShow, kPlayer, Payload(dialog)}},
         [&] { pool->GetAt(kPlayer)->SetDialogId(0); },
         [&] { EXPECT_EQ(pool->GetAt(kPlayer)->GetDialogId(), 7); }},
        {"PlayAudioStreamForPlayer",
         [&](cell id) {
             return std::vector<cell>{
                 id, url, FloatToCell(1.0f), FloatToCell(2.0f), FloatToCell(3.0f), FloatToCell(50.0f), 0x101};
         },
         1,
         0,
         {{RPC_AudioStreamPlay, kPlayer,
           Cat({U8(26), Text("http://radio.example/a.mp3"), F32(1.0f), F32(2.0f), F32(3.0f), F32(50.0f),
                U8(1)})}}},
        {"StopAudioStreamForPlayer",
         [](cell id) { return std::vector<cell>{id}; },
         1,
         0,
         {{RPC_AudioStreamStop, kPlayer, {}}}},
        {"PlayerPlaySound",
         [](cell id) {
             return std::vector<cell>{id, 1057, FloatToCell(4.0f), FloatToCell(-5.0f), FloatToCell(6.5f)};
         },
         1,
         0,
         {{RPC_PlayerSoundPlay, kPlayer, Cat({U32(1057), F32(4.0f), F32(-5.0f), F32(6.5f)})}}},
        {"PlayCrimeReportForPlayer",
         [](cell id) {
             return std::vector<cell>{id, kOther, 16};
         },
         1,
         0,
         {{RPC_CrimeReportPlay, kPlayer,
           Cat({U16(kOther), U32(0), U32(0), U32(0), U32(16), F32(1.5f), F32(-2.5f), F32(3.0f)})}}},
        {"PlayCrimeReportForPlayer",
         [](cell id) {
             return std::vector<cell>{kOther, id, 4};
         },
         1,
         0,
         {{RPC_CrimeReportPlay, kOther,
           Cat({U16(kPlayer), U32(0), U32(0), U32(0), U32(4), F32(-7.0f), F32(8.0f), F32(9.0f)})}}},
        {"SetPlayerShopName",
         [&](cell id) {
             return std::vector<cell>{id, shop};
         },
         1,
         0,
         {{RPC_ShopNameSet, kPlayer, shopField}}},
    };
    const size_t logged = LogLines().size();
    RunRows(rows);
    EXPECT_EQ(LogLines().size(), logged);  // nothing logged, good ids or bad
}

TEST_F(MessageNatives, NativesForEveryoneNeedNoPlayer) {
    ScriptMemory& m = script.mem;
    EXPECT_EQ(script.Call("SendClientMessageToAll", {0x11223344, m.Str("%s%n %x")}).value, 1);
    EXPECT_EQ(Sent(), ToAll(RPC_ClientMessage, Cat({U32(0x11223344), U32(7), Text("%s%n %x")})));
    EXPECT_EQ(script.Call("SendDeathMessage", {kPlayer, 65535, 255}).value, 1);
    EXPECT_EQ(Sent(), ToAll(RPC_DeathMessage, Cat({U16(kPlayer), U16(0xFFFF), U8(255)})));
    EXPECT_EQ(script.Call("SendDeathMessage", {-1, 1000, 256 + 31}).value, 1);
    EXPECT_EQ(Sent(), ToAll(RPC_DeathMessage, Cat({U16(0xFFFF), U16(1000), U8(31)})));
    EXPECT_EQ(script.Call("GameTextForAll", {m.Str("Round 2"), -1, 3}).value, 1);
    EXPECT_EQ(Sent(), ToAll(RPC_GameTextShow, Cat({U32(3), U32(0xFFFFFFFF), U32(7), Text("Round 2")})));

    // Nothing to show is refused, for everyone and for one player alike.
    EXPECT_EQ(script.Call("GameTextForAll", {m.Str(""), 1000, 1}).value, 0);
    EXPECT_EQ(script.Call("GameTextForPlayer", {kPlayer, m.Str(""), 1000, 1}).value, 0);
    EXPECT_EQ(script.Call("GameTextForPlayer", {kPlayer, -4, 1000, 1}).value, 0);
    EXPECT_TRUE(Sent().empty());
}

TEST_F(MessageNatives, TextsAreCutWhereTheirLengthFieldsEnd) {
    ScriptMemory& m = script.mem;
    const std::string longLine(2000, 'x');
    const cell longText = m.Str(longLine);

    // The client-message writer holds 1023 bytes; the rest of a longer text is dropped.
    EXPECT_EQ(script.Call("SendClientMessage", {kPlayer, 5, longText}).value, 1);
    EXPECT_EQ(Sent(), (std::vector<Rpc>{{RPC_ClientMessage, kPlayer,
                                         Cat({U32(5), U32(1023), Text(longLine.substr(0, 1023))})}}));
    EXPECT_EQ(script.Call("SendClientMessageToAll", {5, longText}).value, 1);
    EXPECT_EQ(Sent(), ToAll(RPC_ClientMessage, Cat({U32(5), U32(1023), Text(longLine.substr(0, 1023))})));

    // One-byte lengths: 255 at most, the length byte always saying how many bytes follow (no
    // length taken modulo 256: 256 characters would send none, 300 only 44).
    for (size_t length : {255u, 256u, 300u, 2000u}) {
        SCOPED_TRACE(length);
        const std::string line(length, 'c');
        const Bytes cut = Cat({U8(255), Text(line.substr(0, 255))});
        EXPECT_EQ(script.Call("SendPlayerMessageToPlayer", {kPlayer, kOther, m.Str(line)}).value, 1);
        EXPECT_EQ(Sent(), (std::vector<Rpc>{{RPC_ChatText, kPlayer, Cat({U16(kOther), cut})}}));
        EXPECT_EQ(script.Call("PlayAudioStreamForPlayer", {kPlayer, m.Str(line), 0, 0, 0, 0, 0}).value, 1);
        EXPECT_EQ(Sent(), (std::vector<Rpc>{{RPC_AudioStreamPlay, kPlayer,
                                             Cat({cut, F32(0), F32(0), F32(0), F32(0), U8(0)})}}));
        EXPECT_EQ(
            script
                .Call("ShowPlayerDialog", {kPlayer, 1, 0, m.Str(line), m.Str("i"), m.Str(line), m.Str(line)})
                .value,
            1);
        const std::vector<Rpc> shown = Sent();
        ASSERT_EQ(shown.size(), 1u);
        const Bytes head(shown[0].payload.begin(), shown[0].payload.begin() + 3 + 3 * 256);
        EXPECT_EQ(head, Cat({U16(1), U8(0), cut, cut, cut}));
        EXPECT_EQ(DialogInfo(shown[0].payload, head.size()), "i");
    }
}

TEST_F(MessageNatives, DialogBodyAlwaysFitsItsBitCount) {
    ScriptMemory& m = script.mem;
    // A body of 4095 characters goes whole; a longer one is cut to 4095 rather than announced with
    // a bit count that wrapped and the rest read as garbage.
    const std::string fits(4095, 'e');
    for (const std::string& body : {fits, std::string(20000, 'e')}) {
        EXPECT_EQ(
            script.Call("ShowPlayerDialog", {kPlayer, 2, 1, m.Str("c"), m.Str(body), m.Str("a"), m.Str("b")})
                .value,
            1);
        const std::vector<Rpc> shown = Sent();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(DialogInfo(shown[0].payload, 3 + 2 + 2 + 2), fits);
    }
    // Bytes with long codes: whatever is sent still decodes, as a prefix of the body.
    const std::string rare(4095, '\x80');
    EXPECT_EQ(
        script.Call("ShowPlayerDialog", {kPlayer, 2, 1, m.Str("c"), m.Str(rare), m.Str("a"), m.Str("b")})
            .value,
        1);
    const std::vector<Rpc> shown = Sent();
    ASSERT_EQ(shown.size(), 1u);
    const std::string got = DialogInfo(shown[0].payload, 3 + 2 + 2 + 2);
    EXPECT_FALSE(got.empty());
    EXPECT_EQ(got, rare.substr(0, got.size()));
}

TEST_F(MessageNatives, CrimeReportNamesTheSuspectsVehicleOrNothing) {
    PlayerPool* pool = game_->GetPlayerPool();
    Player* suspect = pool->GetAt(kOther);
    const uint16_t vehicle = game_->GetVehiclePool()->New(411, {10.0f, 20.0f, 30.0f}, 0.0f, 5, 6, -1);
    ASSERT_NE(vehicle, 0xFFFF);
    net_->sent.clear();

    // Spectating (or not yet spawned): nothing to report.
    for (uint8_t state : {PLAYER_STATE_SPECTATING, PLAYER_STATE_NONE, PLAYER_STATE_WASTED}) {
        suspect->SetState(state);
        EXPECT_EQ(script.Call("PlayCrimeReportForPlayer", {kPlayer, kOther, 3}).value, 0);
    }
    // In a vehicle that is gone: nothing either.
    suspect->SetVehicleId(vehicle + 1);
    suspect->SetState(PLAYER_STATE_PASSENGER);
    EXPECT_EQ(script.Call("PlayCrimeReportForPlayer", {kPlayer, kOther, 3}).value, 0);
    scripts_.calls.clear();
    net_->sent.clear();

    // The vehicle's first colour as created, until a respray changes it.
    suspect->SetVehicleId(vehicle);
    suspect->SetState(PLAYER_STATE_DRIVER);
    EXPECT_EQ(script.Call("PlayCrimeReportForPlayer", {kPlayer, kOther, 3}).value, 1);
    EXPECT_EQ(Sent(), (std::vector<Rpc>{{RPC_CrimeReportPlay, kPlayer,
                                         Cat({U16(kOther), U32(1), U32(411), U32(5), U32(3), F32(10.0f),
                                              F32(20.0f), F32(30.0f)})}}));
    game_->GetVehiclePool()->Get(vehicle)->ChangeColor(0xFFFF, 126, 1);
    net_->sent.clear();
    EXPECT_EQ(script.Call("PlayCrimeReportForPlayer", {kPlayer, kOther, 3}).value, 1);
    EXPECT_EQ(Sent(), (std::vector<Rpc>{{RPC_CrimeReportPlay, kPlayer,
                                         Cat({U16(kOther), U32(1), U32(411), U32(126), U32(3), F32(10.0f),
                                              F32(20.0f), F32(30.0f)})}}));
}

TEST_F(MessageNatives, ShopNameMustLeaveRoomForItsEnd) {
    ScriptMemory& m = script.mem;
    const std::string longest(31, 's');
    EXPECT_EQ(script.Call("SetPlayerShopName", {kPlayer, m.Str(longest)}).value, 1);
    EXPECT_EQ(Sent(), (std::vector<Rpc>{{RPC_ShopNameSet, kPlayer, Cat({Text(longest), U8(0)})}}));
    EXPECT_EQ(script.Call("SetPlayerShopName", {kPlayer, m.Str(std::string(32, 's'))}).value, 0);
    EXPECT_EQ(script.Call("SetPlayerShopName", {kPlayer, m.Str(std::string(500, 's'))}).value, 0);
    EXPECT_EQ(script.Call("SetPlayerShopName", {kPlayer, -4}).value, 0);
    EXPECT_TRUE(Sent().empty());
}

}  // namespace
}  // namespace velt::scripttest
