// Side-by-side transport benchmark: our server and client interfaces against ENet, same machine,
// same run, loopback, same message sizes and the same echo loop.
//
//   (a) sync-like load: N clients each send a 32-byte unreliable-sequenced and a 32-byte
//       reliable-ordered message at 30 Hz; the server echoes both. Server CPU per million
//       messages (getrusage of the server process), round-trip p50/p99, delivery errors.
//   (b) the same through a lossy loopback proxy (a child process of this program) at each loss
//       rate: delivery errors and p99 round trip.
//   (c) idle connected clients: server CPU seconds.
//   (d) the sync-like load with the server process stopped (SIGSTOP) for a few seconds in the
//       middle: connections lost and delivery errors once it runs again.
//
// Both back ends' clients are served by the same worker threads, polled once a millisecond:
// ENet's host is serviced there, and ours is a client without a network thread of its own,
// driven there. So the server figures compare servers. --client-threads gives each of our
// clients its own network thread instead, as the bot program runs it; on loopback the server
// then also pays for waking those threads, which wait on their sockets.
//
// Every scenario also says whether a side starved: the longest pause of the server's loop and of
// the client workers, and how long the threads of each side waited for a CPU each time they had
// something to do (from the scheduler's own counts). A connection lost on a loaded machine is then
// blamed on the side that could not run.
//
// Every server and the proxy run in processes of their own, so getrusage(RUSAGE_SELF) in the
// server process counts the server alone; with four or more cores the server has two of them to
// itself. A client counts as connected once its first (join) message came back. No arguments: a
// short run (what `make bench` does: 5 s load, 10 s idle, lossy runs with 200 clients only).
// --full: 20 s load, 30 s idle, lossy runs at 200 and 500 clients. --repeat N runs each scenario
// N times and shows the median round. See --help.

#include <enet/enet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "net/ConnectedSystem.h"
#include "net/MessageIdentifiers.h"
#include "net/NetClient.h"
#include "net/NetworkFactory.h"

namespace {

using velt::Packet;

// ---------------------------------------------------------------------------------------------
// Message: [id][kind][u32 client][u32 seq][u64 send us][14 pattern bytes] = 32 bytes.

constexpr uint8_t kEchoId = 150;  // above the transport's own identifiers, below the game's
constexpr uint32_t kMessageBytes = 32;
constexpr uint8_t kUnreliableSequenced = 0;
constexpr uint8_t kReliableOrdered = 1;
// A client's first message, reliable and echoed like the others: a client is in once it came
// back, as a game client is in once the server answered its join. The transport's "accepted"
// alone does not say the server finished the handshake: under heavy loss the server may give up
// on it first, and the client then learns only by its own timeout.
constexpr uint8_t kJoin = 2;

uint64_t NowUs() {
    return uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count());
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
void Put64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}
uint32_t Get32(const uint8_t* p) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t(p[i]) << (8 * i);
    return v;
}
uint64_t Get64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= uint64_t(p[i]) << (8 * i);
    return v;
}
uint8_t Pattern(uint32_t client, uint32_t seq, uint32_t i) {
    return uint8_t(client * 31u + seq * 7u + i * 13u + 1u);
}

void BuildMessage(uint8_t* m, uint8_t kind, uint32_t client, uint32_t seq, uint64_t us) {
    m[0] = kEchoId;
    m[1] = kind;
    Put32(m + 2, client);
    Put32(m + 6, seq);
    Put64(m + 10, us);
    for (uint32_t i = 18; i < kMessageBytes; ++i) m[i] = Pattern(client, seq, i);
}

bool MessageIntact(const uint8_t* m, uint32_t length, uint32_t client) {
    if (length != kMessageBytes || m[0] != kEchoId || m[1] > kJoin) return false;
    if (Get32(m + 2) != client) return false;
    uint32_t seq = Get32(m + 6);
    for (uint32_t i = 18; i < kMessageBytes; ++i)
        if (m[i] != Pattern(client, seq, i)) return false;
    return true;
}

double CpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// What the threads of this process have waited for a CPU so far: nanoseconds spent runnable but
// not running, and how many times they were put on one (the scheduler's own counts,
// /proc/self/task/*/schedstat).
struct CpuWait {
    uint64_t waitNs = 0;
    uint64_t runs = 0;
    // The mean wait of a thread that became runnable, in microseconds, between two readings.
    static double MeanUs(const CpuWait& from, const CpuWait& to) {
        const uint64_t runs = to.runs - from.runs;
        return runs == 0 ? 0 : double(to.waitNs - from.waitNs) / double(runs) / 1000.0;
    }
};
CpuWait ReadCpuWait() {
    CpuWait total;
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr) return total;
    while (dirent* task = readdir(tasks)) {
        if (task->d_name[0] == '.') continue;
        char path[300];
        snprintf(path, sizeof path, "/proc/self/task/%s/schedstat", task->d_name);
        FILE* f = fopen(path, "r");
        if (f == nullptr) continue;
        unsigned long long run = 0, wait = 0, runs = 0;
        if (fscanf(f, "%llu %llu %llu", &run, &wait, &runs) == 3) {
            total.waitNs += wait;
            total.runs += runs;
        }
        fclose(f);
    }
    closedir(tasks);
    return total;
}

// The longest time between two calls of Tick (one thread each).
class PauseMeter {
public:
    void Tick(uint64_t now) {
        if (last_ != 0 && now - last_ > longest_) longest_ = now - last_;
        last_ = now;
    }
    void Restart() { last_ = longest_ = 0; }
    uint64_t LongestUs() const { return longest_; }

private:
    uint64_t last_ = 0;
    uint64_t longest_ = 0;
};

bool ReadAll(int fd, void* out, size_t n) {
    auto* p = static_cast<uint8_t*>(out);
    while (n > 0) {
        ssize_t r = read(fd, p, n);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        p += r;
        n -= size_t(r);
    }
    return true;
}
bool WriteAll(int fd, const void* in, size_t n) {
    auto* p = static_cast<const uint8_t*>(in);
    while (n > 0) {
        ssize_t r = write(fd, p, n);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        p += r;
        n -= size_t(r);
    }
    return true;
}

enum class Backend { Ours, Enet };
const char* BackendName(Backend b) { return b == Backend::Ours ? "ours" : "ENet"; }

// Both servers and clients pause this long when they have nothing to do: the game's main-loop
// sleep, and the bot program's network-thread sleep.
constexpr int kServerSleepMs = 5;
constexpr int kClientThreadSleepMs = 10;

// ---------------------------------------------------------------------------------------------
// Echo servers.

