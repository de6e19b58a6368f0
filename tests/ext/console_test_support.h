#pragma once
// A transport held in memory for the console tests: lines are queued by the test, and every
// text the console sends is kept per client.

#include <cstring>
#include <deque>
#include <map>
#include <string>

#include "net/Packet.h"
#include "net/ext/TransportInterface.h"

namespace velt::test {

class MemoryTransport final : public TransportInterface {
public:
    bool Start(uint16_t port, bool serverMode) override {
        started = serverMode;
        lastPort = port;
        ++starts;
        return true;
    }
    void Stop() override {
        started = false;
        ++stops;
    }
    void CloseConnection(PlayerID client) override { closed.push_back(client); }
    Packet* Receive() override {
        if (lines.empty()) return nullptr;
        const auto [client, text] = lines.front();
        lines.pop_front();
        Packet* p = NewPacket(static_cast<uint32_t>(text.size()) + 1);
        std::memcpy(p->data, text.data(), text.size());
        p->data[text.size()] = 0;
        p->length = static_cast<uint32_t>(text.size());
        p->sender = client;
        return p;
    }
    void DeallocatePacket(Packet* packet) override { FreePacket(packet); }
    PlayerID TakeNewConnection() override { return TakeFrom(joined); }
    PlayerID TakeLostConnection() override { return TakeFrom(left); }
    CommandParserInterface* GetTransportParser() override { return ownParser; }

    // Everything sent to client since the last call.
    std::string TakeOutput(PlayerID client) {
        std::string text = std::move(output[client]);
        output[client].clear();
        return text;
    }

    std::deque<std::pair<PlayerID, std::string>> lines;
    std::deque<PlayerID> joined;
    std::deque<PlayerID> left;
    std::deque<PlayerID> closed;
    std::map<PlayerID, std::string> output;
    CommandParserInterface* ownParser = nullptr;
    bool started = false;
    uint16_t lastPort = 0;
    int starts = 0;
    int stops = 0;

protected:
    void SendText(PlayerID client, const char* text, uint32_t length) override {
        output[client].append(text, length);
    }

private:
    static PlayerID TakeFrom(std::deque<PlayerID>& queue) {
        if (queue.empty()) return UNASSIGNED_PLAYER_ID;
        const PlayerID id = queue.front();
        queue.pop_front();
        return id;
    }
};

}  // namespace velt::test
