#include "net/ext/PacketLogger.h"

#include <cstdio>

#include "net/Clock.h"
#include "net/MessageIdentifiers.h"
#include "net/ext/LogCommandParser.h"

namespace velt {

namespace {

constexpr size_t kLineBytes = 256;
constexpr const char* kConsoleChannel = "PacketConsoleLogger";

uint32_t Milliseconds(uint64_t timeUs) { return static_cast<uint32_t>(timeUs / 1000u); }

}  // namespace

void PacketLogger::Attached(NetPeerInterface* peer) {
    peer_ = peer;
    RememberLocalAddress();
}

void PacketLogger::Detached(NetPeerInterface* peer) {
    if (peer_ == peer) peer_ = nullptr;
}

void PacketLogger::Started(NetPeerInterface* peer) {
    (void)peer;
    RememberLocalAddress();
}

void PacketLogger::RememberLocalAddress() {
    if (peer_ == nullptr) return;
    const PlayerID own = peer_->GetInternalID();
    localAddress_.store(uint64_t{own.binaryAddress} << 16 | own.port);
}

PlayerID PacketLogger::LocalAddress() const {
    const uint64_t packed = localAddress_.load();
    return PlayerID{static_cast<uint32_t>(packed >> 16), static_cast<uint16_t>(packed & 0xFFFFu)};
}

void PacketLogger::LogHeader() {
    Emit("S|R,Typ,Pckt#,Frm #,PktID,BitLn,Time     ,Local IP:Port   ,RemoteIP:Port\n");
}

void PacketLogger::Emit(const char* line) {
    std::lock_guard<std::mutex> hold(lineLock_);
    WriteLog(line);
}

void PacketLogger::WriteLog(const char* line) { std::fputs(line, stdout); }

const char* PacketLogger::UserIDToString(uint8_t id) const {
    switch (id) {
        case ID_VEHICLE_SYNC: return "ID_VEHICLE_SYNC";
        case 201: return "ID_RCON_COMMAND";
        case 202: return "ID_RCON_RESPONCE";
        case ID_AIM_SYNC: return "ID_AIM_SYNC";
        case ID_WEAPONS_UPDATE: return "ID_WEAPONS_UPDATE";
        case ID_STATS_UPDATE: return "ID_STATS_UPDATE";
        case ID_PLAYER_SYNC: return "ID_PLAYER_SYNC";
        case ID_UNOCCUPIED_SYNC: return "ID_UNOCCUPIED_SYNC";
        case ID_TRAILER_SYNC: return "ID_TRAILER_SYNC";
        case ID_PASSENGER_SYNC: return "ID_PASSENGER_SYNC";
        case ID_SPECTATOR_SYNC: return "ID_SPECTATOR_SYNC";
        default: return "Unknown";
    }
}

void PacketLogger::RawSend(const uint8_t* data, uint32_t bitLength, PlayerID remote) {
    LogRaw("Snd", data, bitLength, remote);
}

void PacketLogger::RawReceive(const uint8_t* data, uint32_t bitLength, PlayerID remote) {
    LogRaw("Rcv", data, bitLength, remote);
}

void PacketLogger::LogRaw(const char* direction, const uint8_t* data, uint32_t bitLength, PlayerID remote) {
    const uint8_t id = data != nullptr && bitLength >= 8 ? data[0] : 0;
    const PlayerID local = LocalAddress();
    const int32_t bits = static_cast<int32_t>(bitLength);
    const int32_t now = static_cast<int32_t>(GetTimeMs());
    char line[kLineBytes];
    if (printId_.load()) {
        std::snprintf(line, sizeof line, "%s,Raw,NIL,NIL,%s,%i,%i,%u:%i,%u:%i\n", direction,
                      UserIDToString(id), bits, now, local.binaryAddress, local.port, remote.binaryAddress,
                      remote.port);
    } else {
        std::snprintf(line, sizeof line, "%s,Raw,  NIL,  NIL,%5i,%5i,%i,%u:%i,%u:%i\n", direction, id, bits,
                      now, local.binaryAddress, local.port, remote.binaryAddress, remote.port);
    }
    Emit(line);
}

void PacketLogger::InternalMessage(const InternalPacket& message, uint32_t frameNumber, PlayerID remote,
                                   uint64_t timeUs, bool isSend) {
    if (isSend || message.data == nullptr || message.bitLength < 8) return;
    const uint8_t* data = message.data;
    // Byte 5 is there only in a message longer than 40 bits.
    const bool hasByte5 = message.bitLength > 40;
    const bool timestamped = hasByte5 && data[0] == ID_TIMESTAMPED;
    const bool rpc = data[0] == ID_RPC_CALL || (timestamped && data[5] == ID_RPC_CALL);

    const char* type = "Nrm";
    uint8_t id = data[0];
    if (rpc) {
        // A call is named by its own id, the byte after the RPC identifier.
        type = "Rpc";
        const uint32_t at = timestamped ? 6 : 1;
        id = message.bitLength >= (at + 1) * 8 ? data[at] : 0;
    } else if (timestamped) {
        type = "Tms";
        id = data[5];
    }

    const PlayerID local = LocalAddress();
    const int32_t number = message.messageNumber;
    const int32_t frame = static_cast<int32_t>(frameNumber);
    const int32_t bits = static_cast<int32_t>(message.bitLength);
    const int32_t time = static_cast<int32_t>(Milliseconds(timeUs));
    char line[kLineBytes];
    if (printId_.load() && !rpc) {
        std::snprintf(line, sizeof line, "Rcv,%s,%i,%i,%s,%i,%i,%u:%i,%u:%i\n", type, number, frame,
                      UserIDToString(id), bits, time, local.binaryAddress, local.port, remote.binaryAddress,
                      remote.port);
    } else if (printId_.load()) {
        std::snprintf(line, sizeof line, "Rcv,%s,%i,%i,%i,%i,%i,%u:%i,%u:%i\n", type, number, frame, id, bits,
                      time, local.binaryAddress, local.port, remote.binaryAddress, remote.port);
    } else {
        std::snprintf(line, sizeof line, "Rcv,%s,%5i,%5i,%5i,%5i,%i,%u:%i,%u:%i\n", type, number, frame, id,
                      bits, time, local.binaryAddress, local.port, remote.binaryAddress, remote.port);
    }
    Emit(line);
}

// ---- console ------------------------------------------------------------------------------------------

void PacketConsoleLogger::SetLogCommandParser(LogCommandParser* parser) {
    logCommandParser_.store(parser);
    if (parser != nullptr) parser->AddChannel(kConsoleChannel);
}

void PacketConsoleLogger::WriteLog(const char* line) {
    if (logCommandParser_.load() == nullptr) return;
    if (pending_.size() >= kMaxPendingLines) {
        droppedLines_.fetch_add(1);
        return;
    }
    pending_.emplace_back(line);
}

void PacketConsoleLogger::Update(NetPeerInterface* peer) {
    (void)peer;
    std::vector<std::string> lines;
    {
        std::lock_guard<std::mutex> hold(lineLock_);
        lines.swap(pending_);
    }
    LogCommandParser* parser = logCommandParser_.load();
    if (parser == nullptr) return;
    for (const std::string& line : lines) parser->Log(kConsoleChannel, "%s", line.c_str());
}

// ---- file ---------------------------------------------------------------------------------------------

PacketFileLogger::~PacketFileLogger() {
    if (file_ != nullptr) std::fclose(file_);
}

void PacketFileLogger::Attached(NetPeerInterface* peer) {
    PacketLogger::Attached(peer);
    {
        std::lock_guard<std::mutex> hold(lineLock_);
        if (file_ != nullptr) return;  // attached again: the lines go on into the same file
        char name[32];
        std::snprintf(name, sizeof name, "PacketLog%i.csv", static_cast<int32_t>(GetTimeMs()));
        fileName_ = name;
        file_ = std::fopen(name, "wt");
        if (file_ == nullptr) return;
    }
    LogHeader();
}

void PacketFileLogger::Detached(NetPeerInterface* peer) {
    PacketLogger::Detached(peer);
    std::lock_guard<std::mutex> hold(lineLock_);
    if (file_ != nullptr) std::fflush(file_);
}

void PacketFileLogger::WriteLog(const char* line) {
    if (file_ != nullptr) std::fputs(line, file_);
}

}  // namespace velt