class EchoServer {
public:
    virtual ~EchoServer() = default;
    virtual bool Start(uint32_t maxClients) = 0;
    virtual uint16_t Port() = 0;
    // Handles everything waiting, then waits up to kServerSleepMs for more.
    virtual void Pump() = 0;
    // Datagrams the server received and sent so far.
    virtual void Datagrams(uint64_t& in, uint64_t& out) = 0;
    uint64_t received = 0;
    uint64_t sent = 0;
};

// The transport's own log lines (limits, kicks) tell why a connection went away.
void ServerLog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    fprintf(stderr, "  server log: ");
    vfprintf(stderr, format, args);
    fprintf(stderr, "\n");
    va_end(args);
}

class OursServer final : public EchoServer {
public:
    ~OursServer() override {
        if (server_ != nullptr) server_->Disconnect(0, 0);
        velt::DestroyNetServer(server_);
    }
    bool Start(uint32_t maxClients) override {
        server_ = velt::CreateNetServer();
        server_->SetLogHook(ServerLog);
        // Spare slots: a server with one free slot left treats a burst of connections from one
        // address as an attack, and every client here comes from 127.0.0.1.
        uint16_t slots = uint16_t(std::min<uint32_t>(maxClients + 16, 65000));
        if (!server_->Start(slots, 0, kServerSleepMs, 0, "127.0.0.1")) return false;
        server_->StartOccasionalPing();
        return true;
    }
    uint16_t Port() override { return server_->GetInternalID().port; }
    void Datagrams(uint64_t& in, uint64_t& out) override {
        velt::NetworkStatistics* s = server_->GetStatistics(velt::UNASSIGNED_PLAYER_ID);
        in = s ? s->packetsReceived : 0;
        out = s ? s->packetsSent : 0;
    }
    void Pump() override {
        while (Packet* p = server_->Receive()) {
            if (p->length >= 1 && p->data[0] == velt::ID_CONN_HANDSHAKE_DONE) {
                // What the game's join handler does; without it the server drops the connection
                // after 30 s.
                if (velt::ConnectedSystem* cs = server_->GetConnectedSystem(p->sender)) cs->loggedOn = 1;
            } else if (p->length >= 1 &&
                       (p->data[0] == velt::ID_CONN_LOST || p->data[0] == velt::ID_CONN_CLOSED)) {
                fprintf(stderr, "  server: connection of %s ended (reason %d) at %.1f s\n",
                        p->sender.ToString(true), p->data[0], double(NowUs()) / 1e6);
            } else if (p->length == kMessageBytes && p->data[0] == kEchoId) {
                ++received;
                bool reliable = p->data[1] != kUnreliableSequenced;
                if (server_->SendBytes(p->data, int32_t(p->length), velt::HIGH_PRIORITY_LEVEL,
                                       reliable ? velt::RELIABILITY_RELIABLE_ORDERED
                                                : velt::RELIABILITY_UNRELIABLE_SEQUENCED,
                                       reliable ? 2 : 1, p->sender, false))
                    ++sent;
            }
            server_->FreePacket(p);
        }
        SleepMs(kServerSleepMs);
    }

private:
    velt::NetServerInterface* server_ = nullptr;
};

class EnetServer final : public EchoServer {
public:
    ~EnetServer() override {
        if (host_ != nullptr) enet_host_destroy(host_);
    }
    bool Start(uint32_t maxClients) override {
        ENetAddress address{};
        enet_address_set_host_ip(&address, "127.0.0.1");
        address.port = 0;
        host_ = enet_host_create(&address, maxClients + 16, 2, 0, 0);
        if (host_ == nullptr) return false;
        sockaddr_in sin{};
        socklen_t len = sizeof(sin);
        getsockname(host_->socket, reinterpret_cast<sockaddr*>(&sin), &len);
        port_ = ntohs(sin.sin_port);
        return true;
    }
    uint16_t Port() override { return port_; }
    void Datagrams(uint64_t& in, uint64_t& out) override {
        in = host_->totalReceivedPackets;
        out = host_->totalSentPackets;
    }
    void Pump() override {
        ENetEvent event;
        int r = enet_host_service(host_, &event, kServerSleepMs);
        while (r > 0) {
            if (event.type == ENET_EVENT_TYPE_RECEIVE) {
                ENetPacket* in = event.packet;
                if (in->dataLength == kMessageBytes && in->data[0] == kEchoId) {
                    ++received;
                    bool reliable = in->data[1] != kUnreliableSequenced;
                    ENetPacket* out = enet_packet_create(in->data, in->dataLength,
                                                         reliable ? ENET_PACKET_FLAG_RELIABLE : 0);
                    if (enet_peer_send(event.peer, reliable ? 1 : 0, out) == 0)
                        ++sent;
                    else
                        enet_packet_destroy(out);
                }
                enet_packet_destroy(in);
            }
            r = enet_host_service(host_, &event, 0);
        }
    }

private:
    ENetHost* host_ = nullptr;
    uint16_t port_ = 0;
};

struct ServerReport {
    double cpuSeconds = 0;
    uint64_t received = 0;
    uint64_t sent = 0;
    double cpuWaitUs = 0;         // the mean wait of a server thread for a CPU
    uint64_t longestPauseUs = 0;  // between two turns of the server's loop
    uint8_t ok = 0;
};

// Control bytes from the harness to a server process.
constexpr char kCtlMeasure = 'M';
constexpr char kCtlStop = 'S';

// With enough cores the server gets two of its own (ours runs a main and a network thread,
// ENet one) and the clients the rest, so the server's figures do not depend on how the
// scheduler mixes hundreds of client threads onto its cores.
constexpr int kServerCores = 2;
bool SplitCores() { return std::thread::hardware_concurrency() >= 2 * kServerCores; }
void PinToCores(int first, int last) {
    cpu_set_t set;
    CPU_ZERO(&set);
    for (int c = first; c <= last; ++c) CPU_SET(c, &set);
    sched_setaffinity(0, sizeof set, &set);
}

