#include "net/ext/TelnetTransport.h"

#include <algorithm>
#include <cstring>

#include "net/ext/TCPInterface.h"

namespace velt {

namespace {

constexpr uint8_t kBackspace = 8;
constexpr uint8_t kTab = 9;
constexpr uint8_t kEscape = 27;
// Chunks looked at per Receive, so a flood cannot hold the console's thread.
constexpr uint32_t kChunksPerReceive = 64;

constexpr uint8_t kIac = 255;
constexpr uint8_t kSubnegotiationBegin = 250;
constexpr uint8_t kSubnegotiationEnd = 240;
constexpr uint8_t kWill = 251;  // WILL, WONT, DO and DONT (251..254) carry one option byte

// Length of the telnet commands at the head of data[0..length): option replies (IAC WILL/WONT/DO/
// DONT opt), subnegotiations (IAC SB ... IAC SE) and two-byte commands. A command cut off by the
// end of the chunk is skipped whole.
uint32_t SkipTelnetCommands(const uint8_t* data, uint32_t length) {
    uint32_t at = 0;
    while (at < length && data[at] == kIac) {
        if (at + 1 >= length) return length;
        const uint8_t command = data[at + 1];
        if (command >= kWill) {
            at += 3;
        } else if (command == kSubnegotiationBegin) {
            at += 2;
            while (at + 1 < length && !(data[at] == kIac && data[at + 1] == kSubnegotiationEnd)) ++at;
            at += 2;
        } else {
            at += 2;
        }
    }
    return at < length ? at : length;
}

}  // namespace

TelnetTransport::~TelnetTransport() {
    Stop();
    delete tcp_;
}

bool TelnetTransport::Start(uint16_t port, bool serverMode) {
    if (!serverMode) return false;
    if (tcp_ == nullptr) tcp_ = new TCPInterface();
    return tcp_->Start(port, kListenBacklog);
}

void TelnetTransport::Stop() {
    if (tcp_ == nullptr) return;
    ReleaseChunk();
    tcp_->Stop();
    for (TelnetClientState* state : clients_) delete state;
    clients_.clear();
    adopted_.clear();
}

bool TelnetTransport::IsRunning() const { return tcp_ != nullptr && tcp_->IsStarted(); }

uint16_t TelnetTransport::GetListenPort() const { return tcp_ != nullptr ? tcp_->GetListenPort() : 0; }

void TelnetTransport::SendText(PlayerID client, const char* text, uint32_t length) {
    if (tcp_ != nullptr) tcp_->Send(text, length, client);
}

void TelnetTransport::CloseConnection(PlayerID client) {
    if (tcp_ != nullptr) tcp_->CloseConnection(client);
}

TelnetTransport::TelnetClientState* TelnetTransport::FindState(PlayerID client) {
    for (TelnetClientState* state : clients_)
        if (state->client == client) return state;
    return nullptr;
}

void TelnetTransport::Greet(PlayerID client) {
    // IAC WILL ECHO: the server echoes, so the client stops echoing locally.
    static constexpr char kWillEcho[] = {'\xFF', '\xFB', '\x01'};
    tcp_->Send(kWillEcho, sizeof kWillEcho, client);
    TelnetClientState* state = FindState(client);
    if (state == nullptr) {
        state = new TelnetClientState{};
        state->client = client;
        clients_.push_back(state);
    }
    state->cursor = 0;
    state->line[0] = '\0';
}

void TelnetTransport::AdoptNewConnections() {
    for (PlayerID id = tcp_->TakeNewConnection(); id != UNASSIGNED_PLAYER_ID;
         id = tcp_->TakeNewConnection()) {
        Greet(id);
        adopted_.push_back(id);
    }
}

PlayerID TelnetTransport::TakeNewConnection() {
    if (tcp_ == nullptr) return UNASSIGNED_PLAYER_ID;
    if (!adopted_.empty()) {
        const PlayerID id = adopted_.front();
        adopted_.pop_front();
        return id;
    }
    const PlayerID id = tcp_->TakeNewConnection();
    if (id != UNASSIGNED_PLAYER_ID) Greet(id);
    return id;
}

PlayerID TelnetTransport::TakeLostConnection() {
    if (tcp_ == nullptr) return UNASSIGNED_PLAYER_ID;
    // A connection that came and went before the console took it must not leave a state behind.
    AdoptNewConnections();
    for (;;) {
        const PlayerID id = tcp_->TakeLostConnection();
        if (id == UNASSIGNED_PLAYER_ID) return id;
        clients_.erase(std::remove_if(clients_.begin(), clients_.end(),
                                      [&](TelnetClientState* state) {
                                          if (state->client != id) return false;
                                          delete state;
                                          return true;
                                      }),
                       clients_.end());
        auto never = std::find(adopted_.begin(), adopted_.end(), id);
        if (never == adopted_.end()) return id;
        // Never reported as connected, so not reported as lost either.
        adopted_.erase(never);
    }
}

void TelnetTransport::ReleaseChunk() {
    if (chunk_ != nullptr) tcp_->DeallocatePacket(chunk_);
    chunk_ = nullptr;
    chunkOffset_ = 0;
}

Packet* TelnetTransport::Receive() {
    if (tcp_ == nullptr) return nullptr;
    for (uint32_t taken = 0; taken < kChunksPerReceive;) {
        if (chunk_ == nullptr) {
            chunk_ = tcp_->Receive();
            if (chunk_ == nullptr) return nullptr;
            ++taken;
            // The client's option replies come first on a connection, and a busy link can bring the
            // first typed line in the same read: skip the replies, keep the typing behind them.
            chunkOffset_ = SkipTelnetCommands(chunk_->data, chunk_->length);
            // Escape sequences and other non-typing bytes at the head of a chunk are not typing.
            const uint8_t first = chunkOffset_ < chunk_->length ? chunk_->data[chunkOffset_] : 0;
            if (chunkOffset_ >= chunk_->length || first >= 127 || first == kTab || first == kEscape) {
                ReleaseChunk();
                continue;
            }
            if (FindState(chunk_->sender) == nullptr) AdoptNewConnections();
            if (FindState(chunk_->sender) == nullptr) {
                ++droppedChunks_;
                ReleaseChunk();
                continue;
            }
            tcp_->Send(reinterpret_cast<const char*>(chunk_->data) + chunkOffset_,
                       chunk_->length - chunkOffset_, chunk_->sender);
        }
        TelnetClientState* state = FindState(chunk_->sender);
        Packet* line = state != nullptr ? EditChunk(*state) : nullptr;
        if (line != nullptr) return line;
        ReleaseChunk();
    }
    return nullptr;
}

Packet* TelnetTransport::EditChunk(TelnetClientState& state) {
    while (chunkOffset_ < chunk_->length) {
        const uint8_t c = chunk_->data[chunkOffset_++];
        if (c == '\n') {
            const uint32_t length = state.cursor;
            state.cursor = 0;
            if (length == 0) continue;
            Packet* line = NewPacket(length + 1);
            if (line == nullptr) continue;
            std::memcpy(line->data, state.line, length);
            line->data[length] = 0;
            line->length = length;
            line->bitLength = length * 8u;
            line->sender = state.client;
            return line;
        }
        if (c == kBackspace) {
            // Blank out the character on the client's screen and step back over it.
            tcp_->Send(" \b", 2, state.client);
            if (state.cursor > 0) state.line[--state.cursor] = '\0';
        } else if (c >= 32 && c <= 126 && state.cursor < kMaxLineCharacters) {
            state.line[state.cursor++] = static_cast<char>(c);
        }
    }
    return nullptr;
}

void TelnetTransport::DeallocatePacket(Packet* packet) { FreePacket(packet); }

}  // namespace velt
