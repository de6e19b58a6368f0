#include "server/natives/DatabaseNatives.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "server/console/Console.h"
#include "server/console/Log.h"

namespace velt {

namespace {

// A list of owned entries whose handles are position + 1: a free position is reused first, and
// the list shrinks to its last entry so that its size is the highest live handle.
template <class T>
class HandleList {
public:
    // The new handle, or 0 when the list cannot grow.
    uint32_t Add(T* entry) {
        for (size_t i = 0; i < slots_.size(); ++i) {
            if (slots_[i] == nullptr) {
                slots_[i] = entry;
                return static_cast<uint32_t>(i + 1);
            }
        }
        try {
            slots_.push_back(entry);
        } catch (const std::bad_alloc&) {
            return 0;
        }
        return static_cast<uint32_t>(slots_.size());
    }
    T* Get(uint32_t handle) const { return handle - 1u < slots_.size() ? slots_[handle - 1u] : nullptr; }
    void Remove(uint32_t handle) {
        if (handle - 1u >= slots_.size()) return;
        slots_[handle - 1u] = nullptr;
        while (!slots_.empty() && slots_.back() == nullptr) slots_.pop_back();
    }
    size_t Size() const { return slots_.size(); }
    std::vector<T*>& Slots() { return slots_; }

private:
    std::vector<T*> slots_;
};

void FreeResult(ScriptQueryResult* result) {
    if (result == nullptr) return;
    if (result->table != nullptr) sqlite3_free_table(result->table);
    delete result;
}

// The process's databases and results. Whatever scripts left open is closed at exit: each query
// has already been committed, so this only lets SQLite tidy its files.
struct DatabaseLists {
    HandleList<sqlite3> databases;
    HandleList<ScriptQueryResult> results;
    ~DatabaseLists() {
        for (sqlite3* db : databases.Slots()) sqlite3_close(db);
        for (ScriptQueryResult* r : results.Slots()) FreeResult(r);
    }
};

DatabaseLists& Lists() {
    static DatabaseLists lists;
    return lists;
}

int32_t ConsoleInt(const char* name) {
    return ServerConsole != nullptr ? ServerConsole->GetIntVariable(name) : 0;
}
bool DbLogging() { return ConsoleInt("db_logging") != 0; }

std::string TextArg(VmInstance* vm, cell address) {
    std::string text;
    ReadScriptString(vm, address, text);
    return text;
}

// The result behind the handle; logs "[Error] <native>(): invalid result handle %u" (with
// "db_logging") when there is none.
ScriptQueryResult* ResultArg(cell handle, const char* native) {
    ScriptQueryResult* r = Lists().results.Get(static_cast<uint32_t>(handle));
    if (r == nullptr && DbLogging())
        LogPrintf("[Error] %s(): invalid result handle %u", native, static_cast<uint32_t>(handle));
    return r;
}

// The value of a column in the current row, or null for SQL NULL; `valid` false when the column
// or the row does not exist.
const char* FieldValue(const ScriptQueryResult& r, cell field, bool& valid) {
    valid = field >= 0 && field < r.columns && r.rows > 0;
    if (!valid) return nullptr;
    return r.table[static_cast<size_t>(field) +
                   static_cast<size_t>(r.columns) * (static_cast<size_t>(r.currentRow) + 1)];
}

// The first column whose name equals `name` exactly, or -1.
cell ColumnByName(const ScriptQueryResult& r, const std::string& name) {
    for (int32_t c = 0; c < r.columns; ++c) {
        const char* column = r.table[c];
        if (column != nullptr && name == column) return c;
    }
    return -1;
}

// ---- databases --------------------------------------------------------------------------------

cell n_db_open(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 1)) return 0;
    const std::string name = TextArg(vm, params[1]);
    if (IsRefusedDatabaseName(name.c_str())) return 0;
    char path[272];
    std::snprintf(path, sizeof path, "scriptfiles/%s", name.c_str());
    sqlite3* db = nullptr;
    if (sqlite3_open(path, &db) != SQLITE_OK) {
        if (DbLogging()) LogPrintf("[Error] Can't open sqlite database %s.", path);
        sqlite3_close(db);
        return 0;
    }
    const uint32_t handle = Lists().databases.Add(db);
    if (handle == 0) sqlite3_close(db);
    return static_cast<cell>(handle);
}

