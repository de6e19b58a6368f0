#pragma once
// The natives tests' tables: one row per native call with what it returns for the ids that name
// its entity and for those that name none, and the RPCs it sends, spelled out byte by byte in the
// wire's little-endian order.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "server/vm/vm.h"
#include "tests/script/natives_server_fixture.h"
#include "tests/server/FakeNetServer.h"
#include "tests/server/sent_rpcs.h"

namespace velt::scripttest {

using test::Bytes;
using test::Cat;
using test::F32;
using test::Text;
using test::U16;
using test::U32;
using test::U8;
using Rpc = test::SentRpc;

// Every RPC the fake sent since the last call, in order, then forgets them; each must go reliable
// ordered on channel 2 with priority 1, as the natives send.
inline std::vector<Rpc> TakeRpcs(test::FakeNetServer& net) { return test::TakeWorldRpcs(net); }

struct NativeRow {
    const char* native;
    std::function<std::vector<cell>(cell id)> args;
    cell ok;    // the result for an id that names the entity
    cell fail;  // the result for an id that names none
    std::vector<Rpc> rpcs;
    // Puts the entity back before each run on a good id; what it sends is not the row's.
    std::function<void()> reset = {};
    std::function<void()> check = {};  // what the native wrote, after each run on a good id
};

// Calls each row's native with every good id (its result and RPCs as the row says) and every bad
// id (its failure value, nothing sent), in row order.
inline void RunNativeRows(NativeScript& script, test::FakeNetServer& net, const std::vector<NativeRow>& rows,
                          const std::vector<cell>& goodIds, const std::vector<cell>& badIds) {
    for (const NativeRow& row : rows) {
        for (cell id : goodIds) {
            if (row.reset) row.reset();
            net.sent.clear();
            EXPECT_EQ(script.Call(row.native, row.args(id)), (Outcome{0, row.ok})) << row.native << " " << id;
            EXPECT_EQ(TakeRpcs(net), row.rpcs) << row.native << " " << id;
            if (row.check) row.check();
        }
        for (cell id : badIds) {
            EXPECT_EQ(script.Call(row.native, row.args(id)), (Outcome{0, row.fail}))
                << row.native << " " << id;
            EXPECT_TRUE(TakeRpcs(net).empty()) << row.native << " " << id;
        }
    }
}

}  // namespace velt::scripttest
