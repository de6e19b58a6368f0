// The per-tick hand-over of the scripts' HTTP requests while every one of its 200 slots hangs.
//
// BM_ProcessWhile200RequestsHang: a listener on 127.0.0.1 that takes connections into its backlog
// and never answers, 200 requests to it (the table full), then the tick's Process measured over
// and over while the transfers wait on their workers. The median, 99th percentile and worst tick
// are the counters (ms): a tick that waited for the network would last seconds.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "server/natives/ScriptHttpRequests.h"

using namespace velt;

namespace {

// A TCP listener that never accepts: connects succeed through the backlog, no byte ever comes.
class SilentListener {
public:
    SilentListener() {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd_, 512) != 0 ||
            getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return;
        port_ = ntohs(a.sin_port);
    }
    ~SilentListener() {
        if (fd_ >= 0) close(fd_);
    }
    int Port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

double Percentile(std::vector<double>& sorted, double p) {
    return sorted[std::min(sorted.size() - 1, static_cast<size_t>(static_cast<double>(sorted.size()) * p))];
}

void BM_ProcessWhile200RequestsHang(benchmark::State& state) {
    SilentListener listener;
    if (listener.Port() == 0) {
        state.SkipWithError("no listener on 127.0.0.1");
        return;
    }
    // Long enough that no transfer ends while the ticks are measured.
    auto requests = std::make_unique<ScriptHttpRequests>(HttpTimeouts{30000, 60, 60000});
    const std::string url = "127.0.0.1:" + std::to_string(listener.Port()) + "/";
    for (int i = 0; i < ScriptHttpRequests::kSlots; ++i) {
        if (requests->AddRequest(i, HTTP_GET, url.c_str(), "", nullptr, "") != 1) {
            state.SkipWithError("a request was refused");
            return;
        }
    }
    std::vector<double> ticks;
    ticks.reserve(static_cast<size_t>(state.max_iterations));
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        requests->Process();
        ticks.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    const bool allPending = requests->Pending() == ScriptHttpRequests::kSlots;
    // Stops the transfers and waits for their workers.
    requests.reset();
    if (!allPending) {
        state.SkipWithError("a request ended early");
        return;
    }
    std::sort(ticks.begin(), ticks.end());
    state.counters["p50_ms"] = Percentile(ticks, 0.50);
    state.counters["p99_ms"] = Percentile(ticks, 0.99);
    state.counters["max_ms"] = ticks.back();
}

}  // namespace

BENCHMARK(BM_ProcessWhile200RequestsHang)->Iterations(1000000)->Unit(benchmark::kMicrosecond);
