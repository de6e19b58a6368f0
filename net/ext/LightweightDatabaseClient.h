#pragma once
// The client side of the lightweight database: sends queries, row updates and row removals to
// a system that runs the server plugin. Replies come back to the application as ordinary
// messages (ID_DB_QUERY_REPLY and the refusals), which this plugin passes on untouched.

#include <cstdint>

#include "net/NetPeerInterface.h"
#include "net/PluginInterface.h"
#include "net/ext/LightweightDatabaseCommon.h"

namespace velt {

class LightweightDatabaseClient : public PluginInterface {
public:
    LightweightDatabaseClient() = default;
    ~LightweightDatabaseClient() override = default;
    LightweightDatabaseClient(const LightweightDatabaseClient&) = delete;
    LightweightDatabaseClient& operator=(const LightweightDatabaseClient&) = delete;

    void Attached(NetPeerInterface* peer) override { peer_ = peer; }
    void Detached(NetPeerInterface* peer) override;

    // Each request needs a table name and an attached peer, else nothing is sent; so is
    // nothing when a record has an unknown type or operation. Names and passwords longer than
    // the wire carries are cut; lists longer than 255 entries send their first 255. A null
    // or empty password sends none. False when nothing was sent.

    // Rows of the table that pass every filter, with only the listed columns (all when none)
    // and only the listed rows (all when none).
    bool QueryTable(const char* tableName, const char* queryPassword, const uint32_t* columnIndices,
                    uint32_t numColumnIndices, const DatabaseFilter* filters, uint32_t numFilters,
                    const uint32_t* rowIds, uint32_t numRowIDs, PlayerID target, bool broadcast);
    // Update mode 0 changes an existing row, 1 changes it or adds one, anything else adds one.
    // Nothing is sent without updates.
    bool UpdateRow(const char* tableName, const char* updatePassword, uint8_t updateMode, bool hasRowId,
                   uint32_t rowId, const DatabaseCellUpdate* cellUpdates, uint32_t numCellUpdates,
                   PlayerID target, bool broadcast);
    bool RemoveRow(const char* tableName, const char* removePassword, uint32_t rowId, PlayerID target,
                   bool broadcast);

private:
    void WriteHeader(BitStream* out, uint8_t messageId, const char* tableName, const char* password) const;
    bool CanSend(const char* tableName) const;
    bool Send(const BitStream& message, PlayerID target, bool broadcast) const;

    NetPeerInterface* peer_ = nullptr;
};

}  // namespace velt
