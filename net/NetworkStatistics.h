#pragma once
// Per-connection transport counters, their text forms and their fixed 296-byte wire form.

#include <array>
#include <cstddef>
#include <cstdint>

namespace velt {

inline constexpr int kStatisticsPriorities = 4;  // one entry per send priority 0..3

// Input the transport refused or held back, one counter per reason, so that a flood of one kind
// stands out. Counted per connection where one exists, else for the peer as a whole.
enum class Rejected : std::uint8_t {
    // Before any connection: admission and unconnected datagrams.
    BadChecksum,           // a datagram whose scrambling checksum did not match
    BannedSender,          // a datagram from a banned address
    BanReplyWithheld,      // the "banned" answer already went to that address this second
    OversizedUnconnected,  // over 512 bytes from an address without a connection
    OtherUnconnected,      // anything else without a connection that nothing answers
    UnconnectedQueueFull,  // pongs and advertisements while the user's queue of them is full
    WrongCookie,           // an open-connection request with a missing or stale cookie
    TooSoon,               // an open-connection request inside "minconnectiontime"
    NoFreeSlot,            // an open-connection request while every slot is taken
    ServerFullAttack,      // an open-connection request refused by the 'server full' defences
    BanSpared,             // an automatic ban not made: a connected player holds the address
    // On a connection.
    ChannelRejected,       // a datagram the reliability layer could not use
    TamperNoticeWithheld,  // its "packet was modified" notice already went out this interval
    RepeatedRequest,       // a connection request after the first one of the slot
    NotARequestFirst,      // a first message that was not the connection request
    ReservedIdentifier,    // a message carrying an identifier of the transport's own notices
    OutOfTurn,             // a handshake message in a state that does not expect it
    FloodLimit,            // a breach of "messageholelimit", "messageslimit" or "ackslimit"
    GameBehind,            // a message dropped because the game has not taken the ones before
    KickedGameBehind,      // a connection closed for staying over that limit
    // Inside a datagram (the reliability layer's reader).
    TruncatedHeader,
    BadReliability,
    RefusedSplit,
    BadSplitFields,
    BadPayloadLength,
    TruncatedPayload,
    TruncatedAcks,
    InvertedAckRange,
    // Remote procedure calls that were not run.
    RpcUnreadable,
    RpcNeverDispatched,
    RpcUnregistered,
    RpcTruncated,
    // The secure handshake.
    SecureOutOfTurn,       // a secure-handshake message in a state that does not expect it
    SecureBadLength,       // a secure-handshake message of the wrong length
    SecureKeyMismatch,     // a server presenting another key than the one expected
    SecureKeyUnusable,     // a presented key that cannot carry the link key
    SecureDigestMismatch,  // a confirmation not made from our current or previous random
    SecureUndecipherable,  // a confirmation whose secret does not decipher with our key
    SecureInsecureAccept,  // an acceptance without the secure exchange while a key was expected
    SecureClearInSwitch,   // a datagram in the clear on a link whose key came on
    kCount
};
inline constexpr int kRejectedKinds = static_cast<int>(Rejected::kCount);

// The counter's name as the statistics text shows it.
const char* RejectedName(Rejected kind);

// The field order is the order of the wire form and of the natives that read single fields.
// The in-memory layout is the compiler's; only SerializeNetworkStatistics defines the bytes.
struct NetworkStatistics {
    std::uint32_t messagesInSendBuffer[kStatisticsPriorities] = {};
    std::uint32_t messagesSent[kStatisticsPriorities] = {};
    std::uint32_t reliableMessagesSent[kStatisticsPriorities] = {};
    std::uint64_t messageDataBitsSent[kStatisticsPriorities] = {};
    std::uint64_t messageTotalBitsSent[kStatisticsPriorities] = {};
    std::uint32_t packetsWithOnlyAcks = 0;
    std::uint32_t acksSent = 0;
    std::uint32_t acksPending = 0;
    std::uint64_t ackBitsSent = 0;
    std::uint32_t packetsWithOnlyAcksAndResends = 0;
    std::uint32_t messagesResent = 0;
    std::uint64_t messageDataBitsResent = 0;
    std::uint64_t messageTotalBitsResent = 0;
    std::uint32_t messagesWaitingForAck = 0;
    std::uint32_t messagesUnsplit = 0;
    std::uint32_t messagesSplit = 0;
    std::uint32_t splitsPerformed = 0;
    std::uint32_t packetsSent = 0;
    std::uint64_t encryptionBitsSent = 0;
    std::uint64_t totalBitsSent = 0;
    std::uint32_t sequencedOutOfOrder = 0;
    std::uint32_t sequencedInOrder = 0;
    std::uint32_t orderedOutOfOrder = 0;
    std::uint32_t orderedInOrder = 0;
    std::uint32_t packetsReceived = 0;
    std::uint32_t packetsReceivedBad = 0;
    std::uint64_t bitsReceived = 0;
    std::uint64_t bitsReceivedBad = 0;
    std::uint32_t acksReceived = 0;
    std::uint32_t duplicateAcksReceived = 0;
    std::uint32_t messagesReceived = 0;
    std::uint32_t invalidMessagesReceived = 0;
    std::uint32_t duplicateMessagesReceived = 0;
    std::uint32_t messagesWaitingForReassembly = 0;
    std::uint32_t internalOutputQueueSize = 0;
    double bitsPerSecond = 0.0;
    std::uint32_t connectionStartTime = 0;
    std::uint32_t messagesWindowStart = 0;
    std::uint32_t messagesWindowCount = 0;
    std::uint32_t messagesLastSecond = 0;
    std::uint32_t acksWindowStart = 0;
    std::uint32_t acksWindowCount = 0;
    std::uint32_t acksLastSecond = 0;
    // Not part of the wire form: what was refused, by reason (see Rejected).
    std::uint32_t rejected[kRejectedKinds] = {};

    std::uint32_t& Rejections(Rejected kind) { return rejected[static_cast<int>(kind)]; }
    std::uint32_t Rejections(Rejected kind) const { return rejected[static_cast<int>(kind)]; }

    // A fresh connection: every counter 0, the three time stamps at `nowMs`.
    void Reset(std::uint32_t nowMs);
};

inline constexpr std::size_t kNetworkStatisticsWireSize = 296;

// The record as clients receive it: fields in order, little-endian, 8-byte fields at 4-byte
// alignment, the double as its IEEE-754 bits.
std::array<std::uint8_t, kNetworkStatisticsWireSize> SerializeNetworkStatistics(
    const NetworkStatistics& stats);

// State of the level-1 "since the previous call" rates. The process keeps one, shared by every
// record, as the natives expect; tests pass their own.
struct StatsRateState {
    std::uint32_t timeMs = 0;
    std::uint64_t bitsSent = 0;
    std::uint64_t bitsReceived = 0;
};

// Writes the text of `stats` at `verbosityLevel` (1, 2 or 4) into `buffer`, never more than
// `bufferSize` bytes including the terminator (a longer text is cut). Level 2 ends with one line
// per refusal counter that is not 0. Any other level leaves the buffer untouched; a null record
// writes a one-line notice at every level.
void statsToString(const NetworkStatistics* stats, char* buffer, std::size_t bufferSize, int verbosityLevel);

// The same with an explicit clock and rate state.
void statsToString(const NetworkStatistics* stats, char* buffer, std::size_t bufferSize, int verbosityLevel,
                   std::uint32_t nowMs, StatsRateState& rates);

}  // namespace velt
