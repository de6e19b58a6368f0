#include "server/protocol/QueryResponder.h"

#include <cstring>
#include <string>

#include "common/LittleEndian.h"
#include "net/ConstantTime.h"
#include "net/NetServerInterface.h"
#include "net/PlayerID.h"
#include "net/SocketLayer.h"
#include "server/console/Console.h"
#include "server/console/ConsoleVariables.h"
#include "server/console/Log.h"
#include "server/game/GameServer.h"
#include "server/game/PlayerPool.h"

namespace velt {

namespace {

// Line kinds share the throttle table with the sender's address in the low bits.
constexpr int kLineShift = 48;
// Runs of repeated lines and the inbox's drop count are reported at most this often.
constexpr uint32_t kReportIntervalMs = 10000;
constexpr uint32_t kThrottleEntriesLog2 = 10;

// The one remote-console request whose command runs now on this thread, and who answers it.
thread_local QueryResponder* t_rconResponder = nullptr;
thread_local const QueuedQuery* t_rconRequest = nullptr;

void PutU8(std::vector<uint8_t>& out, uint8_t v) { out.push_back(v); }
void PutU16(std::vector<uint8_t>& out, uint16_t v) {
    out.resize(out.size() + 2);
    WriteU16(out.data() + out.size() - 2, v);
}
void PutU32(std::vector<uint8_t>& out, uint32_t v) {
    out.resize(out.size() + 4);
    WriteU32(out.data() + out.size() - 4, v);
}
// A text cut to `max` bytes behind its 8- or 32-bit length.
void PutText8(std::vector<uint8_t>& out, const char* text, size_t max) {
    size_t n = text != nullptr ? strnlen(text, max) : 0;
    PutU8(out, uint8_t(n));
    out.insert(out.end(), text, text + n);
}
void PutText32(std::vector<uint8_t>& out, const char* text, size_t max) {
    size_t n = text != nullptr ? strnlen(text, max) : 0;
    PutU32(out, uint32_t(n));
    if (n != 0) out.insert(out.end(), text, text + n);
}

std::vector<uint8_t> StartReply(const QueuedQuery& request) {
    std::vector<uint8_t> out(request.data, request.data + kQueryHeaderSize);
    return out;
}

std::string Dotted(uint32_t binaryAddress) {
    char text[PlayerID::kStringSize];
    return PlayerID{binaryAddress, 0}.ToString(false, text, sizeof text);
}

// Clears the remote-console reply state however the command ends.
class RconReplyScope {
public:
    RconReplyScope(QueryResponder* responder, const QueuedQuery* request)
        : savedResponder_(t_rconResponder), savedRequest_(t_rconRequest), savedActive_(RconQueryActive) {
        t_rconResponder = responder;
        t_rconRequest = request;
        RconQueryActive = true;
    }
    ~RconReplyScope() {
        t_rconResponder = savedResponder_;
        t_rconRequest = savedRequest_;
        RconQueryActive = savedActive_;
    }
    RconReplyScope(const RconReplyScope&) = delete;
    RconReplyScope& operator=(const RconReplyScope&) = delete;

private:
    QueryResponder* savedResponder_;
    const QueuedQuery* savedRequest_;
    bool savedActive_;
};

}  // namespace

QueryResponder::QueryResponder(GameServer& server)
    : server_(server), lines_(kThrottleEntriesLog2, kReportIntervalMs) {
    sink_ = [](const QueuedQuery& request, const uint8_t* data, size_t length) {
        SocketLayer::SendTo(request.socket, data, uint32_t(length), request.binaryAddress, request.port);
    };
}

QueryResponder::~QueryResponder() {
    if (t_rconResponder == this) {
        t_rconResponder = nullptr;
        t_rconRequest = nullptr;
    }
}

uint32_t QueryResponder::AnswerPending() {
    const uint32_t taken = inbox_.Drain([this](const QueuedQuery& q) { Answer(q); });
    ReportFloods(server_.GetTickMs());
    return taken;
}

void QueryResponder::Send(const QueuedQuery& request, const uint8_t* data, size_t length) {
    ++replies_;
    if (sink_) sink_(request, data, length);
}

void QueryResponder::Send(const QueuedQuery& request, const std::vector<uint8_t>& reply) {
    Send(request, reply.data(), reply.size());
}

bool QueryResponder::AdmitLine(Line line, uint64_t key, uint32_t nowMs) {
    RepeatThrottle::Ended ended;
    const bool pass = lines_.Admit((uint64_t(line) << kLineShift) | key, nowMs, ended);
    if (ended.count != 0) LogHeldBack(ended.key, ended.count);
    return pass;
}

void QueryResponder::LogHeldBack(uint64_t key, uint32_t count) {
    const uint64_t sender = key & ((uint64_t(1) << kLineShift) - 1);
    const std::string address = Dotted(uint32_t(sender >> 16));
    switch (Line(key >> kLineShift)) {
        case Line::Query:
            LogPrintf("[query:%c] from %s %u more times", char(sender & 0xFF), address.c_str(), count);
            break;
        case Line::BadRcon: LogPrintf("BAD RCON ATTEMPT BY: %s %u more times", address.c_str(), count); break;
    }
}

void QueryResponder::ReportFloods(uint32_t nowMs) {
    if (int32_t(nowMs - lastReportMs_) < int32_t(kReportIntervalMs)) return;
    lastReportMs_ = nowMs;
    lines_.Sweep(nowMs, [this](uint64_t key, uint32_t count) { LogHeldBack(key, count); });
    const uint64_t dropped = inbox_.Dropped();
    if (dropped != droppedReported_) {
        LogPrintf("[query] %llu queries dropped unanswered: they came faster than the server answers",
                  static_cast<unsigned long long>(dropped - droppedReported_));
        droppedReported_ = dropped;
    }
}

void QueryResponder::Answer(const QueuedQuery& request) {
    if (request.length < kQueryHeaderSize) {
        ++unanswered_;
        return;
    }
    const uint32_t now = server_.GetTickMs();
    const ServerSettings& settings = server_.Settings();
    const char opcode = char(request.data[kQueryOpcodeOffset]);
    if (settings.logQueries != 0) {
        // Keyed by address and opcode: a browser's regular poll still shows, a flood costs a line
        // per interval.
        const uint64_t key = (RepeatThrottle::KeyOfAddress(request.binaryAddress)) | uint8_t(opcode);
        if (AdmitLine(Line::Query, key, now))
            LogPrintf("[query:%c] from %s", opcode, Dotted(request.binaryAddress).c_str());
    }
    const bool query = settings.query != 0;
    const size_t sentBefore = replies_;
    switch (opcode) {
        case 'p':
            if (ping_.Pass(now) && request.length == kQueryPingLength)
                Send(request, request.data, request.length);
            break;
        case 'i':
            if (query && info_.Pass(now)) AnswerInfo(request);
            break;
        case 'r':
            if (query && rules_.Pass(now)) Send(request, server_.GetConsole().BuildRulesReply(request.data));
            break;
        case 'c':
        case 'd':
            if (query && lists_.Pass(now)) AnswerList(request, opcode == 'd');
            break;
        case 'x':
            if (query && settings.rcon != 0 && lists_.Pass(now)) AnswerRcon(request, now);
            break;
        default: break;
    }
    if (replies_ == sentBefore) ++unanswered_;
}

void QueryResponder::AnswerInfo(const QueuedQuery& request) {
    PlayerPool* pool = server_.GetPlayerPool();
    if (pool == nullptr) return;
    Console& console = server_.GetConsole();
    const char* password = console.GetStringVariable("password");
    std::vector<uint8_t> out = StartReply(request);
    PutU8(out, password != nullptr && password[0] != '\0' ? 1 : 0);
    PutU16(out, uint16_t(pool->GetHumanCount()));
    PutU16(out, uint16_t(server_.Settings().maxPlayers - pool->GetNpcCount()));
    PutText32(out, console.GetStringVariable("hostname"), kQueryHostnameMax);
    PutText32(out, console.GetStringVariable("gamemodetext"), kQueryGameModeTextMax);
    PutText32(out, console.GetStringVariable("language"), kQueryLanguageMax);
    Send(request, out);
}

void QueryResponder::AnswerList(const QueuedQuery& request, bool detailed) {
    PlayerPool* pool = server_.GetPlayerPool();
    if (pool == nullptr || pool->GetHumanCount() > kQueryListPlayerLimit) return;
    NetServerInterface* net = server_.GetNetServer();
    std::vector<uint8_t> out = StartReply(request);
    const size_t countAt = out.size();
    PutU16(out, 0);
    uint16_t count = 0;
    for (uint16_t id = 0; id < kMaxPlayers; ++id) {
        if (!pool->IsConnected(id) || pool->IsBot(id)) continue;
        if (detailed) PutU8(out, uint8_t(id));
        PutText8(out, pool->GetName(id), kMaxPlayerName);
        PutU32(out, uint32_t(pool->GetScore(id)));
        if (detailed) {
            const int32_t ping = net != nullptr ? net->GetLastPing(net->GetPlayerIDFromIndex(id)) : 0;
            PutU32(out, uint32_t(ping));
        }
        ++count;
    }
    WriteU16(out.data() + countAt, count);
    Send(request, out);
}

void QueryResponder::AnswerRcon(const QueuedQuery& request, uint32_t nowMs) {
    const uint8_t* data = request.data;
    const size_t length = request.length;
    constexpr size_t kPasswordAt = kQueryHeaderSize + 2;
    if (length <= kQueryHeaderSize + 1) return;
    const size_t passwordLength = ReadU16(data + kQueryHeaderSize);
    if (length < kPasswordAt + passwordLength) return;

    const char* secret = server_.GetConsole().GetStringVariable("rcon_password");
    const size_t secretLength = secret != nullptr ? std::strlen(secret) : 0;
    if (!ConstantTimeEquals(data + kPasswordAt, passwordLength, secret != nullptr ? secret : "",
                            secretLength)) {
        if (AdmitLine(Line::BadRcon, RepeatThrottle::KeyOfAddress(request.binaryAddress), nowMs))
            LogPrintf("BAD RCON ATTEMPT BY: %s", Dotted(request.binaryAddress).c_str());
        static constexpr char kInvalid[] = "Invalid RCON password.";
        SendRconLine(request, kInvalid, sizeof kInvalid - 1);
        return;
    }

    const size_t commandAt = kPasswordAt + passwordLength + 2;
    if (length < commandAt) return;
    const size_t commandLength = ReadU16(data + commandAt - 2);
    if (length < commandAt + commandLength) return;
    char command[kConsoleLineMax + 1] = {};
    std::memcpy(command, data + commandAt, commandLength < kConsoleLineMax ? commandLength : kConsoleLineMax);

    RconReplyScope scope(this, &request);
    server_.GetConsole().Execute(command);
}

void QueryResponder::SendRconLine(const QueuedQuery& request, const char* text, size_t length) {
    // A log line is at most kLogLineSize bytes: it always fits the 16-bit length.
    if (length > 0xFFFF) length = 0xFFFF;
    std::vector<uint8_t> out = StartReply(request);
    PutU16(out, uint16_t(length));
    out.insert(out.end(), text, text + length);
    Send(request, out);
}

void QueryResponder::RconReply(const char* line) {
    if (!RconQueryActive || t_rconResponder == nullptr || t_rconRequest == nullptr || line == nullptr) return;
    t_rconResponder->SendRconLine(*t_rconRequest, line, std::strlen(line));
}

}  // namespace velt
