#pragma once
// Plain functions that make and unmake the transport's objects, so callers never name the
// concrete classes. Each create returns a new object built with its default construction; each
// destroy ignores null and deletes through the object's destructor.
//
// The factory also fixes a peer's role on the wire, once, at construction:
//   CreateNetServer: the game server (descrambles what it receives, answers queries, applies the
//                    flood limits, refuses split messages, kicks connections that never log on);
//   CreateNetClient: the bot program (scrambles what it sends, accepts split messages);
//   CreateNetPeer:   any other program (plain both ways, accepts split messages), so two such
//                    peers can talk to each other.
//
// Older code calls CreateCommandParser/DestroyCommandParser CreateNetCommandParser/
// DestroyNetCommandParser, and CreateTransport/DestroyTransport CreateNetTransport/
// DestroyNetTransport.

#include "net/NetClientInterface.h"
#include "net/NetPeerInterface.h"
#include "net/NetServerInterface.h"

namespace velt {

class ConsoleServer;
class ReplicaManager;
class LogCommandParser;
class PacketLogger;
class NetCommandParser;
class NetTransport;
class TelnetTransport;
class PacketConsoleLogger;
class PacketFileLogger;
class Router;
class ConnectionGraph;

NetClientInterface* CreateNetClient();
void DestroyNetClient(NetClientInterface* client);

NetServerInterface* CreateNetServer();
void DestroyNetServer(NetServerInterface* server);

NetPeerInterface* CreateNetPeer();
void DestroyNetPeer(NetPeerInterface* peer);

// Optional components of the network library; the game creates none of them.
ConsoleServer* CreateConsoleServer();
void DestroyConsoleServer(ConsoleServer* server);

ReplicaManager* CreateReplicaManager();
void DestroyReplicaManager(ReplicaManager* manager);

LogCommandParser* CreateLogCommandParser();
void DestroyLogCommandParser(LogCommandParser* parser);

PacketLogger* CreatePacketLogger();
void DestroyPacketLogger(PacketLogger* logger);

NetCommandParser* CreateCommandParser();
void DestroyCommandParser(NetCommandParser* parser);

NetTransport* CreateTransport();
void DestroyTransport(NetTransport* transport);

TelnetTransport* CreateTelnetTransport();
void DestroyTelnetTransport(TelnetTransport* transport);

PacketConsoleLogger* CreatePacketConsoleLogger();
void DestroyPacketConsoleLogger(PacketConsoleLogger* logger);

PacketFileLogger* CreatePacketFileLogger();
void DestroyPacketFileLogger(PacketFileLogger* logger);

Router* CreateRouter();
void DestroyRouter(Router* router);

ConnectionGraph* CreateConnectionGraph();
void DestroyConnectionGraph(ConnectionGraph* graph);

}  // namespace velt
