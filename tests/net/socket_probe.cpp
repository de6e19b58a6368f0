// Test helper: a server-role socket on 127.0.0.1 (port chosen by the system, printed first).
// A network thread receives and hands game datagrams to a sink that prints them; the main thread
// drains the query inbox and prints what it finds, as the game's main loop would.
//
// Output lines:  PORT <port> | DATA <sender port> <length> <hex or -> | QUERY <sender port>
// <length> <hex> | OK | DROPPED <count> | BYE. Input lines: "running 0" / "running 1" switch
// the game-running flag (answered by OK); end of input stops the program. It also stops by
// itself after 30 s.

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "net/QueryInbox.h"
#include "net/SocketLayer.h"

namespace {

std::mutex g_out;

void PrintLine(const char* kind, std::uint16_t port, const std::uint8_t* data, std::uint32_t length) {
    std::string hex;
    static const char* const digits = "0123456789abcdef";
    for (std::uint32_t i = 0; i < length; ++i) {
        hex += digits[data[i] >> 4];
        hex += digits[data[i] & 15];
    }
    std::lock_guard<std::mutex> lock(g_out);
    std::printf("%s %u %u %s\n", kind, port, length, data == nullptr ? "-" : hex.c_str());
    std::fflush(stdout);
}

class PrintingSink : public velt::DatagramSink {
public:
    void HandleDatagram(std::uint32_t, std::uint16_t port, const std::uint8_t* data,
                        std::uint32_t length) override {
        PrintLine("DATA", port, data, length);
    }
};

}  // namespace

int main() {
    using namespace velt;
    const int fd = SocketLayer::CreateBoundSocket(0, false, "127.0.0.1");
    if (fd == -1) {
        std::fprintf(stderr, "cannot bind\n");
        return 1;
    }
    const std::uint16_t port = SocketLayer::GetLocalPort(fd);

    PrintingSink sink;
    QueryInbox inbox;
    inbox.SetGameRunning(true);
    SocketEndpoint endpoint(SocketRole::Server, &sink, &inbox);
    endpoint.SetKey(port);  // before the network thread starts

    {
        std::lock_guard<std::mutex> lock(g_out);
        std::printf("PORT %u\n", port);
        std::fflush(stdout);
    }

    std::atomic<bool> stop{false};
    std::thread network([&] {
        while (!stop.load()) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0) continue;
            int error = 0;
            while (SocketLayer::RecvFrom(fd, endpoint, &error) == 1) {}
        }
        // Whatever arrived before the stop request.
        int error = 0;
        while (SocketLayer::RecvFrom(fd, endpoint, &error) == 1) {}
    });

    auto answer = [](const QueuedQuery& q) { PrintLine("QUERY", q.port, q.data, q.length); };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    int status = 0;
    std::string pending;
    for (;;) {
        inbox.Drain(answer);
        if (std::chrono::steady_clock::now() > deadline) {
            status = 2;
            break;
        }
        pollfd in{0, POLLIN, 0};
        if (::poll(&in, 1, 5) <= 0) continue;
        char buffer[256];
        const ssize_t n = ::read(0, buffer, sizeof buffer);
        if (n <= 0) break;
        pending.append(buffer, static_cast<std::size_t>(n));
        std::size_t eol;
        while ((eol = pending.find('\n')) != std::string::npos) {
            const std::string line = pending.substr(0, eol);
            pending.erase(0, eol + 1);
            if (line == "running 0" || line == "running 1") {
                inbox.SetGameRunning(line.back() == '1');
                std::lock_guard<std::mutex> lock(g_out);
                std::printf("OK\n");
                std::fflush(stdout);
            }
        }
    }
    stop.store(true);
    network.join();
    inbox.Drain(answer);
    ::close(fd);
    std::printf("DROPPED %llu\nBYE\n", static_cast<unsigned long long>(inbox.Dropped()));
    return status;
}
