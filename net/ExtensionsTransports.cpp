#include "net/ExtensionsTransports.h"

#include "net/NetworkFactory.h"

namespace velt {

NetTransport::~NetTransport() { DestroyNetPeer(peer_); }

TelnetTransport::~TelnetTransport() { Stop(); }

void TelnetTransport::Stop() {
    // No TCP interface exists in this build; stopping only forgets the clients.
    tcp_ = nullptr;
    clients_.clear();
}

}  // namespace velt
