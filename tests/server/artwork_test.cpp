// Custom models: the configuration lines, the file checks that keep served names inside the
// artwork folder, the list's slots, the model messages, and the download of a file in compressed
// chunks (decoded here with liblzma), with the scripts refusing or redirecting requests and the
// client's download report.

#include <lzma.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "common/LittleEndian.h"
#include "server/game/ArtworkList.h"
#include "server/game/Crc32.h"
#include "server/game/FileDownload.h"
#include "server/game/LzmaChunk.h"
#include "server/protocol/JoinHandlers.h"
#include "tests/server/dispatch_fixture.h"

namespace velt::test {
namespace {

std::string Hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "%X", v);
    return text;
}

std::string RandomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string out(n, '\0');
    for (char& c : out) c = char(rng());
    return out;
}

// What a client does with a chunk: raw LZMA1 of the known length, without an end marker.
std::string Decode(const std::vector<uint8_t>& packed, uint32_t size) {
    lzma_options_lzma options{};
    options.dict_size = 65536;
    options.lc = 3;
    options.lp = 0;
    options.pb = 2;
    lzma_set_ext_size(options, size);
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    std::string out(size + 1, '\0');
    size_t inPos = 0, outPos = 0;
    const lzma_ret ret = lzma_raw_buffer_decode(filters, nullptr, packed.data(), &inPos, packed.size(),
                                                reinterpret_cast<uint8_t*>(out.data()), &outPos, out.size());
    EXPECT_EQ(ret, LZMA_OK);
    EXPECT_EQ(inPos, packed.size());
    out.resize(outPos);
    return out;
}

struct Transfer {
    uint8_t kind = 0;
    std::vector<uint8_t> rest;  // the bytes after the kind
    uint32_t bits = 0;
};

class ArtworkTest : public ProtocolTest {
protected:
    void SetUp() override {
        ProtocolTest::SetUp();
        std::filesystem::create_directories("models");
        scripts_.filterScriptFiles = {"fs"};
        console_->SetStringVariable("filterscripts", "fs");
        settings_.useArtwork = 1;
    }
    void StartWithArtwork() {
        StartProtocol();
        game_->SetArtworkList(&artwork_);
        Join(0, "Alice");
        net_->sent.clear();
        scripts_.Clear();
    }
    void Model(const std::string& name, const std::string& bytes) { WriteFile("models/" + name, bytes); }
    std::vector<Transfer> Transfers(uint16_t slot) const {
        std::vector<Transfer> out;
        for (const FakeNetServer::Message& m : RpcsTo(slot, RPC_FileTransferMessage)) {
            EXPECT_EQ(m.channel, 5);
            Transfer t;
            t.kind = m.bytes.empty() ? 0xFF : m.bytes[0];
            t.rest.assign(m.bytes.begin() + (m.bytes.empty() ? 0 : 1), m.bytes.end());
            t.bits = uint32_t(m.bits);
            out.push_back(t);
        }
        return out;
    }
    // Runs passes until the download ends; returns the decoded chunks (and checks every piece).
    std::vector<std::string> Download(uint16_t slot) {
        for (int i = 0; i < 1000 && player(slot)->Download().IsActive(); ++i) player(slot)->Download().Tick();
        std::vector<std::string> chunks;
        std::vector<uint8_t> packed;
        const std::vector<Transfer> all = Transfers(slot);
        EXPECT_FALSE(all.empty());
        for (size_t i = 1; i < all.size(); ++i) {
            const Transfer& t = all[i];
            if (t.kind == FILE_TRANSFER_DONE) {
                EXPECT_EQ(i, all.size() - 1);
                EXPECT_TRUE(packed.empty());
                break;
            }
            EXPECT_EQ(t.kind, FILE_TRANSFER_PIECE);
            const uint8_t phase = t.rest[0];
            const uint32_t size = ReadU32(t.rest.data() + 1);
            const uint32_t length = ReadU32(t.rest.data() + 5);
            EXPECT_EQ(t.rest.size(), 9 + size_t(length));
            EXPECT_LE(length, 576u - 40u);
            if (phase == 1) {
                EXPECT_EQ(length, 536u);
            }
            packed.insert(packed.end(), t.rest.begin() + 9, t.rest.end());
            if (phase == 2) {
                chunks.push_back(Decode(packed, size));
                packed.clear();
            }
        }
        return chunks;
    }

    ArtworkList artwork_{"models"};
};

