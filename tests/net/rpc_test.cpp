// The RPC wire form, bit for bit, and what dispatch does with well-formed and broken calls.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "net/BitStream.h"
#include "net/RpcTable.h"

namespace velt {
namespace {

std::string Hex(const uint8_t* data, size_t n) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[data[i] >> 4];
        s += digits[data[i] & 15];
    }
    return s;
}

std::string Frame(uint8_t id, std::vector<uint8_t> args, uint32_t bits, bool stamp = false, NetTime time = 0,
                  int32_t* bitCount = nullptr) {
    BitStream out;
    WriteRpcMessage(out, id, args.empty() ? nullptr : args.data(), bits, stamp, time);
    if (bitCount) *bitCount = out.GetNumberOfBitsUsed();
    return Hex(out.GetData(), out.GetNumberOfBytesUsed());
}

TEST(RpcWire, FramesAreBitExact) {
    int32_t bits = 0;
    // No arguments: the count 0 (compressed: 1111 0000) twice.
    EXPECT_EQ(Frame(0x11, {}, 0, false, 0, &bits), "1411f0f0");
    EXPECT_EQ(bits, 32);
    // 5 bits 10101 straight after the compressed count 5 (1111 0101), no alignment.
    EXPECT_EQ(Frame(7, {0xA8}, 5, false, 0, &bits), "1407f5a8");
    EXPECT_EQ(bits, 29);
    // 13 bits: count 1111 1101, then 11011110 10101.
    EXPECT_EQ(Frame(0x30, {0xDE, 0xAF}, 13, false, 0, &bits), "1430fddea8");
    EXPECT_EQ(bits, 37);
    // A count above 15 leaves the nibble form: 111 0 00010000, then 00000001 00000010.
    EXPECT_EQ(Frame(2, {0x01, 0x02}, 16, false, 0, &bits), "1402e1001020");
    EXPECT_EQ(bits, 16 + 12 + 16);
    // Timestamp prefix: [40][u32 little-endian].
    EXPECT_EQ(Frame(9, {}, 0, true, 0x11223344u, &bits), "28443322111409f0f0");
    EXPECT_EQ(bits, 72);
}

struct Seen {
    int calls = 0;
    bool nullPayload = false;
    uint32_t bits = 0;
    std::vector<uint8_t> payload;
    PlayerID sender{};
    NetPeer* recipient = nullptr;
};
Seen g_seen;

void Record(RpcCallParams* p) {
    ++g_seen.calls;
    g_seen.nullPayload = p->payload == nullptr;
    g_seen.bits = p->payloadBits;
    g_seen.payload.assign(p->payload, p->payload + (p->payload ? (p->payloadBits + 7) / 8 : 0));
    g_seen.sender = p->sender;
    g_seen.recipient = p->recipient;
}
void Other(RpcCallParams*) { g_seen.calls += 100; }

std::vector<uint8_t> Bytes(const BitStream& s) {
    return std::vector<uint8_t>(s.GetData(), s.GetData() + s.GetNumberOfBytesUsed());
}

TEST(RpcDispatch, CallsCarryArgumentsSenderAndRecipient) {
    RpcTable table;
    table.Register(7, Record, false);
    auto* peer = reinterpret_cast<NetPeer*>(0x1000);
    const PlayerID from{0x0100007F, 4000};

    const uint8_t args[3] = {0xDE, 0xAD, 0xB0};
    BitStream s;
    WriteRpcMessage(s, 7, args, 20, false, 0);
    auto bytes = Bytes(s);
    g_seen = {};
    EXPECT_EQ(DispatchRpcMessage(table, bytes.data(), uint32_t(bytes.size()), from, peer),
              RpcDispatchResult::Called);
    EXPECT_EQ(g_seen.calls, 1);
    EXPECT_EQ(g_seen.bits, 20u);
    ASSERT_EQ(g_seen.payload.size(), 3u);
    EXPECT_EQ(g_seen.payload[0], 0xDE);
    EXPECT_EQ(g_seen.payload[1], 0xAD);
    EXPECT_EQ(g_seen.payload[2] & 0xF0, 0xB0);  // left-aligned
    EXPECT_EQ(g_seen.sender, from);
    EXPECT_EQ(g_seen.recipient, peer);

    // Timestamped: the handler sees the same arguments, never the time.
    BitStream t;
    WriteRpcMessage(t, 7, args, 20, true, 12345);
    bytes = Bytes(t);
    g_seen = {};
    EXPECT_EQ(DispatchRpcMessage(table, bytes.data(), uint32_t(bytes.size()), from, peer),
              RpcDispatchResult::Called);
    EXPECT_EQ(g_seen.bits, 20u);
    EXPECT_EQ(g_seen.payload[0], 0xDE);

    // No arguments: a null payload and 0 bits.
    BitStream z;
    WriteRpcMessage(z, 7, nullptr, 0, false, 0);
    bytes = Bytes(z);
    g_seen = {};
    EXPECT_EQ(DispatchRpcMessage(table, bytes.data(), uint32_t(bytes.size()), from, peer),
              RpcDispatchResult::Called);
    EXPECT_TRUE(g_seen.nullPayload);
    EXPECT_EQ(g_seen.bits, 0u);
}