[[noreturn]] void ServerProcess(Backend backend, uint32_t maxClients, int ctlFd, int outFd) {
    if (SplitCores()) PinToCores(0, kServerCores - 1);
    std::unique_ptr<EchoServer> server;
    if (backend == Backend::Ours)
        server = std::make_unique<OursServer>();
    else
        server = std::make_unique<EnetServer>();
    uint16_t port = server->Start(maxClients) ? server->Port() : 0;
    WriteAll(outFd, &port, sizeof port);
    if (port == 0) _exit(1);
    fcntl(ctlFd, F_SETFL, O_NONBLOCK);
    double cpu0 = 0;
    uint64_t rx0 = 0, tx0 = 0, din0 = 0, dout0 = 0;
    rusage ru0{};
    CpuWait wait0;
    PauseMeter pauses;
    for (;;) {
        server->Pump();
        pauses.Tick(NowUs());
        char c;
        ssize_t r = read(ctlFd, &c, 1);
        if (r == 0) _exit(1);  // harness gone
        if (r != 1) continue;
        if (c == kCtlMeasure) {
            server->Datagrams(din0, dout0);
            getrusage(RUSAGE_SELF, &ru0);
            cpu0 = CpuSeconds();
            rx0 = server->received;
            tx0 = server->sent;
            wait0 = ReadCpuWait();
            pauses.Restart();
        } else if (c == kCtlStop) {
            uint64_t din1, dout1;
            server->Datagrams(din1, dout1);
            rusage ru1{};
            getrusage(RUSAGE_SELF, &ru1);
            auto sec = [](timeval from, timeval to) {
                return double(to.tv_sec - from.tv_sec) + double(to.tv_usec - from.tv_usec) / 1e6;
            };
            // Where the time goes (user or kernel) and whether both back ends needed as many
            // datagrams for the same messages.
            fprintf(stderr, "  server user %.3f s, system %.3f s; datagrams in %llu, out %llu\n",
                    sec(ru0.ru_utime, ru1.ru_utime), sec(ru0.ru_stime, ru1.ru_stime),
                    (unsigned long long)(din1 - din0), (unsigned long long)(dout1 - dout0));
            ServerReport rep;
            rep.cpuSeconds = CpuSeconds() - cpu0;
            rep.received = server->received - rx0;
            rep.sent = server->sent - tx0;
            rep.cpuWaitUs = CpuWait::MeanUs(wait0, ReadCpuWait());
            rep.longestPauseUs = pauses.LongestUs();
            rep.ok = 1;
            WriteAll(outFd, &rep, sizeof rep);
            server.reset();
            _exit(0);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Lossy proxy: one listening socket for the clients, one upstream socket per client towards the
// server (so the server still sees one address per client). Each datagram is dropped with the
// given probability, in both directions.

std::atomic<bool> gProxyStop{false};
void OnProxySignal(int) { gProxyStop.store(true); }

int BindUdp(uint16_t port) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    int buf = 4 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buf, sizeof buf);
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buf, sizeof buf);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

[[noreturn]] void ProxyProcess(uint16_t serverPort, double loss, int outFd) {
    signal(SIGTERM, OnProxySignal);
    // The bot client scrambles with a key taken from the low byte of the port it connects to,
    // and the server descrambles with its own port's: the proxy listens on a port with the same
    // low byte so that both sides agree without the proxy touching the bytes.
    int listenFd = -1;
    uint16_t listenPort = 0;
    for (uint32_t p = serverPort + 256u; p < 65536u && listenFd < 0; p += 256u) {
        listenFd = BindUdp(uint16_t(p));
        listenPort = uint16_t(p);
    }
    for (uint32_t p = serverPort; p >= 1280u && listenFd < 0;) {
        p -= 256u;
        listenFd = BindUdp(uint16_t(p));
        listenPort = uint16_t(p);
    }
    if (listenFd < 0) listenPort = 0;
    WriteAll(outFd, &listenPort, sizeof listenPort);
    if (listenFd < 0) _exit(1);

    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(serverPort);
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

    struct Route {
        int fd;
        sockaddr_in client;
    };
    std::unordered_map<uint64_t, std::unique_ptr<Route>> routes;
    int ep = epoll_create1(0);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.ptr = nullptr;  // the listening socket
    epoll_ctl(ep, EPOLL_CTL_ADD, listenFd, &ev);
    std::mt19937 rng(12345);
    std::uniform_real_distribution<double> uni(0.0, 1.0);
    uint8_t buf[2048];
    epoll_event events[256];
    while (!gProxyStop.load()) {
        int n = epoll_wait(ep, events, 256, 100);
        for (int i = 0; i < n; ++i) {
            auto* route = static_cast<Route*>(events[i].data.ptr);
            for (;;) {
                if (route == nullptr) {
                    sockaddr_in from{};
                    socklen_t fl = sizeof from;
                    ssize_t r =
                        recvfrom(listenFd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fl);
                    if (r < 0) break;
                    uint64_t key = (uint64_t(from.sin_addr.s_addr) << 16) | from.sin_port;
                    auto& slot = routes[key];
                    if (!slot) {
                        int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
                        if (fd < 0) continue;
                        connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server);
                        slot = std::make_unique<Route>(Route{fd, from});
                        epoll_event rev{};
                        rev.events = EPOLLIN;
                        rev.data.ptr = slot.get();
                        epoll_ctl(ep, EPOLL_CTL_ADD, fd, &rev);
                    }
                    if (uni(rng) >= loss) send(slot->fd, buf, size_t(r), 0);
                } else {
                    ssize_t r = recv(route->fd, buf, sizeof buf, 0);
                    if (r < 0) break;
                    if (uni(rng) >= loss)
                        sendto(listenFd, buf, size_t(r), 0, reinterpret_cast<sockaddr*>(&route->client),
                               sizeof route->client);
                }
            }
        }
    }
    _exit(0);
}

// ---------------------------------------------------------------------------------------------
// Echo clients. Each one is used by exactly one worker thread.

class EchoClient {
public:
    using OnMessage = std::function<void(const uint8_t*, uint32_t)>;
    virtual ~EchoClient() = default;
    virtual void BeginConnect(uint16_t port) = 0;
    virtual void Send(uint8_t kind, const uint8_t* data) = 0;
    // Handles everything received; sets connected/failed.
    virtual void Poll(const OnMessage& onMessage) = 0;
    // The transport's own view of the connection, for naming what went wrong (may be empty).
    virtual std::string Describe() { return {}; }
    bool connected = false;
    bool failed = false;
    bool lost = false;
    int lostReason = 0;  // what told us the connection ended, for the diagnostics
};

