#pragma once
// Packet loggers: a comma-separated line per datagram a peer sends or receives directly and per
// message its reliability layer receives.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "net/NetPeerInterface.h"
#include "net/PluginInterface.h"

namespace velt {

class LogCommandParser;

// Writes its lines to standard output. The peer calls the hooks from its own threads; every line
// goes out whole, one at a time.
class PacketLogger : public PluginInterface {
public:
    PacketLogger() = default;
    ~PacketLogger() override = default;
    PacketLogger(const PacketLogger&) = delete;
    PacketLogger& operator=(const PacketLogger&) = delete;

    void Attached(NetPeerInterface* peer) override;
    void Detached(NetPeerInterface* peer) override;
    void Started(NetPeerInterface* peer) override;
    void RawSend(const uint8_t* data, uint32_t bitLength, PlayerID remote) override;
    void RawReceive(const uint8_t* data, uint32_t bitLength, PlayerID remote) override;
    void InternalMessage(const InternalPacket& message, uint32_t frameNumber, PlayerID remote,
                         uint64_t timeUs, bool isSend) override;

    // Writes the column header line.
    void LogHeader();
    // Names of message ids; every id without one is "Unknown".
    virtual const char* UserIDToString(uint8_t id) const;
    // On (the default): message ids are printed as names; off: as right-aligned numbers.
    void SetPrintID(bool print) { printId_.store(print); }
    // Kept for callers that set it; no line depends on it.
    void SetPrintAcks(bool print) { printAcks_.store(print); }
    NetPeerInterface* GetPeer() const { return peer_; }

protected:
    // One finished line, with its line end. Called with lineLock_ held.
    virtual void WriteLog(const char* line);

    // Held around each line written, and around whatever a subclass writes lines to.
    std::mutex lineLock_;

private:
    void Emit(const char* line);
    void LogRaw(const char* direction, const uint8_t* data, uint32_t bitLength, PlayerID remote);
    void RememberLocalAddress();
    PlayerID LocalAddress() const;

    NetPeerInterface* peer_ = nullptr;  // not owned
    std::atomic<bool> printId_{true};
    std::atomic<bool> printAcks_{true};
    // The peer's own address, kept here: the hooks run where the peer must not be called back.
    std::atomic<uint64_t> localAddress_{0};
};

// Hands its lines to the "PacketConsoleLogger" channel of a log command parser. The peer's threads
// only queue them; they reach the parser on the thread that calls the peer's Receive, which is the
// one that drives the console. Without a parser it writes nothing.
class PacketConsoleLogger : public PacketLogger {
public:
    // Lines waiting for the next receive call; further ones are dropped and counted.
    static constexpr size_t kMaxPendingLines = 4096;

    PacketConsoleLogger() = default;
    // Stores the parser and registers the channel with it.
    void SetLogCommandParser(LogCommandParser* parser);
    LogCommandParser* GetLogCommandParser() const { return logCommandParser_.load(); }
    // Runs on the receiving thread: passes every queued line on to the parser.
    void Update(NetPeerInterface* peer) override;
    uint32_t GetDroppedLineCount() const { return droppedLines_.load(); }

protected:
    void WriteLog(const char* line) override;

private:
    std::atomic<LogCommandParser*> logCommandParser_{nullptr};  // not owned
    std::vector<std::string> pending_;                          // under lineLock_
    std::atomic<uint32_t> droppedLines_{0};
};

// Writes its lines to "PacketLog<ms>.csv" in the working directory, a file it opens when first
// attached to a peer (<ms> is the clock at that moment). Without the file the lines are lost.
class PacketFileLogger : public PacketLogger {
public:
    PacketFileLogger() = default;
    ~PacketFileLogger() override;
    void Attached(NetPeerInterface* peer) override;
    void Detached(NetPeerInterface* peer) override;
    bool HasFile() const { return file_ != nullptr; }
    const std::string& GetFileName() const { return fileName_; }

protected:
    void WriteLog(const char* line) override;

private:
    std::FILE* file_ = nullptr;  // under lineLock_
    std::string fileName_;
};

}  // namespace velt
