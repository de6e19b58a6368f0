// The script I/O natives, called from a real script through the server's tables: server variables,
// password hashes, SQLite databases (checked against the sqlite3 tool) and HTTP requests (against
// the web servers of http_fixture_server.py, through the game server's tick).

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "server/game/PluginApi.h"
#include "server/game/PluginManager.h"
#include "server/hosts/VmScriptHostFactory.h"
#include "server/natives/DatabaseNatives.h"
#include "server/natives/HashNatives.h"
#include "server/natives/ScriptHttpRequests.h"
#include "server/natives/ServerVarNatives.h"
#include "tests/script/http_fixture_servers.h"
#include "tests/script/natives_server_fixture.h"

extern char** environ;

namespace velt::scripttest {
namespace {

// What one run of OnResponse received.
struct Response {
    cell index;
    cell code;
    std::string data;
    bool operator==(const Response&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Response& r) {
    return os << "{" << r.index << ", " << r.code << ", \"" << r.data.substr(0, 40) << "\" (" << r.data.size()
              << ")}";
}

std::vector<Response>* g_responses = nullptr;

cell n_Seen(VmInstance* vm, const cell*) {
    const cell* argv = ScriptCellAddress(vm, static_cast<ucell>(vm->frame + 12), 3);
    if (argv == nullptr || g_responses == nullptr) return 0;
    Response r{LoadScriptCell(argv, 0), LoadScriptCell(argv, 1), ""};
    ReadScriptString(vm, LoadScriptCell(argv, 2), r.data);
    g_responses->push_back(r);
    return 0;
}

const VmNativeEntry kTestNatives[] = {{"Seen", n_Seen}, {nullptr, nullptr}};

class IoNatives : public NativesServerTest {
protected:
    void SetUp() override {
        hosts_.makeRequestPool = [] {
            return std::make_unique<ScriptHttpRequests>(HttpTimeouts{2000, 1, 4000});
        };
        NativesServerTest::SetUp();
        g_responses = &responses;
        std::filesystem::create_directories("scriptfiles/a");
    }
    void TearDown() override {
        g_responses = nullptr;
        // The process's server variables outlive every test: leave them empty.
        ServerVarTable& vars = ServerVars();
        for (int32_t i = vars.UpperIndex(); i > 0; --i) {
            if (const PlayerVarEntry* row = vars.GetAt(i - 1)) vars.Delete(std::string(row->name));
        }
        NativesServerTest::TearDown();
    }

    // A script of the fixture, bound to every table its natives come from (WP_Hash included,
    // which no host binds).
    std::unique_ptr<NativeScript> Script(ScriptKind kind = ScriptKind::GameMode, int slot = -1) {
        auto s = std::make_unique<NativeScript>("natives_io", kind, slot, kTestNatives);
        RegisterDatabaseNatives(s->vm());
        RegisterWhirlpoolNatives(s->vm());
        return s;
    }
    void SetInt(const char* name, cell value) { console_->SetIntVariable(name, value); }

