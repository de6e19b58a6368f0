// Differential check of the table's query, filter and sort against the sqlite3 command-line
// tool: random tables and random requests, the same questions put to both, the answers compared
// line by line. An empty cell is SQL's NULL; ties in a sort are broken by ascending id on both
// sides.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "net/ext/Table.h"

extern char** environ;

namespace velt::DataStructures {
namespace {

using Cell = Table::Cell;

const char* const kTexts[] = {"", "a", "b", "ab", "ba", "abc", "B", "zz", "a b"};
const std::string kBytes[] = {
    std::string(),          std::string("\0", 1),       std::string("\x01\x02", 2),
    std::string("\x01", 1), std::string("\xff\x00", 2), std::string("\x7f\x80\x81", 3)};

// A random non-empty value of the type.
void SetRandom(Cell& cell, Table::ColumnType type, std::mt19937& random) {
    if (type == Table::NUMERIC)
        cell.Set(int32_t(random() % 11) - 5);
    else if (type == Table::STRING)
        cell.Set(kTexts[random() % std::size(kTexts)]);
    else {
        const std::string& bytes = kBytes[random() % std::size(kBytes)];
        cell.Set(bytes.data(), int32_t(bytes.size()));
    }
}

// What SQL's quote() prints for the value.
std::string Quote(const Cell& cell, Table::ColumnType type) {
    if (cell.isEmpty) return "NULL";
    if (type == Table::NUMERIC) return std::to_string(cell.integer);
    if (type == Table::STRING) return std::string("'") + cell.Text() + "'";
    static const char kHex[] = "0123456789ABCDEF";
    std::string out = "X'";
    for (int32_t i = 0; i < cell.ByteCount(); ++i) {
        const uint8_t b = uint8_t(cell.data[i]);
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
    return out + "'";
}

struct Trial {
    Table table;
    std::vector<std::vector<std::string>> expected;  // one answer per request, in script order
};

class ScriptWriter {
public:
    void Create(int t, const Table& table) {
        sql_ << "CREATE TABLE t" << t << "(id INTEGER PRIMARY KEY";
        for (uint32_t c = 0; c < table.GetColumnCount(); ++c) sql_ << ", c" << c;
        sql_ << ");\n";
        for (const Table::RowPage* page = table.GetListHead(); page != nullptr; page = page->next) {
            for (int32_t i = 0; i < page->size; ++i) {
                sql_ << "INSERT INTO t" << t << " VALUES(" << page->keys[i];
                for (uint32_t c = 0; c < table.GetColumnCount(); ++c)
                    sql_ << ", " << Quote(*page->data[i]->cells[c], table.GetColumnType(c));
                sql_ << ");\n";
            }
        }
    }
    void Request(int t, int r, const std::string& select) {
        sql_ << "SELECT '#" << t << "." << r << "';\n" << select << ";\n";
    }
    std::string Text() const { return sql_.str(); }

private:
    std::ostringstream sql_;
};

std::string FilterSql(const Table& table, const TableFilter& filter) {
    if (filter.columnIndex >= table.GetColumnCount())
        return filter.operation == Table::FilterIsEmpty ? "1" : "0";
    const Table::ColumnType type = table.GetColumnType(filter.columnIndex);
    const std::string column = "c" + std::to_string(filter.columnIndex);
    const std::string value = Quote(filter.cellValue, type);
    switch (filter.operation) {
        case Table::FilterEqual: return column + " = " + value;
        case Table::FilterNotEqual: return column + " <> " + value;
        case Table::FilterGreaterThan: return type == Table::BINARY ? "0" : column + " > " + value;
        case Table::FilterLessThan: return type == Table::BINARY ? "0" : column + " < " + value;
        case Table::FilterIsEmpty: return column + " IS NULL";
        case Table::FilterNotEmpty: return column + " IS NOT NULL";
    }
    return "0";
}

// One random query: the table's answer as lines, and the SQL that should give the same lines.
std::string RandomQuery(const Table& table, std::mt19937& random, std::vector<std::string>& answer) {
    const uint32_t columnCount = table.GetColumnCount();
    std::vector<uint32_t> subset;
    if (random() % 2)
        for (int n = 1 + int(random() % 4); n > 0; --n)
            subset.push_back(uint32_t(random() % (columnCount + 2)));
    std::vector<TableFilter> filters(random() % 4);
    for (TableFilter& filter : filters) {
        filter.columnIndex = uint32_t(random() % (columnCount + 1));
        filter.operation = Table::FilterQueryType(random() % Table::kFilterQueryTypeCount);
        SetRandom(filter.cellValue, table.GetColumnType(filter.columnIndex), random);
    }
    std::vector<uint32_t> rowIds;
    if (random() % 3 == 0)
        for (int n = 1 + int(random() % 8); n > 0; --n) rowIds.push_back(uint32_t(random() % 300));

    Table result;
    table.Query(subset.data(), uint32_t(subset.size()), filters.data(), uint32_t(filters.size()),
                rowIds.data(), uint32_t(rowIds.size()), &result);
    for (const Table::RowPage* page = result.GetListHead(); page != nullptr; page = page->next) {
        for (int32_t i = 0; i < page->size; ++i) {
            std::string line = std::to_string(page->keys[i]);
            for (uint32_t c = 0; c < result.GetColumnCount(); ++c)
                line += "|" + Quote(*page->data[i]->cells[c], result.GetColumnType(c));
            answer.push_back(line);
        }
    }

    std::vector<uint32_t> chosen;
    if (subset.empty())
        for (uint32_t c = 0; c < columnCount; ++c) chosen.push_back(c);
    for (uint32_t c : subset)
        if (c < columnCount) chosen.push_back(c);
    std::string select = "SELECT id";
    for (uint32_t c : chosen) select += ", quote(c" + std::to_string(c) + ")";
    select += " FROM t%T WHERE " + std::string(chosen.empty() ? "0" : "1");
    for (const TableFilter& filter : filters) select += " AND " + FilterSql(table, filter);
    if (!rowIds.empty()) {
        select += " AND id IN (";
        for (size_t i = 0; i < rowIds.size(); ++i) select += (i ? "," : "") + std::to_string(rowIds[i]);
        select += ")";
    }
    return select + " ORDER BY id";
}

std::string RandomSort(const Table& table, std::mt19937& random, std::vector<std::string>& answer) {
    std::vector<TableSortKey> keys(1 + random() % 3);
    std::string order = "SELECT id FROM t%T ORDER BY ";
    for (TableSortKey& key : keys) {
        key.columnIndex = uint32_t(random() % (table.GetColumnCount() + 1));
        key.operation = random() % 2 ? Table::SortDecreasing : Table::SortIncreasing;
        if (key.columnIndex >= table.GetColumnCount() ||
            table.GetColumnType(key.columnIndex) == Table::BINARY)
            continue;
        const std::string column = "c" + std::to_string(key.columnIndex);
        order += "(" + column + " IS NULL), " + column +
                 (key.operation == Table::SortDecreasing ? " DESC, " : ", ");
    }
    std::vector<Table::Row*> rows(table.GetRowCount());
    table.Sort(keys.data(), uint32_t(keys.size()), rows.data());
    std::map<const Table::Row*, uint32_t> idOf;
    for (const Table::RowPage* page = table.GetListHead(); page != nullptr; page = page->next)
        for (int32_t i = 0; i < page->size; ++i) idOf[page->data[i]] = page->keys[i];
    for (const Table::Row* row : rows) answer.push_back(std::to_string(idOf.at(row)));
    return order + "id";
}

std::string Substitute(std::string text, int t) {
    const size_t at = text.find("%T");
    return text.replace(at, 2, std::to_string(t));
}

// Runs the tool on script (as its standard input) and returns what it printed, or "" with
// *ran false when it could not be started.
std::string RunSqlite(const std::string& script, bool* ran) {
    char scriptPath[] = "/tmp/velt_table_diff_sql_XXXXXX";
    char outputPath[] = "/tmp/velt_table_diff_out_XXXXXX";
    const int scriptFd = mkstemp(scriptPath);
    const int outputFd = mkstemp(outputPath);
    *ran = false;
    if (scriptFd < 0 || outputFd < 0) return {};
    if (write(scriptFd, script.data(), script.size()) != ssize_t(script.size())) return {};
    close(scriptFd);
    close(outputFd);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, scriptPath, O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outputPath, O_WRONLY | O_TRUNC, 0);
    char program[] = "sqlite3", batch[] = "-batch", memory[] = ":memory:";
    char* argv[] = {program, batch, memory, nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, "sqlite3", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (spawned == 0 && waitpid(pid, &status, 0) == pid) *ran = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    std::ifstream in(outputPath);
    std::stringstream text;
    text << in.rdbuf();
    unlink(scriptPath);
    unlink(outputPath);
    return text.str();
}

TEST(TableAgainstSqlite, QueriesFiltersAndSortsGiveTheSameAnswers) {
    std::mt19937 random(20240611);
    constexpr int kTables = 80, kQueries = 12, kSorts = 6;
    std::vector<Trial> trials(kTables);
    ScriptWriter script;
    for (int t = 0; t < kTables; ++t) {
        Table& table = trials[t].table;
        const int columns = 1 + int(random() % 5);
        for (int c = 0; c < columns; ++c)
            table.AddColumn(("c" + std::to_string(c)).c_str(), Table::ColumnType(random() % 3));
        for (int n = int(random() % 90); n > 0; --n) {
            Table::Row* row = table.AddRow(uint32_t(random() % 300));
            if (row == nullptr) continue;
            for (int c = 0; c < columns; ++c)
                if (random() % 4 != 0) SetRandom(*row->cells[c], table.GetColumnType(c), random);
        }
        script.Create(t, table);
        for (int r = 0; r < kQueries + kSorts; ++r) {
            trials[t].expected.emplace_back();
            const std::string select = r < kQueries ? RandomQuery(table, random, trials[t].expected.back())
                                                    : RandomSort(table, random, trials[t].expected.back());
            script.Request(t, r, Substitute(select, t));
        }
    }

    bool ran = false;
    const std::string output = RunSqlite(script.Text(), &ran);
    ASSERT_TRUE(ran) << "sqlite3 did not run (scripts/install-deps.sh installs it)";

    std::map<std::string, std::vector<std::string>> answers;
    std::vector<std::string>* current = nullptr;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line[0] == '#')
            current = &answers[line.substr(1)];
        else if (current != nullptr)
            current->push_back(line);
    }
    size_t nonEmpty = 0;
    for (int t = 0; t < kTables; ++t) {
        for (int r = 0; r < kQueries + kSorts; ++r) {
            const std::string key = std::to_string(t) + "." + std::to_string(r);
            ASSERT_EQ(answers.count(key), 1u) << key;
            EXPECT_EQ(trials[t].expected[r], answers[key])
                << "table " << t << (r < kQueries ? " query " : " sort ") << r;
            nonEmpty += trials[t].expected[r].empty() ? 0 : 1;
        }
    }
    EXPECT_GT(nonEmpty, size_t(kTables * (kQueries + kSorts) / 3)) << "most requests should find rows";
}

}  // namespace
}  // namespace velt::DataStructures
