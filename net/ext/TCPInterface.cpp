#include "net/ext/TCPInterface.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "net/Clock.h"

namespace velt {

namespace {

// How long one wait for socket readiness lasts; queued sends wait at most this long too.
constexpr int kPollMs = 25;
// Accepts per pass, so a flood of connections cannot starve the clients already there.
constexpr uint32_t kAcceptsPerPass = 64;
// Rest for the listener while the process is out of descriptors: the backlog keeps the waiting
// connections, and accept is retried without spinning.
constexpr uint32_t kAcceptPauseMs = 100;

void LogToStandardError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::fputs("TCPInterface: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
    va_end(args);
}

bool SetNonBlocking(int socket) {
    const int flags = ::fcntl(socket, F_GETFL, 0);
    return flags != -1 && ::fcntl(socket, F_SETFL, flags | O_NONBLOCK) != -1;
}

void ClosePacketQueue(DataStructures::SingleProducerConsumer<Packet*>& queue) {
    while (Packet** p = queue.ReadLock()) {
        FreePacket(*p);
        queue.ReadUnlock();
    }
    queue.Clear();
}

template <class T>
T Take(DataStructures::SingleProducerConsumer<T>& queue, T none) {
    T* p = queue.ReadLock();
    if (p == nullptr) return none;
    T value = *p;
    queue.ReadUnlock();
    return value;
}

template <class T>
void Put(DataStructures::SingleProducerConsumer<T>& queue, T value) {
    *queue.WriteLock() = value;
    queue.WriteUnlock();
}

}  // namespace

TCPInterface::TCPInterface() : log_(LogToStandardError) {}

TCPInterface::~TCPInterface() { Stop(); }

bool TCPInterface::Start(uint16_t port, uint16_t maxIncomingConnections) {
    if (started_.exchange(true)) return false;
    if (maxIncomingConnections > 0) {
        listenSocket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (listenSocket_ == -1) {
            started_.store(false);
            return false;
        }
        const int on = 1;
        ::setsockopt(listenSocket_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        address.sin_port = htons(port);
        socklen_t size = sizeof address;
        if (::bind(listenSocket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listenSocket_, maxIncomingConnections) != 0 ||
            ::getsockname(listenSocket_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            CloseListener();
            started_.store(false);
            return false;
        }
        listenPort_ = ntohs(address.sin_port);
    }
    queuedInputBytes_.store(0);
    connectionCount_.store(0);
    try {
        // Set before the thread runs, so a Stop right after Start still waits for it.
        workerRunning_.store(true);
        worker_ = std::thread(&TCPInterface::WorkerLoop, this);
    } catch (...) {
        workerRunning_.store(false);
        CloseListener();
        started_.store(false);
        return false;
    }
    return true;
}

void TCPInterface::Stop() {
    if (!started_.exchange(false)) return;
    // The worker owns the sockets while it runs: only once it has ended are they closed here.
    if (worker_.joinable()) worker_.join();
    CloseListener();
    for (RemoteClient* client : clients_) {
        ::close(client->socket);
        delete client;
    }
    clients_.clear();
    DropQueued();
    connectionCount_.store(0);
    waitingForConnection_.store(false);
}

void TCPInterface::CloseListener() {
    if (listenSocket_ != -1) ::close(listenSocket_);
    listenSocket_ = -1;
    listenPort_ = 0;
}

void TCPInterface::DropQueued() {
    ClosePacketQueue(outgoing_);
    ClosePacketQueue(incoming_);
    while (RemoteClient** p = newRemoteClients_.ReadLock()) {
        ::close((*p)->socket);
        delete *p;
        newRemoteClients_.ReadUnlock();
    }
    newRemoteClients_.Clear();
    newConnections_.Clear();
    lostConnections_.Clear();
    closeRequests_.Clear();
    queuedInputBytes_.store(0);
}

PlayerID TCPInterface::Connect(const char* host, uint16_t port) {
    // Only a running worker takes the new client: without one the wait below would never end.
    if (host == nullptr || !started_.load() || !workerRunning_.load()) return UNASSIGNED_PLAYER_ID;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) return UNASSIGNED_PLAYER_ID;
    sockaddr_in address{};
    std::memcpy(&address, found->ai_addr, sizeof address);
    ::freeaddrinfo(found);
    address.sin_port = htons(port);

    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket == -1) return UNASSIGNED_PLAYER_ID;
    if (::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        !SetNonBlocking(socket)) {
        ::close(socket);
        return UNASSIGNED_PLAYER_ID;
    }
    const PlayerID id{::inet_addr(host), port};
    waitingForConnection_.store(true);
    Put(newRemoteClients_, new RemoteClient{socket, id, false, {}, 0});
    while (waitingForConnection_.load() && workerRunning_.load()) SleepMs(1);
    if (waitingForConnection_.load()) return UNASSIGNED_PLAYER_ID;  // Stop drops the queued client
    SleepMs(30);
    return id;
}

void TCPInterface::Send(const char* data, uint32_t length, PlayerID target) {
    if (data == nullptr || length == 0 || !started_.load() || connectionCount_.load() == 0) return;
    Packet* packet = NewPacket(length);
    if (packet == nullptr) return;
    std::memcpy(packet->data, data, length);
    packet->sender = target;
    Put(outgoing_, packet);
}

Packet* TCPInterface::Receive() {
    if (!started_.load()) return nullptr;
    Packet* packet = Take<Packet*>(incoming_, nullptr);
    if (packet != nullptr) queuedInputBytes_.fetch_sub(packet->length);
    return packet;
}

void TCPInterface::DeallocatePacket(Packet* packet) { FreePacket(packet); }

void TCPInterface::CloseConnection(PlayerID client) {
    if (!started_.load() || client == UNASSIGNED_PLAYER_ID) return;
    Put(closeRequests_, client);
}

PlayerID TCPInterface::TakeNewConnection() { return Take(newConnections_, UNASSIGNED_PLAYER_ID); }

PlayerID TCPInterface::TakeLostConnection() { return Take(lostConnections_, UNASSIGNED_PLAYER_ID); }

// ---- worker ----------------------------------------------------------------------------------------

void TCPInterface::WorkerLoop() {
    while (started_.load()) {
        SendOutgoing();
        TakeRemoteClients();
        HandleCloseRequests();
        WaitAndServe();
        RemoveLostClients();
    }
    workerRunning_.store(false);
}

void TCPInterface::SendOutgoing() {
    while (Packet** p = outgoing_.ReadLock()) {
        Packet* packet = *p;
        outgoing_.ReadUnlock();
        const bool everyone = packet->sender == UNASSIGNED_PLAYER_ID;
        for (RemoteClient* client : clients_)
            if (!client->lost && (everyone || client->id == packet->sender))
                Append(*client, packet->data, packet->length);
        FreePacket(packet);
    }
}

void TCPInterface::TakeRemoteClients() {
    while (RemoteClient** p = newRemoteClients_.ReadLock()) {
        clients_.push_back(*p);
        newRemoteClients_.ReadUnlock();
        connectionCount_.store(static_cast<uint32_t>(clients_.size()));
        waitingForConnection_.store(false);
    }
}

void TCPInterface::HandleCloseRequests() {
    bool any = false;
    while (PlayerID* p = closeRequests_.ReadLock()) {
        const PlayerID id = *p;
        closeRequests_.ReadUnlock();
        if (!any) {
            // What the program sent before asking for the close ("Goodbye!") goes out first.
            SendOutgoing();
            any = true;
        }
        for (RemoteClient* client : clients_) {
            if (client->lost || client->id != id) continue;
            client->lost = true;
            break;
        }
    }
}

void TCPInterface::WaitAndServe() {
    pollSet_.clear();
    const bool overBudget = queuedInputBytes_.load() >= kMaxQueuedInputBytes;
    for (RemoteClient* client : clients_) {
        short events = overBudget ? 0 : POLLIN;
        if (client->output.size() > client->outputSent) events |= POLLOUT;
        pollSet_.push_back(pollfd{client->socket, events, 0});
    }
    const size_t watchedClients = clients_.size();
    const bool listen = listenSocket_ != -1 && TimeReached(GetTimeMs(), acceptPauseUntil_);
    if (listen) pollSet_.push_back(pollfd{listenSocket_, POLLIN, 0});

    int waitMs = kPollMs;
    if (listenSocket_ != -1 && !listen) waitMs = std::min<int>(waitMs, kAcceptPauseMs / 4);
    const int ready = ::poll(pollSet_.data(), pollSet_.size(), waitMs);
    if (ready <= 0) return;

    for (size_t i = 0; i < watchedClients; ++i) {
        const short revents = pollSet_[i].revents;
        RemoteClient& client = *clients_[i];
        if (revents == 0 || client.lost) continue;
        if ((revents & (POLLERR | POLLNVAL)) != 0) {
            client.lost = true;
            continue;
        }
        if ((revents & POLLOUT) != 0) Flush(client);
        if ((revents & (POLLIN | POLLHUP)) != 0 && !client.lost) ReadClient(client);
    }
    if (listen && (pollSet_.back().revents & POLLIN) != 0) AcceptClients();
}

void TCPInterface::AcceptClients() {
    for (uint32_t n = 0; n < kAcceptsPerPass; ++n) {
        sockaddr_in address{};
        socklen_t size = sizeof address;
        const int socket = ::accept4(listenSocket_, reinterpret_cast<sockaddr*>(&address), &size,
                                     SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (socket == -1) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                if (!outOfDescriptors_ && log_ != nullptr)
                    log_("cannot accept connections: %s; retrying every %u ms", std::strerror(errno),
                         kAcceptPauseMs);
                outOfDescriptors_ = true;
                acceptPauseUntil_ = GetTimeMs() + kAcceptPauseMs;
            }
            return;
        }
        if (outOfDescriptors_ && log_ != nullptr) log_("accepting connections again");
        outOfDescriptors_ = false;

        const uint32_t cap = maxConnections_.load();
        if (clients_.size() >= cap) {
            refusedConnections_.fetch_add(1);
            ::close(socket);
            if (!refusing_ && log_ != nullptr)
                log_("%u connections open, the most allowed: refusing new ones", cap);
            refusing_ = true;
            continue;
        }
        if (refusing_ && log_ != nullptr)
            log_("accepting connections again; %u refused so far", refusedConnections_.load());
        refusing_ = false;
        AddClient(socket, PlayerID{address.sin_addr.s_addr, ntohs(address.sin_port)});
    }
}

