#include "net/ext/TableSerializer.h"

#include <memory>

#include "net/StringCompressor.h"

namespace velt {

using DataStructures::Table;

void TableSerializer::SerializeCell(BitStream* out, const Table::Cell* cell, Table::ColumnType columnType) {
    VELT_DS_ASSERT(uint8_t(columnType) < Table::kColumnTypeCount, "columnType is NUMERIC, STRING or BINARY");
    if (cell == nullptr || cell->isEmpty) {
        out->Write(true);
        return;
    }
    out->Write(false);
    if (columnType == Table::NUMERIC) {
        out->Write(cell->integer);
    } else if (columnType == Table::STRING) {
        StringCompressor::Instance()->EncodeString(cell->Text(), kMaxStringChars, *out);
    } else {
        const int32_t count = cell->ByteCount();
        out->Write(uint32_t(count));
        out->AlignWriteToByte();
        if (count > 0) out->WriteBytes(cell->data, count);
    }
}

bool TableSerializer::DeserializeCell(BitStream* in, Table::Cell* cell, Table::ColumnType columnType) {
    cell->Clear();
    if (uint8_t(columnType) >= Table::kColumnTypeCount) return false;
    bool empty = false;
    if (!in->ReadOneBit(empty)) return false;
    if (empty) return true;

    if (columnType == Table::NUMERIC) {
        int32_t value = 0;
        if (!in->Read(value)) return false;
        cell->Set(value);
        return true;
    }
    if (columnType == Table::STRING) {
        std::unique_ptr<char[]> text(new char[size_t(kMaxStringChars) + 1]);
        if (!StringCompressor::Instance()->DecodeString(text.get(), kMaxStringChars, *in)) return false;
        cell->Set(text.get());
        return true;
    }
    uint32_t count = 0;
    if (!in->Read(count) || count > kMaxBinaryBytes) return false;
    in->AlignReadToByte();
    if (uint32_t(in->GetNumberOfUnreadBits()) / 8u < count) return false;
    if (count == 0) {
        cell->Set(nullptr, 0);
        return true;
    }
    // The bytes are read in place and copied once, into the cell.
    const uint8_t* bytes = in->GetData() + in->GetReadOffset() / 8;
    cell->Set(reinterpret_cast<const char*>(bytes), int32_t(count));
    in->SkipBits(int32_t(count * 8u));
    return true;
}

void TableSerializer::SerializeRow(const Table::Row* row, uint32_t rowId,
                                   const DataStructures::List<DataStructures::TableColumn>& columns,
                                   BitStream* out) {
    out->Write(rowId);
    for (uint32_t i = 0; i < columns.Size(); ++i)
        SerializeCell(out, i < row->cells.Size() ? row->cells[i] : nullptr, columns[i].columnType);
}

bool TableSerializer::DeserializeRow(BitStream* in, Table* table) {
    uint32_t rowId = 0;
    if (!in->Read(rowId)) return false;
    Table::Row* row = table->AddRow(rowId);
    if (row == nullptr) return false;
    for (uint32_t i = 0; i < table->GetColumnCount(); ++i) {
        if (!DeserializeCell(in, row->cells[i], table->GetColumnType(i))) {
            table->RemoveRow(rowId);
            return false;
        }
    }
    return true;
}

void TableSerializer::SerializeTable(const Table* table, BitStream* out) {
    const DataStructures::List<DataStructures::TableColumn>& columns = table->GetColumns();
    out->Write(columns.Size());
    for (uint32_t i = 0; i < columns.Size(); ++i) {
        StringCompressor::Instance()->EncodeString(columns[i].columnName, kColumnNameChars, *out);
        out->Write(uint8_t(columns[i].columnType));
    }
    out->Write(table->GetRowCount());
    for (const Table::RowPage* page = table->GetListHead(); page != nullptr; page = page->next)
        for (int32_t i = 0; i < page->size; ++i) SerializeRow(page->data[i], page->keys[i], columns, out);
}

bool TableSerializer::DeserializeTable(const uint8_t* data, uint32_t dataLength, Table* table) {
    BitStream in(data, dataLength, false);
    return DeserializeTable(&in, table);
}

bool TableSerializer::DeserializeTable(BitStream* in, Table* table) {
    uint32_t columnCount = 0;
    if (!in->Read(columnCount) || columnCount > kMaxColumns) return false;
    table->Clear();
    for (uint32_t i = 0; i < columnCount; ++i) {
        char name[kColumnNameChars];
        uint8_t type = 0;
        if (!StringCompressor::Instance()->DecodeString(name, kColumnNameChars, *in)) return false;
        if (!in->Read(type)) return false;
        // An unknown type would reach the cell readers with a type they cannot read, and a
        // nameless column cannot be added: either way every later field would be misread.
        if (type >= Table::kColumnTypeCount || name[0] == '\0') return false;
        table->AddColumn(name, Table::ColumnType(type));
    }
    uint32_t rowCount = 0;
    if (!in->Read(rowCount) || rowCount > kMaxRows) return false;
    if (uint64_t(rowCount) * columnCount > kMaxCells) return false;
    for (uint32_t i = 0; i < rowCount; ++i)
        if (!DeserializeRow(in, table)) return false;
    return true;
}

}  // namespace velt
