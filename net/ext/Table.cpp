#include "net/ext/Table.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace velt::DataStructures {

// ---- cells ----------------------------------------------------------------------------------------

Table::Cell& Table::Cell::operator=(const Cell& other) {
    if (this != &other) {
        Clear();
        CopyFrom(other);
    }
    return *this;
}

void Table::Cell::CopyFrom(const Cell& other) {
    isEmpty = other.isEmpty;
    integer = other.integer;
    data = nullptr;
    if (other.data == nullptr) return;
    // A string's bytes run to its terminator; a binary value's to its count (plus the
    // terminator kept behind it). A cell set as text has a count of 0.
    const size_t length = other.integer > 0 ? size_t(other.integer) + 1 : std::strlen(other.data) + 1;
    data = new char[length];
    std::memcpy(data, other.data, length);
}

void Table::Cell::Set(int32_t input) {
    VELT_DS_ASSERT(isEmpty, "isEmpty");
    integer = input;
    data = nullptr;
    isEmpty = false;
}

void Table::Cell::Set(const char* input) {
    VELT_DS_ASSERT(isEmpty, "isEmpty");
    integer = 0;
    data = nullptr;
    if (input != nullptr && input[0] != '\0') {
        const size_t length = std::strlen(input) + 1;
        data = new char[length];
        std::memcpy(data, input, length);
    }
    isEmpty = false;
}

void Table::Cell::Set(const char* input, int32_t inputLength) {
    VELT_DS_ASSERT(isEmpty, "isEmpty");
    integer = 0;
    data = nullptr;
    if (input != nullptr && inputLength > 0) {
        // A terminator behind the bytes keeps a binary value safe to read as text.
        data = new char[size_t(inputLength) + 1];
        std::memcpy(data, input, size_t(inputLength));
        data[inputLength] = '\0';
        integer = inputLength;
    }
    isEmpty = false;
}

void Table::Cell::Get(int32_t* output) const {
    VELT_DS_ASSERT(!isEmpty, "isEmpty==false");
    *output = integer;
}

void Table::Cell::Get(char* output, size_t outputSize) const {
    VELT_DS_ASSERT(!isEmpty, "isEmpty==false");
    if (outputSize == 0) return;
    const char* text = Text();
    const size_t length = std::min(std::strlen(text), outputSize - 1);
    std::memcpy(output, text, length);
    output[length] = '\0';
}

int32_t Table::Cell::Get(char* output, int32_t* outputLength) const {
    VELT_DS_ASSERT(!isEmpty, "isEmpty==false");
    const int32_t count = ByteCount();
    if (count > 0) std::memcpy(output, data, size_t(count));
    if (outputLength != nullptr) *outputLength = count;
    return count;
}

void Table::Cell::Clear() {
    delete[] data;
    data = nullptr;
    integer = 0;
    isEmpty = true;
}

namespace {

// A copy of source as a value of the column's type, into an empty cell.
void CopyTyped(Table::Cell& target, const Table::Cell& source, Table::ColumnType type) {
    if (source.isEmpty) return;
    if (type == Table::NUMERIC)
        target.Set(source.integer);
    else if (type == Table::STRING)
        target.Set(source.Text());
    else
        target.Set(source.data, source.ByteCount());
}

// <0, 0, >0 like strcmp, for two non-empty values of the column's type (bytes: shorter first).
int CompareValues(const Table::Cell& a, const Table::Cell& b, Table::ColumnType type) {
    if (type == Table::NUMERIC) return a.integer < b.integer ? -1 : (a.integer > b.integer ? 1 : 0);
    if (type == Table::STRING) return std::strcmp(a.Text(), b.Text());
    const int32_t na = a.ByteCount(), nb = b.ByteCount();
    if (na != nb) return na < nb ? -1 : 1;
    return na == 0 ? 0 : std::memcmp(a.data, b.data, size_t(na));
}

}  // namespace

// ---- columns --------------------------------------------------------------------------------------

