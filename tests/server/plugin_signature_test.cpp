// Plugin signatures: the exemption list, the signature file's name, and signing and checking with
// a key of our own. Keys and signatures made by the openssl tool are in plugin_signature_check.py.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "net/Sha1.h"
#include "server/console/Console.h"
#include "server/game/PluginSignature.h"

namespace velt {
namespace {

TEST(PluginSignature, NosignListsBaseNamesExactly) {
    Console console;
    console.AddStringVariable("nosign", 0, "streamer  mysql.so Audio");
    const struct {
        const char* path;
        int32_t unsigned_;
    } cases[] = {
        {"plugins/streamer.so", 1},
        {"streamer", 1},
        {"C:\\x\\plugins\\streamer.dll", 1},
        {"plugins/mysql.so", 0},
        {"plugins/audio.so", 0},
        {"plugins/Audio.v2.so", 1},
        {"plugins/stream.so", 0},
        {"", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(IsPluginUnsigned(c.path, console), c.unsigned_) << c.path;
}

TEST(PluginSignature, SignatureFileReplacesOnlyTheLastComponentsExtension) {
    const struct {
        const char* path;
        const char* sig;
    } cases[] = {
        {"plugins/a.so", "plugins/a.sig"},
        {"plugins/a", "plugins/a.sig"},
        {"my.plugins/a", "my.plugins/a.sig"},
        {"my.plugins/a.b.so", "my.plugins/a.b.sig"},
        {"a.so", "a.sig"},
    };
    for (const auto& c : cases) EXPECT_EQ(PluginSignaturePath(c.path), c.sig) << c.path;
}

class SignedPlugin : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() / ("velt_sig_" + std::to_string(getpid()));
        std::filesystem::create_directories(dir_);
        plugin_ = (dir_ / "plugin.so").string();
        std::ofstream(plugin_, std::ios::binary) << std::string(5000, 'x') << "end";
        ASSERT_TRUE(key_.GenerateKey((dir_ / "key.bin").string().c_str()));
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    void WriteSignature(const RsaSignature& signer) {
        std::ofstream out((dir_ / "plugin.sig").string());
        char hex[3];
        for (uint32_t i = 0; i < RsaSignature::kModulusBytes; ++i) {
            std::snprintf(hex, sizeof hex, "%02X", signer.Signature()[i]);
            out << hex;
        }
        out << "\n";
    }
    std::filesystem::path dir_;
    std::string plugin_;
    RsaSignature key_;
};

TEST_F(SignedPlugin, SignedDigestVerifiesAndAChangedFileDoesNot) {
    CSHA1 sha;
    sha.Reset();
    ASSERT_TRUE(sha.HashFile(plugin_.c_str()));
    sha.Final();
    ASSERT_TRUE(key_.SignDigest(sha.DigestBytes()));
    WriteSignature(key_);
    EXPECT_EQ(VerifyPluginSignatureWith(plugin_.c_str(), key_), 1);

    // The key read back from its file checks it too; the program's own key does not.
    RsaSignature loaded;
    ASSERT_TRUE(loaded.LoadKey((dir_ / "key.bin").string().c_str()));
    EXPECT_EQ(VerifyPluginSignatureWith(plugin_.c_str(), loaded), 1);
    EXPECT_EQ(VerifyPluginSignature(plugin_.c_str()), 0);

    std::ofstream(plugin_, std::ios::binary | std::ios::app) << "!";
    EXPECT_EQ(VerifyPluginSignatureWith(plugin_.c_str(), key_), 0);
    std::filesystem::remove(dir_ / "plugin.sig");
    EXPECT_EQ(VerifyPluginSignatureWith(plugin_.c_str(), key_), 0);
}

TEST_F(SignedPlugin, SignRefusesMessagesLongerThanTheBlock) {
    uint8_t message[129] = {};
    EXPECT_FALSE(key_.Sign(message, 129));
    EXPECT_TRUE(key_.Sign(message, 128));
    RsaSignature publicOnly;
    publicOnly.SetPublicKey(key_.GetKey().e, message);
    EXPECT_FALSE(publicOnly.Sign(message, 20));
}

TEST_F(SignedPlugin, KeyFilesThatDoNotHoldAKeyAreRefused) {
    const std::string path = (dir_ / "key.bin").string();
    std::string bytes;
    {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    const auto write = [&](const std::string& b) { std::ofstream(path, std::ios::binary) << b; };
    RsaSignature k;
    write(bytes.substr(0, bytes.size() - 1));
    EXPECT_FALSE(k.LoadKey(path.c_str())) << "short";
    std::string other = bytes;
    other[0] = 64;
    write(other);
    EXPECT_FALSE(k.LoadKey(path.c_str())) << "another length";
    other = bytes;
    other[8] ^= 2;
    write(other);
    EXPECT_FALSE(k.LoadKey(path.c_str())) << "modulus not p q";
    EXPECT_FALSE(k.LoadKey((dir_ / "none").string().c_str()));
}

}  // namespace
}  // namespace velt
