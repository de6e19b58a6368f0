#include "net/ext/LightweightDatabaseCommon.h"

#include <cstring>

#include "net/StringCompressor.h"
#include "net/ext/TableSerializer.h"

namespace velt {

using DataStructures::Table;

namespace {

bool NeedsValue(Table::FilterQueryType operation) {
    return operation != Table::FilterIsEmpty && operation != Table::FilterNotEmpty;
}

// Name and type, the head both records share. Types past the three known ones are refused
// here, before any cell reader sees them.
bool ReadNameAndType(BitStream* in, char* name, Table::ColumnType& type) {
    uint8_t rawType = 0;
    if (!StringCompressor::Instance()->DecodeString(name, kDatabaseTextChars, *in)) return false;
    if (!in->Read(rawType) || rawType >= Table::kColumnTypeCount) return false;
    type = Table::ColumnType(rawType);
    return true;
}

}  // namespace

void CopyDatabaseText(char* field, uint32_t size, const char* text) {
    if (size == 0) return;
    const size_t length = text != nullptr ? strnlen(text, size - 1) : 0;
    if (length > 0) std::memcpy(field, text, length);
    field[length] = '\0';
}

void DatabaseFilter::Serialize(BitStream* out) const {
    StringCompressor::Instance()->EncodeString(columnName, kDatabaseTextChars, *out);
    out->Write(uint8_t(columnType));
    out->Write(uint8_t(operation));
    if (NeedsValue(operation)) TableSerializer::SerializeCell(out, &cellValue, columnType);
}

bool DatabaseFilter::Deserialize(BitStream* in) {
    cellValue.Clear();
    uint8_t rawOperation = 0;
    if (!ReadNameAndType(in, columnName, columnType)) return false;
    if (!in->Read(rawOperation) || rawOperation >= Table::kFilterQueryTypeCount) return false;
    operation = Table::FilterQueryType(rawOperation);
    if (!NeedsValue(operation)) return true;
    return TableSerializer::DeserializeCell(in, &cellValue, columnType) && !cellValue.isEmpty;
}

void DatabaseCellUpdate::Serialize(BitStream* out) const {
    StringCompressor::Instance()->EncodeString(columnName, kDatabaseTextChars, *out);
    out->Write(uint8_t(columnType));
    TableSerializer::SerializeCell(out, &cellValue, columnType);
}

bool DatabaseCellUpdate::Deserialize(BitStream* in) {
    cellValue.Clear();
    if (!ReadNameAndType(in, columnName, columnType)) return false;
    return TableSerializer::DeserializeCell(in, &cellValue, columnType);
}

}  // namespace velt
