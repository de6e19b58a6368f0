#pragma once

// Script databases: SQLite files under "scriptfiles/" that scripts open, query and read row by
// row (db_open, db_close, db_query, db_free_result, db_num_rows, db_next_row, db_num_fields,
// db_field_name, db_get_field, db_get_field_int, db_get_field_float, db_get_field_assoc,
// db_get_field_assoc_int, db_get_field_assoc_float, db_debug_openfiles, db_debug_openresults,
// db_get_mem_handle, db_get_result_mem_handle).
//
// Every query runs to completion at once, so a result is a self-contained table of texts that
// stays readable after its database is closed. Databases and results belong to the server, not
// to the script that made them: a handle works in every script and survives the script's unload.
// A handle is a list position plus 1 (0 is never valid), and a freed number is reused by the next
// open or query. Cells only ever hold these handles; plugins turn one into the SQLite connection
// or the result through the lookups below. Main thread only.
//
// The table is registered on its own after the server's natives (the hosts call
// RegisterDatabaseNatives on every load), not through NativeFamilies.def.

#include <sqlite3.h>

#include <cstdint>

#include "server/natives/ScriptNatives.h"

namespace velt {

// One query's complete result, as sqlite3_get_table gives it: the column names, then the values
// row by row (a null entry is SQL NULL).
struct ScriptQueryResult {
    int32_t rows = 0;
    int32_t columns = 0;
    char** table = nullptr;
    int32_t currentRow = 0;  // 0-based cursor, moved only forwards by db_next_row
};

int RegisterDatabaseNatives(VmInstance* inst);
// Nothing of a script's is kept here, so there is nothing to clean up; returns 0.
int DatabaseNativesCleanup(VmInstance* inst);

// What db_get_mem_handle and db_get_result_mem_handle return stands for these; null for a handle
// that names nothing (now).
sqlite3* DatabaseConnectionForHandle(uint32_t handle);
ScriptQueryResult* DatabaseResultForHandle(uint32_t handle);

// The longest name db_open accepts ("scriptfiles/" + name fits a 272-byte path).
inline constexpr size_t kMaxDatabaseNameLength = 259;
// Whether db_open would refuse this name before touching any file: empty, longer than
// kMaxDatabaseNameLength, starting with '/' or '\', or holding ".." or ':' anywhere.
bool IsRefusedDatabaseName(const char* name);

}  // namespace velt
