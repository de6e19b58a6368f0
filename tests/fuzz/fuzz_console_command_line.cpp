// Fuzz target for remote-console command lines: every line of the input goes through the console
// server to the "Net" parser (on a peer that is never started) and the "Logger" parser. Lengths the
// user types for a word must never let the peer read past that word.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "net/NetPeer.h"
#include "net/ext/ConsoleServer.h"
#include "net/ext/LogCommandParser.h"
#include "net/ext/NetCommandParser.h"
#include "tests/ext/console_test_support.h"

namespace {

using namespace velt;

void CheckLength(const void* word, int64_t length) {
    if (length < 0) std::abort();
    if (word != nullptr && length > static_cast<int64_t>(std::strlen(static_cast<const char*>(word)) + 1))
        std::abort();
}

// Never opens a socket, never looks a name up, and checks every typed length it is given.
class FuzzPeer final : public NetPeer {
public:
    bool Initialize(uint16_t, uint16_t, int32_t, const char*) override { return false; }
    bool Connect(const char*, uint16_t, const char* password, int32_t length) override {
        CheckLength(password, length);
        return false;
    }
    void Ping(const char*, uint16_t, bool) override {}
    void Ping(PlayerID target) override { NetPeer::Ping(target); }
    void AdvertiseSystem(const char*, uint16_t, const uint8_t* data, int32_t length) override {
        CheckLength(data, length);
    }
    void SetOfflinePingResponse(const uint8_t* data, uint32_t length) override {
        CheckLength(data, length);
        NetPeer::SetOfflinePingResponse(data, length);
    }
    void SetIncomingPassword(const char* password, int32_t length) override {
        CheckLength(password, length);
        NetPeer::SetIncomingPassword(password, length);
    }
};

struct World {
    FuzzPeer peer;
    NetCommandParser net;
    LogCommandParser log;
    test::MemoryTransport transport;
    ConsoleServer console;

    World() {
        net.SetNetPeerInterface(&peer);
        console.AddCommandParser(&net);
        console.AddCommandParser(&log);
        console.SetTransport(&transport, 0);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static World* world = new World();
    world->peer.ClearBanList();
    world->transport.output.clear();

    const std::string input(reinterpret_cast<const char*>(data), size);
    size_t start = 0;
    for (int lines = 0; start <= input.size() && lines < 64; ++lines) {
        size_t end = input.find('\n', start);
        if (end == std::string::npos) end = input.size();
        // The first byte of a line picks one of two clients, so subscriptions differ between them.
        const std::string line = input.substr(start, end - start);
        const PlayerID client{0x0100007F, static_cast<uint16_t>(line.empty() ? 1 : (line[0] & 1) + 1)};
        world->transport.lines.emplace_back(client, line);
        world->console.Update();
        // Channel names stay with the parser: they must be texts that live as long as it does.
        static const char* const kChannels[] = {"a", "B", "PacketConsoleLogger", "%s"};
        world->log.Log(kChannels[line.size() % 4], "%s", line.c_str());
        start = end + 1;
    }
    return 0;
}
