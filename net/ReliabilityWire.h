#pragma once
// Bit layout of a reliability-layer datagram: the has-acks bit with its acknowledgement ranges,
// then messages, each a header, padding to the next byte of the datagram, and its payload. No
// length, count or checksum covers the datagram, so the reader trusts nothing: every field is
// checked against what remains before it is used, and the first message that fails ends the
// datagram (the ones before it stay good).
//
// The game clients read and write these exact bits; widths and the compressed forms are fixed.

#include <cstdint>

#include "net/InternalPacket.h"
#include "net/RangeList.h"

namespace velt {

class BitStream;
class InternalPacketFreeList;

using AckRangeList = DataStructures::RangeList<MessageNumberType>;

// Longest payload a message may announce: 1491 bytes.
inline constexpr uint32_t kMaxMessagePayloadBits = 11928;
// IP and UDP headers; the block cipher adds its own 8 bytes.
inline constexpr int32_t kDatagramHeaderBytes = 28;
inline constexpr int32_t kCipherDatagramHeaderBytes = 36;
// What an acknowledgement block leaves free of the MTU.
inline constexpr int32_t kAckBudgetReserveBits = 225;
// A message header is never shorter than its number and reliability.
inline constexpr int32_t kMinMessageBits = 16;

// Header bits the writer budgets for a message: generous enough that the real header (with the
// has-acks bit and padding) never exceeds it.
uint32_t EstimateHeaderBits(const InternalPacket& packet);
// Bits of one datagram that messages may fill.
int32_t MessageBudgetBits(int32_t mtu, bool cipherOn);
// Bits the acknowledgement ranges of one datagram may take. The cipher's extra header comes off
// this budget too: ranges sized for a plain datagram would push an enciphered one past the MTU.
int32_t AckBudgetBits(int32_t mtu, bool cipherOn);
// Whether a message still fits a datagram that already holds datagramBits.
bool MessageFits(int32_t datagramBits, const InternalPacket& packet, int32_t mtu, bool cipherOn);

// The wire value of a reliability: anything outside 6..10 goes out as reliable (8), since a
// value below 6 would make the peer drop the rest of the datagram and 11..15 would be delivered
// unreliably behind the sender's back.
uint8_t WireReliability(MessageReliability reliability);
bool HasOrderingFields(uint32_t wireReliability);

// Appends one message (header, padding to the datagram's next byte, payload) and returns the
// bits appended. The stream must be the datagram itself (padding is relative to its start).
// The payload must be 1..kMaxMessagePayloadBits long; the channel splits anything larger.
int32_t WriteMessageHeader(BitStream& datagram, const InternalPacket& packet);

// Writes has-acks 1 and as many ranges from the front of acks as fit the MTU's ack budget, and
// removes them from the list. Returns the bits appended.
int32_t WriteAckBlock(BitStream& datagram, AckRangeList& acks, int32_t mtu, bool cipherOn);

// Builds one outgoing datagram in the order the channel fills it: acknowledgements first (when
// there are any), then messages while they fit. When no acknowledgements were written the
// has-acks bit goes out as 0 just before the first message, so a datagram with neither stays
// empty and is not sent.
class DatagramWriter {
public:
    // datagram must be empty; it is written from bit 0.
    DatagramWriter(BitStream& datagram, int32_t mtu, bool cipherOn);

    // Only before the first message. Writes nothing for an empty list. Returns the bits appended.
    int32_t WriteAcks(AckRangeList& acks);
    bool Fits(const InternalPacket& packet) const;
    // Returns the message's bits (without the has-acks bit it may have to write first).
    int32_t WriteMessage(const InternalPacket& packet);

