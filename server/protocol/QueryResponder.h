#pragma once

// The query port: server browsers and administration tools send plain datagrams starting with
// "VELT" to the game port. The network thread only sorts them into the inbox; everything here runs
// on the main thread once per pass, reads the console and the player pool like any other game code
// and answers on the socket the datagram came in on.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "net/QueryInbox.h"
#include "net/RepeatThrottle.h"

namespace velt {

class GameServer;

// The header every request starts with and every reply repeats: magic, the server's address and
// port as the client wrote them, opcode.
inline constexpr size_t kQueryOpcodeOffset = 10;
// A ping is echoed only at exactly this length: the header and four bytes of the client's choosing.
inline constexpr uint32_t kQueryPingLength = 15;
// Above this many human players the player lists are not answered at all.
inline constexpr int32_t kQueryListPlayerLimit = 100;
inline constexpr size_t kQueryHostnameMax = 50;
inline constexpr size_t kQueryGameModeTextMax = 30;
inline constexpr size_t kQueryLanguageMax = 30;

// One last-accepted time: a request passes when none was accepted yet or when more than the
// window has elapsed since the last one. A dropped request leaves the time as it was.
class QueryGate {
public:
    explicit QueryGate(int32_t windowMs) : windowMs_(windowMs) {}
    bool Pass(uint32_t nowMs) {
        if (used_ && int32_t(nowMs - lastMs_) <= windowMs_) return false;
        used_ = true;
        lastMs_ = nowMs;
        return true;
    }

private:
    int32_t windowMs_;
    uint32_t lastMs_ = 0;
    bool used_ = false;
};

class QueryResponder {
public:
    // Where a reply goes; the default sends it on the request's socket to its sender.
    using ReplySink = std::function<void(const QueuedQuery& request, const uint8_t* data, size_t length)>;

    explicit QueryResponder(GameServer& server);
    ~QueryResponder();
    QueryResponder(const QueryResponder&) = delete;
    QueryResponder& operator=(const QueryResponder&) = delete;

    // What the transport's network thread fills.
    QueryInbox& Inbox() { return inbox_; }
    void SetReplySink(ReplySink sink) { sink_ = std::move(sink); }

    // Main thread, once per pass: answers every waiting datagram, then reports what floods held
    // back. Returns how many datagrams were taken.
    uint32_t AnswerPending();
    // One datagram (the inbox has already checked the magic and the header length).
    void Answer(const QueuedQuery& request);

    // Replies sent, and requests consumed without one (gates, switched off, malformed).
    uint64_t Replies() const { return replies_; }
    uint64_t Unanswered() const { return unanswered_; }

    // The remote console's output line while one of its commands runs on this thread (the log's
    // echo sink). Does nothing otherwise.
    static void RconReply(const char* line);

private:
    enum class Line : uint8_t { Query = 1, BadRcon = 2 };

    bool AdmitLine(Line line, uint64_t key, uint32_t nowMs);
    void LogHeldBack(uint64_t key, uint32_t count);
    void ReportFloods(uint32_t nowMs);

    void AnswerInfo(const QueuedQuery& request);
    void AnswerList(const QueuedQuery& request, bool detailed);
    void AnswerRcon(const QueuedQuery& request, uint32_t nowMs);
    void SendRconLine(const QueuedQuery& request, const char* text, size_t length);
    void Send(const QueuedQuery& request, const std::vector<uint8_t>& reply);
    void Send(const QueuedQuery& request, const uint8_t* data, size_t length);

    GameServer& server_;
    QueryInbox inbox_;
    ReplySink sink_;
    QueryGate ping_{0};
    QueryGate info_{1};
    QueryGate rules_{24};
    QueryGate lists_{24};
    RepeatThrottle lines_;
    uint64_t droppedReported_ = 0;
    uint32_t lastReportMs_ = 0;
    uint64_t replies_ = 0;
    uint64_t unanswered_ = 0;
};

}  // namespace velt
