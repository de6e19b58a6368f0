#pragma once
// What the remote console speaks through: a telnet server or a peer connection. Lines come in as
// packets, replies go out as formatted text.

#include <cstdarg>
#include <cstdint>

#include "net/Packet.h"
#include "net/PlayerID.h"

namespace velt {

class CommandParserInterface;

// Longest text a transport sends or hands in at once, terminator included.
inline constexpr uint32_t kConsoleLineBytes = 512;

// Formats into out (kConsoleLineBytes), cut to 511 characters; returns the text's length.
uint32_t FormatConsoleText(char* out, const char* format, va_list args);

class TransportInterface {
public:
    // Starts listening (server mode) on port, 0 for any free one.
    virtual bool Start(uint16_t port, bool serverMode) = 0;
    virtual void Stop() = 0;

    // printf-style text to one client, or to every client for UNASSIGNED_PLAYER_ID. Text from a
    // user or the network goes in as an argument of "%s", never as the format.
    void Send(PlayerID client, const char* format, ...) __attribute__((format(printf, 3, 4)));
    virtual void CloseConnection(PlayerID client) = 0;

    // One command line from a client: data holds length bytes followed by a NUL. Give it back
    // with DeallocatePacket, in the order received.
    virtual Packet* Receive() = 0;
    virtual void DeallocatePacket(Packet* packet) = 0;
    // One client each, or UNASSIGNED_PLAYER_ID when there is none.
    virtual PlayerID TakeNewConnection() = 0;
    virtual PlayerID TakeLostConnection() = 0;
    // Commands the transport brings along itself, or null.
    virtual CommandParserInterface* GetTransportParser() = 0;

protected:
    // Destroyed through its own type only.
    ~TransportInterface() = default;

    // The formatted text of Send; nothing is called for an empty one.
    virtual void SendText(PlayerID client, const char* text, uint32_t length) = 0;
};

}  // namespace velt
