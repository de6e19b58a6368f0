// The in-memory table: columns, rows in id order, cell values, and the corners of query, sort
// and print that a comparison with another database does not reach.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "net/ext/Table.h"

namespace velt::DataStructures {
namespace {

using Cell = Table::Cell;

std::vector<uint32_t> IdsOf(const Table& table) {
    std::vector<uint32_t> ids;
    for (const Table::RowPage* page = table.GetListHead(); page != nullptr; page = page->next)
        for (int32_t i = 0; i < page->size; ++i) ids.push_back(page->keys[i]);
    return ids;
}

TEST(Table, ColumnsComeAndGoWithTheirCells) {
    Table table;
    EXPECT_EQ(table.AddColumn("", Table::NUMERIC), Table::kNotFound);
    EXPECT_EQ(table.AddColumn(nullptr, Table::NUMERIC), Table::kNotFound);
    EXPECT_EQ(table.AddColumn("bad type", Table::ColumnType(3)), Table::kNotFound);
    EXPECT_EQ(table.GetColumnCount(), 0u);

    ASSERT_EQ(table.AddColumn("a", Table::NUMERIC), 0u);
    table.AddRow(1)->cells[0]->Set(11);
    table.AddRow(2);
    ASSERT_EQ(table.AddColumn(std::string(40, 'n').c_str(), Table::STRING), 1u);
    EXPECT_EQ(std::strlen(table.ColumnName(1)), Table::kColumnNameChars) << "long names are cut";
    ASSERT_EQ(table.AddColumn("a", Table::BINARY), 2u) << "names need not be unique";
    for (uint32_t id : {1u, 2u}) {
        ASSERT_EQ(table.GetRowByID(id)->cells.Size(), 3u);
        EXPECT_TRUE(table.GetRowByID(id)->cells[1]->isEmpty);
    }
    EXPECT_EQ(table.ColumnIndex("a"), 0u);
    EXPECT_EQ(table.ColumnIndex("missing"), Table::kNotFound);
    EXPECT_EQ(table.ColumnName(3), nullptr);
    EXPECT_EQ(table.GetColumnType(2), Table::BINARY);
    EXPECT_EQ(table.GetColumnType(9), Table::NUMERIC);

    table.RemoveColumn(0);
    table.RemoveColumn(7);
    EXPECT_EQ(table.GetColumnCount(), 2u);
    EXPECT_EQ(table.ColumnIndex("a"), 1u);
    EXPECT_EQ(table.GetRowByID(1)->cells.Size(), 2u);
}

TEST(Table, RowsAreUniqueAndWalkedInIdOrder) {
    Table table;
    table.AddColumn("v", Table::NUMERIC);
    ASSERT_NE(table.AddRow(7), nullptr);
    EXPECT_EQ(table.AddRow(7), nullptr);
    List<Cell> values;
    EXPECT_EQ(table.AddRow(7, values), nullptr);
    EXPECT_EQ(table.GetRowCount(), 1u);
    table.RemoveRow(7);

    std::vector<uint32_t> ids(100);
    std::iota(ids.begin(), ids.end(), 0u);
    for (uint32_t& id : ids) id = id * 37 + 5;
    std::vector<uint32_t> shuffled = ids;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(3));
    for (uint32_t id : shuffled) table.AddRow(id)->cells[0]->Set(int32_t(id));
    EXPECT_EQ(IdsOf(table), ids);
    EXPECT_EQ(table.GetRowCount(), 100u);
    EXPECT_EQ(table.GetRowByIndex(40), table.GetRowByID(ids[40]));
    EXPECT_EQ(table.GetRowByIndex(99), table.GetRowByID(ids[99]));
    EXPECT_EQ(table.GetRowByIndex(100), nullptr);

