// Reads fuzz-chosen bytes as a serialised table. Whatever is read must stay within the limits,
// and a table that reads whole must write out bits that read back to the same bits.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "net/BitStream.h"
#include "net/ext/TableSerializer.h"

using namespace velt;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    DataStructures::Table table;
    const bool ok = TableSerializer::DeserializeTable(data, uint32_t(size), &table);
    Check(table.GetColumnCount() <= TableSerializer::kMaxColumns);
    Check(table.GetRowCount() <= TableSerializer::kMaxRows);
    Check(uint64_t(table.GetRowCount()) * table.GetColumnCount() <= TableSerializer::kMaxCells);
    if (!ok) return 0;

    BitStream once;
    TableSerializer::SerializeTable(&table, &once);
    DataStructures::Table again;
    Check(TableSerializer::DeserializeTable(once.GetData(), uint32_t(once.GetNumberOfBytesUsed()), &again));
    BitStream twice;
    TableSerializer::SerializeTable(&again, &twice);
    Check(twice.GetNumberOfBitsUsed() == once.GetNumberOfBitsUsed());
    Check(std::memcmp(twice.GetData(), once.GetData(), size_t(once.GetNumberOfBytesUsed())) == 0);
    return 0;
}