    ScriptHttpRequests* Requests() { return dynamic_cast<ScriptHttpRequests*>(game_->GetHttpRequestPool()); }
    // Ticks the game until `count` responses arrived or the requests are all gone.
    void PumpUntil(size_t count, double seconds = 15.0) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (responses.size() < count && std::chrono::steady_clock::now() < end) {
            game_->Process(0.005f);
            if (Requests()->Pending() == 0 && responses.size() < count) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    void PumpUntilIdle() {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (Requests()->Pending() > 0 && std::chrono::steady_clock::now() < end) {
            game_->Process(0.005f);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    std::vector<Response> responses;
    HttpTimeouts timeouts_{2000, 1, 4000};
};

TEST_F(IoNatives, TheServerHostsBindTheDatabaseTableAndMakeTheRequestTable) {
    ScriptMemory mem("natives_io");
    ASSERT_EQ(mem.loadError, VM_ERR_NONE);
    RegisterScriptNatives(&mem.vm);
    vm_Register(&mem.vm, kTestNatives, -1);
    RegisterWhirlpoolNatives(&mem.vm);
    EXPECT_EQ(mem.vm.flags & VMF_NATIVES_READY, 0);
    VmScriptHostFactory factory;
    factory.Env().RegisterDatabaseNatives(&mem.vm);
    EXPECT_NE(mem.vm.flags & VMF_NATIVES_READY, 0);
    EXPECT_NE(dynamic_cast<ScriptHttpRequests*>(factory.CreateHttpRequestPool().get()), nullptr);
}

// ---- server variables -------------------------------------------------------------------------

TEST_F(IoNatives, ServerVariablesAreSharedByEveryScriptAndSurviveAGamemodeChange) {
    auto gm = Script(ScriptKind::GameMode);
    auto fs = Script(ScriptKind::FilterScript, 0);
    EXPECT_EQ(gm->Call("SetSVarInt", {gm->mem.Str("score"), 5}).value, 1);
    EXPECT_EQ(fs->Call("GetSVarInt", {fs->mem.Str("SCORE")}).value, 5);
    EXPECT_EQ(fs->Call("SetSVarString", {fs->mem.Str("motd"), fs->mem.Str("hi all")}).value, 1);

    game_->EndGameMode();
    game_->RestartGameMode();
    gm.reset();
    auto next = Script(ScriptKind::GameMode);
    EXPECT_EQ(next->Call("GetSVarInt", {next->mem.Str("Score")}).value, 5);
    const cell dest = next->mem.Alloc(std::vector<cell>(16, -1));
    EXPECT_EQ(next->Call("GetSVarString", {next->mem.Str("MOTD"), dest, 16}).value, 6);
    EXPECT_EQ(next->mem.Text(dest), "hi all");
    EXPECT_EQ(next->Call("GetSVarNameAtIndex", {0, dest, 16}).value, 5);
    EXPECT_EQ(next->mem.Text(dest), "SCORE");
}

TEST_F(IoNatives, ServerVariableRules) {
    auto s = Script();
    auto call = [&](const char* native, std::vector<cell> args) {
        return s->Call(native, std::move(args)).value;
    };
    const std::string name40(40, 'n');
    const std::string name41(41, 'n');
    EXPECT_EQ(call("SetSVarInt", {s->mem.Str(name40), 1}), 1);
    EXPECT_EQ(call("SetSVarInt", {s->mem.Str(name41), 1}), 0);
    EXPECT_EQ(call("SetSVarInt", {s->mem.Str(""), 1}), 0);
    EXPECT_EQ(call("GetSVarType", {s->mem.Str(name41)}), 0);

    // Another type replaces the value: the integer is no longer read.
    EXPECT_EQ(call("SetSVarInt", {s->mem.Str("x"), 5}), 1);
    EXPECT_EQ(call("SetSVarFloat", {s->mem.Str("x"), FloatToCell(1.5f)}), 1);
    EXPECT_EQ(call("GetSVarType", {s->mem.Str("x")}), 3);
    EXPECT_EQ(call("GetSVarInt", {s->mem.Str("x")}), 0);
    EXPECT_EQ(CellToFloat(call("GetSVarFloat", {s->mem.Str("X")})), 1.5f);

    // A text read of a non-text leaves the destination alone; a free index writes "".
    const cell dest = s->mem.Alloc({'k', 'e', 'e', 'p', 0});
    EXPECT_EQ(call("GetSVarString", {s->mem.Str("x"), dest, 5}), 0);
    EXPECT_EQ(s->mem.Text(dest), "keep");
    EXPECT_EQ(call("GetSVarNameAtIndex", {1999, dest, 5}), 0);
    EXPECT_EQ(s->mem.Text(dest), "");

    // Rows 0, 1, 2: deleting the last lowers the upper index, deleting a middle one leaves a gap
    // the next name fills.
    EXPECT_EQ(call("GetSVarsUpperIndex", {}), 2);
    EXPECT_EQ(call("SetSVarString", {s->mem.Str("third"), s->mem.Str("")}), 1);
    EXPECT_EQ(call("GetSVarType", {s->mem.Str("third")}), 2);
    EXPECT_EQ(call("GetSVarsUpperIndex", {}), 3);
    EXPECT_EQ(call("DeleteSVar", {s->mem.Str("third")}), 1);
    EXPECT_EQ(call("GetSVarsUpperIndex", {}), 2);
    EXPECT_EQ(call("DeleteSVar", {s->mem.Str("x")}), 1);
    EXPECT_EQ(call("DeleteSVar", {s->mem.Str("x")}), 0);
    EXPECT_EQ(call("GetSVarsUpperIndex", {}), 1);
    EXPECT_EQ(call("SetSVarInt", {s->mem.Str("again"), 7}), 1);
    EXPECT_EQ(call("GetSVarNameAtIndex", {1, dest, 6}), 5);
    EXPECT_EQ(s->mem.Text(dest), "AGAIN");
}

TEST_F(IoNatives, AFullServerTableRefusesNewNamesButChangesExistingOnes) {
    for (int i = 0; i < ServerVarTable::kRows; ++i)
        ASSERT_EQ(ServerVars().SetInt("v" + std::to_string(i), i, false), 1);
    auto s = Script();
    EXPECT_EQ(s->Call("SetSVarInt", {s->mem.Str("new"), 1}).value, 0);
    EXPECT_EQ(s->Call("SetSVarInt", {s->mem.Str("v1999"), 42}).value, 1);
    EXPECT_EQ(s->Call("GetSVarInt", {s->mem.Str("V1999")}).value, 42);
}

// ---- hashes -----------------------------------------------------------------------------------

TEST_F(IoNatives, Sha256PassHashMatchesReferenceDigests) {
    // Digests from Python's hashlib.sha256(password + salt).
    struct Case {
        std::string password, salt;
        cell size;
        std::string digest;
    };
    const std::string abc = "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";
    const std::vector<Case> cases = {
        {"", "", 65, "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855"},
        {"abc", "", 65, abc},
        {"ab", "c", 65, abc},
        {"password", "salt123", 65, "4F36462DBB4B35DB8641214E07CB5A5881986AD184350BF12601431EE9AA5C11"},
        {"\xE9t\xE9", "x", 65, "F0AB805593B381A74036BAF0C14102641ECEF46695D074B7CB9689C241E89024"},
        {"abc", "", 10, abc.substr(0, 9)},
    };
    auto s = Script();
    for (const Case& c : cases) {
        const cell dest = s->mem.Alloc(std::vector<cell>(80, -1));
        const cell written =
            s->Call("SHA256_PassHash", {s->mem.Str(c.password), s->mem.Str(c.salt), dest, c.size}).value;
        EXPECT_EQ(written, static_cast<cell>(c.digest.size())) << c.password;
        EXPECT_EQ(s->mem.Text(dest), c.digest) << c.password;
        // Nothing beyond the size the script gave.
        EXPECT_EQ(s->mem.Read(dest + c.size * 4, 1)[0], -1);
    }
}

TEST_F(IoNatives, WhirlpoolHashMatchesOpenSslAndIsBoundByNoLoad) {
    // Digests from "openssl dgst -whirlpool -provider legacy".
    const std::string abc =
        "4E2448A4C6F486BB16B6562C73B4020BF3043E3A731BCE721AE1B303D97E6D4C7181EEBDB6C57E277D0E34957114CBD6C797"
        "FC9D95D8"
        "B582D225292076D4EEF5";
    const std::string q5000 =
        "699F3E61370EED4721A5356A4812750B8E4A5D27AE8699915782F9B7C7DC41E6D37F398F8A009A7509080574A757ECAE2110"
        "0080BBBA"
        "37299FB19E4085CCD62D";
    auto s = Script();
    const cell dest = s->mem.Alloc(std::vector<cell>(140, 7));
    EXPECT_EQ(s->Call("WP_Hash", {dest, 128, s->mem.Str("abc")}).value, 0);
    EXPECT_EQ(s->mem.Read(dest, 1)[0], 7);
    EXPECT_EQ(s->Call("WP_Hash", {dest, 200, s->mem.Str("abc")}).value, 0);
    EXPECT_EQ(s->mem.Text(dest), abc);
    EXPECT_EQ(s->mem.Read(dest + 129 * 4, 1)[0], 7);
    EXPECT_EQ(s->Call("WP_Hash", {dest, 129, s->mem.Str(std::string(5000, 'q'))}).value, 0);
    EXPECT_EQ(s->mem.Text(dest), q5000);

    for (const VmNativeEntry* row = ScriptNatives(); row->name != nullptr; ++row)
        EXPECT_STRNE(row->name, "WP_Hash");
}

// ---- databases --------------------------------------------------------------------------------

std::vector<std::string> TreeListing(const std::filesystem::path& root) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root))
        names.push_back(e.path().lexically_relative(root).string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(IoNatives, RefusedDatabaseNamesTouchNoFile) {
    auto s = Script();
    std::ofstream("scriptfiles/x.db") << "";  // a name a refused path could reach
    const std::vector<std::string> before = TreeListing(dir_);
    for (const std::string& name :
         {std::string("/x.db"), std::string("\\x.db"), std::string("x..db"), std::string("../x.db"),
          std::string("c:x.db"), std::string("a/../../x.db"), std::string(""), std::string(260, 'n')}) {
        EXPECT_EQ(s->Call("db_open", {s->mem.Str(name)}).value, 0) << name;
    }
    EXPECT_EQ(TreeListing(dir_), before);

    const cell db = s->Call("db_open", {s->mem.Str("a/b.db")}).value;
    EXPECT_NE(db, 0);
    EXPECT_TRUE(std::filesystem::exists("scriptfiles/a/b.db"));
    EXPECT_EQ(s->Call("db_close", {db}).value, 1);
}

TEST_F(IoNatives, HandlesAreListPositionsReusedLowestFirst) {
    auto s = Script();
    auto open = [&](const char* name) { return s->Call("db_open", {s->mem.Str(name)}).value; };
    EXPECT_EQ(open("one.db"), 1);
    EXPECT_EQ(open("two.db"), 2);
    EXPECT_EQ(s->Call("db_close", {1}).value, 1);
    EXPECT_EQ(s->Call("db_debug_openfiles", {}).value, 2);
    EXPECT_EQ(open("three.db"), 1);
    EXPECT_EQ(s->Call("db_close", {2}).value, 1);
    EXPECT_EQ(s->Call("db_debug_openfiles", {}).value, 1);

    // The mem handles stand for the connection and the result without putting an address in a cell.
    EXPECT_EQ(s->Call("db_get_mem_handle", {1}).value, 1);
    EXPECT_NE(DatabaseConnectionForHandle(1), nullptr);
    EXPECT_EQ(s->Call("db_get_mem_handle", {2}).value, 0);
    const cell r = s->Call("db_query", {1, s->mem.Str("SELECT 1")}).value;
    EXPECT_EQ(r, 1);
    EXPECT_EQ(s->Call("db_get_result_mem_handle", {r}).value, r);
    EXPECT_EQ(DatabaseResultForHandle(static_cast<uint32_t>(r))->rows, 1);
    EXPECT_EQ(s->Call("db_get_result_mem_handle", {r + 1}).value, 0);

    // Plugins get the same lookups through their data table.
    PluginManager plugins;
    VmScriptHostFactory hosts;
    hosts.SetPlugins(&plugins);
    void* const* data = plugins.DataTable();
    auto connection = plugin::Word<plugin::HandleLookupFn>(data, plugin::kDataDatabaseForHandle);
    auto result = plugin::Word<plugin::HandleLookupFn>(data, plugin::kDataDatabaseResultForHandle);
    ASSERT_NE(connection, nullptr);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(connection(1), DatabaseConnectionForHandle(1));
    EXPECT_EQ(connection(2), nullptr);
    EXPECT_EQ(result(static_cast<uint32_t>(r)), DatabaseResultForHandle(static_cast<uint32_t>(r)));
    EXPECT_EQ(result(static_cast<uint32_t>(r + 1)), nullptr);
    hosts.SetPlugins(nullptr);
    EXPECT_EQ(s->Call("db_free_result", {r}).value, 1);
    EXPECT_EQ(s->Call("db_debug_openresults", {}).value, 0);
    EXPECT_EQ(s->Call("db_close", {1}).value, 1);
    EXPECT_EQ(s->Call("db_debug_openfiles", {}).value, 0);
}

TEST_F(IoNatives, QueryResultsReadRowByRowAndOutliveTheirDatabase) {
    auto s = Script();
    const cell db = s->Call("db_open", {s->mem.Str("rows.db")}).value;
    ASSERT_NE(db, 0);
    auto exec = [&](const std::string& sql) {
        const cell r = s->Call("db_query", {db, s->mem.Str(sql)}).value;
        EXPECT_NE(r, 0) << sql;
        s->Call("db_free_result", {r});
    };
    exec("CREATE TABLE t (name TEXT, score INTEGER, ratio REAL)");
    exec("INSERT INTO t VALUES ('ann', 10, 1.5), ('bob', NULL, 2.25), (NULL, 30, NULL)");

    const cell empty = s->Call("db_query", {db, s->mem.Str("SELECT * FROM t WHERE score > 100")}).value;
    ASSERT_NE(empty, 0);
    EXPECT_EQ(s->Call("db_num_rows", {empty}).value, 0);
    EXPECT_EQ(s->Call("db_next_row", {empty}).value, 0);
    s->Call("db_free_result", {empty});

    const cell r =
        s->Call("db_query", {db, s->mem.Str("SELECT name, score, ratio FROM t ORDER BY rowid")}).value;
    ASSERT_NE(r, 0);
    EXPECT_EQ(s->Call("db_close", {db}).value, 1);  // the result stays readable
    EXPECT_EQ(s->Call("db_num_rows", {r}).value, 3);
    EXPECT_EQ(s->Call("db_num_fields", {r}).value, 3);
    const cell dest = s->mem.Alloc(std::vector<cell>(16, -1));
    auto field = [&](cell f) {
        const cell ok = s->Call("db_get_field", {r, f, dest, 16}).value;
        return std::to_string(ok) + ":" + s->mem.Text(dest);
    };
    auto assoc = [&](const char* name) {
        const cell ok = s->Call("db_get_field_assoc", {r, s->mem.Str(name), dest, 16}).value;
        return std::to_string(ok) + ":" + s->mem.Text(dest);
    };
    EXPECT_EQ(s->Call("db_field_name", {r, 1, dest, 16}).value, 1);
    EXPECT_EQ(s->mem.Text(dest), "score");
    EXPECT_EQ(s->Call("db_field_name", {r, 3, dest, 16}).value, 0);
    EXPECT_EQ(s->mem.Text(dest), "");

    EXPECT_EQ(field(0), "1:ann");
    EXPECT_EQ(assoc("score"), "1:10");
    EXPECT_EQ(CellToFloat(s->Call("db_get_field_float", {r, 2}).value), 1.5f);
    EXPECT_EQ(field(3), "0:");
    EXPECT_EQ(field(-1), "0:");
    EXPECT_EQ(assoc("Score"), "0:");  // names match exactly

    EXPECT_EQ(s->Call("db_next_row", {r}).value, 1);
    EXPECT_EQ(field(1), "1:");  // NULL reads as the empty text
    EXPECT_EQ(s->Call("db_get_field_int", {r, 1}).value, 0);
    EXPECT_EQ(CellToFloat(s->Call("db_get_field_assoc_float", {r, s->mem.Str("ratio")}).value), 2.25f);

    EXPECT_EQ(s->Call("db_next_row", {r}).value, 1);
    EXPECT_EQ(s->Call("db_next_row", {r}).value, 0);  // the cursor stays on the last row
    EXPECT_EQ(field(0), "1:");
    EXPECT_EQ(s->Call("db_get_field_assoc_int", {r, s->mem.Str("score")}).value, 30);
    EXPECT_EQ(s->Call("db_get_field_assoc_int", {r, s->mem.Str("nope")}).value, 0);
    EXPECT_EQ(s->Call("db_free_result", {r}).value, 1);
    EXPECT_EQ(s->Call("db_free_result", {r}).value, 0);
}

TEST_F(IoNatives, FailuresReturnZeroAndLogOnlyWhenAsked) {
    auto s = Script();
    const cell db = s->Call("db_open", {s->mem.Str("log.db")}).value;
    ASSERT_NE(db, 0);
    EXPECT_EQ(s->Call("db_query", {db, s->mem.Str("SELEKT nonsense")}).value, 0);
    EXPECT_EQ(s->Call("db_num_rows", {0}).value, 0);
    EXPECT_FALSE(Logged("[Error] db_num_rows(): invalid result handle 0"));

    SetInt("db_logging", 1);
    SetInt("db_log_queries", 1);
    EXPECT_EQ(s->Call("db_query", {db, s->mem.Str("SELEKT nonsense")}).value, 0);
    EXPECT_EQ(s->Call("db_num_rows", {0}).value, 0);
    EXPECT_EQ(s->Call("db_get_field_float", {-1, 0}).value, 0);
    EXPECT_EQ(s->Call("db_query", {99, s->mem.Str("SELECT 1")}).value, 0);
    EXPECT_EQ(s->Call("db_close", {99}).value, 0);
    const std::string longQuery = "SELECT '" + std::string(2000, 'q') + "'";
    const cell r = s->Call("db_query", {db, s->mem.Str(longQuery)}).value;
    EXPECT_NE(r, 0);
    s->Call("db_free_result", {r});
    EXPECT_EQ(s->Call("db_close", {db}).value, 1);

    EXPECT_TRUE(Logged("[db_log_queries]: SELEKT nonsense"));
    EXPECT_TRUE(Logged("[Warning] db_query: Query failed: near \"SELEKT\": syntax error"));
    EXPECT_TRUE(Logged("[Error] db_num_rows(): invalid result handle 0"));
    EXPECT_TRUE(Logged("[Error] db_get_field_float(): invalid result handle 4294967295"));
    EXPECT_TRUE(Logged("[Error] db_query: invalid database handle 99"));
    EXPECT_TRUE(Logged("[Error] db_close: invalid database handle 99"));
    EXPECT_TRUE(Logged("[db_log_queries]: " + longQuery.substr(0, 1024)));
}

// Runs the sqlite3 tool on the database file with one statement; its standard output.
std::string Sqlite3Tool(const std::string& file, const std::string& sql) {
    int out[2];
    if (pipe(out) != 0) return "";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<std::string> args = {"sqlite3", file, sql};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, "sqlite3", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string text;
    char buf[4096];
    for (ssize_t n; rc == 0 && (n = read(out[0], buf, sizeof buf)) > 0;)
        text.append(buf, static_cast<size_t>(n));
    close(out[0]);
    int status = 0;
    if (rc == 0) waitpid(pid, &status, 0);
    return text;
}

TEST_F(IoNatives, DatabaseFilesAreOrdinarySqliteFilesBothWays) {
    auto s = Script();
    const cell db = s->Call("db_open", {s->mem.Str("shared.db")}).value;
    ASSERT_NE(db, 0);
    for (const char* sql :
         {"CREATE TABLE p (id INTEGER, name TEXT)", "INSERT INTO p VALUES (1, 'from natives')"})
        s->Call("db_free_result", {s->Call("db_query", {db, s->mem.Str(sql)}).value});
    EXPECT_EQ(Sqlite3Tool("scriptfiles/shared.db", "SELECT id, name FROM p;"), "1|from natives\n");

    Sqlite3Tool("scriptfiles/shared.db", "INSERT INTO p VALUES (2, 'from the tool');");
    const cell r = s->Call("db_query", {db, s->mem.Str("SELECT name FROM p WHERE id = 2")}).value;
    ASSERT_NE(r, 0);
    const cell dest = s->mem.Alloc(std::vector<cell>(32, 0));
    EXPECT_EQ(s->Call("db_get_field", {r, 0, dest, 32}).value, 1);
    EXPECT_EQ(s->mem.Text(dest), "from the tool");
    s->Call("db_free_result", {r});
    EXPECT_EQ(s->Call("db_close", {db}).value, 1);
}

// ---- HTTP -------------------------------------------------------------------------------------

class HttpNatives : public IoNatives {
protected:
    void SetUp() override {
        IoNatives::SetUp();
        ASSERT_TRUE(servers_.Ready());
        ASSERT_NE(Requests(), nullptr);
    }
    // HTTP(index, type, url, data, callback) from the script.
    cell Http(NativeScript& s, cell index, cell type, const std::string& url, const std::string& data = "",
              const std::string& callback = "OnResponse") {
        return s.Call("HTTP", {index, type, s.mem.Str(url), s.mem.Str(data), s.mem.Str(callback)}).value;
    }
    test::HttpFixtureServers servers_;
};

TEST_F(HttpNatives, ResponsesReachTheScriptExactly) {
    auto s = Script();
    EXPECT_EQ(Http(*s, 1, HTTP_GET, servers_.Web("/hello")), 1);
    EXPECT_EQ(Http(*s, 2, HTTP_POST, servers_.Web("/echo"), "a=1&b=2"), 1);
    EXPECT_EQ(Http(*s, 3, HTTP_HEAD, servers_.Web("/hello")), 1);
    EXPECT_EQ(Http(*s, 4, HTTP_GET, servers_.Web("/missing")), 1);
    EXPECT_EQ(Http(*s, 5, HTTP_GET, servers_.Hostile("/bad-status")), 1);
    EXPECT_EQ(Http(*s, 6, HTTP_GET, servers_.Hostile("/silent")), 1);
    PumpUntil(6);
    std::sort(responses.begin(), responses.end(),
              [](const Response& a, const Response& b) { return a.index < b.index; });
    EXPECT_EQ(responses, (std::vector<Response>{{1, 200, "hello world"},
                                                {2, 200, "a=1&b=2"},
                                                {3, 200, ""},
                                                {4, 404, "not here"},
                                                {5, HTTP_ERROR_BAD_RESPONSE, ""},
                                                {6, HTTP_ERROR_BAD_RESPONSE, ""}}));
}

TEST_F(HttpNatives, RefusedRequestsTakeNoSlot) {
    auto s = Script();
    EXPECT_EQ(Http(*s, 1, HTTP_GET, ""), 0);
    EXPECT_EQ(Http(*s, 1, HTTP_GET, servers_.Web("/hello"), "", std::string(40, 'c')), 0);
    EXPECT_EQ(Requests()->Pending(), 0);

    // No worker thread: the slot is given back and the script told 0.
    ScriptHttpRequests noThreads({}, [](pthread_t*, void* (*)(void*), void*) { return false; });
    EXPECT_EQ(noThreads.AddRequest(1, HTTP_GET, "127.0.0.1/", "", s->vm(), "OnResponse"), 0);
    EXPECT_EQ(noThreads.Pending(), 0);
}

TEST_F(HttpNatives, DroppedResponsesAndTheHeapFallback) {
    auto s = Script();
    // No callback named, or one the script lacks: performed, freed, nothing called.
    EXPECT_EQ(Http(*s, 1, HTTP_GET, servers_.Web("/hello"), "", ""), 1);
    EXPECT_EQ(Http(*s, 2, HTTP_GET, servers_.Web("/hello"), "", "NoSuchPublic"), 1);
    // A body larger than the script's heap arrives as "too large" with an empty text.
    EXPECT_EQ(Http(*s, 3, HTTP_GET, servers_.Web("/sized/100000")), 1);
    PumpUntilIdle();
    EXPECT_EQ(responses, (std::vector<Response>{{3, HTTP_ERROR_TOO_LARGE, ""}}));
}

TEST_F(HttpNatives, FinishedRequestsAreDeliveredInSlotOrder) {
    auto s = Script();
    EXPECT_EQ(Http(*s, 10, HTTP_GET, servers_.Web("/slow/300")), 1);
    EXPECT_EQ(Http(*s, 20, HTTP_GET, servers_.Web("/hello")), 1);
    // Both transfers end before the tick that hands them over, the second one first.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (Requests()->Finished() < 2 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    game_->Process(0.005f);
    ASSERT_EQ(responses.size(), 2u);
    EXPECT_EQ(responses[0], (Response{10, 200, "late"}));
    EXPECT_EQ(responses[1], (Response{20, 200, "hello world"}));
}

TEST_F(HttpNatives, AScriptUnloadedBeforeItsResponseGetsNothing) {
    auto gone = Script(ScriptKind::FilterScript, 1);
    auto stays = Script(ScriptKind::FilterScript, 2);
    EXPECT_EQ(Http(*gone, 1, HTTP_GET, servers_.Web("/slow/300")), 1);
    EXPECT_EQ(Http(*stays, 2, HTTP_GET, servers_.Web("/slow/300")), 1);
    // The same instance now holds another load: the response must not go there either.
    UnregisterLiveScript(gone->vm());
    gone->ref = RegisterLiveScript(gone->vm(), ScriptKind::FilterScript, 1);
    PumpUntilIdle();
    EXPECT_EQ(responses, (std::vector<Response>{{2, 200, "late"}}));
}

// Requests that hang for seconds: a tick that waited for one would last that long.
class HangingHttp : public HttpNatives {
protected:
    HangingHttp() { timeouts_ = HttpTimeouts{2000, 3, 6000}; }
};

TEST_F(HangingHttp, TwoHundredHangingRequestsNeitherStallTheTickNorLeaveRoomForMore) {
    auto s = Script();
    for (int i = 0; i < ScriptHttpRequests::kSlots; ++i)
        ASSERT_EQ(Http(*s, i, HTTP_GET, servers_.Hostile("/silent")), 1) << i;
    EXPECT_EQ(Http(*s, 200, HTTP_GET, servers_.Web("/hello")), 0);

    // Ticks while every request hangs on a server that never answers. A tick that waited on a
    // transfer would come back only once that request had timed out, with its failure to hand
    // over; ticks that never wait hand over nothing while the requests still hang. (The tick's
    // cost is measured by bench_http_tick.)
    for (int tick = 0; tick < 20; ++tick) {
        game_->Process(0.005f);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(responses.empty());

    PumpUntil(ScriptHttpRequests::kSlots);
    EXPECT_EQ(responses.size(), static_cast<size_t>(ScriptHttpRequests::kSlots));
    for (const Response& r : responses) EXPECT_EQ(r.code, HTTP_ERROR_BAD_RESPONSE);
    EXPECT_EQ(Http(*s, 500, HTTP_GET, servers_.Web("/hello")), 1);
    responses.clear();
    PumpUntil(1);
    EXPECT_EQ(responses, (std::vector<Response>{{500, 200, "hello world"}}));
}

}  // namespace
}  // namespace velt::scripttest
