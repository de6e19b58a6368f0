#pragma once

#include <cstdint>

namespace velt {

// One-byte identifiers that open every message of the transport itself. Identifiers below 20
// that reach a connected peer's user side are consumed or dropped by the peer; from 20 upwards
// they are handed to the user. Identifier 17 has no name: it is discarded when it arrives on a
// connection. The game's identifiers from 200 up are listed at the end.
enum MessageIdentifier : uint8_t {
    ID_INTERNAL_PING = 6,            // [6][u32 sender ms]
    ID_UNCONNECTED_PING = 7,         // [7][u32 sender ms], always answered
    ID_UNCONNECTED_PING_OPEN = 8,    // [8][u32 sender ms], answered while connections are accepted
    ID_INTERNAL_PONG = 9,            // [9][u32 echoed ms][u32 responder ms]
    ID_STATIC_DATA_REQUEST = 10,     // [10]
    ID_CONN_REQUEST = 11,            // [11][password bytes]
    ID_SECURE_RESPONSE = 15,         // 57 bytes
    ID_SECURE_CONFIRM = 16,          // 53 bytes
    ID_PING_LIST = 18,               // [18] then up to 32 x [u32 address][u16 port][u16 ping]
    ID_RANDOM_SEEDS = 19,            // [40][u32][19][u32 seed][u32 next seed]
    ID_RPC_CALL = 20,                // remote procedure call
    ID_RPC_REPLY = 21,               // [21][reply bytes]
    ID_KEEP_ALIVE = 23,              // [23]
    ID_CONN_INCOMING = 24,           // [24][u16 cookie]; to the user: [24]
    ID_CONN_OPEN_REPLY = 25,         // [25][0]
    ID_CONN_COOKIE_REPLY = 26,       // [26][u16 cookie]
    ID_CONN_ATTEMPT_FAILED = 29,     // [29][0]; to the user: [29]
    ID_CONN_HANDSHAKE_DONE = 30,     // [30][u32 address][u16 port]
    ID_CONN_NO_FREE_SLOT = 31,       // [31][0] or [31]
    ID_CONN_CLOSED = 32,             // [32]
    ID_CONN_LOST = 33,               // to the user only: [33]
    ID_CONN_ACCEPTED = 34,           // [34][u32 address][u16 port][u16 index][u32 challenge]
    ID_PUBLIC_KEY_MISMATCH = 35,     // to the user only: [35]
    ID_CONN_BANNED = 36,             // [36][0]
    ID_CONN_BAD_PASSWORD = 37,       // [37]
    ID_PACKET_MODIFIED = 38,         // to the user only: [38]
    ID_UNCONNECTED_PONG = 39,        // [39][u32 echoed ms][offline-ping response]
    ID_TIMESTAMPED = 40,             // [40][u32 sender ms][id ...]
    ID_STATIC_DATA = 41,             // [41][static data]
    ID_REMOTE_CLIENT_CLOSED = 42,    // [42][u32 address][u16 port][u16 index]
    ID_REMOTE_CLIENT_LOST = 43,      // [43][u32 address][u16 port][u16 index]
    ID_REMOTE_CLIENT_NEW = 44,       // [44][u32 address][u16 port][u16 index]
    ID_REMOTE_CLIENT_EXISTING = 45,  // [45][u32 address][u16 port][u16 index]
    ID_STATIC_DATA_OF = 46,          // [46][u32 address][u16 port][data]
    ID_ADVERTISE = 55,               // [55][at most 400 bytes] or [55][0]
    ID_SPLIT_PROGRESS = 92,          // [92][u32 received][u32 count][u32 piece 0 bytes][piece 0]

    // The game's synchronisation packets (records in server/shared/SyncRecords.h).
    ID_VEHICLE_SYNC = 200,
    ID_AIM_SYNC = 203,
    ID_WEAPONS_UPDATE = 204,
    ID_STATS_UPDATE = 205,
    ID_BULLET_SYNC = 206,
    ID_PLAYER_SYNC = 207,
    ID_UNOCCUPIED_SYNC = 209,
    ID_TRAILER_SYNC = 210,
    ID_PASSENGER_SYNC = 211,
    ID_SPECTATOR_SYNC = 212,
};

// Identifiers from here upwards are handed to the user by a connected peer.
inline constexpr uint8_t kFirstUserVisibleIdentifier = ID_RPC_CALL;

// The notices the peer itself hands its user: a system asks for a connection, a connection
// closed or was lost, a request was refused, a datagram was tampered with. A message from the
// network that carries one (also behind a timestamp) is dropped: its sender would be speaking
// for the peer, and the game acts on these. ([31] is not among them: a server refuses a
// connection request with it over the connection itself, and the client's user must see that.)
constexpr bool IsPeerNotice(uint8_t id) {
    switch (id) {
        case ID_CONN_INCOMING:
        case ID_CONN_ATTEMPT_FAILED:
        case ID_CONN_CLOSED:
        case ID_CONN_LOST:
        case ID_PUBLIC_KEY_MISMATCH:
        case ID_CONN_BANNED:
        case ID_PACKET_MODIFIED: return true;
        default: return false;
    }
}

}  // namespace velt