TEST(RpcDispatch, LargeArgumentsLeaveTheStackBuffer) {
    RpcTable table;
    table.Register(3, Record, false);
    std::vector<uint8_t> args(9000);
    for (size_t i = 0; i < args.size(); ++i) args[i] = uint8_t(i * 7);
    BitStream s;
    WriteRpcMessage(s, 3, args.data(), 9000 * 8 - 3, false, 0);
    auto bytes = Bytes(s);
    g_seen = {};
    ASSERT_EQ(DispatchRpcMessage(table, bytes.data(), uint32_t(bytes.size()), {1, 1}, nullptr),
              RpcDispatchResult::Called);
    EXPECT_EQ(g_seen.bits, 9000u * 8 - 3);
    EXPECT_EQ(std::memcmp(g_seen.payload.data(), args.data(), 8999), 0);
}

TEST(RpcDispatch, BrokenAndRefusedCallsRunNothing) {
    RpcTable table;
    table.Register(7, Record, false);
    table.Register(255, Record, false);  // registered, still never run

    const uint8_t args[2] = {0xFF, 0xFF};
    BitStream good;
    WriteRpcMessage(good, 7, args, 16, false, 0);
    std::vector<uint8_t> full = Bytes(good);
    BitStream id255;
    WriteRpcMessage(id255, 255, args, 16, false, 0);
    BitStream unknown;
    WriteRpcMessage(unknown, 8, args, 16, false, 0);
    // Declares 0xFFFFFFFF bits: refused before anything is sized by it.
    BitStream huge;
    huge.Write(uint8_t{20});
    huge.Write(uint8_t{7});
    huge.WriteCompressed(uint32_t{0xFFFFFFFFu});
    huge.Write(uint8_t{1});

    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        RpcDispatchResult expected;
    };
    const Case cases[] = {
        {"id 255", Bytes(id255), RpcDispatchResult::NeverDispatched},
        {"unregistered id", Bytes(unknown), RpcDispatchResult::Unregistered},
        {"one argument byte short", std::vector<uint8_t>(full.begin(), full.end() - 1),
         RpcDispatchResult::Truncated},
        {"4 of 16 argument bits", std::vector<uint8_t>(full.begin(), full.begin() + 4),
         RpcDispatchResult::Truncated},
        {"length cut off", {20, 7, 0x00}, RpcDispatchResult::UnreadableHeader},
        {"id cut off", {20}, RpcDispatchResult::UnreadableHeader},
        {"timestamp without call", {40, 1, 2, 3, 4, 20}, RpcDispatchResult::UnreadableHeader},
        {"timestamped other message", {40, 1, 2, 3, 4, 21, 7}, RpcDispatchResult::NotRpc},
        {"huge declared length", Bytes(huge), RpcDispatchResult::Truncated},
        {"not a call", {21, 7, 0xF0}, RpcDispatchResult::NotRpc},
        {"empty", {}, RpcDispatchResult::NotRpc},
    };
    for (const Case& c : cases) {
        g_seen = {};
        EXPECT_EQ(DispatchRpcMessage(table, c.bytes.data(), uint32_t(c.bytes.size()), {1, 1}, nullptr),
                  c.expected)
            << c.name;
        EXPECT_EQ(g_seen.calls, 0) << c.name;
    }
}

TEST(RpcTableRegistration, IdZeroNullAndReplacement) {
    RpcTable table;
    EXPECT_TRUE(table.IsEmpty());
    table.Register(0, Record, false);
    table.Register(5, nullptr, false);
    EXPECT_EQ(table.Lookup(0), nullptr);
    EXPECT_EQ(table.Lookup(5), nullptr);

    table.Register(5, Record, false);
    table.Register(5, Other, true);
    const RpcNode* node = table.Lookup(5);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->handler, &Other);
    EXPECT_EQ(node->id, 5);
    EXPECT_EQ(node->isMember, 1);

    const uint8_t msg[] = {20, 5, 0xF0, 0xF0};
    g_seen = {};
    EXPECT_EQ(DispatchRpcMessage(table, msg, 4, {1, 1}, nullptr), RpcDispatchResult::Called);
    EXPECT_EQ(g_seen.calls, 100);  // the second handler only
}

}  // namespace
}  // namespace velt