class OursClient final : public EchoClient {
public:
    // ownThread: the client's own network thread serves its connection (the bot program's way);
    // otherwise the worker does, in Poll, as it services an ENet host.
    explicit OursClient(bool ownThread) : ownThread_(ownThread), client_(&peer_) {
        peer_.SetManualCycle(!ownThread);
    }
    ~OursClient() override { client_->Disconnect(0, 0); }
    void BeginConnect(uint16_t port) override {
        connected = failed = lost = false;
        if (!client_->Connect("127.0.0.1", port, 0, 0, kClientThreadSleepMs)) failed = true;
    }
    void Send(uint8_t kind, const uint8_t* data) override {
        bool reliable = kind != kUnreliableSequenced;
        client_->SendBytes(
            data, int32_t(kMessageBytes), velt::HIGH_PRIORITY_LEVEL,
            reliable ? velt::RELIABILITY_RELIABLE_ORDERED : velt::RELIABILITY_UNRELIABLE_SEQUENCED,
            reliable ? 2 : 1);
    }
    void Poll(const OnMessage& onMessage) override {
        if (!ownThread_) peer_.RunCycle();
        if (connected && !lost && NowUs() - lastSeenUs_ >= 1'000'000) {
            lastSeen_ = DescribeNow();
            lastSeenUs_ = NowUs();
        }
        while (Packet* p = client_->Receive()) {
            uint8_t id = p->length >= 1 ? p->data[0] : 0;
            switch (id) {
                case velt::ID_CONN_ACCEPTED: connected = true; break;
                case velt::ID_CONN_ATTEMPT_FAILED:
                case velt::ID_CONN_NO_FREE_SLOT:
                case velt::ID_CONN_BANNED:
                case velt::ID_CONN_BAD_PASSWORD: failed = true; break;
                case velt::ID_CONN_LOST:
                case velt::ID_CONN_CLOSED:
                    lost = true;
                    lostReason = id;
                    break;
                case kEchoId: onMessage(p->data, p->length); break;
                default: break;
            }
            client_->FreePacket(p);
        }
    }

    // A lost connection has no counters left: what was read last, at most a second before.
    std::string Describe() override {
        if (lost || !connected) return lastSeen_.empty() ? std::string() : " last seen" + lastSeen_;
        return DescribeNow();
    }
    std::string DescribeNow() {
        const velt::NetworkStatistics* s = client_->GetStatistics();
        if (s == nullptr) return {};
        char line[320];
        snprintf(line, sizeof line,
                 " [port %u, ping %d; datagrams in %u out %u; messages in %u (%u duplicates), ordered %u in "
                 "turn and %u ahead;"
                 " resent %u, awaiting ack %u]",
                 unsigned(client_->GetInternalID().port), int(client_->GetLastPing()), s->packetsReceived,
                 s->packetsSent, s->messagesReceived, s->duplicateMessagesReceived, s->orderedInOrder,
                 s->orderedOutOfOrder, s->messagesResent, s->messagesWaitingForAck);
        return line;
    }

private:
    bool ownThread_;
    velt::NetClient peer_;
    velt::NetClientInterface* client_;
    std::string lastSeen_;
    uint64_t lastSeenUs_ = 0;
};

class EnetClient final : public EchoClient {
public:
    EnetClient() : host_(enet_host_create(nullptr, 1, 2, 0, 0)) {}
    ~EnetClient() override {
        if (peer_ != nullptr) enet_peer_reset(peer_);
        if (host_ != nullptr) enet_host_destroy(host_);
    }
    void BeginConnect(uint16_t port) override {
        connected = failed = lost = false;
        if (peer_ != nullptr) enet_peer_reset(peer_);
        ENetAddress address{};
        enet_address_set_host_ip(&address, "127.0.0.1");
        address.port = port;
        peer_ = host_ != nullptr ? enet_host_connect(host_, &address, 2, 0) : nullptr;
        if (peer_ == nullptr) failed = true;
    }
    void Send(uint8_t kind, const uint8_t* data) override {
        bool reliable = kind != kUnreliableSequenced;
        ENetPacket* p = enet_packet_create(data, kMessageBytes, reliable ? ENET_PACKET_FLAG_RELIABLE : 0);
        if (enet_peer_send(peer_, reliable ? 1 : 0, p) != 0) enet_packet_destroy(p);
    }
    void Poll(const OnMessage& onMessage) override {
        if (host_ == nullptr) return;
        ENetEvent event;
        while (enet_host_service(host_, &event, 0) > 0) {
            switch (event.type) {
                case ENET_EVENT_TYPE_CONNECT: connected = true; break;
                case ENET_EVENT_TYPE_DISCONNECT:
                    if (connected) {
                        lost = true;
                        lostReason = -1;
                    } else {
                        failed = true;
                    }
                    peer_ = nullptr;
                    break;
                case ENET_EVENT_TYPE_RECEIVE:
                    onMessage(event.packet->data, uint32_t(event.packet->dataLength));
                    enet_packet_destroy(event.packet);
                    break;
                default: break;
            }
        }
    }

private:
    ENetHost* host_;
    ENetPeer* peer_ = nullptr;
};

// Per-client bookkeeping of what was sent and what came back.
struct ClientState {
    std::unique_ptr<EchoClient> net;
    uint32_t index = 0;
    uint32_t sentUnreliable = 0;
    uint32_t sentReliable = 0;
    uint32_t nextReliable = 0;    // next reliable sequence number expected back
    int64_t lastUnreliable = -1;  // highest unreliable sequence number seen back
    uint32_t receivedUnreliable = 0;
    uint64_t corrupted = 0;   // bytes, length or owner wrong
    uint64_t misordered = 0;  // duplicated, reordered or a gap in the reliable stream
    uint64_t nextSendUs = 0;
    uint32_t connectAttempts = 0;
    uint64_t connectStartUs = 0;
    bool connecting = false;
    bool joinSent = false;
    bool joined = false;
    uint64_t lostAtUs = 0;
    // Worker-written, harness-read: every reliable message sent has come back (or the client
    // never connected, so nothing will).
    std::atomic<bool> settled{false};
};

enum class Phase : int { Connect, Load, Drain, Idle, Done };

struct Shared {
    std::atomic<int> phase{int(Phase::Connect)};
    std::atomic<int> connecting{0};  // connection attempts in flight, across workers
    std::atomic<uint32_t> connectedCount{0};
    std::atomic<uint32_t> failedCount{0};
    uint16_t port = 0;
};

// At most this many handshakes at once: all clients share one address, and the server counts
// many unfinished connections from one address as an attack.
constexpr int kMaxConnectsInFlight = 12;
constexpr uint32_t kMaxConnectAttempts = 5;
constexpr uint64_t kConnectTimeoutUs = 15'000'000;
constexpr uint64_t kSendPeriodUs = 1'000'000 / 30;

