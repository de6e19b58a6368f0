#pragma once
// The peer's operations as console commands, one per operation.

#include "net/ext/CommandParser.h"

namespace velt {

class NetPeerInterface;

// Room for the peer's incoming password as text: its longest form and a terminator.
inline constexpr uint32_t kPasswordTextBytes = 256;

// Copies the peer's incoming password into out (kPasswordTextBytes), terminated after it;
// returns its length in bytes.
int32_t CopyIncomingPassword(NetPeerInterface* peer, char* out);

// Mirrors the peer's operations as console commands: each takes the operation's arguments as
// words and reports its result.
class NetCommandParser : public CommandParserInterface {
public:
    // Most systems GetConnectionList reports.
    static constexpr uint16_t kMaxListedConnections = 32;

    NetCommandParser();
    const char* GetParserName() const override { return "Net"; }
    void WriteHelp(TransportInterface* transport, PlayerID client) override;
    bool ExecuteCommand(const char* command, uint32_t parameterCount, char** parameters,
                        TransportInterface* transport, PlayerID client, const char* lineCopy) override;

    void SetNetPeerInterface(NetPeerInterface* peer) { peer_ = peer; }
    NetPeerInterface* GetNetPeerInterface() const { return peer_; }

private:
    NetPeerInterface* peer_ = nullptr;  // not owned
};

}  // namespace velt
