// velt-server: the dedicated game server. It takes no arguments; every setting comes from
// "server.cfg" in the working directory.

#include "net/NetworkFactory.h"
#include "server/game/GameServer.h"
#include "server/game/ServerStartup.h"
#include "server/hosts/VmScriptHostFactory.h"

int main() {
    velt::VmScriptHostFactory hosts;
    const velt::NetServerFactory net{velt::CreateNetServer, velt::DestroyNetServer};
    return velt::RunServer(net, hosts);
}
