// What the object editors and the object selection report, through the server's own RPC table:
// which reports reach the scripts (and with what), and which are dropped: no editing mark, an
// object or slot the sender cannot have edited, a response or number no client sends, a payload cut
// short, a game that is not running. Then the arrivals of moving objects as the scripts see them.

#include <cmath>
#include <limits>

#include "tests/server/dispatch_fixture.h"

namespace velt::test {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

struct Edit {
    bool playerObject = false;
    uint16_t object = 1;
    int32_t response = 1;
    Vector3 position{1.5f, 2, 3};
    Vector3 rotation{0, 0, 90};
};

Payload EditPayload(const Edit& e) {
    BitStream bs;
    bs.Write(e.playerObject);
    bs.Write(e.object);
    bs.Write(e.response);
    for (float v : {e.position.x, e.position.y, e.position.z, e.rotation.x, e.rotation.y, e.rotation.z})
        bs.Write(v);
    return PayloadOf(bs);
}

struct Select {
    int32_t claimedType = 0;
    uint16_t object = 1;
    int32_t model = 1337;
    Vector3 position{4, 5, 6};
};

Payload SelectPayload(const Select& s) {
    BitStream bs;
    bs.Write(s.claimedType);
    bs.Write(s.object);
    bs.Write(s.model);
    bs.Write(s.position.x);
    bs.Write(s.position.y);
    bs.Write(s.position.z);
    return PayloadOf(bs);
}

struct WornEdit {
    int32_t response = 2;
    int32_t slot = 4;
    Vector3 offset{0.5f, 0, 0};
    Vector3 scale{1, 1, 1};
};

Payload WornEditPayload(const WornEdit& w) {
    BitStream bs;
    bs.Write(w.response);
    bs.Write(w.slot);
    bs.Write(int32_t(19));  // model
    bs.Write(int32_t(2));   // bone
    for (float v : {w.offset.x, w.offset.y, w.offset.z, 10.0f, 20.0f, 30.0f, w.scale.x, w.scale.y, w.scale.z})
        bs.Write(v);
    bs.Write(uint32_t(0xFF00FF00));
    bs.Write(uint32_t(0x00FF00FF));
    return PayloadOf(bs);
}

// Every cut of a payload, whole bytes and inside the last one.
std::vector<Payload> Cuts(const Payload& whole) {
    std::vector<Payload> out;
    for (uint32_t bits = 0; bits < whole.bits; ++bits) {
        Payload cut = whole;
        cut.bits = bits;
        cut.bytes.resize((bits + 7) / 8);
        out.push_back(cut);
    }
    return out;
}

class ObjectEditingTest : public ProtocolTest {
protected:
    void SetUp() override {
        ProtocolTest::SetUp();
        scripts_.filterScriptFiles = {"fs"};
        console_->SetStringVariable("filterscripts", "fs");
        scripts_.gameModePublics = {{"OnPlayerEditObject", 0},
                                    {"OnPlayerEditAttachedObject", 0},
                                    {"OnPlayerSelectObject", 0},
                                    {"OnObjectMoved", 0},
                                    {"OnPlayerObjectMoved", 0}};
        StartProtocol();
        Join(1, "Ann");
        Join(2, "Ben");
        // Global object 1; object 2 of Ann and another object 2 of Ben.
        ObjectPool* objects = game_->GetObjectPool();
        ASSERT_EQ(objects->Create(1337, {}, {}, 100.0f), 1);
        ASSERT_EQ(objects->CreatePlayerObject(1, 1400, {}, {}, 100.0f), 2);
        ASSERT_EQ(objects->CreatePlayerObject(2, 1401, {}, {}, 100.0f), 2);
        scripts_.Clear();
    }
    void SetFilterScriptResult(const std::string& name, int32_t result) {
        scripts_.filterScriptPublics["fs"][name] = result;
    }
};

TEST_F(ObjectEditingTest, AnEditReachesTheScriptsOnlyFromAnEditingPlayerAboutHisObject) {
    CallRpc(RPC_ObjectEdit, 1, EditPayload({}));
    EXPECT_TRUE(scripts_.calls.empty()) << "no editor was opened for Ann";
    player(1)->SetEditingObject();
    CallRpc(RPC_ObjectEdit, 1, EditPayload({}));
    CallRpc(RPC_ObjectEdit, 1, EditPayload({.playerObject = true, .object = 2, .response = 0}));
    EXPECT_EQ(Calls(), (std::vector<std::string>{"gm:OnPlayerEditObject(1,0,1,1,f,f,f,f,f,f)",
                                                 "gm:OnPlayerEditObject(1,1,2,0,f,f,f,f,f,f)"}));
    ASSERT_EQ(scripts_.calls.size(), 2u);
    EXPECT_EQ(std::get<float>(scripts_.calls[0].args[4]), 1.5f);
    EXPECT_EQ(std::get<float>(scripts_.calls[0].args[9]), 90.0f);
    scripts_.Clear();

    const Edit dropped[] = {
        {.object = 2},                        // Ann's own id, named as a global object
        {.playerObject = true, .object = 1},  // a global id, named as hers
        {.playerObject = true, .object = 3},  // nobody's
        {.object = 0},
        {.object = 2000},
        {.object = 0xFFFF},
        {.response = 3},
        {.response = -1},
        {.position = {kNaN, 0, 0}},
        {.rotation = {0, kInf, 0}},
        {.position = {0, 0, -kInf}},
    };
    for (const Edit& e : dropped) CallRpc(RPC_ObjectEdit, 1, EditPayload(e));
    for (const Payload& cut : Cuts(EditPayload({}))) CallRpc(RPC_ObjectEdit, 1, cut);
    // Ben never had an editor, and slot 5 is nobody.
    CallRpc(RPC_ObjectEdit, 2, EditPayload({.playerObject = true, .object = 2}));
    CallRpc(RPC_ObjectEdit, 5, EditPayload({}));
    EXPECT_TRUE(scripts_.calls.empty()) << testing::PrintToString(Calls());
}

TEST_F(ObjectEditingTest, ASelectionIsNamedByTheServerNotByTheClient) {
    CallRpc(RPC_ObjectSelect, 1, SelectPayload({.claimedType = 2, .object = 1}));
    CallRpc(RPC_ObjectSelect, 1, SelectPayload({.claimedType = 1, .object = 2}));
    CallRpc(RPC_ObjectSelect, 2, SelectPayload({.claimedType = 0, .object = 2, .model = -5}));
    EXPECT_EQ(Calls(), (std::vector<std::string>{"gm:OnPlayerSelectObject(1,1,1,1337,f,f,f)",
                                                 "gm:OnPlayerSelectObject(1,2,2,1337,f,f,f)",
                                                 "gm:OnPlayerSelectObject(2,2,2,-5,f,f,f)"}));
    scripts_.Clear();
    for (uint16_t object : {0, 3, 2000, 0xFFFF})
        CallRpc(RPC_ObjectSelect, 1, SelectPayload({.object = object}));
    CallRpc(RPC_ObjectSelect, 1, SelectPayload({.position = {kNaN, 0, 0}}));
    for (const Payload& cut : Cuts(SelectPayload({}))) CallRpc(RPC_ObjectSelect, 1, cut);
    EXPECT_TRUE(scripts_.calls.empty()) << testing::PrintToString(Calls());
}

TEST_F(ObjectEditingTest, AWornObjectEditNeedsTheMarkASlotAndFiniteNumbers) {
    CallRpc(RPC_AttachedObjectEdit, 1, WornEditPayload({}));
    EXPECT_TRUE(scripts_.calls.empty());
    player(1)->SetEditingAttachedObject();
    CallRpc(RPC_AttachedObjectEdit, 1, WornEditPayload({}));
    EXPECT_EQ(Calls(),
              (std::vector<std::string>{"gm:OnPlayerEditAttachedObject(1,2,4,19,2,f,f,f,f,f,f,f,f,f)"}));
    ASSERT_EQ(scripts_.calls.size(), 1u);
    EXPECT_EQ(std::get<float>(scripts_.calls[0].args[5]), 0.5f);
    EXPECT_EQ(std::get<float>(scripts_.calls[0].args[10]), 30.0f);
    scripts_.Clear();

    const WornEdit dropped[] = {
        {.slot = -1}, {.slot = 10}, {.response = 7}, {.offset = {kNaN, 0, 0}}, {.scale = {1, kInf, 1}}};
    for (const WornEdit& w : dropped) CallRpc(RPC_AttachedObjectEdit, 1, WornEditPayload(w));
    for (const Payload& cut : Cuts(WornEditPayload({}))) CallRpc(RPC_AttachedObjectEdit, 1, cut);
    EXPECT_TRUE(scripts_.calls.empty()) << testing::PrintToString(Calls());
}

TEST_F(ObjectEditingTest, AFilterscriptThatHandlesAReportKeepsItFromTheGamemode) {
    player(1)->SetEditingObject();
    SetFilterScriptResult("OnPlayerEditObject", 1);
    SetFilterScriptResult("OnPlayerSelectObject", 0);
    CallRpc(RPC_ObjectEdit, 1, EditPayload({}));
    CallRpc(RPC_ObjectSelect, 1, SelectPayload({}));
    EXPECT_EQ(Calls(), (std::vector<std::string>{"fs:OnPlayerEditObject(1,0,1,1,f,f,f,f,f,f)",
                                                 "fs:OnPlayerSelectObject(1,1,1,1337,f,f,f)",
                                                 "gm:OnPlayerSelectObject(1,1,1,1337,f,f,f)"}));
}

TEST_F(ObjectEditingTest, NothingIsReportedWhileNoGameRuns) {
    player(1)->SetEditingObject();
    player(1)->SetEditingAttachedObject();
    game_->EndGameMode();
    scripts_.Clear();
    CallRpc(RPC_ObjectEdit, 1, EditPayload({}));
    CallRpc(RPC_ObjectSelect, 1, SelectPayload({}));
    CallRpc(RPC_AttachedObjectEdit, 1, WornEditPayload({}));
    EXPECT_TRUE(scripts_.calls.empty()) << testing::PrintToString(Calls());
}

TEST_F(ObjectEditingTest, ArrivalsReachFilterscriptsThenGamemodeWhileTheOwnerStays) {
    ObjectPool* objects = game_->GetObjectPool();
    ASSERT_TRUE(objects->Move(*objects->Get(1), {1, 0, 0}, 1.0f, {}));
    ASSERT_TRUE(objects->Move(*objects->GetPlayerObject(2, 2), {1, 0, 0}, 1.0f, {}));
    ASSERT_TRUE(objects->Move(*objects->GetPlayerObject(1, 2), {1, 0, 0}, 1.0f, {}));
    SetFilterScriptResult("OnObjectMoved", 1);
    SetFilterScriptResult("OnPlayerObjectMoved", 1);
    // Ben's filterscript kicks him: the gamemode does not hear of his object.
    scripts_.onRun = [this](ScriptCall& call) {
        if (call.side == ScriptSide::FilterScript && call.name == "OnPlayerObjectMoved" &&
            std::get<int32_t>(call.args[0]) == 2)
            game_->KickPlayer(2);
    };
    game_->Process(1.0f);
    EXPECT_EQ(Calls(), (std::vector<std::string>{"fs:OnPlayerObjectMoved(1,2)", "gm:OnPlayerObjectMoved(1,2)",
                                                 "fs:OnPlayerObjectMoved(2,2)", "fs:OnObjectMoved(1)",
                                                 "gm:OnObjectMoved(1)"}));
    EXPECT_FALSE(objects->PlayerObjectExists(2, 2)) << "his objects left with him";
}

}  // namespace
}  // namespace velt::test