Table::~Table() { Clear(); }

uint32_t Table::AddColumn(const char* columnName, ColumnType columnType) {
    if (columnName == nullptr || columnName[0] == '\0' || uint8_t(columnType) >= kColumnTypeCount)
        return kNotFound;
    Column column{};
    const size_t length = std::min<size_t>(std::strlen(columnName), kColumnNameChars);
    std::memcpy(column.columnName, columnName, length);
    column.columnName[length] = '\0';
    column.columnType = columnType;
    columns_.Insert(column);
    for (RowPage* page = rows_.GetListHead(); page != nullptr; page = page->next)
        for (int32_t i = 0; i < page->size; ++i) page->data[i]->cells.Insert(new Cell());
    return columns_.Size() - 1;
}

void Table::RemoveColumn(uint32_t columnIndex) {
    if (columnIndex >= columns_.Size()) return;
    columns_.RemoveAtIndex(columnIndex);
    for (RowPage* page = rows_.GetListHead(); page != nullptr; page = page->next) {
        for (int32_t i = 0; i < page->size; ++i) {
            List<Cell*>& cells = page->data[i]->cells;
            if (columnIndex >= cells.Size()) continue;
            delete cells[columnIndex];
            cells.RemoveAtIndex(columnIndex);
        }
    }
}

uint32_t Table::ColumnIndex(const char* columnName) const {
    if (columnName == nullptr) return kNotFound;
    for (uint32_t i = 0; i < columns_.Size(); ++i)
        if (std::strcmp(columns_[i].columnName, columnName) == 0) return i;
    return kNotFound;
}

const char* Table::ColumnName(uint32_t index) const {
    return index < columns_.Size() ? columns_[index].columnName : nullptr;
}

Table::ColumnType Table::GetColumnType(uint32_t index) const {
    return index < columns_.Size() ? columns_[index].columnType : NUMERIC;
}

// ---- rows -----------------------------------------------------------------------------------------

void Table::DeleteRow(Row* row) {
    for (uint32_t i = 0; i < row->cells.Size(); ++i) delete row->cells[i];
    delete row;
}

Table::Row* Table::AddRow(uint32_t rowId) {
    Row* existing = nullptr;
    if (rows_.Get(rowId, existing)) return nullptr;
    Row* row = new Row();
    row->cells.Preallocate(columns_.Size());
    for (uint32_t i = 0; i < columns_.Size(); ++i) row->cells.Insert(new Cell());
    rows_.Insert(rowId, row);
    return row;
}

Table::Row* Table::AddRow(uint32_t rowId, const List<Cell>& cellValues) {
    Row* row = AddRow(rowId);
    if (row == nullptr) return nullptr;
    for (uint32_t i = 0; i < columns_.Size() && i < cellValues.Size(); ++i)
        CopyTyped(*row->cells[i], cellValues[i], columns_[i].columnType);
    return row;
}

void Table::RemoveRow(uint32_t rowId) {
    Row* row = nullptr;
    if (rows_.Delete(rowId, row)) DeleteRow(row);
}

void Table::RemoveRows(const Table* tableContainingRowIDs) {
    if (tableContainingRowIDs == nullptr || tableContainingRowIDs == this) {
        if (tableContainingRowIDs == this) Clear();
        return;
    }
    for (const RowPage* page = tableContainingRowIDs->GetListHead(); page != nullptr; page = page->next)
        for (int32_t i = 0; i < page->size; ++i) RemoveRow(page->keys[i]);
}

bool Table::UpdateCell(uint32_t rowId, uint32_t columnIndex, int32_t value) {
    VELT_DS_ASSERT(GetColumnType(columnIndex) == NUMERIC && columnIndex < columns_.Size(),
                   "column is NUMERIC");
    Row* row = GetRowByID(rowId);
    if (row == nullptr) return false;
    row->cells[columnIndex]->Clear();
    row->cells[columnIndex]->Set(value);
    return true;
}

