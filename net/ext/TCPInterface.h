#pragma once
// A small TCP server and client for the library's text services. One worker thread owns every
// socket; the program's thread talks to it only through single-producer/single-consumer queues,
// so no call but Connect and Stop waits for the network.

#include <poll.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "net/Packet.h"
#include "net/PlayerID.h"
#include "net/ReliabilityWire.h"
#include "net/SingleProducerConsumer.h"

namespace velt {

class TCPInterface {
public:
    // One read takes at most this much; what it got becomes one packet.
    static constexpr uint32_t kReadBytes = 8096;
    // Open connections beyond this are accepted and closed at once.
    static constexpr uint32_t kDefaultMaxConnections = 2048;
    // Output a client has not taken yet; a client further behind when more is sent is dropped.
    static constexpr uint32_t kMaxPendingOutputBytes = 256 * 1024;
    // Received bytes waiting for the program; past this the worker stops reading until it catches up.
    static constexpr uint32_t kMaxQueuedInputBytes = 16 * 1024 * 1024;

    TCPInterface();
    ~TCPInterface();
    TCPInterface(const TCPInterface&) = delete;
    TCPInterface& operator=(const TCPInterface&) = delete;

    // Listens on port (0 = any free one) with a backlog of maxIncomingConnections; with 0 it only
    // makes connections through Connect. False when already started or when the socket or the
    // worker cannot be made (the interface is then stopped again).
    bool Start(uint16_t port, uint16_t maxIncomingConnections);
    // Ends the worker first, then closes every socket and drops everything queued.
    void Stop();
    bool IsStarted() const { return started_.load(); }
    // The port listened on; 0 when not listening.
    uint16_t GetListenPort() const { return listenPort_; }

    // Connects out, blocking. UNASSIGNED_PLAYER_ID when not started or the host cannot be reached.
    // Such a connection is not reported through TakeNewConnection. The PlayerID's address is the
    // host text read as a dotted address (all ones for a name).
    PlayerID Connect(const char* host, uint16_t port);
    // Queues a copy of the bytes for target, or for every client with UNASSIGNED_PLAYER_ID.
    // Nothing when not started, without a connected client, or without bytes.
    void Send(const char* data, uint32_t length, PlayerID target);
    // Next received chunk: data holds length bytes and a NUL after them. The caller owns it
    // until DeallocatePacket. Null when there is none or the interface is stopped.
    Packet* Receive();
    void DeallocatePacket(Packet* packet);
    // Queues a close; the worker reports the connection lost when it closes it.
    void CloseConnection(PlayerID client);
    // One connection each, or UNASSIGNED_PLAYER_ID.
    PlayerID TakeNewConnection();
    PlayerID TakeLostConnection();

    // The cap on open connections; takes effect on the next accept.
    void SetMaxConnections(uint32_t maxConnections) { maxConnections_.store(maxConnections); }
    uint32_t GetMaxConnections() const { return maxConnections_.load(); }
    // Open connections as the worker last counted them.
    uint32_t GetConnectionCount() const { return connectionCount_.load(); }
    // Connections closed at once because the cap was reached.
    uint32_t GetRefusedConnectionCount() const { return refusedConnections_.load(); }
    // Received bytes the program has not taken yet.
    uint32_t GetQueuedInputBytes() const { return queuedInputBytes_.load(); }
    // Clients dropped because they did not take their output.
    uint32_t GetDroppedSlowClientCount() const { return droppedSlowClients_.load(); }
    // printf-style sink for the worker's rare notices (standard error by default); null = none.
    // Set it before Start.
    void SetLogHook(WireLogFn log) { log_ = log; }

private:
    struct RemoteClient {
        int socket;
        PlayerID id;
        bool lost;
        std::vector<uint8_t> output;  // bytes the socket did not take yet
        size_t outputSent;            // of output
    };

    void WorkerLoop();
    void SendOutgoing();
    void TakeRemoteClients();
    void HandleCloseRequests();
    void WaitAndServe();
    void AcceptClients();
    void ReadClient(RemoteClient& client);
    void Append(RemoteClient& client, const uint8_t* data, uint32_t length);
    void Flush(RemoteClient& client);
    void RemoveLostClients();
    void AddClient(int socket, PlayerID id);
    void CloseListener();
    void DropQueued();

    std::atomic<bool> waitingForConnection_{false};
    std::atomic<bool> started_{false};
    std::atomic<bool> workerRunning_{false};
    int listenSocket_ = -1;
    uint16_t listenPort_ = 0;
    std::thread worker_;
    WireLogFn log_;

    // Worker only (and Stop once the worker has ended).
    std::vector<RemoteClient*> clients_;
    std::vector<pollfd> pollSet_;
    uint8_t readBuffer_[kReadBytes];
    uint32_t acceptPauseUntil_ = 0;  // GetTimeMs; the listener rests while out of descriptors
    bool refusing_ = false;          // the cap is reached and that was logged
    bool outOfDescriptors_ = false;  // accept ran out of descriptors and that was logged

    std::atomic<uint32_t> maxConnections_{kDefaultMaxConnections};
    std::atomic<uint32_t> connectionCount_{0};
    std::atomic<uint32_t> queuedInputBytes_{0};
    std::atomic<uint32_t> refusedConnections_{0};
    std::atomic<uint32_t> droppedSlowClients_{0};

    DataStructures::SingleProducerConsumer<Packet*> outgoing_;                // program -> worker
    DataStructures::SingleProducerConsumer<Packet*> incoming_;                // worker -> program
    DataStructures::SingleProducerConsumer<PlayerID> newConnections_;         // worker -> program
    DataStructures::SingleProducerConsumer<PlayerID> lostConnections_;        // worker -> program
    DataStructures::SingleProducerConsumer<PlayerID> closeRequests_;          // program -> worker
    DataStructures::SingleProducerConsumer<RemoteClient*> newRemoteClients_;  // Connect -> worker
};

}  // namespace velt
