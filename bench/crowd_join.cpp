// A crowd joining over real sockets: the server (the real game server with stand-in scripts, its
// own process, its main loop and network thread as the program runs them) on loopback, and N
// clients in this process, all connecting at once and answering the connection with the join
// request. A player has joined when the server logs his join line. Per row: the time until all N
// have joined, the datagrams the kernel dropped on the server's socket meanwhile, and the server
// process's CPU time over that span.
//
//   bench_crowd_join [--n=N] [--threads=T]

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "net/BitStream.h"
#include "net/MessageIdentifiers.h"
#include "net/NetClient.h"
#include "net/NetworkFactory.h"
#include "server/game/GameServer.h"
#include "server/game/ServerStartup.h"
#include "server/hosts/ScriptServicesStandIn.h"
#include "server/protocol/JoinHandlers.h"
#include "server/shared/GameRpc.h"

using namespace velt;

namespace {

constexpr uint8_t kJoinCheckByte = 1;
constexpr int kJoinTimeoutSeconds = 60;

double Arg(int argc, char** argv, const char* name, double fallback) {
    const size_t n = std::strlen(name);
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], name, n) == 0 && argv[i][n] == '=') return std::atof(argv[i] + n + 1);
    return fallback;
}

// A free UDP port on loopback (free when asked; the server binds it a moment later).
uint16_t FreePort() {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof at;
    uint16_t port = 0;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&at), &length) == 0)
        port = ntohs(at.sin_port);
    if (fd >= 0) close(fd);
    return port;
}

// The kernel's count of datagrams dropped on the UDP socket bound to the port; -1 when none is.
long long Drops(uint16_t port) {
    std::ifstream udp("/proc/net/udp");
    std::string line;
    char wanted[8];
    std::snprintf(wanted, sizeof wanted, ":%04X", unsigned(port));
    std::getline(udp, line);
    while (std::getline(udp, line)) {
        std::istringstream fields(line);
        std::string slot, local;
        fields >> slot >> local;
        if (local.size() < 5 || local.compare(local.size() - 5, 5, wanted) != 0) continue;
        std::string last, field;
        while (fields >> field) last = field;
        return std::atoll(last.c_str());
    }
    return -1;
}

double ProcessCpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return 0.0;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && (fields >> field); ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

int CountJoins(const std::filesystem::path& log) {
    std::ifstream in(log);
    std::string line;
    int joins = 0;
    while (std::getline(in, line))
        if (line.find("[join] ") != std::string::npos) ++joins;
    return joins;
}

[[noreturn]] void RunServerChild(const std::filesystem::path& dir) {
    std::filesystem::current_path(dir);
    const int devnull = open("/dev/null", O_WRONLY);
    if (devnull >= 0) {
        dup2(devnull, 1);
        dup2(devnull, 2);
    }
    StandInScripts scripts;
    StandInScriptHostFactory hosts(scripts);
    const NetServerFactory net{CreateNetServer, DestroyNetServer};
    _exit(RunServer(net, hosts, [&scripts] { scripts.Clear(); }));
}

