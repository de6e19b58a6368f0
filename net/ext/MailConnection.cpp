#include "net/ext/MailConnection.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace velt {

namespace {

// Connects fd to address within timeoutMs without blocking beyond it.
bool ConnectWithin(int fd, const addrinfo& address, uint32_t timeoutMs) {
    const int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return false;
    if (connect(fd, address.ai_addr, address.ai_addrlen) != 0) {
        if (errno != EINPROGRESS) return false;
        pollfd p{fd, POLLOUT, 0};
        int ready;
        do ready = poll(&p, 1, int(timeoutMs));
        while (ready < 0 && errno == EINTR);
        int error = 0;
        socklen_t size = sizeof error;
        if (ready <= 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0)
            return false;
    }
    return fcntl(fd, F_SETFL, flags) == 0;
}

}  // namespace

bool MailConnection::Connect(const char* host, uint16_t port, uint32_t timeoutMs) {
    Close();
    if (host == nullptr) return false;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (getaddrinfo(host, service.c_str(), &hints, &found) != 0) return false;
    for (const addrinfo* a = found; a != nullptr && fd_ < 0; a = a->ai_next) {
        fd_ = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd_ >= 0 && !ConnectWithin(fd_, *a, timeoutMs)) Close();
    }
    freeaddrinfo(found);
    return fd_ >= 0;
}

bool MailConnection::Send(const std::string& text) {
    if (fd_ < 0) return false;
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = send(fd_, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

MailConnection::Wait MailConnection::Receive(uint32_t timeoutMs, std::string& chunk) {
    if (fd_ < 0) return Wait::Closed;
    pollfd p{fd_, POLLIN, 0};
    int ready;
    do ready = poll(&p, 1, int(timeoutMs));
    while (ready < 0 && errno == EINTR);
    if (ready == 0) return Wait::Timeout;
    if (ready < 0) return Wait::Closed;
    char buffer[4096];
    ssize_t n;
    do n = recv(fd_, buffer, sizeof buffer, 0);
    while (n < 0 && errno == EINTR);
    if (n <= 0) return Wait::Closed;
    chunk.append(buffer, size_t(n));
    return Wait::Data;
}

void MailConnection::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

}  // namespace velt
