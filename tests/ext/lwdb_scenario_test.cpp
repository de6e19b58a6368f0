// The lightweight database between real peers on loopback: a server peer holding the tables and
// client peers on their own addresses (127.0.0.2 and up, so a ban of one leaves the others
// alone). Passwords and bans, row ownership, removal on disconnect, and the removal of rows
// whose owner stops answering pings, on a clock the test moves.

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "net/MessageIdentifiers.h"
#include "net/NetworkFactory.h"
#include "net/ext/LightweightDatabaseClient.h"
#include "net/ext/LightweightDatabaseServer.h"
#include "net/ext/TableSerializer.h"
#include "tests/net/iface_support.h"

namespace velt {
namespace {

using DataStructures::Table;

std::atomic<NetTime> g_now{1000000};
NetTime FakeClock() { return g_now.load(); }

struct Endpoint {
    NetPeerInterface* peer = CreateNetPeer();
    std::vector<test::Received> got;
    ~Endpoint() {
        peer->Disconnect(0, 0);
        DestroyNetPeer(peer);
    }
    size_t Count(uint8_t id) const {
        size_t n = 0;
        for (const test::Received& r : got) n += r.id() == id ? 1 : 0;
        return n;
    }
    const test::Received* Last(uint8_t id) const {
        for (size_t i = got.size(); i > 0; --i)
            if (got[i - 1].id() == id) return &got[i - 1];
        return nullptr;
    }
};

struct ClientSystem {
    LightweightDatabaseClient db;
    Endpoint end;
    PlayerID id{};  // as the server sees it
};

class LightweightDatabase : public ::testing::Test {
protected:
    LightweightDatabase() {
        g_now = 1000000;
        db.SetClock(&FakeClock);
        server.peer->AttachPlugin(&db);
        server.peer->SetMaximumIncomingConnections(4);
        ok = server.peer->Initialize(8, 0, 1, "127.0.0.1");
    }

    ClientSystem& AddClient() {
        clients.push_back(std::make_unique<ClientSystem>());
        ClientSystem& c = *clients.back();
        c.end.peer->AttachPlugin(&c.db);
        const std::string address = "127.0.0." + std::to_string(clients.size() + 1);
        EXPECT_TRUE(c.end.peer->Initialize(1, 0, 1, address.c_str()));
        server.peer->IPToPlayerID(address.c_str(), c.end.peer->GetInternalID().port, &c.id);
        EXPECT_TRUE(c.end.peer->Connect("127.0.0.1", server.peer->GetInternalID().port, nullptr, 0));
        EXPECT_TRUE(Until([&] { return c.end.Count(ID_CONN_ACCEPTED) == 1 && Connected(c); }));
        return c;
    }
    PlayerID ServerId() const {
        PlayerID id{};
        server.peer->IPToPlayerID("127.0.0.1", server.peer->GetInternalID().port, &id);
        return id;
    }
    bool Connected(const ClientSystem& c) const { return server.peer->GetIndexFromPlayerID(c.id) >= 0; }

    void Pump() {
        test::Drain(server.peer, server.got);
        for (auto& c : clients)
            if (c->end.peer->IsActive()) test::Drain(c->end.peer, c->end.got);
    }
    template <class Done>
    bool Until(Done done) {
        return test::WaitFor([&] {
            Pump();
            return done();
        });
    }
    // Lets every message in flight arrive: a request and, when there is one, its answer.
    void Settle() {
        for (int i = 0; i < 30; ++i) {
            Pump();
            SleepMs(2);
        }
    }

    bool Update(ClientSystem& c, const char* table, const char* password, uint8_t mode, bool hasRowId,
                uint32_t rowId, const std::vector<DatabaseCellUpdate>& updates) {
        return c.db.UpdateRow(table, password, mode, hasRowId, rowId, updates.data(),
                              uint32_t(updates.size()), ServerId(), false);
    }
    // Asks for the whole table (or with filters) and reads the answer.
    bool Query(ClientSystem& c, const char* table, Table& out,
               const std::vector<DatabaseFilter>& filters = {}) {
        const size_t before = c.end.Count(ID_DB_QUERY_REPLY);
        if (!c.db.QueryTable(table, nullptr, nullptr, 0, filters.data(), uint32_t(filters.size()), nullptr, 0,
                             ServerId(), false))
            return false;
        if (!Until([&] { return c.end.Count(ID_DB_QUERY_REPLY) > before; })) return false;
        const test::Received* reply = c.end.Last(ID_DB_QUERY_REPLY);
        return TableSerializer::DeserializeTable(reply->bytes.data() + 1, uint32_t(reply->bytes.size() - 1),
                                                 &out);
    }

