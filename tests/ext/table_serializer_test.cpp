// Tables through bit streams: what goes in comes out, every cut-off message fails cleanly, and
// the limits hold against inflated counts.

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "net/StringCompressor.h"
#include "net/ext/TableSerializer.h"

namespace velt {
namespace {

using DataStructures::Table;

// A table with every type, empty cells, the empty text, a zero-length binary value and ids
// out of order.
void FillSample(Table& table) {
    table.AddColumn("number", Table::NUMERIC);
    table.AddColumn("text", Table::STRING);
    table.AddColumn("bytes", Table::BINARY);
    Table::Row* r9 = table.AddRow(9);
    r9->cells[0]->Set(-12345);
    r9->cells[1]->Set("nine");
    r9->cells[2]->Set("\x00\x01\xff", 3);
    Table::Row* r2 = table.AddRow(2);
    r2->cells[1]->Set("");
    r2->cells[2]->Set(nullptr, 0);
    Table::Row* r5 = table.AddRow(5);
    r5->cells[0]->Set(7);
}

std::vector<uint32_t> IdsOf(const Table& table) {
    std::vector<uint32_t> ids;
    for (const Table::RowPage* page = table.GetListHead(); page != nullptr; page = page->next)
        for (int32_t i = 0; i < page->size; ++i) ids.push_back(page->keys[i]);
    return ids;
}

TEST(TableSerializer, RoundTripKeepsColumnsIdsAndValues) {
    Table original, copy;
    FillSample(original);
    BitStream bits;
    TableSerializer::SerializeTable(&original, &bits);
    copy.AddColumn("stale", Table::NUMERIC);
    ASSERT_TRUE(
        TableSerializer::DeserializeTable(bits.GetData(), uint32_t(bits.GetNumberOfBytesUsed()), &copy));

    ASSERT_EQ(copy.GetColumnCount(), 3u);
    EXPECT_STREQ(copy.ColumnName(1), "text");
    EXPECT_EQ(copy.GetColumnType(2), Table::BINARY);
    EXPECT_EQ(IdsOf(copy), (std::vector<uint32_t>{2, 5, 9}));
    const Table::Row* r9 = copy.GetRowByID(9);
    EXPECT_EQ(r9->cells[0]->integer, -12345);
    EXPECT_STREQ(r9->cells[1]->data, "nine");
    ASSERT_EQ(r9->cells[2]->integer, 3);
    EXPECT_EQ(std::string(r9->cells[2]->data, 3), std::string("\x00\x01\xff", 3));
    const Table::Row* r2 = copy.GetRowByID(2);
    EXPECT_TRUE(r2->cells[0]->isEmpty);
    EXPECT_FALSE(r2->cells[1]->isEmpty) << "the empty text is a value";
    EXPECT_EQ(r2->cells[1]->data, nullptr);
    EXPECT_FALSE(r2->cells[2]->isEmpty);
    EXPECT_EQ(r2->cells[2]->integer, 0);
    EXPECT_TRUE(copy.GetRowByID(5)->cells[2]->isEmpty);

    BitStream again;
    TableSerializer::SerializeTable(&copy, &again);
    ASSERT_EQ(again.GetNumberOfBitsUsed(), bits.GetNumberOfBitsUsed());
    EXPECT_EQ(std::memcmp(again.GetData(), bits.GetData(), size_t(bits.GetNumberOfBytesUsed())), 0);
}

TEST(TableSerializer, EmptyCellCostsOneBitInEveryType) {
    for (Table::ColumnType type : {Table::NUMERIC, Table::STRING, Table::BINARY}) {
        Table::Cell empty, read;
        read.Set(1);
        BitStream bits;
        TableSerializer::SerializeCell(&bits, &empty, type);
        EXPECT_EQ(bits.GetNumberOfBitsUsed(), 1);
        EXPECT_TRUE(TableSerializer::DeserializeCell(&bits, &read, type));
        EXPECT_TRUE(read.isEmpty);
    }
}

TEST(TableSerializer, EveryTruncationFailsCleanly) {
    Table original;
    FillSample(original);
    BitStream bits;
    TableSerializer::SerializeTable(&original, &bits);
    const int32_t total = bits.GetNumberOfBitsUsed();
    for (int32_t cut = 0; cut < total; ++cut) {
        BitStream in(bits.GetData(), uint32_t(bits.GetNumberOfBytesUsed()), false);
        in.SetWriteCursor(cut);
        Table table;
        EXPECT_FALSE(TableSerializer::DeserializeTable(&in, &table)) << "cut at bit " << cut;
        EXPECT_LE(table.GetRowCount(), 3u);
    }
    // Byte-wise, through the entry point that takes the received bytes.
    for (int32_t length = 0; length < bits.GetNumberOfBytesUsed(); ++length) {
        Table table;
        EXPECT_FALSE(TableSerializer::DeserializeTable(bits.GetData(), uint32_t(length), &table));
    }
}

// Header of a table message: column count, then (name, type) per column, then the row count.
void Header(BitStream& bits, uint32_t columns, uint32_t rows, uint8_t type = Table::NUMERIC,
            const char* name = "c") {
    bits.Write(columns);
    for (uint32_t i = 0; i < columns; ++i) {
        StringCompressor::Instance()->EncodeString(name, 32, bits);
        bits.Write(type);
    }
    bits.Write(rows);
}

bool Reads(BitStream& bits) {
    Table table;
    BitStream in(bits.GetData(), uint32_t(bits.GetNumberOfBytesUsed()), false);
    return TableSerializer::DeserializeTable(&in, &table);
}

TEST(TableSerializer, CountsAndTypesOutsideTheLimitsAreRefused) {
    BitStream manyColumns;
    Header(manyColumns, 10000, 0);
    EXPECT_TRUE(Reads(manyColumns));
    BitStream tooManyColumns;
    Header(tooManyColumns, 10001, 0);
    EXPECT_FALSE(Reads(tooManyColumns));

    BitStream manyRows;
    Header(manyRows, 0, 100000);
    for (uint32_t id = 0; id < 100000; ++id) manyRows.Write(id);
    EXPECT_TRUE(Reads(manyRows));
    BitStream tooManyRows;
    Header(tooManyRows, 0, 100001);
    for (uint32_t id = 0; id < 100001; ++id) tooManyRows.Write(id);
    EXPECT_FALSE(Reads(tooManyRows));

    // Empty cells cost a bit each: a table of mostly nothing is bounded by its cell count, not
    // by the length of the message.
    BitStream tooManyCells;
    Header(tooManyCells, 2000, 1000);
    for (uint32_t id = 0; id < 1000; ++id) {
        tooManyCells.Write(id);
        for (int c = 0; c < 2000; ++c) tooManyCells.Write(true);
    }
    EXPECT_FALSE(Reads(tooManyCells));

    BitStream unknownType;
    Header(unknownType, 1, 0, 3);
    EXPECT_FALSE(Reads(unknownType));
    BitStream nameless;
    Header(nameless, 1, 0, Table::NUMERIC, "");
    EXPECT_FALSE(Reads(nameless));

    BitStream duplicateRow;
    Header(duplicateRow, 1, 2);
    for (int i = 0; i < 2; ++i) {
        duplicateRow.Write(uint32_t(4));
        duplicateRow.Write(true);
    }
    EXPECT_FALSE(Reads(duplicateRow));
}

TEST(TableSerializer, BinaryCountLimit) {
    for (uint32_t count : {10000000u, 10000001u, 0xFFFFFFFFu}) {
        BitStream bits;
        bits.Write(false);
        bits.Write(count);
        bits.AlignWriteToByte();
        std::vector<uint8_t> payload(count <= 10000001u ? count : 16, 0xAB);
        bits.WriteBytes(payload.data(), int32_t(payload.size()));
        Table::Cell cell;
        EXPECT_EQ(TableSerializer::DeserializeCell(&bits, &cell, Table::BINARY), count == 10000000u) << count;
        EXPECT_EQ(cell.isEmpty, count != 10000000u);
    }
    BitStream shortBytes;
    shortBytes.Write(false);
    shortBytes.Write(uint32_t(5));
    shortBytes.WriteBytes("abcd", 4);
    Table::Cell cell;
    EXPECT_FALSE(TableSerializer::DeserializeCell(&shortBytes, &cell, Table::BINARY));
    EXPECT_FALSE(TableSerializer::DeserializeCell(&shortBytes, &cell, Table::ColumnType(7)));
}

TEST(TableSerializer, RandomBytesNeverBreakTheReader) {
    std::mt19937 random(11);
    Table sample;
    FillSample(sample);
    BitStream valid;
    TableSerializer::SerializeTable(&sample, &valid);
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> bytes(valid.GetData(), valid.GetData() + valid.GetNumberOfBytesUsed());
        for (int flips = 1 + int(random() % 4); flips > 0; --flips)
            bytes[random() % bytes.size()] ^= uint8_t(random());
        Table table;
        (void)TableSerializer::DeserializeTable(bytes.data(), uint32_t(bytes.size()), &table);
        EXPECT_LE(table.GetRowCount(), bytes.size() * 8 / 32) << "every row costs at least its id";
    }
}

}  // namespace
}  // namespace velt
