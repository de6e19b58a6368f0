#pragma once

// A game server on the fake transport and the stand-in script hosts, in a scratch directory of
// its own (gamemode files, ban file and log live there), with the log read back line by line.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "server/console/Console.h"
#include "server/console/ConsoleVariables.h"
#include "server/console/Log.h"
#include "server/game/GameServer.h"
#include "server/game/PlayerPool.h"
#include "server/game/ServerStartup.h"
#include "server/hosts/ScriptServicesStandIn.h"
#include "tests/server/FakeNetServer.h"

namespace velt::test {

class GameServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> counter{0};
        home_ = std::filesystem::current_path();
        dir_ = home_ / ("game_server_scratch_" + std::to_string(getpid()) + "_" + std::to_string(counter++));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_ / "gamemodes");
        std::filesystem::current_path(dir_);
        for (const char* name : {"a", "b", "c"}) WriteFile(std::string("gamemodes/") + name + ".vmb", "x");

        ExitRequested.store(0);
        GameModeChangePending.store(0);
        FakeNetServer::nextStartSucceeds = true;
        console_ = std::make_unique<Console>();
        RegisterServerVariables(*console_, settings_, MakeServerVariableCallbacks(*console_, settings_));
        settings_.timestamp = 0;
        PublishLogSettings(*console_);
        OpenLogFile();
        console_->SetStringVariable("gamemode0", "a");
    }

    void TearDown() override {
        TheGameServer = nullptr;
        game_.reset();
        console_.reset();
        CloseLogFile();
        std::filesystem::current_path(home_);
        std::filesystem::remove_all(dir_);
    }

    static void WriteFile(const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    // Constructs the game server (and optionally runs its Init) on a fresh fake transport.
    void Start(bool init = true) {
        game_ = std::make_unique<GameServer>(*console_, settings_, FakeNetServer::Factory(), hosts_);
        net_ = FakeNetServer::last;
        TheGameServer = game_.get();
        if (init && game_->StartFailed() == StartFailure::None) game_->Init(true);
    }

    // A player joined on slot id, with an address the fake transport knows.
    void Join(uint16_t id, const char* name, bool bot = false) {
        net_->AddSlot(id, FakeNetServer::AddressOf(id));
        ASSERT_EQ(pool()->Connect(id, name, nullptr, nullptr, bot), 1);
    }

    PlayerPool* pool() { return game_->GetPlayerPool(); }
    Player* player(uint16_t id) { return pool()->GetAt(id); }

    std::vector<std::string> LogLines() const {
        std::vector<std::string> lines;
        std::ifstream in("server_log.txt");
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    bool Logged(const std::string& line) const {
        for (const std::string& l : LogLines())
            if (l == line) return true;
        return false;
    }
    // The lines of events that match one of the given prefixes, in order.
    static std::vector<std::string> Only(const std::vector<std::string>& lines,
                                         const std::vector<std::string>& prefixes) {
        std::vector<std::string> out;
        for (const std::string& l : lines)
            for (const std::string& p : prefixes)
                if (l.rfind(p, 0) == 0) {
                    out.push_back(l);
                    break;
                }
        return out;
    }
    // "side:name(args)" of every public the stand-in ran.
    std::vector<std::string> Calls() const {
        std::vector<std::string> out;
        for (const ScriptCall& c : scripts_.calls) {
            std::string text = (c.side == ScriptSide::GameMode ? "gm:" : "fs:") + c.name + "(";
            for (size_t i = 0; i < c.args.size(); ++i) {
                if (i) text += ",";
                if (auto v = std::get_if<int32_t>(&c.args[i]))
                    text += std::to_string(*v);
                else if (auto s = std::get_if<std::string>(&c.args[i]))
                    text += *s;
                else
                    text += "f";
            }
            out.push_back(text + ")");
        }
        return out;
    }

    std::filesystem::path home_;
    std::filesystem::path dir_;
    ServerSettings settings_;
    std::unique_ptr<Console> console_;
    StandInScripts scripts_;
    StandInScriptHostFactory hosts_{scripts_};
    std::unique_ptr<GameServer> game_;
    FakeNetServer* net_ = nullptr;
};

// Reads a sent message's bits back in order.
struct Reader {
    explicit Reader(const FakeNetServer::Message& m)
        : bytes(m.bytes), bs(bytes.data(), uint32_t(bytes.size()), false) {
        bs.SetWriteCursor(m.bits);
    }
    template <class T>
    T Get() {
        T v{};
        EXPECT_TRUE(bs.Read(v));
        return v;
    }
    std::string Text(size_t n) {
        std::string s(n, '\0');
        EXPECT_TRUE(bs.ReadBytes(s.data(), int32_t(n)));
        return s;
    }
    int32_t Left() const { return bs.GetNumberOfUnreadBits(); }
    std::vector<uint8_t> bytes;
    BitStream bs;
};

}  // namespace velt::test
