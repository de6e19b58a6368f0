#pragma once
// Packet loggers: a line per message a peer sends or receives, once attached to that peer.

#include <cstdint>
#include <cstdio>

#include "net/NetPeerInterface.h"
#include "net/PluginInterface.h"

namespace velt {

class LogCommandParser;

// Writes a line per message a peer sends or receives, once attached to that peer.
class PacketLogger : public PluginInterface {
public:
    PacketLogger() = default;
    ~PacketLogger() override = default;
    PacketLogger(const PacketLogger&) = delete;
    PacketLogger& operator=(const PacketLogger&) = delete;

    void Attached(NetPeerInterface* peer) override { peer_ = peer; }
    void Detached(NetPeerInterface* peer) override {
        if (peer_ == peer) peer_ = nullptr;
    }
    NetPeerInterface* GetPeer() const { return peer_; }

protected:
    NetPeerInterface* peer_ = nullptr;  // not owned
};

// Logs to a channel of a log command parser; none until one is set.
class PacketConsoleLogger : public PacketLogger {
public:
    PacketConsoleLogger() = default;
    void SetLogCommandParser(LogCommandParser* parser) { logCommandParser_ = parser; }
    LogCommandParser* GetLogCommandParser() const { return logCommandParser_; }

private:
    LogCommandParser* logCommandParser_ = nullptr;  // not owned
};

// Logs to a file of its own, opened when it is attached to a peer; none before.
class PacketFileLogger : public PacketLogger {
public:
    PacketFileLogger() = default;
    ~PacketFileLogger() override;
    bool HasFile() const { return file_ != nullptr; }

private:
    std::FILE* file_ = nullptr;
};

}  // namespace velt
