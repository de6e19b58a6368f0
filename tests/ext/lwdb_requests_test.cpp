// Database requests as hostile bytes, straight into the server plugin: unknown types and
// operations, inflated counts and every cut-off point are dropped whole, changing nothing.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "net/NetworkFactory.h"
#include "net/Packet.h"
#include "net/StringCompressor.h"
#include "net/ext/LightweightDatabaseServer.h"

namespace velt {
namespace {

using DataStructures::Table;

const PlayerID kSender{0x0200007F, 4000};

class DatabaseRequests : public ::testing::Test {
protected:
    DatabaseRequests() {
        table =
            db.AddTable("t", true, true, true, nullptr, nullptr, nullptr, false, false, false, false, true);
        table->AddColumn("n", Table::NUMERIC);
        table->AddColumn("s", Table::STRING);
    }
    ~DatabaseRequests() override { DestroyNetPeer(peer); }

    static void Header(BitStream& out, uint8_t id) {
        out.Write(id);
        StringCompressor::Instance()->EncodeString("t", 32, out);
        out.Write(false);  // no password
    }
    // Column name, then the type byte as given.
    static void NameAndType(BitStream& out, const char* column, uint8_t type) {
        StringCompressor::Instance()->EncodeString(column, 32, out);
        out.Write(type);
    }
    PluginReceiveResult Deliver(const BitStream& message, int32_t bits = -1) {
        const uint32_t used = uint32_t(bits < 0 ? message.GetNumberOfBitsUsed() : bits);
        Packet* packet = NewPacket((used + 7) / 8);
        if (used > 0) std::memcpy(packet->data, message.GetData(), (used + 7) / 8);
        packet->bitLength = used;
        packet->sender = kSender;
        const PluginReceiveResult result = db.Received(peer, packet);
        FreePacket(packet);
        return result;
    }

    NetPeerInterface* peer = CreateNetPeer();  // never started: replies go nowhere
    LightweightDatabaseServer db;
    Table* table = nullptr;
};

TEST_F(DatabaseRequests, UnknownTypesAndOperationsAreMalformed) {
    struct Case {
        uint8_t type, operation;
        bool malformed;
    };
    const Case cases[] = {{Table::NUMERIC, Table::FilterEqual, false},
                          {3, Table::FilterIsEmpty, true},
                          {255, Table::FilterIsEmpty, true},
                          {Table::NUMERIC, 6, true},
                          {Table::STRING, 255, true}};
    for (const Case& c : cases) {
        BitStream query;
        Header(query, ID_DB_QUERY_REQUEST);
        query.Write(uint8_t(0));  // all columns
        query.Write(uint8_t(1));
        NameAndType(query, "n", c.type);
        query.Write(c.operation);
        query.Write(false);  // a value, for the operations that compare
        query.Write(int32_t(1));
        query.Write(uint8_t(0));  // all rows
        const uint32_t before = db.GetStatistics().malformedRequests;
        EXPECT_EQ(Deliver(query), PRR_DEALLOCATE);
        EXPECT_EQ(db.GetStatistics().malformedRequests - before, c.malformed ? 1u : 0u)
            << int(c.type) << "/" << int(c.operation);
    }

    // A comparison without a value is malformed too.
    BitStream valueless;
    Header(valueless, ID_DB_QUERY_REQUEST);
    valueless.Write(uint8_t(0));
    valueless.Write(uint8_t(1));
    NameAndType(valueless, "n", Table::NUMERIC);
    valueless.Write(uint8_t(Table::FilterLessThan));
    valueless.Write(true);  // empty
    valueless.Write(uint8_t(0));
    const uint32_t before = db.GetStatistics().malformedRequests;
    Deliver(valueless);
    EXPECT_EQ(db.GetStatistics().malformedRequests - before, 1u);
}

// An update whose second cell is unreadable, or that announces more cells than it carries,
// applies none of them; so does every cut of a good one.
TEST_F(DatabaseRequests, UpdatesApplyWholeOrNotAtAll) {
    auto build = [](BitStream& out, uint8_t secondType, uint8_t count) {
        Header(out, ID_DB_UPDATE_ROW);
        out.Write(uint8_t(2));  // add a row
        out.Write(false);       // no row id: the server picks one
        out.Write(count);
        NameAndType(out, "n", Table::NUMERIC);
        out.Write(false);
        out.Write(int32_t(42));
        NameAndType(out, "s", secondType);
        out.Write(false);
        StringCompressor::Instance()->EncodeString("text", 65535, out);
    };
    BitStream badType, inflated, good;
    build(badType, 3, 2);
    build(inflated, Table::STRING, 255);
    build(good, Table::STRING, 2);
    EXPECT_EQ(Deliver(badType), PRR_DEALLOCATE);
    EXPECT_EQ(Deliver(inflated), PRR_DEALLOCATE);
    EXPECT_EQ(db.GetStatistics().malformedRequests, 2u);
    EXPECT_EQ(table->GetRowCount(), 0u);

    for (int32_t bits = 8; bits < good.GetNumberOfBitsUsed(); ++bits) {
        EXPECT_EQ(Deliver(good, bits), PRR_DEALLOCATE);
        ASSERT_EQ(table->GetRowCount(), 0u) << "cut at bit " << bits;
    }
    EXPECT_EQ(db.GetStatistics().malformedRequests, uint32_t(2 + good.GetNumberOfBitsUsed() - 8));
    Deliver(good);
    ASSERT_EQ(table->GetRowCount(), 1u);
    EXPECT_EQ(table->GetRowByID(0)->cells[0]->integer, 42);
    EXPECT_STREQ(table->GetRowByID(0)->cells[1]->data, "text");

    BitStream removeCut;
    Header(removeCut, ID_DB_REMOVE_ROW);
    removeCut.Write(uint16_t(0));  // half a row id
    Deliver(removeCut);
    EXPECT_EQ(table->GetRowCount(), 1u);

    BitStream other;
    other.Write(uint8_t(200));
    EXPECT_EQ(Deliver(other), PRR_CONTINUE);
}

}  // namespace
}  // namespace velt
