#pragma once
// A plain TCP client socket on 127.0.0.1 for the tests of the TCP-based console pieces.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace velt::test {

// A plain client socket, closed with the object.
class Client {
public:
    explicit Client(uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) Close();
    }
    ~Client() { Close(); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool Connected() const { return fd_ != -1; }
    uint16_t LocalPort() const {
        sockaddr_in own{};
        socklen_t size = sizeof own;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&own), &size);
        return ntohs(own.sin_port);
    }
    void Write(const std::string& bytes) const {
        ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    }
    // Reads until want bytes arrived, the peer closed, or the time is up.
    std::string Read(size_t want, int timeoutMs = 10000) {
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (got.size() < want && std::chrono::steady_clock::now() < deadline) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            char buffer[65536];
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) {
                closedByPeer_ = true;
                break;
            }
            got.append(buffer, static_cast<size_t>(n));
        }
        return got;
    }
    // True once the server has closed the connection (all data before it read and dropped).
    bool SeesEnd(int timeoutMs = 10000) {
        while (!closedByPeer_ && Read(SIZE_MAX, timeoutMs).size() != 0) {}
        return closedByPeer_;
    }
    // Ends with a reset instead of an orderly close.
    void Reset() {
        linger hard{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        Close();
    }
    void Close() {
        if (fd_ != -1) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
    bool closedByPeer_ = false;
};

}  // namespace velt::test