cell n_db_close(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 1)) return 0;
    const uint32_t handle = static_cast<uint32_t>(params[1]);
    sqlite3* db = Lists().databases.Get(handle);
    if (db == nullptr) {
        if (DbLogging()) LogPrintf("[Error] db_close: invalid database handle %u", handle);
        return 0;
    }
    const int rc = sqlite3_close(db);
    Lists().databases.Remove(handle);
    return rc == SQLITE_OK ? 1 : 0;
}

cell n_db_query(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 2)) return 0;
    const uint32_t handle = static_cast<uint32_t>(params[1]);
    sqlite3* db = Lists().databases.Get(handle);
    if (db == nullptr) {
        if (DbLogging()) LogPrintf("[Error] db_query: invalid database handle %u", handle);
        return 0;
    }
    const std::string query = TextArg(vm, params[2]);
    if (ConsoleInt("db_log_queries") != 0) LogPrintf("[db_log_queries]: %.1024s", query.c_str());

    auto* result = new (std::nothrow) ScriptQueryResult{};
    if (result == nullptr) return 0;
    char* error = nullptr;
    int rows = 0;
    int columns = 0;
    const int rc = sqlite3_get_table(db, query.c_str(), &result->table, &rows, &columns, &error);
    if (rc != SQLITE_OK) {
        if (DbLogging()) LogPrintf("[Warning] db_query: Query failed: %s", error != nullptr ? error : "");
        sqlite3_free(error);
        FreeResult(result);
        return 0;
    }
    sqlite3_free(error);
    result->rows = rows;
    result->columns = columns;
    const uint32_t resultHandle = Lists().results.Add(result);
    if (resultHandle == 0) FreeResult(result);
    return static_cast<cell>(resultHandle);
}

cell n_db_free_result(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 1)) return 0;
    ScriptQueryResult* r = ResultArg(params[1], "db_free_result");
    if (r == nullptr) return 0;
    Lists().results.Remove(static_cast<uint32_t>(params[1]));
    FreeResult(r);
    return 1;
}

// ---- reading a result -------------------------------------------------------------------------

cell n_db_num_rows(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 1)) return 0;
    const ScriptQueryResult* r = ResultArg(params[1], "db_num_rows");
    return r != nullptr ? r->rows : 0;
}

cell n_db_next_row(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 1)) return 0;
    ScriptQueryResult* r = ResultArg(params[1], "db_next_row");
    if (r == nullptr || r->currentRow + 1 >= r->rows) return 0;
    ++r->currentRow;
    return 1;
}

cell n_db_num_fields(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 1)) return 0;
    const ScriptQueryResult* r = ResultArg(params[1], "db_num_fields");
    return r != nullptr ? r->columns : 0;
}

// db_field_name(result, field, dest[], size)
cell n_db_field_name(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 4)) return 0;
    const ScriptQueryResult* r = ResultArg(params[1], "db_field_name");
    if (r == nullptr) return 0;
    const cell field = params[2];
    const bool valid = field >= 0 && field < r->columns;
    const char* name = valid ? r->table[field] : nullptr;
    SetScriptString(vm, params[3], name != nullptr ? name : "", params[4]);
    return valid ? 1 : 0;
}

// Copies the value of `field` in the current row (the empty text for NULL or a missing field);
// 1 when the field exists.
cell CopyField(VmInstance* vm, const ScriptQueryResult& r, cell field, cell dest, cell size) {
    bool valid = false;
    const char* value = FieldValue(r, field, valid);
    SetScriptString(vm, dest, value != nullptr ? value : "", size);
    return valid ? 1 : 0;
}

cell FieldInt(const ScriptQueryResult& r, cell field) {
    bool valid = false;
    const char* value = FieldValue(r, field, valid);
    return value != nullptr ? std::atoi(value) : 0;
}

cell FieldFloat(const ScriptQueryResult& r, cell field) {
    bool valid = false;
    const char* value = FieldValue(r, field, valid);
    return FloatToCell(value != nullptr ? static_cast<float>(std::atof(value)) : 0.0f);
}