void WorkerMain(Shared& shared, std::vector<ClientState*> clients, std::vector<uint32_t>& rtts,
                PauseMeter& pauses) {
    Phase seen = Phase::Connect;
    for (;;) {
        Phase phase = Phase(shared.phase.load());
        if (phase == Phase::Done) break;
        uint64_t now = NowUs();
        // Pauses count from the measured phase on.
        if (phase != seen && seen == Phase::Connect) pauses.Restart();
        seen = phase;
        pauses.Tick(now);
        for (ClientState* c : clients) {
            if (phase == Phase::Connect && !c->joined && !c->connecting &&
                c->connectAttempts < kMaxConnectAttempts) {
                if (shared.connecting.fetch_add(1) < kMaxConnectsInFlight) {
                    c->connecting = true;
                    ++c->connectAttempts;
                    c->connectStartUs = now;
                    c->joinSent = false;
                    c->lostAtUs = 0;
                    c->net->BeginConnect(shared.port);
                } else {
                    shared.connecting.fetch_sub(1);
                }
            }
            c->net->Poll([&](const uint8_t* m, uint32_t length) {
                if (!MessageIntact(m, length, c->index)) {
                    ++c->corrupted;
                    return;
                }
                if (m[1] == kJoin) {
                    c->joined = true;
                    return;
                }
                uint32_t seq = Get32(m + 6);
                uint64_t rtt = NowUs() - Get64(m + 10);
                rtts.push_back(uint32_t(std::min<uint64_t>(rtt, UINT32_MAX)));
                if (m[1] == kReliableOrdered) {
                    if (seq != c->nextReliable) ++c->misordered;  // gap, duplicate or reorder
                    c->nextReliable = seq + 1;
                } else {
                    if (int64_t(seq) <= c->lastUnreliable) ++c->misordered;  // older than one seen
                    c->lastUnreliable = int64_t(seq);
                    ++c->receivedUnreliable;
                }
            });
            if (c->net->lost && c->lostAtUs == 0) c->lostAtUs = now;
            if (c->connecting && c->net->connected && !c->net->lost && !c->joinSent) {
                uint8_t m[kMessageBytes];
                BuildMessage(m, kJoin, c->index, 0, now);
                c->net->Send(kJoin, m);
                c->joinSent = true;
            }
            if (c->connecting) {
                bool timedOut = now - c->connectStartUs > kConnectTimeoutUs;
                if (c->joined) {
                    c->connecting = false;
                    shared.connecting.fetch_sub(1);
                    shared.connectedCount.fetch_add(1);
                    c->nextSendUs = now + (uint64_t(c->index) * 7919u) % kSendPeriodUs;
                } else if (c->net->failed || c->net->lost || timedOut) {
                    c->connecting = false;
                    shared.connecting.fetch_sub(1);
                    if (c->connectAttempts >= kMaxConnectAttempts) shared.failedCount.fetch_add(1);
                }
            }
            if (phase == Phase::Load && c->joined && !c->net->lost && now >= c->nextSendUs) {
                uint8_t m[kMessageBytes];
                BuildMessage(m, kUnreliableSequenced, c->index, c->sentUnreliable++, now);
                c->net->Send(kUnreliableSequenced, m);
                BuildMessage(m, kReliableOrdered, c->index, c->sentReliable++, now);
                c->net->Send(kReliableOrdered, m);
                c->nextSendUs += kSendPeriodUs;
                if (c->nextSendUs < now) c->nextSendUs = now + kSendPeriodUs;  // fell behind
            }
            if (phase == Phase::Drain)
                c->settled.store(!c->joined || c->net->lost || c->nextReliable == c->sentReliable);
        }
        SleepMs(phase == Phase::Idle ? 5 : 1);
    }
}

// ---------------------------------------------------------------------------------------------
// One scenario on one back end.

struct Result {
    bool ran = false;  // false for a back end left out with --only
    bool ok = false;
    std::string note;
    double serverCpu = 0;
    uint64_t serverReceived = 0;
    uint64_t serverSent = 0;
    double cpuPerMillion = 0;
    double p50Ms = 0, p99Ms = 0;
    uint64_t deliveryErrors = 0;  // the sum of the four below
    uint64_t corrupted = 0, misordered = 0, connectionsLost = 0;
    uint64_t reliableSent = 0, reliableLost = 0;
    uint64_t unreliableSent = 0, unreliableReceived = 0;
    uint32_t connectFailures = 0;
    // Whether a side starved (see the top of the file).
    double serverWaitUs = 0, clientWaitUs = 0;
    double serverPauseMs = 0, clientPauseMs = 0;
};

// A side starved when it could not run for this long, or its threads waited this long for a CPU
// each time they had something to do, on average.
constexpr double kStarvedPauseMs = 1000;
constexpr double kStarvedWaitUs = 10000;
bool ServerStarved(const Result& r) {
    return r.serverPauseMs >= kStarvedPauseMs || r.serverWaitUs >= kStarvedWaitUs;
}
bool ClientsStarved(const Result& r) {
    return r.clientPauseMs >= kStarvedPauseMs || r.clientWaitUs >= kStarvedWaitUs;
}
const char* StarvedSide(const Result& r) {
    if (ServerStarved(r)) return ClientsStarved(r) ? "both" : "server";
    return ClientsStarved(r) ? "clients" : "neither";
}

struct ScenarioSpec {
    Backend backend;
    uint32_t clients;
    double loss;      // 0 = direct
    int loadSeconds;  // 0 = idle scenario
    int idleSeconds;
    int drainSeconds;
    int workers;
    bool clientThreads;  // our clients run network threads of their own
    int stallSeconds;    // the server is stopped this long in the middle of the load (0: never)
};

// A stall starts this long into the load, and the load goes on this long after it.
constexpr int kStallMarginMs = 2000;

double Percentile(std::vector<uint32_t>& v, double q) {
    if (v.empty()) return 0;
    size_t k = size_t(std::min<double>(double(v.size() - 1), q * double(v.size() - 1) + 0.5));
    std::nth_element(v.begin(), v.begin() + long(k), v.end());
    return double(v[k]) / 1000.0;
}

