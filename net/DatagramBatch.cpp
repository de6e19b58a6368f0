#include "net/DatagramBatch.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstring>

namespace velt {

struct DatagramBatch::Slots {
    uint8_t bytes[kCapacity][kSlotBytes];
    uint32_t length[kCapacity];
    sockaddr_in to[kCapacity];
    iovec iov[kCapacity];
    mmsghdr headers[kCapacity];
};

DatagramBatch::DatagramBatch() = default;
DatagramBatch::~DatagramBatch() = default;

int DatagramBatch::Add(int socket, const uint8_t* data, uint32_t length, uint32_t binaryAddress,
                       uint16_t port, const SocketEndpoint* endpoint) {
    if (socket == -1) return -1;
    if (data == nullptr && length != 0) return 1;
    if (length + 1u > kSlotBytes)
        return SocketLayer::SendTo(socket, data, length, binaryAddress, port, endpoint);
    if (!slots_) slots_ = std::make_unique<Slots>();
    if (count_ == kCapacity) Flush(socket);

    const uint32_t i = count_;
    const uint32_t wireLength =
        SocketLayer::PrepareDatagram(data, length, slots_->bytes[i], kSlotBytes, endpoint);
    if (wireLength == 0 && length != 0) return 1;
    slots_->length[i] = wireLength;
    sockaddr_in& to = slots_->to[i];
    std::memset(&to, 0, sizeof to);
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = binaryAddress;
    ++count_;
    return 0;
}

void DatagramBatch::Flush(int socket) {
    if (count_ == 0) return;
    Slots& s = *slots_;
    for (uint32_t i = 0; i < count_; ++i) {
        s.iov[i].iov_base = s.bytes[i];
        s.iov[i].iov_len = s.length[i];
        msghdr& h = s.headers[i].msg_hdr;
        std::memset(&h, 0, sizeof h);
        h.msg_name = &s.to[i];
        h.msg_namelen = sizeof s.to[i];
        h.msg_iov = &s.iov[i];
        h.msg_iovlen = 1;
        s.headers[i].msg_len = 0;
    }
    uint32_t sent = 0;
    int interrupted = 0;
    while (sent < count_) {
        const int r = ::sendmmsg(socket, &s.headers[sent], count_ - sent, 0);
        if (r > 0) {
            sent += uint32_t(r);
            continue;
        }
        if (r < 0 && errno == EINTR && ++interrupted < 16) continue;
        // The datagram at `sent` was refused (a full buffer, an unreachable address): drop it as
        // a single send would and carry on with the rest.
        ++failed_;
        ++sent;
    }
    count_ = 0;
}

}  // namespace velt
