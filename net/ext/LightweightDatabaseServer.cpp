#include "net/ext/LightweightDatabaseServer.h"

#include <cstring>
#include <vector>

#include "common/LittleEndian.h"
#include "net/MessageIdentifiers.h"
#include "net/Random.h"
#include "net/StringCompressor.h"
#include "net/ext/TableSerializer.h"

namespace velt {

using DataStructures::Table;

namespace {

constexpr uint32_t kWrongPasswordBanMs = 1000;
constexpr uint32_t kMaxCellUpdates = 255;

void WriteSystemId(PlayerID system, char out[LightweightDatabaseServer::kSystemIdBytes]) {
    WriteU32(reinterpret_cast<uint8_t*>(out), system.binaryAddress);
    WriteU16(reinterpret_cast<uint8_t*>(out) + 4, system.port);
}

bool ReadSystemId(const Table::Cell& cell, PlayerID& system) {
    if (cell.isEmpty || cell.ByteCount() != LightweightDatabaseServer::kSystemIdBytes) return false;
    const auto* b = reinterpret_cast<const uint8_t*>(cell.data);
    system.binaryAddress = ReadU32(b);
    system.port = ReadU16(b + 4);
    return true;
}

bool OwnedBy(const LightweightDatabaseServer::DatabaseTable& t, const Table::Row* row, PlayerID system) {
    if (t.systemIdColumnIndex == Table::kNotFound) return false;
    PlayerID owner{};
    return ReadSystemId(*row->cells[t.systemIdColumnIndex], owner) && owner == system;
}

bool IsSystemColumn(const LightweightDatabaseServer::DatabaseTable& t, uint32_t column) {
    return column == t.systemIdColumnIndex || column == t.lastPingResponseColumnIndex ||
           column == t.nextPingSendColumnIndex;
}

void SetNumber(Table::Row* row, uint32_t column, int32_t value) {
    row->cells[column]->Clear();
    row->cells[column]->Set(value);
}

void Reply(NetPeerInterface* peer, uint8_t messageId, PlayerID target) {
    peer->SendBytes(&messageId, 1, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE_ORDERED, 0, target, false);
}

}  // namespace

int LightweightDatabaseServer::CompareName(const char* const& name, DatabaseTable* const& table) {
    return std::strcmp(name, table->tableName);
}

// ---- tables -----------------------------------------------------------------------------------------

LightweightDatabaseServer::DatabaseTable* LightweightDatabaseServer::Find(const char* tableName) const {
    if (tableName == nullptr) return nullptr;
    char key[kDatabaseTextChars];
    CopyDatabaseText(key, sizeof key, tableName);
    DatabaseTable* table = nullptr;
    return tables_.GetElementFromKey(key, table) ? table : nullptr;
}

Table* LightweightDatabaseServer::AddTable(const char* tableName, bool allowRemoteQuery,
                                           bool allowRemoteUpdate, bool allowRemoteRemove,
                                           const char* queryPassword, const char* updatePassword,
                                           const char* removePassword, bool oneRowPerSystemId,
                                           bool onlyUpdateOwnRows, bool removeRowOnPingFailure,
                                           bool removeRowOnDisconnect, bool autogenerateRowIDs) {
    if (tableName == nullptr || tableName[0] == '\0' || Find(tableName) != nullptr) return nullptr;
    auto* t = new DatabaseTable();
    CopyDatabaseText(t->tableName, sizeof t->tableName, tableName);
    if (allowRemoteQuery) CopyDatabaseText(t->queryPassword, sizeof t->queryPassword, queryPassword);
    if (allowRemoteUpdate) CopyDatabaseText(t->updatePassword, sizeof t->updatePassword, updatePassword);
    if (allowRemoteRemove) CopyDatabaseText(t->removePassword, sizeof t->removePassword, removePassword);
    t->allowRemoteQuery = allowRemoteQuery;
    t->allowRemoteRemove = allowRemoteRemove;
    t->allowRemoteUpdate = true;
    if (allowRemoteUpdate) {
        t->oneRowPerSystemId = oneRowPerSystemId;
        t->onlyUpdateOwnRows = onlyUpdateOwnRows;
        t->removeRowOnPingFailure = removeRowOnPingFailure;
        t->removeRowOnDisconnect = removeRowOnDisconnect;
    }
    t->autogenerateRowIDs = autogenerateRowIDs;
    // Due at once, whatever the clock reads: a check time of 0 would look like the future to a
    // clock past half its range.
    t->nextRowPingCheck = clock_();
    if (t->oneRowPerSystemId || t->onlyUpdateOwnRows || t->removeRowOnPingFailure || t->removeRowOnDisconnect)
        t->systemIdColumnIndex = t->table.AddColumn(kSystemIdColumn, Table::BINARY);
    if (t->removeRowOnPingFailure) {
        t->lastPingResponseColumnIndex = t->table.AddColumn(kLastPingResponseColumn, Table::NUMERIC);
        t->nextPingSendColumnIndex = t->table.AddColumn(kNextPingSendColumn, Table::NUMERIC);
    }
    tables_.Insert(t->tableName, t);
    return &t->table;
}

bool LightweightDatabaseServer::RemoveTable(const char* tableName) {
    DatabaseTable* t = Find(tableName);
    if (t == nullptr) return false;
    tables_.Remove(t->tableName);
    delete t;
    return true;
}

Table* LightweightDatabaseServer::GetTable(const char* tableName) const {
    DatabaseTable* t = Find(tableName);
    return t != nullptr ? &t->table : nullptr;
}

const Table::RowPage* LightweightDatabaseServer::GetTableRows(const char* tableName) const {
    DatabaseTable* t = Find(tableName);
    return t != nullptr ? t->table.GetListHead() : nullptr;
}

uint32_t LightweightDatabaseServer::AllocateRowId(const char* tableName) {
    DatabaseTable* t = Find(tableName);
    return t != nullptr ? t->nextRowId++ : 0xFFFFFFFFu;
}

void LightweightDatabaseServer::Clear() {
    for (uint32_t i = 0; i < tables_.Size(); ++i) delete tables_[i];
    tables_.Clear();
}

// ---- plugin -------------------------------------------------------------------------------------------

void LightweightDatabaseServer::ConnectionClosed(NetPeerInterface* peer, PlayerID remote) {
    (void)peer;
    closed_.Push(remote);
}

void LightweightDatabaseServer::Update(NetPeerInterface* peer) {
    for (const PlayerID remote : closed_.TakeAll()) DropRowsOf(remote);
    const NetTime now = clock_();
    for (uint32_t i = 0; i < tables_.Size(); ++i)
        if (tables_[i]->removeRowOnPingFailure) PingPass(peer, *tables_[i], now);
}

PluginReceiveResult LightweightDatabaseServer::Received(NetPeerInterface* peer, Packet* packet) {
    if (packet == nullptr || packet->length == 0) return PRR_CONTINUE;
    const uint8_t id = packet->data[0];
    switch (id) {
        case ID_CONN_CLOSED:
        case ID_CONN_LOST: DropRowsOf(packet->sender); return PRR_CONTINUE;
        case ID_UNCONNECTED_PONG: NotePong(packet->sender); return PRR_CONTINUE;
        case ID_DB_QUERY_REQUEST:
        case ID_DB_UPDATE_ROW:
        case ID_DB_REMOVE_ROW: break;
        default: return PRR_CONTINUE;
    }
    BitStream in(packet->data, packet->length, false);
    if (packet->bitLength < packet->length * 8u) in.SetWriteCursor(int32_t(packet->bitLength));
    in.SkipBits(8);
    if (id == ID_DB_QUERY_REQUEST)
        HandleQuery(peer, in, packet->sender);
    else if (id == ID_DB_UPDATE_ROW)
        HandleUpdate(peer, in, packet->sender);
    else
        HandleRemove(peer, in, packet->sender);
    return PRR_DEALLOCATE;
}

LightweightDatabaseServer::DatabaseTable* LightweightDatabaseServer::ReadHeader(NetPeerInterface* peer,
                                                                                BitStream& in,
                                                                                PlayerID sender,
                                                                                RequestKind kind) {
    StringCompressor* texts = StringCompressor::Instance();
    char name[kDatabaseTextChars];
    if (!texts->DecodeString(name, kDatabaseTextChars, in)) {
        ++statistics_.malformedRequests;
        return nullptr;
    }
    DatabaseTable* t = Find(name);
    if (t == nullptr) {
        ++statistics_.unknownTableReplies;
        Reply(peer, ID_DB_UNKNOWN_TABLE, sender);
        return nullptr;
    }
    const char* expected = kind == RequestKind::Query    ? t->queryPassword
                           : kind == RequestKind::Update ? t->updatePassword
                                                         : t->removePassword;
    bool hasPassword = false;
    if (!in.ReadOneBit(hasPassword)) {
        ++statistics_.malformedRequests;
        return nullptr;
    }
    if (!hasPassword) {
        if (expected[0] == '\0') return t;
        ++statistics_.passwordRefusals;
        Reply(peer, ID_DB_INCORRECT_PASSWORD, sender);
        return nullptr;
    }
    char password[kDatabaseTextChars];
    if (!texts->DecodeString(password, kDatabaseTextChars, in)) {
        ++statistics_.malformedRequests;
        return nullptr;
    }
    if (expected[0] == '\0' || std::strcmp(expected, password) == 0) return t;
    ++statistics_.passwordRefusals;
    Reply(peer, ID_DB_INCORRECT_PASSWORD, sender);
    char address[PlayerID::kStringSize];
    peer->AddToBanList(sender.ToString(false, address, sizeof address), kWrongPasswordBanMs);
    peer->CloseConnection(sender, false, 0);
    return nullptr;
}

void LightweightDatabaseServer::HandleQuery(NetPeerInterface* peer, BitStream& in, PlayerID sender) {
    DatabaseTable* t = ReadHeader(peer, in, sender, RequestKind::Query);
    if (t == nullptr) return;
    if (!t->allowRemoteQuery) {
        ++statistics_.ignoredRequests;
        return;
    }
    uint8_t columnCount = 0, filterCount = 0, rowCount = 0;
    uint32_t columns[255], rowIds[255];
    std::vector<DataStructures::TableFilter> filters;
    bool ok = in.Read(columnCount);
    for (uint32_t i = 0; ok && i < columnCount; ++i) ok = in.Read(columns[i]);
    ok = ok && in.Read(filterCount);
    for (uint32_t i = 0; ok && i < filterCount; ++i) {
        DatabaseFilter received;
        ok = received.Deserialize(&in);
        if (!ok) break;
        // A filter on a column this table lacks, or of another type, is left out.
        const uint32_t column = t->table.ColumnIndex(received.columnName);
        if (column == Table::kNotFound || t->table.GetColumnType(column) != received.columnType) continue;
        filters.emplace_back();
        filters.back().columnIndex = column;
        filters.back().operation = received.operation;
        filters.back().cellValue = received.cellValue;
    }
    ok = ok && in.Read(rowCount);
    for (uint32_t i = 0; ok && i < rowCount; ++i) ok = in.Read(rowIds[i]);
    if (!ok) {
        ++statistics_.malformedRequests;
        return;
    }

    Table result;
    t->table.Query(columns, columnCount, filters.data(), uint32_t(filters.size()), rowIds, rowCount, &result);
    BitStream reply;
    reply.Write(uint8_t(ID_DB_QUERY_REPLY));
    TableSerializer::SerializeTable(&result, &reply);
    peer->Send(&reply, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE_ORDERED, 0, sender, false);
}

void LightweightDatabaseServer::HandleUpdate(NetPeerInterface* peer, BitStream& in, PlayerID sender) {
    DatabaseTable* t = ReadHeader(peer, in, sender, RequestKind::Update);
    if (t == nullptr) return;
    // allowRemoteUpdate is always set; the request is read whole before anything changes.
    uint8_t mode = 0, count = 0;
    bool hasRowId = false;
    uint32_t rowId = 0;
    bool ok = in.Read(mode) && in.ReadOneBit(hasRowId) && (!hasRowId || in.Read(rowId)) && in.Read(count);
    std::vector<DatabaseCellUpdate> updates(ok ? count : 0);
    for (uint32_t i = 0; ok && i < count && i < kMaxCellUpdates; ++i) ok = updates[i].Deserialize(&in);
    if (!ok) {
        ++statistics_.malformedRequests;
        return;
    }

    Table& table = t->table;
    Table::Row* row = hasRowId ? table.GetRowByID(rowId) : nullptr;
    const bool changeExisting = mode == 0 || (mode == 1 && row != nullptr);
    if (changeExisting) {
        if (row == nullptr || (t->onlyUpdateOwnRows && !OwnedBy(*t, row, sender))) {
            ++statistics_.ignoredRequests;
            return;
        }
    } else {
        if (t->oneRowPerSystemId) {
            for (const Table::RowPage* page = table.GetListHead(); page != nullptr; page = page->next) {
                for (int32_t i = 0; i < page->size; ++i) {
                    if (OwnedBy(*t, page->data[i], sender)) {
                        ++statistics_.ignoredRequests;
                        return;
                    }
                }
            }
        }
        if (t->autogenerateRowIDs) {
            rowId = t->nextRowId++;
        } else if (!hasRowId) {
            ++statistics_.ignoredRequests;
            return;
        }
        row = table.AddRow(rowId);
        if (row == nullptr) {
            ++statistics_.ignoredRequests;
            return;
        }
        if (t->systemIdColumnIndex != Table::kNotFound) {
            char systemId[kSystemIdBytes];
            WriteSystemId(sender, systemId);
            row->cells[t->systemIdColumnIndex]->Set(systemId, kSystemIdBytes);
        }
        if (t->removeRowOnPingFailure) {
            const NetTime now = clock_();
            SetNumber(row, t->lastPingResponseColumnIndex, int32_t(now));
            SetNumber(row, t->nextPingSendColumnIndex, int32_t(now + kPingIntervalMs));
        }
    }

    for (const DatabaseCellUpdate& update : updates) {
        const uint32_t column = table.ColumnIndex(update.columnName);
        if (column == Table::kNotFound || IsSystemColumn(*t, column)) continue;
        const Table::ColumnType type = table.GetColumnType(column);
        const Table::Cell& value = update.cellValue;
        if (value.isEmpty) {
            row->cells[column]->Clear();
        } else if (update.columnType != type) {
            continue;
        } else if (type == Table::NUMERIC) {
            table.UpdateCell(rowId, column, value.integer);
        } else if (type == Table::STRING) {
            table.UpdateCell(rowId, column, value.Text());
        } else {
            table.UpdateCell(rowId, column, value.ByteCount(), value.data);
        }
    }
}

void LightweightDatabaseServer::HandleRemove(NetPeerInterface* peer, BitStream& in, PlayerID sender) {
    DatabaseTable* t = ReadHeader(peer, in, sender, RequestKind::Remove);
    if (t == nullptr) return;
    if (!t->allowRemoteRemove) {
        ++statistics_.ignoredRequests;
        return;
    }
    uint32_t rowId = 0;
    if (!in.Read(rowId)) {
        ++statistics_.malformedRequests;
        return;
    }
    t->table.RemoveRow(rowId);
}

// ---- per-system bookkeeping -----------------------------------------------------------------------

void LightweightDatabaseServer::DropRowsOf(PlayerID system) {
    for (uint32_t i = 0; i < tables_.Size(); ++i) {
        DatabaseTable& t = *tables_[i];
        if (!t.removeRowOnDisconnect) continue;
        std::vector<uint32_t> owned;
        for (const Table::RowPage* page = t.table.GetListHead(); page != nullptr; page = page->next)
            for (int32_t r = 0; r < page->size; ++r)
                if (OwnedBy(t, page->data[r], system)) owned.push_back(page->keys[r]);
        for (uint32_t rowId : owned) t.table.RemoveRow(rowId);
    }
}

void LightweightDatabaseServer::NotePong(PlayerID system) {
    const NetTime now = clock_();
    for (uint32_t i = 0; i < tables_.Size(); ++i) {
        DatabaseTable& t = *tables_[i];
        if (!t.removeRowOnPingFailure) continue;
        for (const Table::RowPage* page = t.table.GetListHead(); page != nullptr; page = page->next)
            for (int32_t r = 0; r < page->size; ++r)
                if (OwnedBy(t, page->data[r], system))
                    SetNumber(page->data[r], t.lastPingResponseColumnIndex, int32_t(now));
    }
}

void LightweightDatabaseServer::PingPass(NetPeerInterface* peer, DatabaseTable& t, NetTime now) {
    if (TimeBefore(now, t.nextRowPingCheck)) return;
    t.nextRowPingCheck = now + 1000 + TwisterNext() % 1000;

    // Rows put in by hand carry no bookkeeping: they are left alone.
    Table& table = t.table;
    auto number = [](const Table::Row* row, uint32_t column, NetTime& out) {
        const Table::Cell& cell = *row->cells[column];
        if (cell.isEmpty) return false;
        out = NetTime(cell.integer);
        return true;
    };
    std::vector<uint32_t> silent;
    for (const Table::RowPage* page = table.GetListHead(); page != nullptr; page = page->next) {
        for (int32_t r = 0; r < page->size; ++r) {
            NetTime last = 0;
            if (number(page->data[r], t.lastPingResponseColumnIndex, last) && TimeBefore(last, now) &&
                now - last > kDropAfterSilenceMs)
                silent.push_back(page->keys[r]);
        }
    }
    for (uint32_t rowId : silent) table.RemoveRow(rowId);

    for (const Table::RowPage* page = table.GetListHead(); page != nullptr; page = page->next) {
        for (int32_t r = 0; r < page->size; ++r) {
            Table::Row* row = page->data[r];
            NetTime nextSend = 0;
            PlayerID system{};
            if (!number(row, t.nextPingSendColumnIndex, nextSend) || !TimeBefore(nextSend, now) ||
                !ReadSystemId(*row->cells[t.systemIdColumnIndex], system))
                continue;
            if (peer->GetIndexFromPlayerID(system) >= 0) {
                SetNumber(row, t.lastPingResponseColumnIndex, int32_t(now));
            } else {
                char address[PlayerID::kStringSize];
                peer->Ping(system.ToString(false, address, sizeof address), system.port, false);
            }
            SetNumber(row, t.nextPingSendColumnIndex, int32_t(now + kPingIntervalMs + TwisterNext() % 1000));
        }
    }
}

}  // namespace velt
