// The custom model natives from a real script: nothing without custom models, models added (and
// told to the players) with their checks, file names looked up by CRC, and a player's download
// sent to a web address.

#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "server/game/ArtworkList.h"
#include "server/game/Crc32.h"
#include "server/game/FileDownload.h"
#include "server/shared/GameRpc.h"
#include "server/world/ActorPool.h"
#include "tests/script/natives_server_fixture.h"

namespace velt::scripttest {
namespace {

class CustomModelNatives : public NativesServerTest {
protected:
    void SetUp() override {
        NativesServerTest::SetUp();
        std::filesystem::create_directories("models");
        std::ofstream("models/a.dff") << "model";
        std::ofstream("models/a.txd") << "texture";
        Join(2, "Alice");
        net_->sent.clear();
    }
    size_t SentRpcs(uint8_t id) const {
        size_t n = 0;
        for (const auto& m : net_->sent) n += m.isRpc && m.rpcId == id;
        return n;
    }

    ArtworkList artwork_{"models"};
    NativeScript script_{"natives_models", ScriptKind::GameMode, -1, nullptr};
};

TEST_F(CustomModelNatives, WithoutCustomModelsEveryOneReturnsZeroSilently) {
    ScriptMemory& m = script_.mem;
    const cell dff = m.Str("a.dff"), txd = m.Str("a.txd"), buf = m.Alloc(std::vector<cell>(16, 0));
    EXPECT_EQ(script_.Call("AddCharModel", {7, 20001, dff, txd}).value, 0);
    EXPECT_EQ(script_.Call("AddSimpleModel", {0, 7, -1000, dff, txd}).value, 0);
    EXPECT_EQ(script_.Call("AddSimpleModelTimed", {0, 7, -1000, dff, txd, 1, 2}).value, 0);
    EXPECT_EQ(script_.Call("FindModelFileNameFromCRC", {cell(Crc32("model", 5)), buf, 16}).value, 0);
    EXPECT_EQ(script_.Call("RedirectDownload", {2, m.Str("http://x")}).value, 0);
    for (const std::string& line : LogLines()) EXPECT_EQ(line.find("[artwork"), std::string::npos) << line;
}

TEST_F(CustomModelNatives, AddsLooksUpAndRedirects) {
    game_->SetArtworkList(&artwork_);
    ScriptMemory& m = script_.mem;
    const cell dff = m.Str("a.dff"), txd = m.Str("a.txd");
    // The first model's index is 0, like every failure.
    EXPECT_EQ(script_.Call("AddCharModel", {7, 20001, dff, txd}).value, 0);
    EXPECT_EQ(script_.Call("AddSimpleModelTimed", {3, 7, -1000, dff, txd, 6, 256 + 22}).value, 1);
    ASSERT_EQ(artwork_.Size(), 2u);
    const ArtworkModel* timed = artwork_.At(1);
    EXPECT_EQ(
        (std::tuple{timed->type, timed->world, timed->baseId, timed->newId, timed->timeOn, timed->timeOff}),
        (std::tuple{uint8_t(2), 3, 7, -1000, uint8_t(6), uint8_t(22)}));
    EXPECT_EQ(SentRpcs(RPC_CustomModelAdd), 2u);
    // Refused: an empty name, a missing file, a name that leaves the folder.
    for (const char* name : {"", "missing.dff", "../a.dff"})
        EXPECT_EQ(script_.Call("AddSimpleModel", {0, 7, -1001, m.Str(name), txd}).value, 0) << name;
    EXPECT_EQ(artwork_.Size(), 2u);
    EXPECT_TRUE(Logged("[artwork:error] Bad file: missing.dff"));

    const cell buf = m.Alloc(std::vector<cell>(16, -1));
    EXPECT_EQ(script_.Call("FindTextureFileNameFromCRC", {cell(Crc32("texture", 7)), buf, 16}).value, 1);
    EXPECT_EQ(m.Text(buf), "a.txd");
    EXPECT_EQ(script_.Call("FindModelFileNameFromCRC", {cell(Crc32("model", 5)), buf, 3}).value, 1);
    EXPECT_EQ(m.Text(buf), "a.");
    EXPECT_EQ(script_.Call("FindModelFileNameFromCRC", {cell(Crc32("texture", 7)), buf, 16}).value, 0);
    EXPECT_EQ(m.Text(buf), "a.");

    EXPECT_EQ(script_.Call("RedirectDownload", {2, m.Str("http://example.test/a.dff")}).value, 1);
    EXPECT_EQ(SentRpcs(RPC_FileTransferMessage), 1u);
    EXPECT_EQ(script_.Call("RedirectDownload", {2, m.Str("")}).value, 0);
    EXPECT_EQ(script_.Call("RedirectDownload", {5, m.Str("http://x")}).value, 0);
    EXPECT_EQ(SentRpcs(RPC_FileTransferMessage), 1u);
}

TEST_F(CustomModelNatives, ActorsOfCustomSkinsGoOutAsTheirBaseModel) {
    ScriptMemory& m = script_.mem;
    const auto models = [this](int32_t skin) {
        Actor* actor = game_->GetActorPool()->GetAt(game_->GetActorPool()->Create(skin, {0, 0, 0}, 0));
        return std::pair{actor->GetModel(), actor->GetCustomModel()};
    };
    EXPECT_EQ(models(20001), std::pair(0, 0));  // no custom models served
    game_->SetArtworkList(&artwork_);
    script_.Call("AddCharModel", {7, 20001, m.Str("a.dff"), m.Str("a.txd")});
    script_.Call("AddCharModel", {20000, 20002, m.Str("a.dff"), m.Str("a.txd")});
    ASSERT_EQ(artwork_.Size(), 2u);
    EXPECT_EQ(models(20001), std::pair(7, 20001));
    EXPECT_EQ(models(20002), std::pair(0, 0));  // a base that is itself no game model
    EXPECT_EQ(models(20003), std::pair(0, 0));  // unknown
    EXPECT_EQ(models(20000), std::pair(20000, 0));
}

}  // namespace
}  // namespace velt::scripttest