Result RunScenario(const ScenarioSpec& spec) {
    Result res;
    res.ran = true;
    int ctl[2], out[2];
    if (pipe(ctl) != 0 || pipe(out) != 0) {
        res.note = "pipe failed";
        return res;
    }
    fflush(stdout);
    pid_t serverPid = fork();
    if (serverPid == 0) {
        close(ctl[1]);
        close(out[0]);
        ServerProcess(spec.backend, spec.clients, ctl[0], out[1]);
    }
    close(ctl[0]);
    close(out[1]);
    uint16_t serverPort = 0;
    if (!ReadAll(out[0], &serverPort, sizeof serverPort) || serverPort == 0) {
        res.note = "server did not start";
        waitpid(serverPid, nullptr, 0);
        return res;
    }
    pid_t proxyPid = -1;
    uint16_t port = serverPort;
    if (spec.loss > 0) {
        int pp[2];
        if (pipe(pp) != 0) {
            res.note = "pipe failed";
            return res;
        }
        proxyPid = fork();
        if (proxyPid == 0) {
            close(pp[0]);
            close(ctl[1]);
            close(out[0]);
            ProxyProcess(serverPort, spec.loss, pp[1]);
        }
        close(pp[1]);
        if (!ReadAll(pp[0], &port, sizeof port) || port == 0) res.note = "proxy did not start";
        close(pp[0]);
    }

    Shared shared;
    shared.port = port;
    std::vector<std::unique_ptr<ClientState>> clients;
    if (res.note.empty()) {
        for (uint32_t i = 0; i < spec.clients; ++i) {
            auto c = std::make_unique<ClientState>();
            c->index = i;
            if (spec.backend == Backend::Ours)
                c->net = std::make_unique<OursClient>(spec.clientThreads);
            else
                c->net = std::make_unique<EnetClient>();
            clients.push_back(std::move(c));
        }
    }
    std::vector<std::vector<uint32_t>> rtts(size_t(spec.workers));
    std::vector<PauseMeter> workerPauses(size_t(spec.workers));
    std::vector<std::thread> workers;
    if (res.note.empty()) {
        for (int w = 0; w < spec.workers; ++w) {
            std::vector<ClientState*> mine;
            for (size_t i = size_t(w); i < clients.size(); i += size_t(spec.workers))
                mine.push_back(clients[i].get());
            workers.emplace_back(WorkerMain, std::ref(shared), mine, std::ref(rtts[size_t(w)]),
                                 std::ref(workerPauses[size_t(w)]));
        }
        // Connect phase: until every client is in or out of attempts.
        uint64_t deadline = NowUs() + 300'000'000;
        while (shared.connectedCount.load() + shared.failedCount.load() < spec.clients && NowUs() < deadline)
            SleepMs(20);
        res.connectFailures = spec.clients - shared.connectedCount.load();
        SleepMs(500);  // let the last handshakes' follow-ups settle before measuring

        WriteAll(ctl[1], &kCtlMeasure, 1);
        SleepMs(200);  // the server takes its starting reading before the first message arrives
        const CpuWait clientWait0 = ReadCpuWait();
        if (spec.loadSeconds > 0) {
            shared.phase.store(int(Phase::Load));
            const double loadStart = double(NowUs()) / 1e6;
            if (spec.stallSeconds > 0) {
                SleepMs(kStallMarginMs);
                kill(serverPid, SIGSTOP);
                fprintf(stderr, "  server stopped at %.1f s for %d s\n", double(NowUs()) / 1e6,
                        spec.stallSeconds);
                SleepMs(spec.stallSeconds * 1000);
                kill(serverPid, SIGCONT);
                SleepMs(kStallMarginMs);
            } else {
                SleepMs(spec.loadSeconds * 1000);
            }
            fprintf(stderr, "  load from %.1f s to %.1f s\n", loadStart, double(NowUs()) / 1e6);
            shared.phase.store(int(Phase::Drain));
            // Drain: until every reliable message is back or the drain time is over.
            uint64_t drainEnd = NowUs() + uint64_t(spec.drainSeconds) * 1'000'000;
            while (NowUs() < drainEnd) {
                SleepMs(100);
                bool all = true;
                for (auto& c : clients)
                    if (!c->settled.load()) all = false;
                if (all) break;
            }
        } else {
            shared.phase.store(int(Phase::Idle));
            SleepMs(spec.idleSeconds * 1000);
        }
        res.clientWaitUs = CpuWait::MeanUs(clientWait0, ReadCpuWait());
        WriteAll(ctl[1], &kCtlStop, 1);
        ServerReport rep;
        if (ReadAll(out[0], &rep, sizeof rep) && rep.ok) {
            res.ok = true;
            res.serverCpu = rep.cpuSeconds;
            res.serverReceived = rep.received;
            res.serverSent = rep.sent;
            res.serverWaitUs = rep.cpuWaitUs;
            res.serverPauseMs = double(rep.longestPauseUs) / 1000.0;
        } else {
            res.note = "server report missing";
        }
        shared.phase.store(int(Phase::Done));
        for (auto& t : workers) t.join();
        for (const PauseMeter& pauses : workerPauses)
            res.clientPauseMs = std::max(res.clientPauseMs, double(pauses.LongestUs()) / 1000.0);
        fprintf(
            stderr,
            "  longest pause: server %.0f ms, client workers %.0f ms; mean wait for a CPU: server %.0f us, "
            "clients %.0f us\n",
            res.serverPauseMs, res.clientPauseMs, res.serverWaitUs, res.clientWaitUs);
    }
    std::vector<uint32_t> all;
    for (auto& v : rtts) all.insert(all.end(), v.begin(), v.end());
    res.p50Ms = Percentile(all, 0.50);
    res.p99Ms = Percentile(all, 0.99);
    uint32_t missingShown = 0;
    for (auto& c : clients) {
        res.corrupted += c->corrupted;
        res.misordered += c->misordered;
        if (c->joined && c->net->lost) {  // a connection dropped under load
            ++res.connectionsLost;
            fprintf(stderr, "  client %u lost its connection (reason %d) at %.1f s%s\n", c->index,
                    c->net->lostReason, double(c->lostAtUs) / 1e6, c->net->Describe().c_str());
        }
        res.reliableSent += c->sentReliable;
        const uint32_t missing = c->sentReliable - std::min(c->sentReliable, c->nextReliable);
        res.reliableLost += missing;
        if (missing > 0 && ++missingShown <= 10)
            fprintf(stderr, "  client %u: %u of %u reliable messages not echoed%s%s\n", c->index, missing,
                    c->sentReliable, c->net->lost ? " (connection lost)" : "", c->net->Describe().c_str());
        res.unreliableSent += c->sentUnreliable;
        res.unreliableReceived += c->receivedUnreliable;
    }
    res.deliveryErrors = res.corrupted + res.misordered + res.connectionsLost + res.reliableLost;
    if (res.serverReceived > 0) res.cpuPerMillion = res.serverCpu / (double(res.serverReceived) / 1e6);
    clients.clear();
    close(ctl[1]);
    close(out[0]);
    if (proxyPid > 0) {
        kill(proxyPid, SIGTERM);
        waitpid(proxyPid, nullptr, 0);
    }
    int status = 0;
    waitpid(serverPid, &status, 0);
    return res;
}

