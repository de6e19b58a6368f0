#pragma once
// Tables, rows and single cells as bits of a BitStream, and back. The readers take bytes from
// other systems: every count is checked against the limits below and against the bits that are
// actually there before anything is allocated for it.

#include <cstdint>

#include "net/BitStream.h"
#include "net/ext/Table.h"

namespace velt {

class TableSerializer {
public:
    static constexpr uint32_t kMaxBinaryBytes = 10000000;
    static constexpr uint32_t kMaxColumns = 10000;
    static constexpr uint32_t kMaxRows = 100000;
    // Cells one table may announce (columns times rows). An empty cell costs one bit on the
    // wire and a few dozen bytes in memory, so without this bound a message of a few
    // megabytes could ask for gigabytes.
    static constexpr uint64_t kMaxCells = 1u << 20;
    // Texts of string cells: at most 65534 characters plus the terminator.
    static constexpr int32_t kMaxStringChars = 65535;
    // Column names: at most 31 characters plus the terminator.
    static constexpr int32_t kColumnNameChars = 32;

    // An empty bit, then (unless empty) the value in the column's type. The type must be one
    // of the three.
    static void SerializeCell(BitStream* out, const DataStructures::Table::Cell* cell,
                              DataStructures::Table::ColumnType columnType);
    // Clears the cell and reads one value of the type. False, with the cell empty, when the
    // bits run out, the type is unknown or a binary count passes kMaxBinaryBytes.
    static bool DeserializeCell(BitStream* in, DataStructures::Table::Cell* cell,
                                DataStructures::Table::ColumnType columnType);

    // The row id, then one cell per column in column order.
    static void SerializeRow(const DataStructures::Table::Row* row, uint32_t rowId,
                             const DataStructures::List<DataStructures::TableColumn>& columns,
                             BitStream* out);
    // Adds one row to table. False, with the table unchanged, when the id is taken or a cell
    // does not read.
    static bool DeserializeRow(BitStream* in, DataStructures::Table* table);

    // Columns (names and types), then every row in ascending id order.
    static void SerializeTable(const DataStructures::Table* table, BitStream* out);
    // Reads data in place (the caller keeps it) into table, which is cleared first. False on
    // any fault; rows read before the fault stay in the table.
    static bool DeserializeTable(const uint8_t* data, uint32_t dataLength, DataStructures::Table* table);
    static bool DeserializeTable(BitStream* in, DataStructures::Table* table);
};

}  // namespace velt
