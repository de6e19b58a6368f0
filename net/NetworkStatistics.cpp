#include "net/NetworkStatistics.h"

#include <cassert>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "common/LittleEndian.h"
#include "net/Clock.h"

namespace velt {

namespace {

// Rounds up; written so that counts near 2^64 do not wrap to 0.
std::uint64_t BitsToBytes(std::uint64_t bits) { return bits / 8 + ((bits % 8) != 0 ? 1 : 0); }

std::uint32_t Low32(std::uint64_t v) { return static_cast<std::uint32_t>(v); }

// Appends formatted text, never past the caller's buffer; the text stays terminated.
class BoundedText {
public:
    BoundedText(char* buffer, std::size_t size) : buffer_(buffer), size_(size) {
        if (size_ > 0) buffer_[0] = '\0';
    }

    __attribute__((format(printf, 2, 3))) void Add(const char* format, ...) {
        if (used_ + 1 >= size_) return;
        va_list args;
        va_start(args, format);
        const int n = std::vsnprintf(buffer_ + used_, size_ - used_, format, args);
        va_end(args);
        if (n < 0) return;
        const std::size_t room = size_ - used_ - 1;
        used_ += static_cast<std::size_t>(n) > room ? room : static_cast<std::size_t>(n);
    }

private:
    char* buffer_;
    std::size_t size_;
    std::size_t used_ = 0;
};

// Both divisions by zero (nothing sent yet, no time elapsed) read as 0.
float PacketLoss(const NetworkStatistics& s) {
    if (s.totalBitsSent == 0) return 0.0f;
    return static_cast<float>(s.messageTotalBitsResent) * 100.0f / static_cast<float>(s.totalBitsSent);
}

double PerSecond(double amount, double seconds) { return seconds > 0.0 ? amount / seconds : 0.0; }

void WriteSummary(BoundedText& out, const NetworkStatistics& s) {
    std::uint32_t inSendBuffer = 0;
    std::uint32_t sent = 0;
    for (int i = 0; i < kStatisticsPriorities; ++i) {
        inSendBuffer += s.messagesInSendBuffer[i];
        sent += s.messagesSent[i];
    }
    const std::uint32_t received =
        s.messagesReceived + s.invalidMessagesReceived + s.duplicateMessagesReceived;
    out.Add(
        "Messages in Send buffer: %u\nMessages sent: %u\nBytes sent: %u\nAcks sent: %u\n"
        "Acks in send buffer: %u\nMessages waiting for ack: %u\nMessages resent: %u\n"
        "Bytes resent: %u\nPacketloss: %.1f%%\nMessages received: %u\nBytes received: %u\n"
        "Acks received: %u\nDuplicate acks received: %u\n",
        inSendBuffer, sent, Low32(BitsToBytes(s.totalBitsSent)), s.acksSent, s.acksPending,
        s.messagesWaitingForAck, s.messagesResent, Low32(BitsToBytes(s.messageTotalBitsResent)),
        static_cast<double>(PacketLoss(s)), received, Low32(BitsToBytes(s.bitsReceived + s.bitsReceivedBad)),
        s.acksReceived, s.duplicateAcksReceived);
}

void WriteRates(BoundedText& out, const NetworkStatistics& s, std::uint32_t nowMs, StatsRateState& rates) {
    if (rates.timeMs == 0) rates.timeMs = s.connectionStartTime;
    const double seconds = static_cast<double>(static_cast<std::uint32_t>(nowMs - rates.timeMs)) / 1000.0;
    const std::uint32_t sentDelta = Low32(s.totalBitsSent) - Low32(rates.bitsSent);
    const std::uint32_t receivedDelta = Low32(s.bitsReceived) - Low32(rates.bitsReceived);
    out.Add("Inst. KBits per second: %.1f\nKBits per second sent: %.1f\nKBits per second received: %.1f\n",
            s.bitsPerSecond / 1000.0, PerSecond(sentDelta, seconds) / 1000.0,
            PerSecond(receivedDelta, seconds) / 1000.0);
    rates.bitsSent = s.totalBitsSent;
    rates.bitsReceived = s.bitsReceived;
    rates.timeMs = nowMs;
}

void WritePerPriority(BoundedText& out, const char* format, const std::uint64_t (&v)[kStatisticsPriorities]) {
    out.Add(format, v[0], v[1], v[2], v[3]);
}

void WriteDetailed(BoundedText& out, const NetworkStatistics& s, std::uint32_t nowMs) {
    // Level 2 prints every count in full, so 64-bit counts and sums are not cut to 32 bits.
    std::uint64_t dataBytes[kStatisticsPriorities];
    std::uint64_t headerBytes[kStatisticsPriorities];
    std::uint64_t totalBytes[kStatisticsPriorities];
    for (int i = 0; i < kStatisticsPriorities; ++i) {
        dataBytes[i] = BitsToBytes(s.messageDataBitsSent[i]);
        headerBytes[i] = BitsToBytes(s.messageTotalBitsSent[i] - s.messageDataBitsSent[i]);
        totalBytes[i] = BitsToBytes(s.messageTotalBitsSent[i]);
    }
    const std::uint32_t* q = s.messagesInSendBuffer;
    const std::uint32_t* m = s.messagesSent;

    out.Add("Bytes sent:\t\t\t\t%" PRIu64 "\n", BitsToBytes(s.totalBitsSent));
    out.Add("Messages in send buffer:\t\tSP:%u HP:%u MP:%u LP:%u\n", q[0], q[1], q[2], q[3]);
    out.Add("Messages sent:\t\t\t\tSP:%u HP:%u MP:%u LP:%u\n", m[0], m[1], m[2], m[3]);
    WritePerPriority(
        out, "Message data bytes sent:\t\tSP:%" PRIu64 " HP:%" PRIu64 " MP:%" PRIu64 " LP:%" PRIu64 "\n",
        dataBytes);
    WritePerPriority(
        out, "Message header bytes sent:\t\tSP:%" PRIu64 " HP:%" PRIu64 " MP:%" PRIu64 " LP:%" PRIu64 "\n",
        headerBytes);
    WritePerPriority(
        out, "Message total bytes sent:\t\tSP:%" PRIu64 " HP:%" PRIu64 " MP:%" PRIu64 " LP:%" PRIu64 "\n",
        totalBytes);
    out.Add("Bytes received:\t\t\t\tTtl:%" PRIu64 " Good:%" PRIu64 " Bad:%" PRIu64 "\n",
            BitsToBytes(s.bitsReceived + s.bitsReceivedBad), BitsToBytes(s.bitsReceived),
            BitsToBytes(s.bitsReceivedBad));
    out.Add("Packets received:\t\t\tTtl:%" PRIu64 " Good:%u Bad:%u\n",
            std::uint64_t{s.packetsReceived} + s.packetsReceivedBad, s.packetsReceived, s.packetsReceivedBad);
    out.Add("Acks received:\t\t\t\tTtl:%" PRIu64 " Good:%u Dup:%u\n",
            std::uint64_t{s.acksReceived} + s.duplicateAcksReceived, s.acksReceived, s.duplicateAcksReceived);
    out.Add("Messages received:\t\t\tTotal:%" PRIu64 " Valid:%u Invalid:%u Dup:%u\n",
            std::uint64_t{s.messagesReceived} + s.invalidMessagesReceived + s.duplicateMessagesReceived,
            s.messagesReceived, s.invalidMessagesReceived, s.duplicateMessagesReceived);
    out.Add("Packetloss:\t\t\t\t%.1f%%\n", static_cast<double>(PacketLoss(s)));
    out.Add("Packets sent:\t\t\t\t%u\n", s.packetsSent);
    out.Add("Acks sent:\t\t\t\t%u\n", s.acksSent);
    out.Add("Acks in send buffer:\t\t\t%u\n", s.acksPending);
    out.Add("Messages waiting for ack:\t\t%u\n", s.messagesWaitingForAck);
    out.Add("Ack bytes sent:\t\t\t\t%" PRIu64 "\n", BitsToBytes(s.ackBitsSent));
    out.Add("Sent packets containing only acks:\t%u\n", s.packetsWithOnlyAcks);
    out.Add("Sent packets w/only acks and resends:\t%u\n", s.packetsWithOnlyAcksAndResends);
    out.Add("Reliable messages resent:\t\t%u\n", s.messagesResent);
    out.Add("Reliable message data bytes resent:\t%" PRIu64 "\n", BitsToBytes(s.messageDataBitsResent));
    out.Add("Reliable message header bytes resent:\t%" PRIu64 "\n",
            BitsToBytes(s.messageTotalBitsResent - s.messageDataBitsResent));
    out.Add("Reliable message total bytes resent:\t%" PRIu64 "\n", BitsToBytes(s.messageTotalBitsResent));
    out.Add("Number of messages split:\t\t%u\n", s.messagesSplit);
    out.Add("Number of messages unsplit:\t\t%u\n", s.messagesUnsplit);
    out.Add("Message splits performed:\t\t%u\n", s.splitsPerformed);
    out.Add("Additional encryption bytes:\t\t%" PRIu64 "\n", BitsToBytes(s.encryptionBitsSent));
    out.Add("Sequenced messages out of order:\t%u\n", s.sequencedOutOfOrder);
    out.Add("Sequenced messages in order:\t\t%u\n", s.sequencedInOrder);
    out.Add("Ordered messages out of order:\t\t%u\n", s.orderedOutOfOrder);
    out.Add("Ordered messages in of order:\t\t%u\n", s.orderedInOrder);
    out.Add("Split messages waiting for reassembly:\t%u\n", s.messagesWaitingForReassembly);
    out.Add("Messages in internal output queue:\t%u\n", s.internalOutputQueueSize);
    out.Add("Inst KBits per second:\t\t\t%.1f\n", s.bitsPerSecond / 1000.0);
    const double elapsed =
        static_cast<double>(static_cast<std::uint32_t>(nowMs - s.connectionStartTime)) / 1000.0;
    out.Add("Elapsed time (sec):\t\t\t%.1f\n", elapsed);
    out.Add("KBits per second sent:\t\t\t%.1f\n",
            PerSecond(static_cast<double>(s.totalBitsSent), elapsed) / 1000.0);
    out.Add("KBits per second received:\t\t%.1f\n",
            PerSecond(static_cast<double>(s.bitsReceived), elapsed) / 1000.0);
    for (int i = 0; i < kRejectedKinds; ++i)
        if (s.rejected[i] != 0)
            out.Add("Rejected: %s:\t%u\n", RejectedName(static_cast<Rejected>(i)), s.rejected[i]);
}

// Little-endian writer over the fixed wire record.
class WireWriter {
public:
    explicit WireWriter(std::array<std::uint8_t, kNetworkStatisticsWireSize>& out) : out_(out) {}
    void U32(std::uint32_t v) {
        WriteU32(out_.data() + pos_, v);
        pos_ += 4;
    }
    void U64(std::uint64_t v) {
        WriteU64(out_.data() + pos_, v);
        pos_ += 8;
    }
    void F64(double v) {
        WriteF64(out_.data() + pos_, v);
        pos_ += 8;
    }
    std::size_t Position() const { return pos_; }

private:
    std::array<std::uint8_t, kNetworkStatisticsWireSize>& out_;
    std::size_t pos_ = 0;
};

std::mutex g_rateMutex;
StatsRateState g_rates;

}  // namespace

const char* RejectedName(Rejected kind) {
    switch (kind) {
        case Rejected::BadChecksum: return "datagrams with a bad checksum";
        case Rejected::BannedSender: return "datagrams from banned addresses";
        case Rejected::BanReplyWithheld: return "ban answers withheld";
        case Rejected::OversizedUnconnected: return "oversized datagrams without a connection";
        case Rejected::OtherUnconnected: return "other datagrams without a connection";
        case Rejected::UnconnectedQueueFull: return "unconnected messages over the queue limit";
        case Rejected::WrongCookie: return "connection requests with a wrong cookie";
        case Rejected::TooSoon: return "connection requests too soon after the last";
        case Rejected::NoFreeSlot: return "connection requests while full";
        case Rejected::ServerFullAttack: return "connection requests refused as a 'server full' attack";
        case Rejected::BanSpared: return "automatic bans spared for a connected address";
        case Rejected::ChannelRejected: return "datagrams the reliability layer refused";
        case Rejected::TamperNoticeWithheld: return "modified-packet notices withheld";
        case Rejected::RepeatedRequest: return "repeated connection requests";
        case Rejected::NotARequestFirst: return "first messages other than a connection request";
        case Rejected::ReservedIdentifier: return "messages with a reserved identifier";
        case Rejected::OutOfTurn: return "handshake messages out of turn";
        case Rejected::SecureOutOfTurn: return "secure handshake messages out of turn";
        case Rejected::SecureBadLength: return "secure handshake messages of a wrong length";
        case Rejected::SecureKeyMismatch: return "secure handshakes with an unexpected key";
        case Rejected::SecureKeyUnusable: return "secure handshakes with an unusable key";
        case Rejected::SecureDigestMismatch: return "secure confirmations with a stale or wrong digest";
        case Rejected::SecureUndecipherable: return "secure confirmations that did not decipher";
        case Rejected::SecureInsecureAccept: return "acceptances without the expected secure exchange";
        case Rejected::SecureClearInSwitch: return "datagrams in the clear on an enciphered link";
        case Rejected::FloodLimit: return "flood limit breaches";
        case Rejected::GameBehind: return "messages dropped while the game was behind";
        case Rejected::KickedGameBehind: return "connections closed while the game was behind";
        case Rejected::TruncatedHeader: return "messages with a cut-off header";
        case Rejected::BadReliability: return "messages with a bad reliability";
        case Rejected::RefusedSplit: return "split message pieces";
        case Rejected::BadSplitFields: return "split pieces with bad fields";
        case Rejected::BadPayloadLength: return "messages with a bad payload length";
        case Rejected::TruncatedPayload: return "messages with a cut-off payload";
        case Rejected::TruncatedAcks: return "cut-off acknowledgement blocks";
        case Rejected::InvertedAckRange: return "backwards acknowledgement ranges";
        case Rejected::RpcUnreadable: return "calls with an unreadable header";
        case Rejected::RpcNeverDispatched: return "calls to the reserved id";
        case Rejected::RpcUnregistered: return "calls to an unregistered id";
        case Rejected::RpcTruncated: return "calls shorter than their arguments";
        case Rejected::kCount: break;
    }
    return "unknown";
}

void NetworkStatistics::Reset(std::uint32_t nowMs) {
    *this = NetworkStatistics{};
    connectionStartTime = nowMs;
    messagesWindowStart = nowMs;
    acksWindowStart = nowMs;
}

std::array<std::uint8_t, kNetworkStatisticsWireSize> SerializeNetworkStatistics(const NetworkStatistics& s) {
    std::array<std::uint8_t, kNetworkStatisticsWireSize> out{};
    WireWriter w(out);
    for (std::uint32_t v : s.messagesInSendBuffer) w.U32(v);
    for (std::uint32_t v : s.messagesSent) w.U32(v);
    for (std::uint32_t v : s.reliableMessagesSent) w.U32(v);
    for (std::uint64_t v : s.messageDataBitsSent) w.U64(v);
    for (std::uint64_t v : s.messageTotalBitsSent) w.U64(v);
    w.U32(s.packetsWithOnlyAcks);
    w.U32(s.acksSent);
    w.U32(s.acksPending);
    w.U64(s.ackBitsSent);
    w.U32(s.packetsWithOnlyAcksAndResends);
    w.U32(s.messagesResent);
    w.U64(s.messageDataBitsResent);
    w.U64(s.messageTotalBitsResent);
    w.U32(s.messagesWaitingForAck);
    w.U32(s.messagesUnsplit);
    w.U32(s.messagesSplit);
    w.U32(s.splitsPerformed);
    w.U32(s.packetsSent);
    w.U64(s.encryptionBitsSent);
    w.U64(s.totalBitsSent);
    w.U32(s.sequencedOutOfOrder);
    w.U32(s.sequencedInOrder);
    w.U32(s.orderedOutOfOrder);
    w.U32(s.orderedInOrder);
    w.U32(s.packetsReceived);
    w.U32(s.packetsReceivedBad);
    w.U64(s.bitsReceived);
    w.U64(s.bitsReceivedBad);
    w.U32(s.acksReceived);
    w.U32(s.duplicateAcksReceived);
    w.U32(s.messagesReceived);
    w.U32(s.invalidMessagesReceived);
    w.U32(s.duplicateMessagesReceived);
    w.U32(s.messagesWaitingForReassembly);
    w.U32(s.internalOutputQueueSize);
    w.F64(s.bitsPerSecond);
    w.U32(s.connectionStartTime);
    w.U32(s.messagesWindowStart);
    w.U32(s.messagesWindowCount);
    w.U32(s.messagesLastSecond);
    w.U32(s.acksWindowStart);
    w.U32(s.acksWindowCount);
    w.U32(s.acksLastSecond);
    assert(w.Position() == kNetworkStatisticsWireSize);
    return out;
}

void statsToString(const NetworkStatistics* stats, char* buffer, std::size_t bufferSize, int verbosityLevel,
                   std::uint32_t nowMs, StatsRateState& rates) {
    if (buffer == nullptr || bufferSize == 0) return;
    if (stats == nullptr) {
        BoundedText(buffer, bufferSize).Add("stats is a NULL pointer in statsToString\n");
        return;
    }
    switch (verbosityLevel) {
        case 1: {
            BoundedText out(buffer, bufferSize);
            WriteSummary(out, *stats);
            WriteRates(out, *stats, nowMs, rates);
            return;
        }
        case 2: {
            BoundedText out(buffer, bufferSize);
            WriteDetailed(out, *stats, nowMs);
            return;
        }
        case 4: {
            BoundedText out(buffer, bufferSize);
            WriteSummary(out, *stats);
            return;
        }
        default: return;
    }
}

void statsToString(const NetworkStatistics* stats, char* buffer, std::size_t bufferSize, int verbosityLevel) {
    // The rate state is shared by every caller; the lock keeps one reading whole.
    std::lock_guard<std::mutex> lock(g_rateMutex);
    statsToString(stats, buffer, bufferSize, verbosityLevel, GetTimeMs(), g_rates);
}

}  // namespace velt