    Table doomed;
    for (size_t i = 0; i < ids.size(); i += 2) doomed.AddRow(ids[i]);
    doomed.AddRow(1);  // not in table
    table.RemoveRows(&doomed);
    EXPECT_EQ(table.GetRowCount(), 50u);
    EXPECT_EQ(table.GetRowByIndex(0), table.GetRowByID(ids[1]));
    table.RemoveRows(&table);
    EXPECT_EQ(table.GetRowCount(), 0u);
}

TEST(Table, CellValuesCopyAndUpdateAsClearThenSet) {
    Table table;
    table.AddColumn("n", Table::NUMERIC);
    table.AddColumn("s", Table::STRING);
    table.AddColumn("b", Table::BINARY);
    List<Cell> values;
    values.Insert(Cell());
    values[0].Set(5);
    values.Insert(Cell());
    values[1].Set("text");
    Table::Row* row = table.AddRow(1, values);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->cells[0]->integer, 5);
    EXPECT_STREQ(row->cells[1]->data, "text");
    EXPECT_TRUE(row->cells[2]->isEmpty) << "no value given for the third column";

    EXPECT_TRUE(table.UpdateCell(1, 0, 6));
    EXPECT_TRUE(table.UpdateCell(1, 1, "other"));
    EXPECT_TRUE(table.UpdateCell(1, 2, 3, "a\0b"));
    EXPECT_FALSE(table.UpdateCell(2, 0, 1));
    int32_t number = 0;
    char text[4];
    char bytes[3];
    int32_t count = 0;
    row->cells[0]->Get(&number);
    row->cells[1]->Get(text, sizeof text);
    EXPECT_EQ(row->cells[2]->Get(bytes, &count), 3);
    EXPECT_EQ(number, 6);
    EXPECT_STREQ(text, "oth") << "text is cut to the buffer";
    EXPECT_EQ(count, 3);
    EXPECT_EQ(std::memcmp(bytes, "a\0b", 3), 0);

    Cell empty;
    empty.Set("");
    EXPECT_FALSE(empty.isEmpty);
    EXPECT_EQ(empty.data, nullptr) << "the empty text is held as no data";
    Cell copy = *row->cells[2];
    EXPECT_EQ(copy.integer, 3);
    EXPECT_NE(copy.data, row->cells[2]->data);
}

TEST(TableDeathTest, SettingAFullCellStopsTheProgram) {
    Cell cell;
    cell.Set(1);
    EXPECT_DEATH(cell.Set(2), "isEmpty");
}

TEST(Table, QueryCornersOfFiltersRowIdsAndColumns) {
    Table table;
    table.AddColumn("name", Table::STRING);
    table.AddColumn("blob", Table::BINARY);
    table.AddRow(3)->cells[0]->Set("c");
    table.AddRow(5)->cells[1]->Set("xy", 2);
    table.AddRow(8)->cells[0]->Set("h");

    Table result;
    const uint32_t rowIds[] = {5, 3, 5, 99};
    table.Query(nullptr, 0, nullptr, 0, rowIds, 4, &result);
    EXPECT_EQ(IdsOf(result), (std::vector<uint32_t>{3, 5})) << "each listed row that exists, once";

    const uint32_t columns[] = {1, 7, 0};
    table.Query(columns, 3, nullptr, 0, nullptr, 0, &result);
    ASSERT_EQ(result.GetColumnCount(), 2u) << "columns past the end are skipped";
    EXPECT_STREQ(result.ColumnName(0), "blob");
    EXPECT_EQ(result.GetRowByID(5)->cells[0]->integer, 2);

    const uint32_t onlyBad[] = {9};
    table.Query(onlyBad, 1, nullptr, 0, nullptr, 0, &result);
    EXPECT_EQ(result.GetColumnCount(), 0u);
    EXPECT_EQ(result.GetRowCount(), 0u);

    struct Case {
        uint32_t column;
        Table::FilterQueryType operation;
        std::vector<uint32_t> passing;
    };
    const Case cases[] = {
        {0, Table::FilterEqual, {3}},    // row 5's empty name never equals
        {0, Table::FilterIsEmpty, {5}},  //
        {0, Table::FilterGreaterThan, {8}},   {1, Table::FilterGreaterThan, {}},  // no order on bytes
        {1, Table::FilterLessThan, {}},       {1, Table::FilterEqual, {5}},
        {1, Table::FilterNotEqual, {}},        // both other rows are empty
        {6, Table::FilterIsEmpty, {3, 5, 8}},  // a column past the end reads as empty
        {6, Table::FilterNotEmpty, {}},        //
        {0, Table::FilterQueryType(6), {}},    // unknown operations pass nothing
    };
    for (const Case& c : cases) {
        TableFilter filter;
        filter.columnIndex = c.column;
        filter.operation = c.operation;
        if (c.column == 1)
            filter.cellValue.Set("xy", 2);
        else
            filter.cellValue.Set("c");
        table.Query(nullptr, 0, &filter, 1, nullptr, 0, &result);
        EXPECT_EQ(IdsOf(result), c.passing) << "column " << c.column << " operation " << int(c.operation);
    }
}

