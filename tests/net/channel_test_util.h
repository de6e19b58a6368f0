#pragma once
// Small helpers for the channel tests: a sender that keeps what a channel emits, a decoder of
// those datagrams, a builder of crafted incoming datagrams, and a log sink.

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "net/BitStream.h"
#include "net/InternalPacketPool.h"
#include "net/ReliabilityChannel.h"
#include "net/ReliabilityWire.h"

namespace velt::channeltest {

inline constexpr int32_t kMtu = 576;
inline constexpr uint64_t kT0 = 5000000;             // virtual start, well away from 0
inline constexpr PlayerID kPeer{0x0100007Fu, 7777};  // 127.0.0.1:7777

struct CaptureSender final : DatagramSender {
    std::vector<std::vector<uint8_t>> datagrams;
    void SendDatagram(const uint8_t* data, uint32_t length) override {
        datagrams.emplace_back(data, data + length);
    }
};

struct Message {
    uint16_t number = 0;
    MessageReliability reliability = RELIABILITY_RELIABLE;
    uint8_t channel = 0;
    uint16_t index = 0;
    bool split = false;
    uint16_t splitId = 0;
    uint32_t splitIndex = 0, splitCount = 0;
    std::vector<uint8_t> payload;
    uint32_t bitLength = 0;  // of the payload
};

struct Decoded {
    bool hasAcks = false;
    std::vector<std::pair<uint16_t, uint16_t>> acks;
    std::vector<Message> messages;
};

// Reads one datagram the way a peer that accepts split messages would.
inline Decoded Decode(const std::vector<uint8_t>& bytes) {
    Decoded d;
    BitStream in(bytes.data(), uint32_t(bytes.size()), false);
    InternalPacketFreeList pool;
    ReliabilityWireReader reader(WireRole::Client);
    AckRangeList acks;
    ReadDatagram(reader, in, 0, pool, acks, [&](InternalPacket* p) {
        Message m;
        m.number = p->messageNumber;
        m.reliability = p->reliability;
        m.channel = p->orderingChannel;
        m.index = p->orderingIndex;
        m.split = p->splitCount > 0;
        m.splitId = p->splitId;
        m.splitIndex = p->splitIndex;
        m.splitCount = p->splitCount;
        m.bitLength = p->bitLength;
        m.payload.assign(p->data, p->data + (p->bitLength + 7) / 8);
        d.messages.push_back(std::move(m));
        FreePayload(*p);
        pool.Release(p);
        return true;
    });
    d.hasAcks = !bytes.empty() && (bytes[0] & 0x80);
    for (uint32_t i = 0; i < acks.Size(); ++i) d.acks.emplace_back(acks[i].minIndex, acks[i].maxIndex);
    return d;
}

// Builds an incoming datagram: optional acknowledgement ranges (written as given, any width),
// then messages with whatever header fields a test wants.
class DatagramBuilder {
public:
    DatagramBuilder& Acks(std::vector<std::pair<uint16_t, uint16_t>> ranges) {
        ranges_ = std::move(ranges);
        hasAcks_ = true;
        return *this;
    }
    DatagramBuilder& Add(Message m) {
        if (m.payload.empty()) m.payload = {0xC8};
        if (m.bitLength == 0) m.bitLength = uint32_t(m.payload.size() * 8);
        messages_.push_back(std::move(m));
        return *this;
    }
    std::vector<uint8_t> Bytes() const {
        BitStream s;
        if (hasAcks_) {
            s.WriteOne();
            s.WriteCompressed(uint16_t(ranges_.size()));
            for (auto [min, max] : ranges_) {
                s.Write(min == max);
                s.Write(min);
                if (min != max) s.Write(max);
            }
        }
        for (size_t i = 0; i < messages_.size(); ++i) {
            if (i == 0 && !hasAcks_) s.WriteZero();
            const Message& m = messages_[i];
            InternalPacket p{};
            p.messageNumber = m.number;
            p.reliability = m.reliability;
            p.orderingChannel = m.channel;
            p.orderingIndex = m.index;
            p.splitId = m.splitId;
            p.splitIndex = m.splitIndex;
            p.splitCount = m.split ? m.splitCount : 0;
            p.bitLength = m.bitLength;
            p.data = const_cast<uint8_t*>(m.payload.data());
            WriteMessageHeader(s, p);
        }
        if (!hasAcks_ && messages_.empty()) s.WriteZero();
        return std::vector<uint8_t>(s.GetData(), s.GetData() + s.GetNumberOfBytesUsed());
    }

private:
    bool hasAcks_ = false;
    std::vector<std::pair<uint16_t, uint16_t>> ranges_;
    std::vector<Message> messages_;
};

inline std::vector<std::string>& LogLines() {
    static std::vector<std::string> lines;
    return lines;
}
inline void CaptureLog(const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    LogLines().emplace_back(line);
}

// Everything a channel has delivered, as payload byte vectors.
inline std::vector<std::vector<uint8_t>> Drain(ReliabilityChannel& c) {
    std::vector<std::vector<uint8_t>> out;
    uint8_t* data = nullptr;
    while (uint32_t bits = c.ReceiveMessage(data)) {
        out.emplace_back(data, data + (bits + 7) / 8);
        delete[] data;
    }
    return out;
}

inline bool Feed(ReliabilityChannel& c, const std::vector<uint8_t>& bytes, uint64_t time,
                 bool* breached = nullptr) {
    bool breach = false;
    const bool r = c.ProcessDatagram(bytes.data(), uint32_t(bytes.size()), kPeer, time, breach);
    if (breached) *breached = breach;
    return r;
}

inline std::vector<uint8_t> Payload(uint32_t size, uint8_t seed) {
    std::vector<uint8_t> p(size);
    for (uint32_t i = 0; i < size; ++i) p[i] = uint8_t(seed + i * 13);
    return p;
}

}  // namespace velt::channeltest