TEST(ModelFileNames, OnlyNamesInsideTheFolderAreServed) {
    const std::pair<const char*, bool> cases[] = {
        {"skin.dff", true},     {"sub/skin.dff", true}, {"a..b.dff", true},     {"", false},
        {"/etc/passwd", false}, {"../x.dff", false},    {"sub/../../x", false}, {"..", false},
        {"tab\tname", false},   {"del\x7f", false},
    };
    for (const auto& [name, ok] : cases) EXPECT_EQ(IsContainedFileName(name), ok) << name;
}

TEST(ModelCrc, StandardCrc32OverBuffersAndFiles) {
    EXPECT_EQ(Crc32("abc", 3), 0x352441C2u);
    EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(Crc32Update(Crc32("1234", 4), "56789", 5), 0xCBF43926u);
    EXPECT_EQ(FileCrc32("/nonexistent/file").size, 0);
    EXPECT_EQ(FileCrc32("/dev/null").size, 0);  // not a plain file
}

TEST_F(ArtworkTest, ConfigurationLinesAddModelsWithCleanedNames) {
    Model("skin.dff", "d1");
    Model("skin.txd", "t1");
    Model("wall.dff", "d22");
    Model("wall.txd", "t22");
    StartWithArtwork();
    for (const char* line :
         {"AddCharModel(7, 20001, skin.dff, skin.txd)", "addcharmodel(8, 20002, skin.dff, skin.txd)",
          "AddCharModel 7, 20001, skin.dff, skin.txd",
          "AddSimpleModel(-1, 19379, -2000, \"wall.dff\", {wall.txd})", "AddTexture(abc, skin.txd)",
          "AddCharModel(9, 20003, ../server.cfg, skin.txd)", "AddCharModel(9, 20004, skin.dff)"})
        artwork_.ParseLine(line);
    ASSERT_EQ(artwork_.Size(), 3u);
    const ArtworkModel* skin = artwork_.At(0);
    EXPECT_EQ(
        (std::tuple{skin->type, skin->world, skin->baseId, skin->newId, skin->firstName, skin->secondName}),
        (std::tuple{uint8_t(1), -1, 7, 20001, std::string("skin.dff"), std::string("skin.txd")}));
    EXPECT_EQ((std::tuple{skin->firstCrc, skin->firstSize, skin->secondCrc, skin->secondSize}),
              (std::tuple{Crc32("d1", 2), 2, Crc32("t1", 2), 2}));
    const ArtworkModel* wall = artwork_.At(1);
    EXPECT_EQ(
        (std::tuple{wall->type, wall->world, wall->baseId, wall->newId, wall->firstName, wall->secondName}),
        (std::tuple{uint8_t(2), -1, 19379, -2000, std::string("wall.dff"), std::string("wall.txd")}));
    const ArtworkModel* texture = artwork_.At(2);
    EXPECT_EQ((std::tuple{texture->type, texture->firstCrc, texture->firstSize}),
              (std::tuple{uint8_t(4), 0x352441C2u, 0}));
    EXPECT_TRUE(Logged("[artwork:crc] skin.dff CRC = 0x" + Hex(Crc32("d1", 2))));
    EXPECT_TRUE(Logged("[artwork:error] Bad file: ../server.cfg"));
    EXPECT_TRUE(Logged("[artwork:error] Bad line: AddCharModel(9, 20004, skin.dff)"));
    // Every addition was told to the player there.
    EXPECT_EQ(RpcsTo(0, RPC_CustomModelAdd).size(), 3u);
}

TEST_F(ArtworkTest, ModelMessagesCarryIndexArraySizeAndEveryField) {
    Model("a.dff", "aa");
    Model("a.txd", "bbb");
    StartWithArtwork();
    ASSERT_EQ(artwork_.AddModel(ARTWORK_SIMPLE, 3, 1000, -1001, "a.dff", "a.txd", 6, 22), 0);
    const auto adds = RpcsTo(0, RPC_CustomModelAdd);
    ASSERT_EQ(adds.size(), 1u);
    EXPECT_EQ(adds[0].channel, 2);
    Reader r(adds[0]);
    EXPECT_EQ(r.Get<uint32_t>(), 0u);
    EXPECT_EQ(r.Get<uint32_t>(), 1u);
    EXPECT_EQ(r.Get<uint8_t>(), 2);
    EXPECT_EQ(r.Get<int32_t>(), 3);
    EXPECT_EQ(r.Get<int32_t>(), 1000);
    EXPECT_EQ(r.Get<int32_t>(), -1001);
    EXPECT_EQ(r.Get<uint32_t>(), Crc32("aa", 2));
    EXPECT_EQ(r.Get<uint32_t>(), Crc32("bbb", 3));
    EXPECT_EQ(r.Get<int32_t>(), 2);
    EXPECT_EQ(r.Get<int32_t>(), 3);
    EXPECT_EQ(r.Get<uint8_t>(), 6);
    EXPECT_EQ(r.Get<uint8_t>(), 22);
    EXPECT_EQ(r.Left(), 0);
}