bool Table::UpdateCell(uint32_t rowId, uint32_t columnIndex, const char* text) {
    VELT_DS_ASSERT(GetColumnType(columnIndex) == STRING && columnIndex < columns_.Size(), "column is STRING");
    Row* row = GetRowByID(rowId);
    if (row == nullptr) return false;
    row->cells[columnIndex]->Clear();
    row->cells[columnIndex]->Set(text);
    return true;
}

bool Table::UpdateCell(uint32_t rowId, uint32_t columnIndex, int32_t byteLength, const char* bytes) {
    VELT_DS_ASSERT(GetColumnType(columnIndex) == BINARY && columnIndex < columns_.Size(), "column is BINARY");
    Row* row = GetRowByID(rowId);
    if (row == nullptr) return false;
    row->cells[columnIndex]->Clear();
    row->cells[columnIndex]->Set(bytes, byteLength);
    return true;
}

Table::Row* Table::GetRowByID(uint32_t rowId) const {
    Row* row = nullptr;
    return rows_.Get(rowId, row) ? row : nullptr;
}

Table::Row* Table::GetRowByIndex(uint32_t rowIndex) const {
    for (const RowPage* page = rows_.GetListHead(); page != nullptr; page = page->next) {
        if (rowIndex < uint32_t(page->size)) return page->data[rowIndex];
        rowIndex -= uint32_t(page->size);
    }
    return nullptr;
}

void Table::Clear() {
    for (RowPage* page = rows_.GetListHead(); page != nullptr; page = page->next)
        for (int32_t i = 0; i < page->size; ++i) DeleteRow(page->data[i]);
    rows_.Clear();
    columns_.Clear(true);
}

// ---- queries --------------------------------------------------------------------------------------

bool Table::PassesFilter(const Cell& cell, ColumnType type, const FilterQuery& filter) {
    if (cell.isEmpty) return filter.operation == FilterIsEmpty;
    switch (filter.operation) {
        case FilterEqual: return CompareValues(cell, filter.cellValue, type) == 0;
        case FilterNotEqual: return CompareValues(cell, filter.cellValue, type) != 0;
        case FilterGreaterThan: return type != BINARY && CompareValues(cell, filter.cellValue, type) > 0;
        case FilterLessThan: return type != BINARY && CompareValues(cell, filter.cellValue, type) < 0;
        case FilterIsEmpty: return false;
        case FilterNotEmpty: return true;
    }
    return false;
}

void Table::Query(const uint32_t* columnSubset, uint32_t numColumnSubset, const FilterQuery* inclusionFilters,
                  uint32_t numInclusionFilters, const uint32_t* rowIds, uint32_t numRowIDs,
                  Table* result) const {
    if (result == nullptr || result == this) return;
    result->Clear();

    std::vector<uint32_t> chosen;
    if (columnSubset == nullptr || numColumnSubset == 0) {
        for (uint32_t i = 0; i < columns_.Size(); ++i) chosen.push_back(i);
    } else {
        for (uint32_t i = 0; i < numColumnSubset; ++i)
            if (columnSubset[i] < columns_.Size()) chosen.push_back(columnSubset[i]);
    }
    if (chosen.empty()) return;
    for (uint32_t index : chosen) result->AddColumn(columns_[index].columnName, columns_[index].columnType);

    static const Cell kNoCell;  // what a filter on a column past the end sees
    auto passes = [&](const Row* row) {
        for (uint32_t f = 0; f < numInclusionFilters; ++f) {
            const FilterQuery& filter = inclusionFilters[f];
            const bool known = filter.columnIndex < columns_.Size() && filter.columnIndex < row->cells.Size();
            const Cell& cell = known ? *row->cells[filter.columnIndex] : kNoCell;
            if (!PassesFilter(cell, known ? columns_[filter.columnIndex].columnType : NUMERIC, filter))
                return false;
        }
        return true;
    };
    auto copy = [&](uint32_t rowId, const Row* row) {
        Row* added = result->AddRow(rowId);
        if (added == nullptr) return;  // an id given twice
        for (uint32_t c = 0; c < chosen.size(); ++c)
            if (chosen[c] < row->cells.Size())
                CopyTyped(*added->cells[c], *row->cells[chosen[c]], columns_[chosen[c]].columnType);
    };

    if (rowIds != nullptr && numRowIDs > 0) {
        for (uint32_t i = 0; i < numRowIDs; ++i) {
            const Row* row = GetRowByID(rowIds[i]);
            if (row != nullptr && passes(row)) copy(rowIds[i], row);
        }
        return;
    }
    for (const RowPage* page = rows_.GetListHead(); page != nullptr; page = page->next)
        for (int32_t i = 0; i < page->size; ++i)
            if (passes(page->data[i])) copy(page->keys[i], page->data[i]);
}

