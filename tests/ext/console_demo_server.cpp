// A remote console as a program would wire one: a peer with a real connection, the "Net" and
// "Logger" parsers, and a telnet transport on a free port. It prints
//   telnet <port>
//   peer <dotted> <binary address as signed> <port>
// (the connection the "Net" parser can list), writes a "Demo" log line every 100 ms, and ends
// when its standard input closes or after 120 s.

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "net/NetworkFactory.h"
#include "net/ext/ConsoleServer.h"
#include "net/ext/LogCommandParser.h"
#include "net/ext/NetCommandParser.h"
#include "net/ext/TelnetTransport.h"

namespace {

using Clock = std::chrono::steady_clock;

bool StandardInputClosed() {
    pollfd in{0, POLLIN, 0};
    if (::poll(&in, 1, 0) <= 0) return false;
    char byte;
    return ::read(0, &byte, 1) <= 0;
}

void Drain(velt::NetPeerInterface* peer) {
    while (velt::Packet* p = peer->Receive()) peer->FreePacket(p);
}

}  // namespace

int main() {
    using namespace velt;
    NetPeerInterface* host = CreateNetPeer();
    NetPeerInterface* guest = CreateNetPeer();
    host->SetMaximumIncomingConnections(4);
    if (!host->Initialize(4, 0, 1, "127.0.0.1") || !guest->Initialize(1, 0, 1, "127.0.0.1") ||
        !guest->Connect("127.0.0.1", host->GetInternalID().port, nullptr, 0)) {
        std::fprintf(stderr, "cannot start the peers\n");
        return 1;
    }
    PlayerID connected = UNASSIGNED_PLAYER_ID;
    const auto connectDeadline = Clock::now() + std::chrono::seconds(20);
    while (connected == UNASSIGNED_PLAYER_ID && Clock::now() < connectDeadline) {
        Drain(host);
        Drain(guest);
        uint16_t count = 1;
        PlayerID list[1];
        if (host->GetConnectionList(list, &count) && count == 1) connected = list[0];
        ::usleep(2000);
    }
    if (connected == UNASSIGNED_PLAYER_ID) {
        std::fprintf(stderr, "the peers did not connect\n");
        return 1;
    }

    ConsoleServer* console = CreateConsoleServer();
    NetCommandParser* net = CreateCommandParser();
    LogCommandParser* log = CreateLogCommandParser();
    TelnetTransport* telnet = CreateTelnetTransport();
    net->SetNetPeerInterface(host);
    console->AddCommandParser(net);
    console->AddCommandParser(log);
    console->SetTransport(telnet, 0);
    if (!telnet->IsRunning()) {
        std::fprintf(stderr, "cannot listen\n");
        return 1;
    }
    std::printf("telnet %u\n", telnet->GetListenPort());
    std::printf("peer %s %d %u\n", connected.ToString(false), static_cast<int>(connected.binaryAddress),
                connected.port);
    std::fflush(stdout);

    const auto end = Clock::now() + std::chrono::seconds(120);
    auto nextLine = Clock::now();
    int lineNumber = 0;
    while (Clock::now() < end && !StandardInputClosed()) {
        console->Update();
        Drain(host);
        Drain(guest);
        if (Clock::now() >= nextLine) {
            log->Log("Demo", "Demo line %d", ++lineNumber);
            nextLine += std::chrono::milliseconds(100);
        }
        ::usleep(5000);
    }

    DestroyTelnetTransport(telnet);
    DestroyConsoleServer(console);
    DestroyCommandParser(net);
    DestroyLogCommandParser(log);
    DestroyNetPeer(guest);
    DestroyNetPeer(host);
    return 0;
}
