#pragma once
// What the natives tests compare the fake transport's record with: payload bytes built field by
// field, little-endian, and the RPCs as (id, receiving slot, payload).

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <vector>

#include "server/vm/vm.h"
#include "tests/server/FakeNetServer.h"

namespace velt::scripttest {

using Bytes = std::vector<uint8_t>;

inline Bytes U8(uint32_t v) { return {uint8_t(v)}; }
inline Bytes U16(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }
inline Bytes U32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
inline Bytes F32(float f) { return U32(static_cast<uint32_t>(FloatToCell(f))); }
inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// An RPC as the fake transport saw it.
struct Rpc {
    uint8_t id;
    uint16_t to;
    Bytes payload;
    bool operator==(const Rpc&) const = default;
};
inline std::ostream& operator<<(std::ostream& os, const Rpc& r) {
    os << "{rpc " << int(r.id) << " to " << r.to << ":";
    for (uint8_t b : r.payload) os << " " << int(b);
    return os << "}";
}

// Every RPC sent since the last call, in order, and the record cleared; each must go reliable
// ordered on channel 2 with priority 1, as the natives send.
inline std::vector<Rpc> TakeWorldRpcs(test::FakeNetServer& net) {
    std::vector<Rpc> out;
    for (const test::FakeNetServer::Message& m : net.sent) {
        EXPECT_TRUE(m.isRpc);
        EXPECT_EQ(m.priority, HIGH_PRIORITY_LEVEL);
        EXPECT_EQ(m.reliability, RELIABILITY_RELIABLE_ORDERED);
        EXPECT_EQ(m.channel, 2);
        out.push_back({m.rpcId, static_cast<uint16_t>(net.GetIndexFromPlayerID(m.target)), m.bytes});
    }
    net.sent.clear();
    return out;
}

}  // namespace velt::scripttest
