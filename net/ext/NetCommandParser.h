#pragma once
// The peer's operations as console commands, one per operation.

#include "net/ext/CommandParser.h"

namespace velt {

class NetPeerInterface;

// Mirrors the peer's operations as console commands, one per operation.
class NetCommandParser : public CommandParserInterface {
public:
    NetCommandParser();
    const char* GetParserName() const override { return "Net"; }
    void SetNetPeerInterface(NetPeerInterface* peer) { peer_ = peer; }
    NetPeerInterface* GetNetPeerInterface() const { return peer_; }

private:
    NetPeerInterface* peer_ = nullptr;  // not owned
};

}  // namespace velt
