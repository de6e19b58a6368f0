// Drives one long-lived reliability channel with a fuzz-chosen session: raw datagrams, crafted
// messages whose numbers, ordering indices and split fields stay near the channel's state (so
// holding back, reassembly and the received window are reached quickly), acknowledgements of
// what the channel itself sent, sends large enough to split, pacing steps and deliveries.
// After every step the memory the peer can make us hold must stay under its caps.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "net/BitStream.h"
#include "net/ReliabilityChannel.h"
#include "net/ReliabilityWire.h"

using namespace velt;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

struct NullSender final : DatagramSender {
    void SendDatagram(const uint8_t*, uint32_t length) override {
        Check(length > 0 && length <= kMaxDatagramBytes);
    }
};

class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Empty() const { return pos_ >= size_; }
    uint8_t U8() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint16_t U16() { return uint16_t(U8() | U8() << 8); }
    const uint8_t* Take(size_t n, size_t& got) {
        got = n < size_ - pos_ ? n : size_ - pos_;
        const uint8_t* p = data_ + pos_;
        pos_ += got;
        return p;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

void WriteMessage(BitStream& s, Input& in, uint16_t& nextNumber, uint16_t* indices, bool first) {
    const uint8_t shape = in.U8();
    InternalPacket p{};
    // Mostly the next number, sometimes a step back or a jump ahead.
    const int8_t delta = int8_t(in.U8());
    p.messageNumber = uint16_t(nextNumber + ((shape & 0x80) ? delta * 37 : delta & 3));
    nextNumber = uint16_t(p.messageNumber + 1);
    static const MessageReliability kinds[] = {
        RELIABILITY_UNRELIABLE,       RELIABILITY_UNRELIABLE_SEQUENCED, RELIABILITY_RELIABLE,
        RELIABILITY_RELIABLE_ORDERED, RELIABILITY_RELIABLE_SEQUENCED,   MessageReliability(13)};
    p.reliability = kinds[shape % 6];
    p.orderingChannel = uint8_t((shape >> 3) & 3);
    const int8_t indexDelta = int8_t(in.U8());
    p.orderingIndex = uint16_t(indices[p.orderingChannel] + (indexDelta & 7) - 2);
    if (indexDelta & 0x40) ++indices[p.orderingChannel];
    if (shape & 0x20) {
        p.splitId = uint16_t(in.U8() & 7);
        p.splitCount = uint32_t(in.U8() % 12) + 1;
        p.splitIndex = uint32_t(in.U8()) % (p.splitCount + 1);  // now and then an index out of range
    }
    uint32_t bits = uint32_t(in.U16()) % 4000 + 1;
    std::vector<uint8_t> payload((bits + 7) / 8);
    for (auto& b : payload) b = in.U8();
    p.bitLength = bits;
    p.data = payload.data();
    if (first) s.WriteZero();
    WriteMessageHeader(s, p);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    Input in(data, size);
    const uint8_t flags = in.U8();
    const WireRole role = (flags & 1) ? WireRole::Server : WireRole::Client;
    TransportSettings settings;
    if (flags & 2) {
        settings.SetOrderingHoldCapBytes(16 * 1024);
        settings.SetReassemblyCapBytes(24 * 1024);
    }
    if (flags & 4) settings.SetMessageHoleLimit(int32_t(flags >> 3) * 40);

    constexpr int32_t kMtu = 576;
    const PlayerID peer{0x0100007Fu, 4000};
    uint64_t now = 1000000;
    ReliabilityChannel channel(role, now, settings);
    channel.SetSplitMessageProgressInterval((flags >> 5) & 3);
    NullSender sink;
    uint16_t nextNumber = 0;
    uint16_t indices[4] = {};
    uint16_t sentNumbers = 0;

    while (!in.Empty()) {
        const uint8_t op = in.U8();
        bool breach = false;
        switch (op % 6) {
            case 0: {  // raw bytes
                size_t n = 0;
                const uint8_t* bytes = in.Take(in.U8(), n);
                channel.ProcessDatagram(bytes, uint32_t(n), peer, now, breach);
                break;
            }
            case 1: {  // crafted messages
                BitStream s;
                const int count = (op >> 3) % 4 + 1;
                for (int i = 0; i < count; ++i) WriteMessage(s, in, nextNumber, indices, i == 0);
                channel.ProcessDatagram(s.GetData(), uint32_t(s.GetNumberOfBytesUsed()), peer, now, breach);
                break;
            }
            case 2: {  // acknowledgements near what we sent
                BitStream s;
                s.WriteOne();
                const uint16_t ranges = uint16_t(op >> 3) % 6;
                s.WriteCompressed(ranges);
                for (uint16_t r = 0; r < ranges; ++r) {
                    const uint16_t min = uint16_t(sentNumbers - (in.U16() % 600));
                    const uint16_t width = in.U8() & 0x0F ? uint16_t(in.U8()) : in.U16();
                    const uint16_t max = uint16_t(min + width) < min ? 0xFFFF : uint16_t(min + width);
                    s.Write(min == max);
                    s.Write(min);
                    if (min != max) s.Write(max);
                }
                channel.ProcessDatagram(s.GetData(), uint32_t(s.GetNumberOfBytesUsed()), peer, now, breach);
                break;
            }
            case 3: {  // a send of our own, split when large
                const uint32_t bytes = uint32_t(in.U16()) % 3000 + 1;
                std::vector<uint8_t> payload(bytes, uint8_t(op));
                const auto reliability = MessageReliability(6 + (op >> 3) % 5);
                channel.Send(payload.data(), bytes * 8, PacketPriority((op >> 6) & 3), reliability,
                             uint8_t(op >> 4), true, kMtu, now);
                sentNumbers = uint16_t(sentNumbers + 1 + bytes / 520);
                break;
            }
            case 4: {  // time passes, the channel paces
                now += uint64_t(in.U16()) * ((op & 0x80) ? 1000 : 10);
                channel.Update(sink, peer, kMtu, now);
                if (op & 0x40) channel.SetPing(in.U16() % 2000);
                break;
            }
            case 5: {  // the peer takes what was delivered
                uint8_t* message = nullptr;
                while (uint32_t bits = channel.ReceiveMessage(message)) {
                    Check(message != nullptr);
                    volatile uint8_t touch = message[(bits - 1) / 8];
                    (void)touch;
                    delete[] message;
                }
                break;
            }
        }
        Check(channel.HeldOrderingBytes() <= settings.GetOrderingHoldCapBytes());
        Check(channel.ReassemblyBytes() <= settings.GetReassemblyCapBytes());
        Check(channel.ReceivedWindowSize() <= 32769);
        if (role == WireRole::Server) Check(channel.ReassemblyBytes() == 0);
        // Anything held must keep the connection from looking idle.
        if (channel.HeldOrderingBytes() || channel.ReassemblyBytes()) Check(channel.IsDataWaiting());
    }
    const NetworkStatistics s = channel.GetStatistics(false);
    Check(s.messagesWaitingForAck <= 65536);
    return 0;
}
