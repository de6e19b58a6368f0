#pragma once
// The natives tests' tables: one row per native call with what it returns for the ids that name
// its entity and for those that name none, and the RPCs it sends, spelled out byte by byte in the
// wire's little-endian order.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <ostream>
#include <vector>

#include "server/vm/vm.h"
#include "tests/script/natives_server_fixture.h"
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

// Every RPC the fake sent since the last call, in order, then forgets them; each must go reliable
// ordered on channel 2 with priority 1, as the natives send.
inline std::vector<Rpc> TakeRpcs(test::FakeNetServer& net) {
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

struct NativeRow {
    const char* native;
    std::function<std::vector<cell>(cell id)> args;
    cell ok;    // the result for an id that names the entity
    cell fail;  // the result for an id that names none
    std::vector<Rpc> rpcs;
    std::function<void()> reset = {};  // puts the entity back before each run on a good id
};

// Calls each row's native with every good id (its result and RPCs as the row says) and every bad
// id (its failure value, nothing sent), in row order.
inline void RunNativeRows(NativeScript& script, test::FakeNetServer& net, const std::vector<NativeRow>& rows,
                          std::initializer_list<cell> goodIds, std::initializer_list<cell> badIds) {
    for (const NativeRow& row : rows) {
        for (cell id : goodIds) {
            if (row.reset) row.reset();
            EXPECT_EQ(script.Call(row.native, row.args(id)), (Outcome{0, row.ok})) << row.native << " " << id;
            EXPECT_EQ(TakeRpcs(net), row.rpcs) << row.native << " " << id;
        }
        for (cell id : badIds) {
            EXPECT_EQ(script.Call(row.native, row.args(id)), (Outcome{0, row.fail}))
                << row.native << " " << id;
            EXPECT_TRUE(TakeRpcs(net).empty()) << row.native << " " << id;
        }
    }
}

}  // namespace velt::scripttest