    bool IsEmpty() const { return !wroteAcks_ && messages_ == 0; }
    uint32_t Messages() const { return messages_; }

private:
    BitStream& datagram_;
    int32_t mtu_;
    bool cipherOn_;
    bool wroteAcks_ = false;
    uint32_t messages_ = 0;
};

// The server refuses split messages (it never needs them, and reassembly is memory a client
// could hold hostage); the bot client and the library accept them.
enum class WireRole : uint8_t { Server, Client };

// Refused input, one counter per reason, so that a flood of one kind stands out.
struct WireRejectionCounters {
    uint32_t truncatedHeader = 0;   // a header field cut off by the end of the datagram
    uint32_t badReliability = 0;    // reliability 0..5
    uint32_t refusedSplit = 0;      // a split piece reaching the server
    uint32_t badSplitFields = 0;    // piece count 0, or piece index not below the count
    uint32_t badPayloadLength = 0;  // payload length 0 or above kMaxMessagePayloadBits
    uint32_t truncatedPayload = 0;  // fewer payload bytes than announced
    uint32_t truncatedAcks = 0;     // acknowledgement block cut off
    uint32_t invertedAckRange = 0;  // acknowledgement range whose max is below its min

    uint32_t Total() const {
        return truncatedHeader + badReliability + refusedSplit + badSplitFields + badPayloadLength +
               truncatedPayload + truncatedAcks + invertedAckRange;
    }
};

// printf-like sink for the reader's warning lines (the server passes its log function).
using WireLogFn = void (*)(const char* format, ...);

enum class AckBlockResult : uint8_t {
    None,  // has-acks 0
    Read,  // has-acks 1 and every range read
    Bad,   // unreadable: the whole datagram is to be ignored
};

class ReliabilityWireReader {
public:
    explicit ReliabilityWireReader(WireRole role = WireRole::Client, WireLogFn log = nullptr)
        : role_(role), log_(log) {}

    void SetRole(WireRole role) { role_ = role; }
    WireRole Role() const { return role_; }
    void SetLog(WireLogFn log) { log_ = log; }

    // Reads the has-acks bit and, when it is 1, the ranges into acks (replacing its content).
    // On Bad, acks is empty and the read cursor is unspecified.
    AckBlockResult ReadAckBlock(BitStream& datagram, AckRangeList& acks);

    // Reads one message at the read cursor into a record of the pool (creationTime = time,
    // payload in a new buffer the record owns), or returns null: at the end of the datagram
    // (fewer than kMinMessageBits left, not counted) or for a refused message (counted). After
    // a null the rest of the datagram is to be ignored.
    InternalPacket* ReadMessageHeader(BitStream& datagram, uint64_t time, InternalPacketFreeList& pool);

    static bool MoreMessages(const BitStream& datagram);

    const WireRejectionCounters& Rejections() const { return rejections_; }
    void ResetRejections() { rejections_ = {}; }

private:
    InternalPacket* Refuse(InternalPacket* packet, InternalPacketFreeList& pool, uint32_t& counter);

    WireRole role_;
    WireLogFn log_;
    WireRejectionCounters rejections_;
};

struct DatagramReadResult {
    AckBlockResult acks = AckBlockResult::None;
    uint32_t messages = 0;  // records handed to the callback
    bool stopped = false;   // the callback asked to stop
};

// Reads a whole datagram: the acknowledgement block into acks, then each message, handed to
// onMessage(InternalPacket*) which takes the record and returns false to stop reading (a
// breached limit). Nothing after unreadable acknowledgements is read.
template <class OnMessage>
DatagramReadResult ReadDatagram(ReliabilityWireReader& reader, BitStream& datagram, uint64_t time,
                                InternalPacketFreeList& pool, AckRangeList& acks, OnMessage&& onMessage) {
    DatagramReadResult result;
    result.acks = reader.ReadAckBlock(datagram, acks);
    if (result.acks == AckBlockResult::Bad) return result;
    while (ReliabilityWireReader::MoreMessages(datagram)) {
        InternalPacket* packet = reader.ReadMessageHeader(datagram, time, pool);
        if (!packet) break;
        ++result.messages;
        if (!onMessage(packet)) {
            result.stopped = true;
            break;
        }
    }
    return result;
}

}  // namespace velt