TEST_F(ArtworkTest, RemovedSlotsStayUntilTheEndIsFreeAndJoinersGetOnlyUsedOnes) {
    Model("a.dff", "a");
    Model("a.txd", "a");
    StartWithArtwork();
    for (int id = 1; id <= 3; ++id) artwork_.AddModel(ARTWORK_CHARACTER, -1, 1, id, "a.dff", "a.txd", 0, 0);
    EXPECT_EQ(artwork_.RemoveModel(1), 1);
    EXPECT_EQ(artwork_.Size(), 3u);
    EXPECT_EQ(artwork_.RemoveModel(1), -1);
    EXPECT_EQ(artwork_.RemoveModel(2), 2);
    EXPECT_EQ(artwork_.Size(), 1u);
    EXPECT_EQ(RpcsTo(0, RPC_CustomModelRemove).size(), 2u);
    EXPECT_EQ(artwork_.AddModel(ARTWORK_CHARACTER, -1, 5, 4, "a.dff", "a.txd", 0, 0), 1);  // first free slot
    EXPECT_EQ(artwork_.GetBaseModel(4), 5);
    EXPECT_EQ(artwork_.GetBaseModel(2), -1);
    Join(1, "Bob");
    InitPlayerWorld(*game_, 1);
    EXPECT_EQ(RpcsTo(1, RPC_CustomModelAdd).size(), 2u);
    // With custom models the global objects wait for the client's download report.
    EXPECT_FALSE(player(1)->HaveGlobalObjectsBeenSent());
}

TEST_F(ArtworkTest, FilesDownloadInChunksThatDecodeToTheFile) {
    const std::string incompressible = RandomBytes(10000, 1);
    const std::string exact = RandomBytes(4096, 2);
    const std::string small = std::string(5000, 'w');
    Model("big.dff", incompressible);
    Model("exact.txd", exact);
    Model("small.dff", small);
    StartWithArtwork();
    artwork_.AddModel(ARTWORK_CHARACTER, -1, 1, 20001, "big.dff", "exact.txd", 0, 0);
    artwork_.AddModel(ARTWORK_CHARACTER, -1, 1, 20002, "small.dff", "exact.txd", 0, 0);
    struct Case {
        uint8_t rpc;
        const std::string* data;
        size_t chunks;
    };
    for (const Case& c : {Case{RPC_ModelFileRequest, &incompressible, 3},
                          Case{RPC_TextureFileRequest, &exact, 2}, Case{RPC_ModelFileRequest, &small, 2}}) {
        net_->sent.clear();
        BitStream bs;
        bs.Write(Crc32(c.data->data(), c.data->size()));
        CallRpc(c.rpc, 0, bs);
        const std::vector<Transfer> first = Transfers(0);
        ASSERT_EQ(first.size(), 1u);
        EXPECT_EQ(first[0].kind, FILE_TRANSFER_START);
        EXPECT_EQ(first[0].rest[0], c.rpc == RPC_ModelFileRequest ? 1 : 2);
        EXPECT_EQ(ReadU32(first[0].rest.data() + 1), Crc32(c.data->data(), c.data->size()));
        const std::vector<std::string> chunks = Download(0);
        ASSERT_EQ(chunks.size(), c.chunks);
        std::string joined;
        for (const std::string& chunk : chunks) joined += chunk;
        EXPECT_EQ(joined, *c.data);
        EXPECT_EQ(Transfers(0).back().kind, FILE_TRANSFER_DONE);
    }
}

TEST_F(ArtworkTest, AnIncompressibleChunkFitsTheBufferWhole) {
    const std::string data = RandomBytes(kDownloadChunkSize, 3);
    std::vector<uint8_t> out(kLzmaChunkBound);
    int error = -1;
    const size_t n = CompressDownloadChunk(reinterpret_cast<const uint8_t*>(data.data()), data.size(),
                                           out.data(), out.size(), error);
    EXPECT_EQ(error, 0);
    EXPECT_GT(n, kDownloadChunkSize);
    out.resize(n);
    EXPECT_EQ(Decode(out, uint32_t(data.size())), data);
}

