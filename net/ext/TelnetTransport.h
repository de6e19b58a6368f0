#pragma once
// Console lines over telnet connections: the transport edits each client's keystrokes into lines.

#include <cstdint>
#include <deque>
#include <vector>

#include "net/PlayerID.h"
#include "net/ext/TransportInterface.h"

namespace velt {

class TCPInterface;

// Serves plain telnet clients over a TCP interface of its own (made by the first Start).
class TelnetTransport final : public TransportInterface {
public:
    // A line holds at most this many characters; further typing is ignored until Enter.
    static constexpr uint32_t kMaxLineCharacters = kConsoleLineBytes - 1;
    // Backlog of the listening socket.
    static constexpr uint16_t kListenBacklog = 64;

    TelnetTransport() = default;
    ~TelnetTransport();
    TelnetTransport(const TelnetTransport&) = delete;
    TelnetTransport& operator=(const TelnetTransport&) = delete;

    // Only server mode is offered: false for anything else.
    bool Start(uint16_t port, bool serverMode) override;
    // Drops every client; the TCP interface stays for the next Start.
    void Stop() override;
    void CloseConnection(PlayerID client) override;
    Packet* Receive() override;
    void DeallocatePacket(Packet* packet) override;
    PlayerID TakeNewConnection() override;
    PlayerID TakeLostConnection() override;
    CommandParserInterface* GetTransportParser() override { return nullptr; }

    uint32_t GetClientCount() const { return static_cast<uint32_t>(clients_.size()); }
    bool IsRunning() const;
    // The port listened on (useful after Start with port 0); 0 when not running.
    uint16_t GetListenPort() const;
    // Null until the first Start. For settings such as the connection cap.
    TCPInterface* GetTCPInterface() const { return tcp_; }
    // Chunks that arrived from a connection already gone.
    uint32_t GetDroppedChunkCount() const { return droppedChunks_; }

protected:
    void SendText(PlayerID client, const char* text, uint32_t length) override;

private:
    struct TelnetClientState {
        PlayerID client;
        char line[kConsoleLineBytes];
        uint32_t cursor;  // characters in line
    };

    TelnetClientState* FindState(PlayerID client);
    // Turns local echo off at the client and gives it exactly one empty state.
    void Greet(PlayerID client);
    // Takes every new connection the TCP interface has, so chunks find their client's state.
    void AdoptNewConnections();
    void ReleaseChunk();
    // Edits the held chunk from its offset on; a finished non-empty line, or null at its end.
    Packet* EditChunk(TelnetClientState& state);

    TCPInterface* tcp_ = nullptr;  // owned
    std::vector<TelnetClientState*> clients_;
    std::deque<PlayerID> adopted_;  // greeted, not yet handed out by TakeNewConnection
    Packet* chunk_ = nullptr;       // being edited; what follows a finished line stays for later
    uint32_t chunkOffset_ = 0;
    uint32_t droppedChunks_ = 0;
};

}  // namespace velt
