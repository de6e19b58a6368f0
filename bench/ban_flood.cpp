// The ban list under a flood of spoofed senders.
//
// BM_IsBanned: one test against a list of 10^5 banned addresses and a few patterns, for an
// address on the list and for one that is not (every datagram a server receives is tested).
//
// BM_PingsDuringBanFlood: a server-role peer on loopback with its network thread, a flooder that
// sends oversized datagrams, each from another spoofed source address (any 127.x address is this
// machine's, and IP_PKTINFO picks it per datagram), so that every one of them bans its sender:
// 10^5 in all. Meanwhile a client pings the server's offline ping every millisecond; the round
// trips' median, 99th percentile and worst are the counters (ms), with the pings answered.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "net/BanList.h"
#include "net/DatagramScrambler.h"
#include "net/MessageIdentifiers.h"
#include "net/NetPeer.h"

using namespace velt;

namespace {

std::string AddressText(uint32_t i, uint8_t first) {
    return std::to_string(first) + "." + std::to_string((i >> 16) & 0xFF) + "." +
           std::to_string((i >> 8) & 0xFF) + "." + std::to_string(i & 0xFF);
}

void BM_IsBanned(benchmark::State& state) {
    const bool hit = state.range(0) != 0;
    BanList list;
    for (uint32_t i = 0; i < 100000; ++i) list.Add(AddressText(i, 10).c_str(), 0);
    for (const char* pattern : {"192.168.*", "172.16.*", "100.64.1.*"}) list.Add(pattern, 0);
    std::vector<std::string> tested;
    for (uint32_t i = 0; i < 1024; ++i) tested.push_back(AddressText(i * 97, hit ? 10 : 11));
    size_t k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(list.IsBanned(tested[k].c_str()));
        k = (k + 1) & 1023;
    }
    state.SetLabel(hit ? "banned (10^5 entries)" : "not banned (10^5 entries)");
}
BENCHMARK(BM_IsBanned)->Arg(1)->Arg(0);

int UdpSocket() {
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local);
    return s;
}

// Sends one datagram from `source` (any 127.x address) to the server.
void SendFrom(int s, in_addr source, const sockaddr_in& to, const uint8_t* data, size_t length) {
    iovec iov{const_cast<uint8_t*>(data), length};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr msg{};
    msg.msg_name = const_cast<sockaddr_in*>(&to);
    msg.msg_namelen = sizeof to;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_spec_dst = source;
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
    while (sendmsg(s, &msg, 0) < 0 && errno == ENOBUFS) std::this_thread::yield();
}

void BM_PingsDuringBanFlood(benchmark::State& state) {
    constexpr uint32_t kFlood = 100000;
    for (auto _ : state) {
        NetPeer server(SocketRole::Server);
        server.SetMaximumIncomingConnections(16);
        if (!server.Initialize(16, 0, 1, "127.0.0.1")) {
            state.SkipWithError("server did not start");
            return;
        }
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(server.GetInternalID().port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        DatagramScrambler scrambler;
        scrambler.SetKey(server.GetInternalID().port);

        std::atomic<bool> flooding{true};
        std::thread flooder([&] {
            const int s = socket(AF_INET, SOCK_DGRAM, 0);
            std::vector<uint8_t> plain(600, 0x41), wire(700);
            const size_t length = scrambler.Encode(plain.data(), plain.size(), wire.data(), wire.size());
            for (uint32_t i = 0; i < kFlood; ++i) {
                in_addr source{};
                source.s_addr = htonl((127u << 24) | (((i >> 16) + 1) << 16) | (i & 0xFFFF));
                SendFrom(s, source, to, wire.data(), length);
                // About 100 000 a second: a flood the size of the test, not of the machine.
                if (i % 100 == 99) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            close(s);
            flooding = false;
        });

        const int pinger = UdpSocket();
        std::vector<double> rtts;
        uint32_t sent = 0;
        while (flooding.load()) {
            uint8_t ping[5] = {ID_UNCONNECTED_PING, 0, 0, 0, 0};
            std::memcpy(ping + 1, &sent, 4);
            uint8_t wire[16];
            const size_t length = scrambler.Encode(ping, sizeof ping, wire, sizeof wire);
            const auto start = std::chrono::steady_clock::now();
            sendto(pinger, wire, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
            ++sent;
            pollfd pfd{pinger, POLLIN, 0};
            while (poll(&pfd, 1, 50) > 0) {
                uint8_t reply[64];
                const ssize_t n = recv(pinger, reply, sizeof reply, 0);
                uint32_t echoed = 0;
                if (n >= 5 && reply[0] == ID_UNCONNECTED_PONG) std::memcpy(&echoed, reply + 1, 4);
                if (n >= 5 && reply[0] == ID_UNCONNECTED_PONG && echoed == sent - 1) {
                    rtts.push_back(
                        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                            .count());
                    break;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        flooder.join();
        close(pinger);
        // Every flood datagram came from a source of its own and banned it.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const NetworkStatistics* totals = server.GetStatistics(UNASSIGNED_PLAYER_ID);
        state.counters["oversized"] =
            totals != nullptr ? double(totals->Rejections(Rejected::OversizedUnconnected)) : 0;
        // The flood's sources are 127.(i / 65536 + 1).x.y; the kernel may have dropped a few.
        uint32_t banned = 0;
        for (uint32_t i = kFlood - 1000; i < kFlood; ++i)
            banned += server.IsBanned(AddressText(i + (1u << 16), 127).c_str()) ? 1 : 0;
        state.counters["banned_of_last_1000"] = banned;
        server.Disconnect(0, 0);

        std::sort(rtts.begin(), rtts.end());
        auto at = [&](double q) { return rtts.empty() ? 0.0 : rtts[size_t(q * double(rtts.size() - 1))]; };
        state.counters["pings"] = double(sent);
        state.counters["answered"] = double(rtts.size());
        state.counters["p50_ms"] = at(0.5);
        state.counters["p99_ms"] = at(0.99);
        state.counters["max_ms"] = rtts.empty() ? 0.0 : rtts.back();
    }
}
BENCHMARK(BM_PingsDuringBanFlood)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
