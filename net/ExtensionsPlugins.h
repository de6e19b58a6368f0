#pragma once
// Optional components of the network library that attach to a peer as plugins: packet loggers,
// the router, the connection graph and the replica manager. Only their construction and
// destruction are needed here; the game attaches none of them.

#include <cstdint>
#include <cstdio>
#include <vector>

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

// Carries messages for systems this peer has no connection to, over the systems it has.
class Router : public PluginInterface, public RouterInterface {
public:
    Router() = default;
    ~Router() override = default;
    Router(const Router&) = delete;
    Router& operator=(const Router&) = delete;

    // No route is known while the graph is empty, so nothing can be carried.
    bool Send(const uint8_t* data, uint32_t bitLength, PacketPriority priority,
              MessageReliability reliability, uint8_t orderingChannel, PlayerID target) override;
    uint32_t GetGraphNodeCount() const { return static_cast<uint32_t>(graph_.size()); }

private:
    std::vector<PlayerID> graph_;
};

// Learns which systems of a mesh are connected to which.
class ConnectionGraph : public PluginInterface {
public:
    ConnectionGraph() = default;
    ~ConnectionGraph() override = default;
    ConnectionGraph(const ConnectionGraph&) = delete;
    ConnectionGraph& operator=(const ConnectionGraph&) = delete;

    uint32_t GetNodeCount() const { return static_cast<uint32_t>(nodes_.size()); }

private:
    std::vector<PlayerID> nodes_;
};

// Keeps registered objects in step on the systems that take part.
class ReplicaManager : public PluginInterface {
public:
    ReplicaManager() = default;
    ~ReplicaManager() override = default;
    ReplicaManager(const ReplicaManager&) = delete;
    ReplicaManager& operator=(const ReplicaManager&) = delete;

    uint32_t GetParticipantCount() const { return static_cast<uint32_t>(participants_.size()); }
    uint32_t GetObjectCount() const { return static_cast<uint32_t>(objects_.size()); }

private:
    std::vector<PlayerID> participants_;
    std::vector<NetworkID> objects_;
};

}  // namespace velt
