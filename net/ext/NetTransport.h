#pragma once
// Console lines over a peer connection of the transport's own.

#include <cstdint>
#include <deque>

#include "net/PlayerID.h"
#include "net/ext/CommandParser.h"
#include "net/ext/TransportInterface.h"

namespace velt {

class NetPeerInterface;
class NetTransport;

// Message carrying one console line: [ID_CONSOLE_TEXT][text][0].
inline constexpr uint8_t ID_CONSOLE_TEXT = 56;

// The password commands NetTransport brings along; they act on the transport's own peer.
class NetTransportCommandParser : public CommandParserInterface {
public:
    explicit NetTransportCommandParser(NetTransport* owner);
    const char* GetParserName() const override { return "NetTransport"; }
    void WriteHelp(TransportInterface* transport, PlayerID client) override;
    bool ExecuteCommand(const char* command, uint32_t parameterCount, char** parameters,
                        TransportInterface* transport, PlayerID client, const char* lineCopy) override;

private:
    NetTransport* owner_;  // whose peer the commands act on
};

// Console lines over a peer of its own, which it creates when first started and deletes with
// itself. Its peer accepts secure connections only when the peer can provide them.
class NetTransport final : public TransportInterface {
public:
    // Connections the transport's peer takes.
    static constexpr uint16_t kMaxConnections = 8;

    NetTransport() : parser_(this) {}
    ~NetTransport();
    NetTransport(const NetTransport&) = delete;
    NetTransport& operator=(const NetTransport&) = delete;

    bool Start(uint16_t port, bool serverMode) override;
    // Disconnects the peer; the peer itself stays for the next Start.
    void Stop() override;
    void CloseConnection(PlayerID client) override;
    Packet* Receive() override;
    void DeallocatePacket(Packet* packet) override;
    PlayerID TakeNewConnection() override;
    PlayerID TakeLostConnection() override;
    CommandParserInterface* GetTransportParser() override { return &parser_; }

    NetPeerInterface* GetPeer() const { return peer_; }
    // Console line messages dropped because they did not end with their zero byte.
    uint32_t GetRejectedLineCount() const { return rejectedLines_; }

protected:
    void SendText(PlayerID client, const char* text, uint32_t length) override;

private:
    NetPeerInterface* peer_ = nullptr;  // owned
    std::deque<PlayerID> newConnections_;
    std::deque<PlayerID> lostConnections_;
    NetTransportCommandParser parser_;
    uint32_t rejectedLines_ = 0;
};

}  // namespace velt
