// Chat lines, commands and dialog answers: what is accepted, what the scripts see, and what is
// relayed, logged or answered.

#include "server/console/ConsoleVariables.h"
#include "tests/server/dispatch_fixture.h"

namespace velt::test {
namespace {

Payload Text8(const std::string& text, int declared = -1) {
    BitStream bs;
    bs.Write(uint8_t(declared < 0 ? text.size() : size_t(declared)));
    bs.WriteBytes(text.data(), int32_t(text.size()));
    return PayloadOf(bs);
}

Payload Text32(const std::string& text, int64_t declared = -1) {
    BitStream bs;
    bs.Write(uint32_t(declared < 0 ? text.size() : uint64_t(declared)));
    bs.WriteBytes(text.data(), int32_t(text.size()));
    return PayloadOf(bs);
}

class ChatTest : public ProtocolTest {
protected:
    void SetUp() override {
        ProtocolTest::SetUp();
        scripts_.filterScriptFiles = {"fs"};
        console_->SetStringVariable("filterscripts", "fs");
    }
    void Start(bool gameModeLoads = true) {
        scripts_.gameModeLoads = gameModeLoads;
        StartProtocol();
        Join(0, "Alice");
        Join(1, "Bob");
        net_->sent.clear();
        scripts_.Clear();
    }
    // The chat lines each slot received, as "id:text".
    std::vector<std::string> ChatTo(uint16_t slot) {
        std::vector<std::string> out;
        for (const FakeNetServer::Message& m : RpcsTo(slot, RPC_ChatText)) {
            Reader r(m);
            uint16_t id = r.Get<uint16_t>();
            uint8_t length = r.Get<uint8_t>();
            out.push_back(std::to_string(id) + ":" + r.Text(length));
            EXPECT_EQ(m.channel, 3);
        }
        return out;
    }
};

TEST_F(ChatTest, LineIsStrippedOfColourEmbedsLoggedAndRelayed) {
    Start();
    CallRpc(RPC_ChatText, 0, Text8("{FF8800}hello {12{ABCDEF}3456}there %s"));
    EXPECT_TRUE(Logged("[chat] [Alice]: hello there %s"));
    EXPECT_EQ(ChatTo(1), (std::vector<std::string>{"0:hello there %s"}));
    EXPECT_EQ(ChatTo(0), (std::vector<std::string>{"0:hello there %s"}));
    EXPECT_EQ(Calls(), (std::vector<std::string>{}));  // no script defines OnPlayerText

    // Without "chatlogging" the line is relayed but not logged.
    settings_.chatLogging = 0;
    CallRpc(RPC_ChatText, 1, Text8("quiet"));
    EXPECT_FALSE(Logged("[chat] [Bob]: quiet"));
    EXPECT_EQ(ChatTo(0).size(), 2u);
}

TEST_F(ChatTest, LengthAndSenderChecks) {
    Start();
    fake()->withoutSystem.insert(1);
    struct Case {
        const char* what;
        uint16_t slot;
        Payload payload;
        bool relayed;
    };
    Case cases[] = {
        {"128 bytes", 0, Text8(std::string(128, 'a')), true},
        {"129 bytes", 0, Text8(std::string(129, 'a')), false},
        {"shorter than declared", 0, Text8("abcde", 10), false},
        {"length byte alone", 0, Text8("", 4), false},
        {"unconnected slot", 7, Text8("hi"), false},
        {"connection gone from the transport", 1, Text8("hi"), false},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        net_->sent.clear();
        CallRpc(RPC_ChatText, c.slot, c.payload);
        EXPECT_EQ(ChatTo(0).size(), c.relayed ? 1u : 0u);
    }
}

TEST_F(ChatTest, ScriptsDecideWhetherTheLineIsRelayed) {
    scripts_.filterScriptPublics["fs"]["OnPlayerText"] = 0;
    scripts_.gameModePublics["OnPlayerText"] = 1;
    Start();
    CallRpc(RPC_ChatText, 0, Text8("blocked"));
    EXPECT_EQ(Calls(), (std::vector<std::string>{"fs:OnPlayerText(0,blocked)"}));
    EXPECT_TRUE(ChatTo(1).empty());

    scripts_.filterScriptPublics["fs"]["OnPlayerText"] = 1;
    scripts_.gameModePublics["OnPlayerText"] = 0;
    CallRpc(RPC_ChatText, 0, Text8("muted"));
    EXPECT_EQ(CallsNamed("OnPlayerText").back(), "gm:OnPlayerText(0,muted)");
    EXPECT_TRUE(ChatTo(1).empty());

    // In the intermission there is no gamemode: an allowed line goes out at once.
    game_->EndGameMode();
    CallRpc(RPC_ChatText, 0, Text8("between rounds"));
    EXPECT_EQ(ChatTo(1), (std::vector<std::string>{"0:between rounds"}));
}

TEST_F(ChatTest, CommandsReachTheScriptsAndUnknownOnesAreAnswered) {
    scripts_.gameModePublics["OnPlayerCommandText"] = 0;
    Start();
    struct Case {
        const char* what;
        Payload payload;
        int32_t fsResult;  // -1: the filterscript lacks the public
        std::vector<std::string> calls;
        bool answered;
    };
    Case cases[] = {
        {"slash alone", Text32("/"), -1, {}, false},
        {"only an embed and a slash", Text32("{AABBCC}/"), -1, {}, false},
        {"unknown", Text32("/x"), -1, {"gm:OnPlayerCommandText(0,/x)"}, true},
        {"embed stripped",
         Text32("/go{FF0000}to 1"),
         0,
         {"fs:OnPlayerCommandText(0,/goto 1)", "gm:OnPlayerCommandText(0,/goto 1)"},
         true},
        {"handled by a filterscript", Text32("/fs"), 1, {"fs:OnPlayerCommandText(0,/fs)"}, false},
        {"255 bytes",
         Text32("/" + std::string(254, 'c')),
         -1,
         {"gm:OnPlayerCommandText(0,/" + std::string(254, 'c') + ")"},
         true},
        {"256 bytes", Text32("/" + std::string(255, 'c')), -1, {}, false},
        {"shorter than declared", Text32("/abc", 9), -1, {}, false},
        {"length of 4 billion", Text32("/abc", 0xFFFFFFFFll), -1, {}, false},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        scripts_.filterScriptPublics["fs"].clear();
        if (c.fsResult >= 0) scripts_.filterScriptPublics["fs"]["OnPlayerCommandText"] = c.fsResult;
        scripts_.Clear();
        net_->sent.clear();
        CallRpc(RPC_CommandText, 0, c.payload);
        EXPECT_EQ(Calls(), c.calls);
        auto answers = ClientMessagesTo(0);
        EXPECT_EQ(answers, c.answered ? std::vector<std::string>{"SERVER: Unknown command."}
                                      : std::vector<std::string>{});
        if (c.answered) {
            EXPECT_EQ(Reader(RpcsTo(0, RPC_ClientMessage)[0]).Get<uint32_t>(), 0xFFFFFFFFu);
        }
    }
    // Commands wait for the game to run.
    game_->EndGameMode();
    scripts_.Clear();
    CallRpc(RPC_CommandText, 0, Text32("/x"));
    EXPECT_TRUE(Calls().empty());
}

TEST_F(ChatTest, WithoutALoadedGamemodeAnUnknownCommandGetsNoAnswer) {
    Start(false);
    CallRpc(RPC_CommandText, 0, Text32("/x"));
    EXPECT_TRUE(ClientMessagesTo(0).empty());
    // And a chat line is relayed at once.
    CallRpc(RPC_ChatText, 0, Text8("anyone?"));
    EXPECT_EQ(ChatTo(1), (std::vector<std::string>{"0:anyone?"}));
}

TEST_F(ChatTest, DialogAnswersReachTheScriptsOnlyForTheShownDialog) {
    scripts_.filterScriptPublics["fs"]["OnDialogResponse"] = 0;
    scripts_.gameModePublics["OnDialogResponse"] = 1;
    Start();
    player(0)->SetDialogId(7);
    auto answer = [](uint16_t dialog, const std::string& text, int declared = -1) {
        BitStream bs;
        bs.Write(dialog);
        bs.Write(uint8_t(1));
        bs.Write(uint16_t(2));
        bs.Write(uint8_t(declared < 0 ? text.size() : size_t(declared)));
        bs.WriteBytes(text.data(), int32_t(text.size()));
        return PayloadOf(bs);
    };
    CallRpc(RPC_DialogResponse, 0, answer(6, "no"));
    EXPECT_TRUE(Calls().empty());
    CallRpc(RPC_DialogResponse, 0, answer(7, "abc", 5));  // text cut short
    EXPECT_TRUE(Calls().empty());

    CallRpc(RPC_DialogResponse, 0, answer(7, "abc"));
    EXPECT_EQ(Calls(), (std::vector<std::string>{"fs:OnDialogResponse(0,7,1,2,abc)",
                                                 "gm:OnDialogResponse(0,7,1,2,abc)"}));
    scripts_.Clear();
    // A length beyond 128 leaves the answer without text.
    CallRpc(RPC_DialogResponse, 0, answer(7, std::string(200, 'z')));
    EXPECT_EQ(Calls(),
              (std::vector<std::string>{"fs:OnDialogResponse(0,7,1,2,)", "gm:OnDialogResponse(0,7,1,2,)"}));

    CallEmptyRpc(RPC_DialogResponse, 1);
    EXPECT_TRUE(Logged("Warning: PlayerDialogResponse crash exploit from PlayerId: 1"));
}

}  // namespace
}  // namespace velt::test
