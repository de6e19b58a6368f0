#pragma once
// The server side of the lightweight database: named tables that remote systems query, update
// and remove rows from, with per-table passwords and optional per-system bookkeeping (the
// owner of each row, removal of a system's rows when it disconnects or stops answering pings).

#include <cstdint>

#include "net/Clock.h"
#include "net/NetPeerInterface.h"
#include "net/OrderedList.h"
#include "net/PluginInterface.h"
#include "net/ext/ClosedConnectionInbox.h"
#include "net/ext/LightweightDatabaseCommon.h"
#include "net/ext/Table.h"

namespace velt {

class LightweightDatabaseServer : public PluginInterface {
public:
    // Names of the columns the server keeps for itself; remote updates never write them.
    static constexpr const char* kSystemIdColumn = "__systemId";
    static constexpr const char* kLastPingResponseColumn = "__lastPingResponseTime";
    static constexpr const char* kNextPingSendColumn = "__nextPingSendTime";
    // Bytes of an owner address in kSystemIdColumn: the address as held in memory, then the port.
    static constexpr int32_t kSystemIdBytes = 6;
    // A row whose owner has not answered for longer than this is removed.
    static constexpr uint32_t kDropAfterSilenceMs = 75000;
    static constexpr uint32_t kPingIntervalMs = 15000;

    struct DatabaseTable {
        bool allowRemoteUpdate = true;
        bool allowRemoteQuery = false;
        bool allowRemoteRemove = false;
        char updatePassword[kDatabaseTextChars] = {};
        char queryPassword[kDatabaseTextChars] = {};
        char removePassword[kDatabaseTextChars] = {};
        bool oneRowPerSystemId = false;
        bool onlyUpdateOwnRows = false;
        bool removeRowOnPingFailure = false;
        bool removeRowOnDisconnect = false;
        bool autogenerateRowIDs = false;
        char tableName[kDatabaseTextChars] = {};
        uint32_t nextRowId = 0;
        uint32_t systemIdColumnIndex = DataStructures::Table::kNotFound;
        uint32_t lastPingResponseColumnIndex = DataStructures::Table::kNotFound;
        uint32_t nextPingSendColumnIndex = DataStructures::Table::kNotFound;
        NetTime nextRowPingCheck = 0;
        DataStructures::Table table;
    };

    // Requests dropped or refused, by reason.
    struct Statistics {
        uint32_t malformedRequests = 0;  // short, or a field out of range: dropped silently
        uint32_t unknownTableReplies = 0;
        uint32_t passwordRefusals = 0;
        uint32_t ignoredRequests = 0;  // of a kind the table does not allow, or against its rules
    };

    using ClockFunction = NetTime (*)();

    LightweightDatabaseServer() = default;
    ~LightweightDatabaseServer() override { Clear(); }
    LightweightDatabaseServer(const LightweightDatabaseServer&) = delete;
    LightweightDatabaseServer& operator=(const LightweightDatabaseServer&) = delete;

    // Null for an empty or taken name. Names and passwords are cut to what a request can carry.
    // A password is kept only when its kind of request is allowed. Remote updates are always
    // allowed; without allowRemoteUpdate the per-system options are all off and updates need
    // no password.
    DataStructures::Table* AddTable(const char* tableName, bool allowRemoteQuery, bool allowRemoteUpdate,
                                    bool allowRemoteRemove, const char* queryPassword,
                                    const char* updatePassword, const char* removePassword,
                                    bool oneRowPerSystemId, bool onlyUpdateOwnRows,
                                    bool removeRowOnPingFailure, bool removeRowOnDisconnect,
                                    bool autogenerateRowIDs);
    bool RemoveTable(const char* tableName);
    DataStructures::Table* GetTable(const char* tableName) const;
    const DataStructures::Table::RowPage* GetTableRows(const char* tableName) const;
    // The table's next automatic row id, then advanced; 0xFFFFFFFF for a table that does not exist.
    uint32_t AllocateRowId(const char* tableName);
    void Clear();

    // The millisecond clock of the ping bookkeeping (the transport's by default).
    void SetClock(ClockFunction clock) { clock_ = clock != nullptr ? clock : &GetTimeMs; }
    const Statistics& GetStatistics() const { return statistics_; }

    // ---- plugin --------------------------------------------------------------------------------
    // The ping pass over the tables that drop silent systems' rows.
    void Update(NetPeerInterface* peer) override;
    PluginReceiveResult Received(NetPeerInterface* peer, Packet* packet) override;
    void ConnectionClosed(NetPeerInterface* peer, PlayerID remote) override;

private:
    enum class RequestKind { Query, Update, Remove };

    DatabaseTable* Find(const char* tableName) const;
    DatabaseTable* ReadHeader(NetPeerInterface* peer, BitStream& in, PlayerID sender, RequestKind kind);
    void HandleQuery(NetPeerInterface* peer, BitStream& in, PlayerID sender);
    void HandleUpdate(NetPeerInterface* peer, BitStream& in, PlayerID sender);
    void HandleRemove(NetPeerInterface* peer, BitStream& in, PlayerID sender);
    void DropRowsOf(PlayerID system);
    void NotePong(PlayerID system);
    void PingPass(NetPeerInterface* peer, DatabaseTable& table, NetTime now);

    static int CompareName(const char* const& name, DatabaseTable* const& table);

    DataStructures::OrderedList<const char*, DatabaseTable*, CompareName> tables_;
    ClosedConnectionInbox closed_;
    ClockFunction clock_ = &GetTimeMs;
    Statistics statistics_;
};

}  // namespace velt