TEST_F(ArtworkTest, ScriptsRefuseOrRedirectRequestsAndUnknownOnesFail) {
    Model("m.dff", "model");
    Model("m.txd", "texture");
    StartWithArtwork();
    artwork_.AddModel(ARTWORK_CHARACTER, -1, 1, 20001, "m.dff", "m.txd", 0, 0);
    const uint32_t crc = Crc32("model", 5);
    auto request = [&](uint8_t rpc, uint32_t value) {
        net_->sent.clear();
        scripts_.Clear();
        BitStream bs;
        bs.Write(value);
        CallRpc(rpc, 0, bs);
        std::vector<uint8_t> kinds;
        for (const Transfer& t : Transfers(0)) kinds.push_back(t.kind);
        return kinds;
    };
    // A filterscript's 0 refuses, and the gamemode is not asked.
    scripts_.filterScriptPublics["fs"]["OnPlayerRequestDownload"] = 0;
    scripts_.gameModePublics["OnPlayerRequestDownload"] = 1;
    EXPECT_EQ(request(RPC_ModelFileRequest, crc), std::vector<uint8_t>{FILE_TRANSFER_FAILED});
    EXPECT_EQ(Calls(), std::vector<std::string>{"fs:OnPlayerRequestDownload(0,1," +
                                                std::to_string(int32_t(crc)) + ")"});
    // The gamemode's 0 refuses too.
    scripts_.filterScriptPublics["fs"]["OnPlayerRequestDownload"] = 1;
    scripts_.gameModePublics["OnPlayerRequestDownload"] = 0;
    EXPECT_EQ(request(RPC_ModelFileRequest, crc), std::vector<uint8_t>{FILE_TRANSFER_FAILED});
    // A redirect from the callback is the only answer, whatever the callback returns.
    std::string url(300, 'u');
    scripts_.onRun = [&](ScriptCall& call) {
        if (call.name == "OnPlayerRequestDownload" && call.side == ScriptSide::GameMode)
            player(0)->Download().Redirect(url.c_str());
    };
    const std::vector<uint8_t> redirected = request(RPC_ModelFileRequest, crc);
    EXPECT_EQ(redirected, std::vector<uint8_t>{FILE_TRANSFER_REDIRECT});
    const Transfer redirect = Transfers(0)[0];
    EXPECT_EQ(redirect.rest[0], 1);
    EXPECT_EQ(ReadU32(redirect.rest.data() + 1), crc);
    EXPECT_EQ(redirect.rest[5], 255);
    EXPECT_EQ(redirect.rest.size(), 6u + 255u);
    scripts_.onRun = nullptr;
    scripts_.gameModePublics["OnPlayerRequestDownload"] = 1;
    // An unknown CRC and a texture's CRC asked as a model file fail.
    for (uint32_t bad : {0x12345678u, Crc32("texture", 7)})
        EXPECT_EQ(request(RPC_ModelFileRequest, bad), std::vector<uint8_t>{FILE_TRANSFER_FAILED}) << bad;
    EXPECT_EQ(request(RPC_TextureFileRequest, Crc32("texture", 7)),
              std::vector<uint8_t>{FILE_TRANSFER_START});
}

TEST_F(ArtworkTest, DownloadReportSendsObjectsOnceButAnswersEveryTime) {
    scripts_.filterScriptPublics["fs"]["OnPlayerFinishedDownloading"] = 1;
    scripts_.gameModePublics["OnPlayerFinishedDownloading"] = 1;
    StartWithArtwork();
    player(0)->SetDownloading(true);
    for (int round = 0; round < 2; ++round) {
        net_->sent.clear();
        scripts_.Clear();
        CallEmptyRpc(RPC_DownloadFinished, 0);
        EXPECT_TRUE(player(0)->HaveGlobalObjectsBeenSent());
        EXPECT_FALSE(player(0)->IsDownloading());
        EXPECT_EQ(CallsNamed("OnPlayerFinishedDownloading"),
                  (std::vector<std::string>{"fs:OnPlayerFinishedDownloading(0,0)",
                                            "gm:OnPlayerFinishedDownloading(0,0)"}));
        const auto acks = RpcsTo(0, RPC_DownloadFinishedAck);
        ASSERT_EQ(acks.size(), 1u);
        EXPECT_EQ(acks[0].bits, 1);
        EXPECT_EQ(acks[0].bytes[0] & 0x80, 0x80);
    }
}

TEST_F(ArtworkTest, DownloadReportBetweenGamemodesFindsNoObjectPool) {
    StartWithArtwork();
    game_->EndGameMode();
    ASSERT_EQ(game_->GetObjectPool(), nullptr);
    net_->sent.clear();
    CallEmptyRpc(RPC_DownloadFinished, 0);
    EXPECT_FALSE(player(0)->HaveGlobalObjectsBeenSent());
    EXPECT_EQ(RpcsTo(0, RPC_DownloadFinishedAck).size(), 1u);
}

}  // namespace
}  // namespace velt::test