    LightweightDatabaseServer db;
    Endpoint server;
    std::vector<std::unique_ptr<ClientSystem>> clients;
    bool ok = false;
};

DatabaseCellUpdate Number(const char* column, int32_t value) {
    DatabaseCellUpdate update;
    std::strcpy(update.columnName, column);
    update.columnType = Table::NUMERIC;
    update.cellValue.Set(value);
    return update;
}

DatabaseCellUpdate Text(const char* column, const char* value) {
    DatabaseCellUpdate update;
    std::strcpy(update.columnName, column);
    update.columnType = Table::STRING;
    update.cellValue.Set(value);
    return update;
}

int32_t Score(Table* table, uint32_t rowId) {
    const Table::Row* row = table->GetRowByID(rowId);
    const uint32_t column = table->ColumnIndex("score");
    return row == nullptr || row->cells[column]->isEmpty ? -1 : row->cells[column]->integer;
}

TEST_F(LightweightDatabase, PasswordsUnknownTablesAndBans) {
    ASSERT_TRUE(ok);
    Table* accounts = db.AddTable("accounts", true, true, false, nullptr, "secret", "never", false, false,
                                  false, false, true);
    ASSERT_NE(accounts, nullptr);
    EXPECT_EQ(db.AddTable("accounts", true, true, true, "", "", "", false, false, false, false, false),
              nullptr);
    EXPECT_EQ(db.AddTable("", true, true, true, "", "", "", false, false, false, false, false), nullptr);
    accounts->AddColumn("score", Table::NUMERIC);
    ClientSystem& a = AddClient();
    ClientSystem& b = AddClient();

    ASSERT_TRUE(a.db.QueryTable("nosuch", nullptr, nullptr, 0, nullptr, 0, nullptr, 0, ServerId(), false));
    ASSERT_TRUE(Until([&] { return a.end.Count(ID_DB_UNKNOWN_TABLE) == 1; }));
    EXPECT_EQ(a.end.Count(ID_DB_QUERY_REPLY), 0u);
    EXPECT_EQ(a.end.Last(ID_DB_UNKNOWN_TABLE)->bytes.size(), 1u);

    // No password where one is needed: refused, nothing more.
    ASSERT_TRUE(Update(b, "accounts", nullptr, 2, false, 0, {Number("score", 1)}));
    ASSERT_TRUE(Until([&] { return b.end.Count(ID_DB_INCORRECT_PASSWORD) == 1; }));
    EXPECT_TRUE(Connected(b));
    EXPECT_EQ(accounts->GetRowCount(), 0u);

    ASSERT_TRUE(Update(b, "accounts", "secret", 2, false, 0, {Number("score", 2)}));
    ASSERT_TRUE(Until([&] { return accounts->GetRowCount() == 1; }));
    EXPECT_EQ(Score(accounts, 0), 2);
    Table answer;
    ASSERT_TRUE(Query(b, "accounts", answer)) << "queries need no password on this table";
    EXPECT_EQ(answer.GetRowCount(), 1u);

    // A wrong password: banned for a second and disconnected; the other client is not.
    ASSERT_TRUE(Update(a, "accounts", "guess", 2, false, 0, {Number("score", 3)}));
    ASSERT_TRUE(Until([&] { return !Connected(a); }));
    EXPECT_TRUE(server.peer->IsBanned("127.0.0.2"));
    EXPECT_FALSE(server.peer->IsBanned("127.0.0.3"));
    EXPECT_TRUE(Connected(b));
    EXPECT_EQ(accounts->GetRowCount(), 1u);
    EXPECT_EQ(db.GetStatistics().passwordRefusals, 2u);

    // Names and passwords longer than a request carries still match: both sides cut them alike.
    const std::string longName(40, 't'), longPassword(45, 'p');
    Table* cut = db.AddTable(longName.c_str(), false, true, false, nullptr, longPassword.c_str(), nullptr,
                             false, false, false, false, true);
    ASSERT_NE(cut, nullptr);
    EXPECT_EQ(db.GetTable(longName.substr(0, kDatabaseTextChars - 1).c_str()), cut);
    cut->AddColumn("score", Table::NUMERIC);
    ASSERT_TRUE(Update(b, longName.c_str(), longPassword.c_str(), 2, false, 0, {Number("score", 7)}));
    ASSERT_TRUE(Until([&] { return cut->GetRowCount() == 1; }));
    EXPECT_TRUE(Connected(b));
}

TEST_F(LightweightDatabase, OwnershipOneRowPerSystemAndRemovalOnDisconnect) {
    ASSERT_TRUE(ok);
    Table* players =
        db.AddTable("players", true, true, true, nullptr, nullptr, nullptr, true, true, false, true, true);
    ASSERT_NE(players, nullptr);
    ASSERT_EQ(players->ColumnIndex(LightweightDatabaseServer::kSystemIdColumn), 0u);
    EXPECT_EQ(players->ColumnIndex(LightweightDatabaseServer::kLastPingResponseColumn), Table::kNotFound);
    players->AddColumn("name", Table::STRING);
    players->AddColumn("score", Table::NUMERIC);
    ClientSystem& b = AddClient();
    ClientSystem& c = AddClient();

    ASSERT_TRUE(Update(b, "players", nullptr, 2, true, 77, {Text("name", "bob"), Number("score", 1)}));
    ASSERT_TRUE(Until([&] { return players->GetRowCount() == 1; }));
    ASSERT_TRUE(Update(c, "players", nullptr, 2, true, 77, {Text("name", "carol"), Number("score", 2)}));
    ASSERT_TRUE(Until([&] { return players->GetRowCount() == 2; }));
    EXPECT_NE(players->GetRowByID(0), nullptr) << "automatic ids ignore the ones asked for";
    EXPECT_NE(players->GetRowByID(1), nullptr);

    ASSERT_TRUE(Update(b, "players", nullptr, 2, false, 0, {Text("name", "bob again")}));
    ASSERT_TRUE(Update(c, "players", nullptr, 0, true, 0, {Number("score", 99)}));
    DatabaseCellUpdate forged;
    std::strcpy(forged.columnName, LightweightDatabaseServer::kSystemIdColumn);
    forged.columnType = Table::BINARY;
    forged.cellValue.Set("\x7f\x00\x00\x04\x01\x02", 6);
    ASSERT_TRUE(Update(b, "players", nullptr, 1, true, 0, {Number("score", 5), forged}));
    ASSERT_TRUE(Until([&] { return Score(players, 0) == 5; }));
    Settle();
    EXPECT_EQ(players->GetRowCount(), 2u) << "one row per system";
    EXPECT_EQ(Score(players, 0), 5) << "only the owner changes its row, the value replaced whole";
    char owner[6];
    int32_t length = 0;
    players->GetRowByID(0)->cells[0]->Get(owner, &length);
    EXPECT_EQ(std::memcmp(owner, "\x7f\x00\x00\x02", 4), 0) << "the owner column is the server's own";

    Table answer;
    ASSERT_TRUE(Query(c, "players", answer));
    EXPECT_EQ(answer.GetRowCount(), 2u);
    EXPECT_STREQ(answer.GetRowByID(1)->cells[answer.ColumnIndex("name")]->data, "carol");
    DatabaseFilter unknown, above, wrongType;
    std::strcpy(unknown.columnName, "nope");
    unknown.operation = Table::FilterIsEmpty;
    ASSERT_TRUE(Query(c, "players", answer, {unknown}));
    EXPECT_EQ(answer.GetRowCount(), 2u) << "a filter on an unknown column is left out";
    std::strcpy(above.columnName, "score");
    above.operation = Table::FilterGreaterThan;
    above.cellValue.Set(3);
    std::strcpy(wrongType.columnName, "score");
    wrongType.columnType = Table::STRING;
    wrongType.operation = Table::FilterEqual;
    wrongType.cellValue.Set("5");
    ASSERT_TRUE(Query(c, "players", answer, {above, wrongType}));
    ASSERT_EQ(answer.GetRowCount(), 1u);
    EXPECT_NE(answer.GetRowByID(0), nullptr);

    // Removal needs no ownership.
    ASSERT_TRUE(c.db.RemoveRow("players", nullptr, 0, ServerId(), false));
    ASSERT_TRUE(Until([&] { return players->GetRowCount() == 1; }));
    ASSERT_TRUE(Update(b, "players", nullptr, 2, false, 0, {Text("name", "bob back")}));
    ASSERT_TRUE(Until([&] { return players->GetRowCount() == 2; }));
    EXPECT_NE(players->GetRowByID(2), nullptr);

    b.end.peer->CloseConnection(ServerId(), true, 0);
    ASSERT_TRUE(Until([&] { return players->GetRowCount() == 1; }));
    EXPECT_NE(players->GetRowByID(1), nullptr) << "only the leaving system's rows go";
}

TEST_F(LightweightDatabase, RowsOfSystemsThatStopAnsweringPingsAreDropped) {
    ASSERT_TRUE(ok);
    Table* presence = db.AddTable("presence", false, true, false, nullptr, nullptr, nullptr, false, false,
                                  true, false, true);
    ASSERT_NE(presence, nullptr);
    presence->AddColumn("name", Table::STRING);
    ClientSystem& stays = AddClient();
    ClientSystem& answers = AddClient();
    ClientSystem& silent = AddClient();
    uint32_t rows = 0;
    for (ClientSystem* c : {&stays, &answers, &silent}) {  // one at a time: row ids 0, 1, 2
        ASSERT_TRUE(Update(*c, "presence", nullptr, 2, false, 0, {Text("name", "here")}));
        ASSERT_TRUE(Until([&] { return presence->GetRowCount() == rows + 1; }));
        ++rows;
    }
    const NetTime start = g_now;
    const uint32_t last = presence->ColumnIndex(LightweightDatabaseServer::kLastPingResponseColumn);
    auto lastResponse = [&](uint32_t rowId) {
        return NetTime(presence->GetRowByID(rowId)->cells[last]->integer);
    };
    EXPECT_EQ(lastResponse(1), start);

    // One leaves but keeps answering pings; one leaves and goes silent; one stays connected.
    answers.end.peer->CloseConnection(ServerId(), true, 0);
    silent.end.peer->CloseConnection(ServerId(), true, 0);
    ASSERT_TRUE(Until([&] { return !Connected(answers) && !Connected(silent); }));
    silent.end.peer->Disconnect(0, 0);
    EXPECT_EQ(presence->GetRowCount(), 3u) << "rows stay on disconnect in this table";

    for (int step = 1; step <= 5; ++step) {
        g_now = start + NetTime(step) * 16000;
        ASSERT_TRUE(Until([&] { return lastResponse(0) == g_now && lastResponse(1) == g_now; }))
            << "connected systems count as answering; the other answers the ping, step " << step;
        if (step < 5) {
            EXPECT_EQ(lastResponse(2), start) << "step " << step;
        }
    }
    EXPECT_EQ(presence->GetRowCount(), 2u) << "silent for 80 s: gone";
    EXPECT_EQ(presence->GetRowByID(2), nullptr);
}

// The ping pass on its own, against a peer that never starts: the 75 s boundary.
TEST(LightweightDatabaseOffline, SilenceOfExactly75SecondsKeepsTheRow) {
    LightweightDatabaseServer db;
    db.SetClock(&FakeClock);
    NetPeerInterface* peer = CreateNetPeer();
    g_now = 500000;
    Table* table =
        db.AddTable("t", false, true, false, nullptr, nullptr, nullptr, false, false, true, false, false);
    ASSERT_NE(table, nullptr);
    Table::Row* owned = table->AddRow(1);
    owned->cells[0]->Set("\x7f\x00\x00\x09\x09\x00", 6);
    owned->cells[1]->Set(int32_t(g_now.load()));
    owned->cells[2]->Set(int32_t(g_now.load() + 200000));  // no ping due in this test
    table->AddRow(2);                                      // put in by hand: no bookkeeping

    g_now = g_now + 75000;
    db.Update(peer);
    EXPECT_NE(table->GetRowByID(1), nullptr);
    g_now = g_now + 2000;  // past the next check of the table
    db.Update(peer);
    EXPECT_EQ(table->GetRowByID(1), nullptr);
    EXPECT_NE(table->GetRowByID(2), nullptr);
    EXPECT_EQ(db.AllocateRowId("t"), 0u);
    EXPECT_EQ(db.AllocateRowId("t"), 1u);
    EXPECT_EQ(db.AllocateRowId("none"), 0xFFFFFFFFu);
    EXPECT_TRUE(db.RemoveTable("t"));
    EXPECT_FALSE(db.RemoveTable("t"));
    DestroyNetPeer(peer);
}

}  // namespace
}  // namespace velt