// Several rounds of one scenario on one back end: the round with the median CPU figure stands
// for them all, but every delivery error and connect failure of every round is counted, so a
// fault seen once is never hidden by a clean round.
Result Combine(std::vector<Result> rounds, bool idle) {
    Result combined;
    if (rounds.empty()) return combined;
    for (const Result& r : rounds)
        if (!r.ok) return r;
    auto key = [idle](const Result& r) { return idle ? r.serverCpu : r.cpuPerMillion; };
    std::sort(rounds.begin(), rounds.end(),
              [&](const Result& a, const Result& b) { return key(a) < key(b); });
    combined = rounds[rounds.size() / 2];
    combined.deliveryErrors = combined.corrupted = combined.misordered = combined.connectionsLost = 0;
    combined.reliableLost = 0;
    combined.connectFailures = 0;
    for (const Result& r : rounds) {
        combined.deliveryErrors += r.deliveryErrors;
        combined.corrupted += r.corrupted;
        combined.misordered += r.misordered;
        combined.connectionsLost += r.connectionsLost;
        combined.reliableLost += r.reliableLost;
        combined.connectFailures += r.connectFailures;
        // Starvation in any round may explain its errors.
        combined.serverPauseMs = std::max(combined.serverPauseMs, r.serverPauseMs);
        combined.clientPauseMs = std::max(combined.clientPauseMs, r.clientPauseMs);
        combined.serverWaitUs = std::max(combined.serverWaitUs, r.serverWaitUs);
        combined.clientWaitUs = std::max(combined.clientWaitUs, r.clientWaitUs);
    }
    return combined;
}

// ---------------------------------------------------------------------------------------------
// Table.

void Row(const char* scenario, const char* figure, double ours, double enet, const char* fmt) {
    char a[32], b[32], r[32];
    snprintf(a, sizeof a, fmt, ours);
    snprintf(b, sizeof b, fmt, enet);
    if (enet != 0)
        snprintf(r, sizeof r, "%.2f", ours / enet);
    else
        snprintf(r, sizeof r, "%s", ours == 0 ? "=" : "inf");
    printf("| %-28s | %-34s | %12s | %12s | %8s |\n", scenario, figure, a, b, r);
}

void Usage() {
    printf(
        "bench_net_compare [--full] [--load-seconds N] [--idle-seconds N] [--drain-seconds N]\n"
        "                  [--clients A,B] [--loss-clients N] [--loss P,Q] [--idle-clients N]\n"
        "                  [--workers N] [--skip-load] [--skip-loss] [--skip-idle]\n"
        "                  [--only ours|enet] [--repeat N] [--client-threads]\n"
        "                  [--stall S,T] [--stall-clients N] [--skip-stall]\n"
        "No arguments: short run (5 s load, 10 s idle, lossy runs with 200 clients, the server\n"
        "stopped 3 s and 5 s under the load of the largest client count).\n"
        "--full: 20 s load, 30 s idle, lossy runs at every client count. --loss-clients 0:\n"
        "lossy runs at every client count. --repeat N: N rounds per scenario, back ends\n"
        "alternating; the round with the median CPU figure is shown, errors of all rounds summed.\n"
        "--client-threads: each of our clients runs its own network thread (the bot program's\n"
        "way) instead of being served by the workers like ENet's.\n");
}

std::vector<double> ParseList(const char* s) {
    std::vector<double> v;
    while (*s != 0) {
        char* end = nullptr;
        v.push_back(strtod(s, &end));
        if (end == s) break;
        s = *end == ',' ? end + 1 : end;
    }
    return v;
}

}  // namespace