void Table::Sort(const SortQuery* sortQueries, uint32_t numSortQueries, Row** out) const {
    if (out == nullptr) return;
    std::vector<SortQuery> keys;
    for (uint32_t i = 0; sortQueries != nullptr && i < numSortQueries; ++i)
        if (sortQueries[i].columnIndex < columns_.Size() &&
            columns_[sortQueries[i].columnIndex].columnType != BINARY)
            keys.push_back(sortQueries[i]);

    std::vector<Row*> rows;
    rows.reserve(GetRowCount());
    for (const RowPage* page = rows_.GetListHead(); page != nullptr; page = page->next)
        for (int32_t i = 0; i < page->size; ++i) rows.push_back(page->data[i]);

    // A stable sort of rows taken in id order keeps every row, ties in id order.
    if (!keys.empty()) {
        auto before = [&](const Row* a, const Row* b) {
            for (const SortQuery& key : keys) {
                const uint32_t c = key.columnIndex;
                const bool aEmpty = c >= a->cells.Size() || a->cells[c]->isEmpty;
                const bool bEmpty = c >= b->cells.Size() || b->cells[c]->isEmpty;
                if (aEmpty || bEmpty) {
                    if (aEmpty != bEmpty) return bEmpty;
                    continue;
                }
                int order = CompareValues(*a->cells[c], *b->cells[c], columns_[c].columnType);
                if (key.operation == SortDecreasing) order = -order;
                if (order != 0) return order < 0;
            }
            return false;
        };
        std::stable_sort(rows.begin(), rows.end(), before);
    }
    std::copy(rows.begin(), rows.end(), out);
}

void Table::PrintRow(char* out, int32_t outputSize, char columnDelimiter, bool printDelimiterForBinary,
                     const Row* row) const {
    if (out == nullptr || outputSize <= 0) return;
    out[0] = '\0';
    if (outputSize == 1 || row == nullptr) return;
    const size_t capacity = size_t(outputSize) - 1;
    size_t used = 0;
    auto append = [&](const char* text, size_t length) {
        const size_t n = std::min(length, capacity - used);
        std::memcpy(out + used, text, n);
        used += n;
        out[used] = '\0';
    };

    if (row->cells.Size() != columns_.Size()) {
        static const char kMismatch[] = "Cell width does not match column width.\n";
        append(kMismatch, sizeof kMismatch - 1);
        return;
    }
    for (uint32_t i = 0; i < columns_.Size() && used < capacity; ++i) {
        const Cell& cell = *row->cells[i];
        const ColumnType type = columns_[i].columnType;
        if (!cell.isEmpty && type == NUMERIC) {
            char number[16];
            const int n = std::snprintf(number, sizeof number, "%i", int(cell.integer));
            append(number, size_t(n));
        } else if (!cell.isEmpty && type == STRING) {
            append(cell.Text(), std::min<size_t>(std::strlen(cell.Text()), 510));
        }
        const bool last = i + 1 == columns_.Size();
        if (!last && (type != BINARY || printDelimiterForBinary)) append(&columnDelimiter, 1);
    }
}

}  // namespace velt::DataStructures