// One simulated client: connects, and answers the server's acceptance with the join request.
class Client {
public:
    explicit Client(int index) : index_(index) {
        peer_.SetManualCycle(true);
        // Every client from an address of its own, as a crowd comes: the server takes many
        // half-joined connections from one address for an attack.
        char local[16];
        std::snprintf(local, sizeof local, "127.1.%d.%d", index / 250, index % 250 + 1);
        peer_.SetLocalAddress(local);
    }
    ~Client() { peer_.Disconnect(0, 0); }
    bool Connect(uint16_t port) {
        port_ = port;
        return peer_.Connect("127.0.0.1", port, 0, 0, 0);
    }
    // Returns how many times the client had to start again: a client whose attempt failed or
    // whose connection ended tries once more, as a player would.
    int Cycle() {
        peer_.RunCycle();
        bool again = false;
        while (Packet* p = peer_.Receive()) {
            const uint8_t id = p->length >= 1 ? p->data[0] : 0;
            if (id == ID_CONN_ACCEPTED) Join(p->data, p->length);
            if (id == ID_CONN_ATTEMPT_FAILED || id == ID_CONN_NO_FREE_SLOT || id == ID_CONN_CLOSED ||
                id == ID_CONN_LOST || id == ID_CONN_BANNED)
                again = true;
            peer_.FreePacket(p);
        }
        if (!again) return 0;
        peer_.Disconnect(0, 0);
        Connect(port_);
        return 1;
    }

private:
    void Join(const uint8_t* data, uint32_t length) {
        BitStream in(data, length, false);
        uint8_t id = 0;
        uint32_t address = 0, challenge = 0;
        uint16_t port = 0, slot = 0;
        if (!in.Read(id) || !in.Read(address) || !in.Read(port) || !in.Read(slot) || !in.Read(challenge))
            return;
        char name[24];
        const int nameLength = std::snprintf(name, sizeof name, "Crowd_%d", index_);
        static const char serial[] = "0123456789ABCDEF";
        BitStream out;
        out.Write(kProtocolVersion);
        out.Write(kJoinCheckByte);
        out.Write(uint8_t(nameLength));
        out.WriteBytes(name, nameLength);
        out.Write(uint32_t(challenge ^ kProtocolVersion));
        out.Write(uint8_t(sizeof serial - 1));
        out.WriteBytes(serial, int32_t(sizeof serial - 1));
        const uint8_t rpc = RPC_PlayerJoin;
        peer_.Rpc(&rpc, &out, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, ChannelNumber(RpcChannel::Request),
                  false);
    }

    int index_;
    uint16_t port_ = 0;
    NetClient peer_;
};

struct Row {
    int joined = 0;
    int retries = 0;
    double seconds = 0.0, serverCpu = 0.0;
    long long drops = 0;
};

Row RunRow(int players, int threads) {
    Row row;
    char pattern[] = "/tmp/velt_bench_join_XXXXXX";
    if (mkdtemp(pattern) == nullptr) return row;
    const std::filesystem::path dir = pattern;
    std::filesystem::create_directories(dir / "gamemodes");
    std::ofstream(dir / "gamemodes/a.vmb") << "x";
    const uint16_t port = FreePort();
    std::ofstream(dir / "server.cfg") << "rcon_password bench\nmaxplayers " << players << "\nport " << port
                                      << "\nbind 127.0.0.1\ngamemode0 a 1\nannounce 0\n";

    const pid_t server = fork();
    if (server == 0) RunServerChild(dir);
    for (int i = 0; i < 500 && Drops(port) < 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const long long dropsBefore = Drops(port);
    const double cpuBefore = ProcessCpuSeconds(server);

    std::atomic<bool> stop{false};
    std::atomic<int> retries{0};
    std::vector<std::thread> workers;
    const auto start = std::chrono::steady_clock::now();
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            std::vector<std::unique_ptr<Client>> clients;
            for (int i = t; i < players; i += threads) {
                clients.push_back(std::make_unique<Client>(i));
                clients.back()->Connect(port);
            }
            while (!stop.load()) {
                for (auto& c : clients) retries += c->Cycle();
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }
    const auto deadline = start + std::chrono::seconds(kJoinTimeoutSeconds);
    while (std::chrono::steady_clock::now() < deadline) {
        row.joined = CountJoins(dir / "server_log.txt");
        if (row.joined >= players) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    row.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    row.serverCpu = ProcessCpuSeconds(server) - cpuBefore;
    row.drops = Drops(port) - dropsBefore;
    row.retries = retries.load();
    stop = true;
    for (std::thread& w : workers) w.join();
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    std::filesystem::remove_all(dir);
    return row;
}

}  // namespace

int main(int argc, char** argv) {
    const int only = int(Arg(argc, argv, "--n", 0));
    const int threads = int(Arg(argc, argv, "--threads", 4));
    // A socket per client.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    std::printf("crowd join: N clients on loopback connect at once and send the join request\n\n");
    std::printf("%6s %8s %10s %14s %14s %9s\n", "N", "joined", "join s", "kernel drops", "server CPU s",
                "retries");
    for (int n : {100, 500, 1000}) {
        if (only != 0 && n != only) continue;
        const Row r = RunRow(n, threads);
        std::printf("%6d %8d %10.2f %14lld %14.2f %9d\n", n, r.joined, r.seconds, r.drops, r.serverCpu,
                    r.retries);
        std::fflush(stdout);
    }
    return 0;
}
