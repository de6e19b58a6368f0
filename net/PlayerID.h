#pragma once

#include <cstddef>
#include <cstdint>

namespace velt {

// Address of a remote system. binaryAddress holds the IPv4 address exactly as the socket layer
// stores it (network byte order in memory); port is in host byte order.
struct PlayerID {
    uint32_t binaryAddress;
    uint16_t port;

    // Longest text: "255.255.255.255:65535" plus the terminating zero.
    static constexpr size_t kStringSize = 22;

    // Dotted-quad text of the address, with ":port" appended when writePort is set. The text
    // lives in a buffer private to the calling thread and is overwritten by that thread's next
    // call; the network thread and the main thread never share it.
    const char* ToString(bool writePort = true) const;
    // The same text into a caller buffer (at least kStringSize bytes keeps it whole; a smaller
    // buffer gets a cut, zero-terminated text). Returns out.
    char* ToString(bool writePort, char* out, size_t outSize) const;

    friend constexpr bool operator==(const PlayerID& a, const PlayerID& b) {
        return a.binaryAddress == b.binaryAddress && a.port == b.port;
    }
    friend constexpr bool operator!=(const PlayerID& a, const PlayerID& b) { return !(a == b); }
    // Address as an unsigned number first, then the port.
    friend constexpr bool operator<(const PlayerID& a, const PlayerID& b) {
        return a.binaryAddress < b.binaryAddress || (a.binaryAddress == b.binaryAddress && a.port < b.port);
    }
    friend constexpr bool operator>(const PlayerID& a, const PlayerID& b) { return b < a; }
    friend constexpr bool operator<=(const PlayerID& a, const PlayerID& b) { return !(b < a); }
    friend constexpr bool operator>=(const PlayerID& a, const PlayerID& b) { return !(a < b); }
};

// No system as a target, nobody as a sender.
inline constexpr PlayerID UNASSIGNED_PLAYER_ID{0xFFFFFFFFu, 0xFFFFu};

// Room IntToText needs for any 32-bit value in any base: 32 binary digits, a sign, the zero.
inline constexpr size_t kIntToTextBufferSize = 34;

// Writes value in base 2..16 with the digits "0123456789abcdef" into buffer (kIntToTextBufferSize
// bytes). Only base 10 shows a minus sign; other bases print the digits of the magnitude. Any
// other base gives the empty string. Returns buffer.
char* IntToText(int32_t value, char* buffer, int base);

}  // namespace velt
