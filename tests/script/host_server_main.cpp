// The server program with the virtual-machine script hosts: what velt-server runs once its main
// hands RunServer a VmScriptHostFactory instead of the stand-in. The end-to-end script test drives
// this program.

#include "net/NetworkFactory.h"
#include "server/game/GameServer.h"
#include "server/game/ServerStartup.h"
#include "server/hosts/VmScriptHostFactory.h"

int main() {
    velt::VmScriptHostFactory hosts;
    const velt::NetServerFactory net{velt::CreateNetServer, velt::DestroyNetServer};
    return velt::RunServer(net, hosts);
}
