#include "net/NetworkFactory.h"

#include "net/NetClient.h"
#include "net/NetPeer.h"
#include "net/NetServer.h"
#include "net/ext/ConnectionGraph.h"
#include "net/ext/ConsoleServer.h"
#include "net/ext/LogCommandParser.h"
#include "net/ext/NetCommandParser.h"
#include "net/ext/NetTransport.h"
#include "net/ext/PacketLogger.h"
#include "net/ext/ReplicaManager.h"
#include "net/ext/Router.h"
#include "net/ext/TelnetTransport.h"

namespace velt {

// Every destroy goes through the virtual destructor of the interface (or the class itself), so
// an interface pointer that is not the object's first base is still deleted whole.

NetClientInterface* CreateNetClient() { return new NetClient(SocketRole::BotClient); }
void DestroyNetClient(NetClientInterface* client) { delete client; }

NetServerInterface* CreateNetServer() { return new NetServer(); }
void DestroyNetServer(NetServerInterface* server) { delete server; }

NetPeerInterface* CreateNetPeer() { return new NetPeer(SocketRole::Library); }
void DestroyNetPeer(NetPeerInterface* peer) { delete peer; }

ConsoleServer* CreateConsoleServer() { return new ConsoleServer(); }
void DestroyConsoleServer(ConsoleServer* server) { delete server; }

ReplicaManager* CreateReplicaManager() { return new ReplicaManager(); }
void DestroyReplicaManager(ReplicaManager* manager) { delete manager; }

LogCommandParser* CreateLogCommandParser() { return new LogCommandParser(); }
void DestroyLogCommandParser(LogCommandParser* parser) { delete parser; }

PacketLogger* CreatePacketLogger() { return new PacketLogger(); }
void DestroyPacketLogger(PacketLogger* logger) { delete logger; }

NetCommandParser* CreateCommandParser() { return new NetCommandParser(); }
void DestroyCommandParser(NetCommandParser* parser) { delete parser; }

NetTransport* CreateTransport() { return new NetTransport(); }
void DestroyTransport(NetTransport* transport) { delete transport; }

TelnetTransport* CreateTelnetTransport() { return new TelnetTransport(); }
void DestroyTelnetTransport(TelnetTransport* transport) { delete transport; }

PacketConsoleLogger* CreatePacketConsoleLogger() { return new PacketConsoleLogger(); }
void DestroyPacketConsoleLogger(PacketConsoleLogger* logger) { delete logger; }

PacketFileLogger* CreatePacketFileLogger() { return new PacketFileLogger(); }
void DestroyPacketFileLogger(PacketFileLogger* logger) { delete logger; }

Router* CreateRouter() { return new Router(); }
void DestroyRouter(Router* router) { delete router; }

ConnectionGraph* CreateConnectionGraph() { return new ConnectionGraph(); }
void DestroyConnectionGraph(ConnectionGraph* graph) { delete graph; }

}  // namespace velt
