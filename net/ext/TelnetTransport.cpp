#include "net/ext/TelnetTransport.h"

namespace velt {

TelnetTransport::~TelnetTransport() { Stop(); }

void TelnetTransport::Stop() {
    // No TCP interface exists in this build; stopping only forgets the clients.
    tcp_ = nullptr;
    clients_.clear();
}

}  // namespace velt
