#pragma once
// What the database server and client both know: message identifiers, the limits of names and
// passwords, and the query filter and cell update records with their wire forms.

#include <cstdint>

#include "net/BitStream.h"
#include "net/ext/Table.h"

namespace velt {

enum LightweightDatabaseMessage : uint8_t {
    ID_DB_QUERY_REQUEST = 86,       // client -> server
    ID_DB_UPDATE_ROW = 87,          // client -> server
    ID_DB_REMOVE_ROW = 88,          // client -> server
    ID_DB_QUERY_REPLY = 89,         // server -> client: [89][table]
    ID_DB_UNKNOWN_TABLE = 90,       // server -> client: [90]
    ID_DB_INCORRECT_PASSWORD = 91,  // server -> client: [91]
};

// Table names, passwords and column names travel as compressed texts of at most this many
// bytes with the terminator, so at most kDatabaseTextChars - 1 characters arrive. The server
// keeps its names and passwords to the same length: a longer one set locally could never be
// matched by a request.
inline constexpr int32_t kDatabaseTextChars = 32;

// One query filter: the column by name and type, the operation, and the value the operations
// that compare need.
struct DatabaseFilter {
    char columnName[kDatabaseTextChars] = {};
    DataStructures::Table::ColumnType columnType = DataStructures::Table::NUMERIC;
    DataStructures::Table::FilterQueryType operation = DataStructures::Table::FilterEqual;
    DataStructures::Table::Cell cellValue;

    void Serialize(BitStream* out) const;
    // False on a short stream, an unknown type or operation, or a comparison without a value.
    bool Deserialize(BitStream* in);
};

// One cell of an update: the column by name and type and the new value (empty clears it).
struct DatabaseCellUpdate {
    char columnName[kDatabaseTextChars] = {};
    DataStructures::Table::ColumnType columnType = DataStructures::Table::NUMERIC;
    DataStructures::Table::Cell cellValue;

    void Serialize(BitStream* out) const;
    // False on a short stream or an unknown type.
    bool Deserialize(BitStream* in);
};

// Copies text into a field of size bytes, cut to size - 1 characters and terminated; null gives
// the empty text.
void CopyDatabaseText(char* field, uint32_t size, const char* text);

}  // namespace velt
