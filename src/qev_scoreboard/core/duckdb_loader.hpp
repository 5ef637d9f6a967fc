#pragma once
// The DuckDB C API, loaded with dlopen() on first use only: commands that never open a database never
// pay for loading the engine.

#include <duckdb.h>

namespace qev_scoreboard {

#define QEV_DUCKDB_FUNCTIONS(X) \
    X(duckdb_library_version)   \
    X(duckdb_create_config)     \
    X(duckdb_set_config)        \
    X(duckdb_destroy_config)    \
    X(duckdb_open)              \
    X(duckdb_open_ext)          \
    X(duckdb_close)             \
    X(duckdb_connect)           \
    X(duckdb_disconnect)        \
    X(duckdb_query)             \
    X(duckdb_destroy_result)    \
    X(duckdb_result_error)      \
    X(duckdb_column_count)      \
    X(duckdb_row_count)         \
    X(duckdb_value_is_null)     \
    X(duckdb_value_varchar)     \
    X(duckdb_value_int64)       \
    X(duckdb_free)

struct DuckDBApi {
#define QEV_DUCKDB_MEMBER(name) decltype(&::name) name;
    QEV_DUCKDB_FUNCTIONS(QEV_DUCKDB_MEMBER)
#undef QEV_DUCKDB_MEMBER
};

// The loaded API. The first call loads libduckdb.so from the installation's private directory; a missing or broken
// library throws std::runtime_error with the loader's reason. The library stays loaded until the process ends.
const DuckDBApi& duckdb_api();

// True once duckdb_api() has loaded the engine in this process.
bool duckdb_loaded();

}  // namespace qev_scoreboard

#include <string>

namespace qev_scoreboard {

// A read-only connection to one database file, closed when it goes out of scope. Opening also switches
// off external access and extension auto-install/auto-load, so nothing stored in the file can make us
// write, reach the network or load code.
struct DuckDBReadOnly {
    duckdb_database db = nullptr;
    duckdb_connection con = nullptr;

    // Throws std::runtime_error carrying DuckDB's own message when the file cannot be opened.
    explicit DuckDBReadOnly(const std::string& path);
    DuckDBReadOnly(const DuckDBReadOnly&) = delete;
    DuckDBReadOnly& operator=(const DuckDBReadOnly&) = delete;
    ~DuckDBReadOnly();
};

}  // namespace qev_scoreboard
