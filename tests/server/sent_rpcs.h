#pragma once

// What the fake transport sent, as plain values to compare whole: each RPC with its receiver's
// slot and its payload bytes, and the little builders of expected payloads.

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

#include "tests/server/FakeNetServer.h"

namespace velt::test {

using Bytes = std::vector<uint8_t>;

inline Bytes U8(uint32_t v) { return {uint8_t(v)}; }
inline Bytes U16(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }
inline Bytes U32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
inline Bytes F32(float f) { return U32(std::bit_cast<uint32_t>(f)); }
inline Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }
inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct SentRpc {
    uint8_t id;
    uint16_t to;
    Bytes payload;
    bool operator==(const SentRpc&) const = default;
};
inline std::ostream& operator<<(std::ostream& os, const SentRpc& r) {
    os << "{rpc " << int(r.id) << " to " << r.to << ":";
    for (uint8_t b : r.payload) os << " " << int(b);
    return os << "}";
}

// Every message sent since the last call, in order, then forgotten. Each must be an RPC on the
// world channel, reliable ordered with priority 1.
inline std::vector<SentRpc> TakeWorldRpcs(FakeNetServer& net) {
    std::vector<SentRpc> out;
    for (const FakeNetServer::Message& m : net.sent) {
        EXPECT_TRUE(m.isRpc);
        EXPECT_EQ(m.priority, HIGH_PRIORITY_LEVEL);
        EXPECT_EQ(m.reliability, RELIABILITY_RELIABLE_ORDERED);
        EXPECT_EQ(m.channel, 2);
        out.push_back({m.rpcId, uint16_t(net.GetIndexFromPlayerID(m.target)), m.bytes});
    }
    net.sent.clear();
    return out;
}

}  // namespace velt::test
