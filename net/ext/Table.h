#pragma once
// A small in-memory relational table: typed columns, rows under unique unsigned ids, cells that
// may be empty, filtered queries copied into another table, sorting on several columns, and a
// text form of a row.

#include <cstddef>
#include <cstdint>

#include "net/BPlusTree.h"
#include "net/List.h"

namespace velt::DataStructures {

class Table {
public:
    enum ColumnType : uint8_t { NUMERIC = 0, STRING = 1, BINARY = 2 };
    static constexpr uint8_t kColumnTypeCount = 3;
    static constexpr uint32_t kNotFound = 0xFFFFFFFFu;
    // Column names hold at most this many characters; longer ones are cut.
    static constexpr uint32_t kColumnNameChars = 31;

    // One value. A numeric cell keeps it in integer; a string cell its zero-terminated text in
    // data (null for the empty text); a binary cell integer bytes in data. Setting a cell that
    // holds a value and reading an empty one are caller errors that stop the program: clear a
    // cell before setting it again.
    struct Cell {
        Cell() = default;
        ~Cell() { Clear(); }
        Cell(const Cell& other) { CopyFrom(other); }
        Cell& operator=(const Cell& other);

        void Set(int32_t input);
        // A copy of the text; null or the empty text leaves data null (the empty text).
        void Set(const char* input);
        // A copy of inputLength bytes; null input (or a length of 0 or less) stores none.
        void Set(const char* input, int32_t inputLength);
        void Get(int32_t* output) const;
        // The text, cut to outputSize - 1 characters and always terminated (nothing for a size
        // of 0); the empty text when the cell has none.
        void Get(char* output, size_t outputSize) const;
        // Copies the integer-many bytes (the caller's buffer holds them) and returns the count.
        int32_t Get(char* output, int32_t* outputLength) const;
        void Clear();

        // The text of a string cell, "" when it has none.
        const char* Text() const { return data != nullptr ? data : ""; }
        // The bytes of a binary cell; the count is 0 whenever there is no data behind it.
        int32_t ByteCount() const { return data != nullptr && integer > 0 ? integer : 0; }

        bool isEmpty = true;
        int32_t integer = 0;
        char* data = nullptr;

    private:
        void CopyFrom(const Cell& other);
    };

    struct Column {
        char columnName[kColumnNameChars + 1];
        ColumnType columnType;
    };

    // One cell per column, in column order; the row owns its cells.
    struct Row {
        List<Cell*> cells;
    };

    enum FilterQueryType : uint8_t {
        FilterEqual = 0,
        FilterNotEqual = 1,
        FilterGreaterThan = 2,
        FilterLessThan = 3,
        FilterIsEmpty = 4,
        FilterNotEmpty = 5,
    };
    static constexpr uint8_t kFilterQueryTypeCount = 6;

    struct FilterQuery {
        uint32_t columnIndex = 0;
        Cell cellValue;
        FilterQueryType operation = FilterEqual;
    };

    enum SortQueryType : uint8_t { SortIncreasing = 0, SortDecreasing = 1 };

    struct SortQuery {
        uint32_t columnIndex = 0;
        SortQueryType operation = SortIncreasing;
    };

    using RowTree = BPlusTree<uint32_t, Row*, 16>;
    using RowPage = RowTree::PageType;

    Table() = default;
    ~Table();
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    // Index of the new column, or kNotFound for an empty name or an unknown type. Every row
    // gains an empty cell for it.
    uint32_t AddColumn(const char* columnName, ColumnType columnType);
    // Drops the column and its cell in every row; an index past the end does nothing.
    void RemoveColumn(uint32_t columnIndex);
    // First column named exactly so, else kNotFound.
    uint32_t ColumnIndex(const char* columnName) const;
    // Null past the end.
    const char* ColumnName(uint32_t index) const;
    // NUMERIC past the end.
    ColumnType GetColumnType(uint32_t index) const;
    uint32_t GetColumnCount() const { return columns_.Size(); }
    uint32_t GetRowCount() const { return rows_.Size(); }
    const List<Column>& GetColumns() const { return columns_; }

    // A row of empty cells, or null when the id is taken.
    Row* AddRow(uint32_t rowId);
    // A row holding copies of cellValues (cell i typed by column i; missing or empty values
    // give empty cells), or null, with nothing stored, when the id is taken.
    Row* AddRow(uint32_t rowId, const List<Cell>& cellValues);
    void RemoveRow(uint32_t rowId);
    // Removes every row whose id is also in tableContainingRowIDs.
    void RemoveRows(const Table* tableContainingRowIDs);
    // Clear, then set. False when the row does not exist; the column must be of the value's
    // type (numeric, string, binary in that order).
    bool UpdateCell(uint32_t rowId, uint32_t columnIndex, int32_t value);
    bool UpdateCell(uint32_t rowId, uint32_t columnIndex, const char* text);
    bool UpdateCell(uint32_t rowId, uint32_t columnIndex, int32_t byteLength, const char* bytes);
    Row* GetRowByID(uint32_t rowId) const;
    // The row at that position in id order, null past the last one.
    Row* GetRowByIndex(uint32_t rowIndex) const;
    // First leaf of the row tree: walking the leaves gives every row in ascending id order.
    const RowPage* GetListHead() const { return rows_.GetListHead(); }

    // Fills result with the rows that pass every filter, under their own ids: with columnSubset
    // only those columns in that order (indexes past the end are skipped), with rowIds only
    // those rows. A filter passes an empty cell only when it asks for emptiness; so does a
    // filter on a column past the end. Greater/less on binary cells, and unknown operations,
    // pass no row.
    void Query(const uint32_t* columnSubset, uint32_t numColumnSubset, const FilterQuery* inclusionFilters,
               uint32_t numInclusionFilters, const uint32_t* rowIds, uint32_t numRowIDs, Table* result) const;
    // Writes every row once into out (GetRowCount entries), ordered by the keys in turn. An
    // empty cell goes after the values in either direction; keys on binary columns or past
    // the end are ignored; rows that tie on every key keep ascending id order.
    void Sort(const SortQuery* sortQueries, uint32_t numSortQueries, Row** out) const;
    // The row as text: numbers, texts (at most 510 characters each), nothing for empty and
    // binary cells, delimiter between columns (after a binary column only with
    // printDelimiterForBinary). Cut to outputSize, always terminated.
    void PrintRow(char* out, int32_t outputSize, char columnDelimiter, bool printDelimiterForBinary,
                  const Row* row) const;
    // Frees every row and forgets every column.
    void Clear();

private:
    static void DeleteRow(Row* row);
    static bool PassesFilter(const Cell& cell, ColumnType type, const FilterQuery& filter);

    List<Column> columns_;
    RowTree rows_;
};

using TableColumn = Table::Column;
using TableFilter = Table::FilterQuery;
using TableSortKey = Table::SortQuery;

}  // namespace velt::DataStructures