// db_get_field(result, field, dest[], size)
cell n_db_get_field(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 4)) return 0;
    const ScriptQueryResult* r = ResultArg(params[1], "db_get_field");
    return r != nullptr ? CopyField(vm, *r, params[2], params[3], params[4]) : 0;
}

cell n_db_get_field_int(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 2)) return 0;
    const ScriptQueryResult* r = ResultArg(params[1], "db_get_field_int");
    return r != nullptr ? FieldInt(*r, params[2]) : 0;
}

cell n_db_get_field_float(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 2)) return 0;
    const ScriptQueryResult* r = ResultArg(params[1], "db_get_field_float");
    return r != nullptr ? FieldFloat(*r, params[2]) : 0;
}

// db_get_field_assoc(result, const field[], dest[], size)
cell n_db_get_field_assoc(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 4)) return 0;
    const ScriptQueryResult* r = ResultArg(params[1], "db_get_field_assoc");
    if (r == nullptr) return 0;
    return CopyField(vm, *r, ColumnByName(*r, TextArg(vm, params[2])), params[3], params[4]);
}

cell n_db_get_field_assoc_int(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 2)) return 0;
    const ScriptQueryResult* r = ResultArg(params[1], "db_get_field_assoc_int");
    return r != nullptr ? FieldInt(*r, ColumnByName(*r, TextArg(vm, params[2]))) : 0;
}

cell n_db_get_field_assoc_float(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 2)) return 0;
    const ScriptQueryResult* r = ResultArg(params[1], "db_get_field_assoc_float");
    return r != nullptr ? FieldFloat(*r, ColumnByName(*r, TextArg(vm, params[2]))) : 0;
}

// ---- counts and handles for plugins -----------------------------------------------------------

cell n_db_debug_openfiles(VmInstance*, const cell*) { return static_cast<cell>(Lists().databases.Size()); }

cell n_db_debug_openresults(VmInstance*, const cell*) { return static_cast<cell>(Lists().results.Size()); }

// A cell cannot hold an address: the handle itself is what a plugin hands back to the lookups.
cell n_db_get_mem_handle(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 1)) return 0;
    return DatabaseConnectionForHandle(static_cast<uint32_t>(params[1])) != nullptr ? params[1] : 0;
}

cell n_db_get_result_mem_handle(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 1)) return 0;
    return DatabaseResultForHandle(static_cast<uint32_t>(params[1])) != nullptr ? params[1] : 0;
}

const VmNativeEntry kDatabaseNatives[] = {
    {"db_open", n_db_open},
    {"db_close", n_db_close},
    {"db_query", n_db_query},
    {"db_free_result", n_db_free_result},
    {"db_num_rows", n_db_num_rows},
    {"db_next_row", n_db_next_row},
    {"db_num_fields", n_db_num_fields},
    {"db_field_name", n_db_field_name},
    {"db_get_field", n_db_get_field},
    {"db_get_field_int", n_db_get_field_int},
    {"db_get_field_float", n_db_get_field_float},
    {"db_get_field_assoc", n_db_get_field_assoc},
    {"db_get_field_assoc_int", n_db_get_field_assoc_int},
    {"db_get_field_assoc_float", n_db_get_field_assoc_float},
    {"db_debug_openfiles", n_db_debug_openfiles},
    {"db_debug_openresults", n_db_debug_openresults},
    {"db_get_mem_handle", n_db_get_mem_handle},
    {"db_get_result_mem_handle", n_db_get_result_mem_handle},
    {nullptr, nullptr},
};

}  // namespace

bool IsRefusedDatabaseName(const char* name) {
    if (name == nullptr || name[0] == '\0' || name[0] == '/' || name[0] == '\\') return true;
    if (std::strlen(name) > kMaxDatabaseNameLength) return true;
    return std::strstr(name, "..") != nullptr || std::strchr(name, ':') != nullptr;
}

int RegisterDatabaseNatives(VmInstance* inst) { return vm_Register(inst, kDatabaseNatives, -1); }

int DatabaseNativesCleanup(VmInstance*) { return 0; }

sqlite3* DatabaseConnectionForHandle(uint32_t handle) { return Lists().databases.Get(handle); }

ScriptQueryResult* DatabaseResultForHandle(uint32_t handle) { return Lists().results.Get(handle); }

}  // namespace velt
