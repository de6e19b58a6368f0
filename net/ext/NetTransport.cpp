#include "net/ext/NetTransport.h"

#include "net/NetworkFactory.h"

namespace velt {

NetTransport::~NetTransport() { DestroyNetPeer(peer_); }

}  // namespace velt
