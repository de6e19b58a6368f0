// CPU per message of a link between two library-role peers, plain against enciphered: 10^4
// reliable ordered 32-byte messages one way, both peers run by hand on a simulated clock with no
// sockets, so the figure is the peers' own work (channels, framing, cipher) and nothing of the
// kernel's. Also the datagram cipher alone, per datagram size.
#include <benchmark/benchmark.h>

#include <ctime>
#include <vector>

#include "common/LittleEndian.h"
#include "net/TEABlockEncryptor.h"
#include "tests/net/secure_link_harness.h"

using namespace velt;
using velt::securelink::SecureLink;

namespace {

double CpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

void BM_LinkPerMessage(benchmark::State& state) {
    const bool secure = state.range(0) != 0;
    constexpr uint32_t kMessages = 10000;
    double cpu = 0;
    uint64_t cipherBits = 0;
    for (auto _ : state) {
        SecureLink link(secure, nullptr, nullptr, secure);
        if (!link.ok || !link.Connect()) {
            state.SkipWithError("no connection");
            return;
        }
        const double start = CpuSeconds();
        uint32_t sent = 0, received = 0;
        for (int round = 0; round < 100000 && received < kMessages; ++round) {
            while (sent < kMessages && sent - received < 400) {
                uint8_t m[32] = {200};
                WriteU32(m + 1, sent++);
                link.client.SendBytes(m, sizeof m, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE_ORDERED, 0,
                                      link.ServerId(), false);
            }
            link.Round(2);
            for (const peertest::Got& g : link.serverGot) received += g.Id() == 200;
            link.serverGot.clear();
        }
        cpu += CpuSeconds() - start;
        if (received != kMessages) state.SkipWithError("messages lost");
        cipherBits = link.client.GetStatistics(link.ServerId())->encryptionBitsSent;
    }
    state.counters["cpu_ns_per_msg"] = cpu * 1e9 / (double(kMessages) * double(state.iterations()));
    state.counters["cipher_bytes"] = double(cipherBits / 8);
}
BENCHMARK(BM_LinkPerMessage)->ArgName("secure")->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_CipherRoundTrip(benchmark::State& state) {
    const uint32_t size = uint32_t(state.range(0));
    uint8_t key[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    TEABlockEncryptor cipher;
    cipher.SetKey(key);
    std::vector<uint8_t> data(size + DatagramCipher::kCipherGrowthBytes, 0x5A);
    for (auto _ : state) {
        uint32_t out = 0, back = 0;
        cipher.Encrypt(data.data(), size, out);
        if (!cipher.Decrypt(data.data(), out, back)) state.SkipWithError("did not decipher");
        benchmark::DoNotOptimize(data.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * size);
}
BENCHMARK(BM_CipherRoundTrip)->Arg(32)->Arg(576)->Arg(1400);

}  // namespace