int main(int argc, char** argv) {
    int loadSeconds = 5, idleSeconds = 10, drainSeconds = 15, workers = 4, repeat = 1;
    std::vector<double> clientCounts{200, 500};
    std::vector<double> losses{0.05, 0.20};
    // Lossy runs spend most of their time connecting and draining, so the short run keeps to one
    // size; 0 means every size of the load scenario.
    uint32_t lossClients = 200, idleClients = 1000, stallClients = 0;
    std::vector<double> stalls{3, 5};
    bool skipLoad = false, skipLoss = false, skipIdle = false, skipStall = false, clientThreads = false;
    std::vector<Backend> backends{Backend::Ours, Backend::Enet};
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : ""; };
        if (a == "--full") {
            loadSeconds = 20;
            idleSeconds = 30;
            drainSeconds = 30;
            lossClients = 0;
        } else if (a == "--load-seconds") {
            loadSeconds = atoi(next());
        } else if (a == "--idle-seconds") {
            idleSeconds = atoi(next());
        } else if (a == "--drain-seconds") {
            drainSeconds = atoi(next());
        } else if (a == "--clients") {
            clientCounts = ParseList(next());
        } else if (a == "--loss") {
            losses = ParseList(next());
        } else if (a == "--loss-clients") {
            lossClients = uint32_t(atoi(next()));
        } else if (a == "--idle-clients") {
            idleClients = uint32_t(atoi(next()));
        } else if (a == "--repeat") {
            repeat = std::max(1, atoi(next()));
        } else if (a == "--workers") {
            workers = std::max(1, atoi(next()));
        } else if (a == "--skip-load") {
            skipLoad = true;
        } else if (a == "--skip-loss") {
            skipLoss = true;
        } else if (a == "--skip-idle") {
            skipIdle = true;
        } else if (a == "--skip-stall") {
            skipStall = true;
        } else if (a == "--stall") {
            stalls = ParseList(next());
        } else if (a == "--stall-clients") {
            stallClients = uint32_t(atoi(next()));
        } else if (a == "--client-threads") {
            clientThreads = true;
        } else if (a == "--only") {
            std::string which = next();
            backends = {which == "enet" ? Backend::Enet : Backend::Ours};
        } else {
            Usage();
            return a == "--help" ? 0 : 2;
        }
    }
    // A thousand clients and a proxy socket each need more descriptors than the usual 1024.
    rlimit rl{};
    if (getrlimit(RLIMIT_NOFILE, &rl) == 0) {
        rl.rlim_cur = rl.rlim_max;
        setrlimit(RLIMIT_NOFILE, &rl);
    }
    signal(SIGPIPE, SIG_IGN);
    if (SplitCores()) PinToCores(kServerCores, int(std::thread::hardware_concurrency()) - 1);
    if (enet_initialize() != 0) {
        fprintf(stderr, "ENet failed to initialise\n");
        return 1;
    }

    struct Line {
        std::string scenario;
        Result ours, enet;
        bool idle;
        bool lossy;
        bool stall;
    };
    std::vector<Line> lines;
    auto run = [&](const std::string& name, uint32_t clients, double loss, int load, bool idle,
                   int stall = 0) {
        Line line{name, {}, {}, idle, loss > 0, stall > 0};
        std::vector<Result> ours, enet;
        for (int round = 0; round < repeat; ++round) {
            // Alternate which back end goes first, so a slow spell of the machine does not
            // always fall on the same one.
            std::vector<Backend> order = backends;
            if (round % 2 == 1) std::reverse(order.begin(), order.end());
            for (Backend b : order) {
                ScenarioSpec spec{b,       clients,       loss, idle ? 0 : load, idleSeconds, drainSeconds,
                                  workers, clientThreads, stall};
                fprintf(stderr, "running %s on %s (round %d of %d) ...\n", name.c_str(), BackendName(b),
                        round + 1, repeat);
                Result r = RunScenario(spec);
                if (!r.ok) fprintf(stderr, "  failed: %s\n", r.note.c_str());
                fprintf(stderr, "  server CPU %.3f s, %.3f s per million messages\n", r.serverCpu,
                        r.cpuPerMillion);
                (b == Backend::Ours ? ours : enet).push_back(r);
            }
        }
        line.ours = Combine(ours, idle);
        line.enet = Combine(enet, idle);
        lines.push_back(line);
    };
    char name[64];
    if (!skipLoad)
        for (double n : clientCounts) {
            snprintf(name, sizeof name, "(a) %u clients, %d s", uint32_t(n), loadSeconds);
            run(name, uint32_t(n), 0, loadSeconds, false);
        }
    if (!skipLoss) {
        std::vector<double> counts = clientCounts;
        if (lossClients != 0) counts = {double(lossClients)};
        for (double n : counts)
            for (double p : losses) {
                snprintf(name, sizeof name, "(b) %u clients, %.0f%% loss", uint32_t(n), p * 100);
                run(name, uint32_t(n), p, loadSeconds, false);
            }
    }
    if (!skipIdle) {
        snprintf(name, sizeof name, "(c) %u idle clients, %d s", idleClients, idleSeconds);
        run(name, idleClients, 0, 0, true);
    }
    if (!skipStall) {
        const uint32_t n = stallClients != 0
                               ? stallClients
                               : uint32_t(*std::max_element(clientCounts.begin(), clientCounts.end()));
        for (double seconds : stalls) {
            snprintf(name, sizeof name, "(d) %u clients, %.0f s stop", n, seconds);
            run(name, n, 0, int(seconds) + 2 * kStallMarginMs / 1000, false, int(seconds));
        }
    }

    printf("| %-28s | %-34s | %12s | %12s | %8s |\n", "scenario", "figure", "ours", "ENet", "ours/ENet");
    printf("|%s|%s|%s|%s|%s|\n", std::string(30, '-').c_str(), std::string(36, '-').c_str(),
           std::string(14, '-').c_str(), std::string(14, '-').c_str(), std::string(10, '-').c_str());
    bool targetsMet = true;
    for (const Line& l : lines) {
        const char* s = l.scenario.c_str();
        if ((l.ours.ran && !l.ours.ok) || (l.enet.ran && !l.enet.ok)) {
            printf("| %-28s | run failed: ours %s, ENet %s\n", s, l.ours.ok ? "ok" : l.ours.note.c_str(),
                   l.enet.ok ? "ok" : l.enet.note.c_str());
            targetsMet = false;
            continue;
        }
        Row(s, "connect failures", l.ours.connectFailures, l.enet.connectFailures, "%.0f");
        if (!l.idle) {
            Row(s, "server: longest pause ms", l.ours.serverPauseMs, l.enet.serverPauseMs, "%.0f");
            Row(s, "clients: longest pause ms", l.ours.clientPauseMs, l.enet.clientPauseMs, "%.0f");
            Row(s, "server: mean wait for a CPU us", l.ours.serverWaitUs, l.enet.serverWaitUs, "%.0f");
            Row(s, "clients: mean wait for a CPU us", l.ours.clientWaitUs, l.enet.clientWaitUs, "%.0f");
        }
        const bool failures =
            l.ours.deliveryErrors + l.enet.deliveryErrors + l.ours.connectFailures + l.enet.connectFailures !=
            0;
        // A stopped server is the scenario itself, not starvation.
        if (failures && !l.stall)
            printf("| %-28s | %-34s | %12s | %12s | %8s |\n", s, "side that starved", StarvedSide(l.ours),
                   StarvedSide(l.enet), "");
        if (l.stall) {
            Row(s, "reliable sent", double(l.ours.reliableSent), double(l.enet.reliableSent), "%.0f");
            Row(s, "delivery errors", double(l.ours.deliveryErrors), double(l.enet.deliveryErrors), "%.0f");
            Row(s, "  reliable never echoed", double(l.ours.reliableLost), double(l.enet.reliableLost),
                "%.0f");
            Row(s, "  connections lost", double(l.ours.connectionsLost), double(l.enet.connectionsLost),
                "%.0f");
            if (l.ours.deliveryErrors != 0 || l.ours.connectFailures != 0) targetsMet = false;
            continue;
        }
        if (l.idle) {
            Row(s, "server CPU s", l.ours.serverCpu, l.enet.serverCpu, "%.3f");
            if (l.ours.serverCpu > l.enet.serverCpu) targetsMet = false;
            continue;
        }
        if (!l.lossy) {
            Row(s, "messages echoed by server", double(l.ours.serverReceived), double(l.enet.serverReceived),
                "%.0f");
            Row(s, "server CPU s", l.ours.serverCpu, l.enet.serverCpu, "%.3f");
            Row(s, "server CPU s / million messages", l.ours.cpuPerMillion, l.enet.cpuPerMillion, "%.3f");
            Row(s, "round trip p50 ms", l.ours.p50Ms, l.enet.p50Ms, "%.2f");
            if (l.ours.cpuPerMillion > l.enet.cpuPerMillion) targetsMet = false;
        }
        Row(s, "round trip p99 ms", l.ours.p99Ms, l.enet.p99Ms, "%.2f");
        Row(s, "reliable sent", double(l.ours.reliableSent), double(l.enet.reliableSent), "%.0f");
        Row(s, "unreliable delivered %",
            100.0 * double(l.ours.unreliableReceived) / double(std::max<uint64_t>(1, l.ours.unreliableSent)),
            100.0 * double(l.enet.unreliableReceived) / double(std::max<uint64_t>(1, l.enet.unreliableSent)),
            "%.1f");
        Row(s, "delivery errors", double(l.ours.deliveryErrors), double(l.enet.deliveryErrors), "%.0f");
        if (l.ours.deliveryErrors + l.enet.deliveryErrors > 0) {
            Row(s, "  reliable never echoed", double(l.ours.reliableLost), double(l.enet.reliableLost),
                "%.0f");
            Row(s, "  duplicated or out of order", double(l.ours.misordered), double(l.enet.misordered),
                "%.0f");
            Row(s, "  corrupted", double(l.ours.corrupted), double(l.enet.corrupted), "%.0f");
            Row(s, "  connections lost", double(l.ours.connectionsLost), double(l.enet.connectionsLost),
                "%.0f");
        }
        if (l.ours.deliveryErrors != 0 || l.ours.connectFailures != 0) targetsMet = false;
    }
    printf("targets (CPU/message and idle CPU ratio <= 1, no delivery errors): %s\n",
           targetsMet ? "met" : "NOT met");
    enet_deinitialize();
    return 0;
}