void TCPInterface::AddClient(int socket, PlayerID id) {
    clients_.push_back(new RemoteClient{socket, id, false, {}, 0});
    connectionCount_.store(static_cast<uint32_t>(clients_.size()));
    Put(newConnections_, id);
}

void TCPInterface::ReadClient(RemoteClient& client) {
    const ssize_t n = ::recv(client.socket, readBuffer_, sizeof readBuffer_, 0);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    if (n <= 0) {
        client.lost = true;
        return;
    }
    const uint32_t length = static_cast<uint32_t>(n);
    Packet* packet = NewPacket(length + 1);
    if (packet == nullptr) return;  // out of memory: the chunk is lost, the connection stays
    std::memcpy(packet->data, readBuffer_, length);
    packet->data[length] = 0;
    packet->length = length;
    packet->bitLength = length * 8u;
    packet->sender = client.id;
    queuedInputBytes_.fetch_add(length);
    Put(incoming_, packet);
}

void TCPInterface::Append(RemoteClient& client, const uint8_t* data, uint32_t length) {
    // A client already that far behind is not reading: dropping it keeps memory bounded. A single
    // large message to a client that keeps up still goes out whole.
    const size_t pending = client.output.size() - client.outputSent;
    if (pending > kMaxPendingOutputBytes) {
        client.lost = true;
        droppedSlowClients_.fetch_add(1);
        return;
    }
    if (client.outputSent != 0) {
        client.output.erase(client.output.begin(), client.output.begin() + client.outputSent);
        client.outputSent = 0;
    }
    client.output.insert(client.output.end(), data, data + length);
    Flush(client);
}

void TCPInterface::Flush(RemoteClient& client) {
    // A socket takes only what fits in its buffer: the rest waits for the next chance to write.
    while (client.outputSent < client.output.size()) {
        const ssize_t n = ::send(client.socket, client.output.data() + client.outputSent,
                                 client.output.size() - client.outputSent, MSG_NOSIGNAL);
        if (n > 0) {
            client.outputSent += static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return;
        } else {
            client.lost = true;
            return;
        }
    }
    client.output.clear();
    client.outputSent = 0;
}

void TCPInterface::RemoveLostClients() {
    size_t kept = 0;
    for (RemoteClient* client : clients_) {
        if (!client->lost) {
            clients_[kept++] = client;
            continue;
        }
        Put(lostConnections_, client->id);
        ::close(client->socket);
        delete client;
    }
    if (kept == clients_.size()) return;
    clients_.resize(kept);
    connectionCount_.store(static_cast<uint32_t>(kept));
}

}  // namespace velt
