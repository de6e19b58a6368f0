#include "net/ext/LightweightDatabaseClient.h"

#include <algorithm>

#include "net/StringCompressor.h"

namespace velt {

using DataStructures::Table;

namespace {

constexpr uint32_t kMaxListEntries = 255;

bool KnownType(Table::ColumnType type) { return uint8_t(type) < Table::kColumnTypeCount; }

}  // namespace

void LightweightDatabaseClient::Detached(NetPeerInterface* peer) {
    if (peer_ == peer) peer_ = nullptr;
}

bool LightweightDatabaseClient::CanSend(const char* tableName) const {
    return peer_ != nullptr && tableName != nullptr && tableName[0] != '\0';
}

void LightweightDatabaseClient::WriteHeader(BitStream* out, uint8_t messageId, const char* tableName,
                                            const char* password) const {
    out->Write(messageId);
    StringCompressor::Instance()->EncodeString(tableName, kDatabaseTextChars, *out);
    const bool hasPassword = password != nullptr && password[0] != '\0';
    out->Write(hasPassword);
    if (hasPassword) StringCompressor::Instance()->EncodeString(password, kDatabaseTextChars, *out);
}

bool LightweightDatabaseClient::Send(const BitStream& message, PlayerID target, bool broadcast) const {
    return peer_->Send(&message, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE_ORDERED, 0, target, broadcast);
}

bool LightweightDatabaseClient::QueryTable(const char* tableName, const char* queryPassword,
                                           const uint32_t* columnIndices, uint32_t numColumnIndices,
                                           const DatabaseFilter* filters, uint32_t numFilters,
                                           const uint32_t* rowIds, uint32_t numRowIDs, PlayerID target,
                                           bool broadcast) {
    if (!CanSend(tableName)) return false;
    const uint32_t columns = columnIndices != nullptr ? std::min(numColumnIndices, kMaxListEntries) : 0;
    const uint32_t filterCount = filters != nullptr ? std::min(numFilters, kMaxListEntries) : 0;
    const uint32_t rows = rowIds != nullptr ? std::min(numRowIDs, kMaxListEntries) : 0;
    for (uint32_t i = 0; i < filterCount; ++i)
        if (!KnownType(filters[i].columnType) ||
            uint8_t(filters[i].operation) >= Table::kFilterQueryTypeCount)
            return false;

    BitStream out;
    WriteHeader(&out, ID_DB_QUERY_REQUEST, tableName, queryPassword);
    out.Write(uint8_t(columns));
    for (uint32_t i = 0; i < columns; ++i) out.Write(columnIndices[i]);
    out.Write(uint8_t(filterCount));
    for (uint32_t i = 0; i < filterCount; ++i) filters[i].Serialize(&out);
    out.Write(uint8_t(rows));
    for (uint32_t i = 0; i < rows; ++i) out.Write(rowIds[i]);
    return Send(out, target, broadcast);
}

bool LightweightDatabaseClient::UpdateRow(const char* tableName, const char* updatePassword,
                                          uint8_t updateMode, bool hasRowId, uint32_t rowId,
                                          const DatabaseCellUpdate* cellUpdates, uint32_t numCellUpdates,
                                          PlayerID target, bool broadcast) {
    if (!CanSend(tableName) || cellUpdates == nullptr || numCellUpdates == 0) return false;
    const uint32_t count = std::min(numCellUpdates, kMaxListEntries);
    for (uint32_t i = 0; i < count; ++i)
        if (!KnownType(cellUpdates[i].columnType)) return false;

    BitStream out;
    WriteHeader(&out, ID_DB_UPDATE_ROW, tableName, updatePassword);
    out.Write(updateMode);
    out.Write(hasRowId);
    if (hasRowId) out.Write(rowId);
    out.Write(uint8_t(count));
    for (uint32_t i = 0; i < count; ++i) cellUpdates[i].Serialize(&out);
    return Send(out, target, broadcast);
}

bool LightweightDatabaseClient::RemoveRow(const char* tableName, const char* removePassword, uint32_t rowId,
                                          PlayerID target, bool broadcast) {
    if (!CanSend(tableName)) return false;
    BitStream out;
    WriteHeader(&out, ID_DB_REMOVE_ROW, tableName, removePassword);
    out.Write(rowId);
    return Send(out, target, broadcast);
}

}  // namespace velt
