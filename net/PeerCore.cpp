#include "net/PeerCore.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "net/MessageIdentifiers.h"

namespace velt {

// ---- plugins -------------------------------------------------------------------------------------

bool PluginList::Add(PluginInterface* plugin) {
    if (std::find(plugins_.begin(), plugins_.end(), plugin) != plugins_.end()) return false;
    plugins_.push_back(plugin);
    Rebuild();
    return true;
}

bool PluginList::Remove(PluginInterface* plugin) {
    auto it = std::find(plugins_.begin(), plugins_.end(), plugin);
    if (it == plugins_.end()) return false;
    *it = plugins_.back();
    plugins_.pop_back();
    Rebuild();
    return true;
}

void PluginList::Rebuild() {
    observers_.clear();
    observerPointers_.clear();
    observers_.reserve(plugins_.size());
    for (PluginInterface* plugin : plugins_) observers_.emplace_back(plugin);
    for (Observer& observer : observers_) observerPointers_.push_back(&observer);
}

// ---- the core ------------------------------------------------------------------------------------

PeerCore::PeerCore(SocketRole role, DatagramSink* sink, NetPeerInterface* face)
    : role(role), face(face), endpoint(role, sink) {}

void PeerCore::Log(const char* format, ...) const {
    const WireLogFn log = LogHook();
    if (log == nullptr) return;
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    log("%s", line);
}

uint32_t PeerCore::PlayerTimeoutMs() const {
    const int32_t ms = transportSettings->GetPlayerTimeout();
    return ms < 0 ? 0u : uint32_t(ms);
}

void PeerCore::SendRaw(PlayerID to, const uint8_t* data, uint32_t length) {
    if (rawSendTap != nullptr) rawSendTap(rawSendTapContext, to, data, length);
    if (socket != -1) SocketLayer::SendTo(socket, data, length, to.binaryAddress, to.port, &endpoint);
}

void PeerCore::SendRawBatched(PlayerID to, const uint8_t* data, uint32_t length) {
    // One connection sends a datagram or two per pass: nothing to gather.
    if (slots.Count() <= 1) {
        SendRaw(to, data, length);
        return;
    }
    if (rawSendTap != nullptr) rawSendTap(rawSendTapContext, to, data, length);
    if (socket != -1) sendBatch_.Add(socket, data, length, to.binaryAddress, to.port, &endpoint);
}

void PeerCore::FlushBatch() {
    if (socket != -1) sendBatch_.Flush(socket);
}

void PeerCore::SendRawShown(PlayerID to, const uint8_t* data, uint32_t length) {
    for (PluginInterface* plugin : plugins.All()) plugin->RawSend(data, length * 8u, to);
    SendRaw(to, data, length);
}

void PeerCore::ShowRawReceive(PlayerID from, const uint8_t* data, uint32_t length) const {
    for (PluginInterface* plugin : plugins.All()) plugin->RawReceive(data, length * 8u, from);
}

void PeerCore::SetOfflinePingResponse(const uint8_t* data, uint32_t length) {
    // The answer must fit one datagram behind its 5-byte header.
    constexpr uint32_t kMaxResponse = uint32_t(kMaxDatagramBytes) - 5;
    if (data == nullptr) length = 0;
    if (length > kMaxResponse) length = kMaxResponse;
    MutexLock lock(offlinePingMutex_);
    offlinePingResponse_.assign(data, data + length);
}

void PeerCore::AppendOfflinePingResponse(std::vector<uint8_t>& out) const {
    MutexLock lock(offlinePingMutex_);
    out.insert(out.end(), offlinePingResponse_.begin(), offlinePingResponse_.end());
}

void PeerCore::AddRejections(NetworkStatistics& statistics) const {
    for (int i = 0; i < kRejectedKinds; ++i) statistics.rejected[i] += rejected_[i];
}

int32_t PeerCore::AssignSlot(PlayerID address, int32_t connectMode, NetTime now, uint64_t nowUs) {
    SlotDefaults defaults;
    defaults.timeoutMs = PlayerTimeoutMs();
    defaults.splitMessageProgressInterval = splitMessageProgressInterval;
    defaults.unreliableTimeoutMs = unreliableTimeoutMs;
    return slots.Assign(address, connectMode, defaults, now, nowUs);
}

void PeerCore::CloseSlot(uint32_t index) {
    ConnectedSystem& s = slots.At(index);
    if (!s.isActive) return;
    const uint64_t nowUs = clock->NowUs();
    // What the connection refused outlives it in the peer's totals.
    const NetworkStatistics closing = s.channel->GetStatistics(true);
    for (int i = 0; i < kRejectedKinds; ++i) rejected_[i] += closing.rejected[i];
    s.channel->FlushRepeatedLines(s.playerId, nowUs, true);
    for (PluginInterface* plugin : plugins.All()) plugin->ConnectionClosed(face, s.playerId);
    slots.Release(index, nowUs);
}

void PeerCore::CloseWithNotice(uint32_t index, int32_t mode) {
    uint8_t notice = 0;
    if (mode == CM_CONNECTED)
        notice = ID_CONN_LOST;
    else if (mode == CM_REQUESTED_CONNECTION)
        notice = ID_CONN_ATTEMPT_FAILED;
    else if (mode == CM_DISCONNECT_ASAP || mode == CM_DISCONNECT_ON_NO_ACK)
        notice = ID_CONN_CLOSED;
    if (notice != 0) incoming.PushNotice(notice, slots.At(index).playerId, uint16_t(index));
    CloseSlot(index);
}

}  // namespace velt