TEST(Table, SortPutsEmptyCellsLastAndKeepsEveryRow) {
    Table table;
    table.AddColumn("v", Table::NUMERIC);
    table.AddColumn("b", Table::BINARY);
    table.AddRow(1)->cells[0]->Set(3);
    table.AddRow(2);
    table.AddRow(3)->cells[0]->Set(1);
    table.AddRow(4)->cells[0]->Set(3);
    auto order = [&](std::vector<TableSortKey> keys) {
        std::vector<Table::Row*> out(table.GetRowCount());
        table.Sort(keys.data(), uint32_t(keys.size()), out.data());
        std::vector<uint32_t> ids;
        for (Table::Row* row : out)
            for (uint32_t id : IdsOf(table))
                if (table.GetRowByID(id) == row) ids.push_back(id);
        return ids;
    };
    EXPECT_EQ(order({{0, Table::SortIncreasing}}), (std::vector<uint32_t>{3, 1, 4, 2}));
    EXPECT_EQ(order({{0, Table::SortDecreasing}}), (std::vector<uint32_t>{1, 4, 3, 2}));
    EXPECT_EQ(order({{1, Table::SortIncreasing}, {5, Table::SortIncreasing}}),
              (std::vector<uint32_t>{1, 2, 3, 4}))
        << "binary keys and keys past the end are ignored: id order";
}

TEST(Table, PrintRowDelimitsCutsAndReportsMismatch) {
    Table table;
    for (const char* name : {"a", "b", "c"}) table.AddColumn(name, Table::NUMERIC);
    Table::Row* row = table.AddRow(1);
    for (int i = 0; i < 3; ++i) row->cells[i]->Set(i + 1);
    char out[64];
    table.PrintRow(out, sizeof out, ',', false, row);
    EXPECT_STREQ(out, "1,2,3");
    table.PrintRow(out, 4, ',', false, row);
    EXPECT_STREQ(out, "1,2");
    std::memset(out, 'x', sizeof out);
    table.PrintRow(out, 1, ',', false, row);
    EXPECT_STREQ(out, "");
    table.PrintRow(out, 0, ',', false, row);
    EXPECT_EQ(out[0], '\0') << "size 0 writes nothing";

    table.AddColumn("bin", Table::BINARY);
    table.AddColumn("s", Table::STRING);
    row->cells[3]->Set("zz", 2);
    row->cells[4]->Set(std::string(600, 'q').c_str());
    std::vector<char> wide(1024);
    table.PrintRow(wide.data(), int32_t(wide.size()), ';', false, row);
    EXPECT_EQ(std::string(wide.data()), "1;2;3;" + std::string(510, 'q'));
    table.PrintRow(wide.data(), int32_t(wide.size()), ';', true, row);
    EXPECT_EQ(std::string(wide.data()), "1;2;3;;" + std::string(510, 'q'));

    Table::Row stray;
    table.PrintRow(out, sizeof out, ',', false, &stray);
    EXPECT_STREQ(out, "Cell width does not match column width.\n");
}

}  // namespace
}  // namespace velt::DataStructures
