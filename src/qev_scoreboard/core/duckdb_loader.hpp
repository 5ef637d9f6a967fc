#pragma once
// The DuckDB C API, loaded with dlopen() on first use only: commands that never open a database never
// pay for loading the engine. Only the current API is visible here: results are read as data chunks.

#ifndef DUCKDB_API_NO_DEPRECATED
#define DUCKDB_API_NO_DEPRECATED
#endif
#include <duckdb.h>

#include <filesystem>
#include <functional>
#include <string>

#include "qev_scoreboard/platform/file_error.hpp"

namespace qev_scoreboard {

#define QEV_DUCKDB_FUNCTIONS(X)     \
    X(duckdb_library_version)       \
    X(duckdb_create_config)         \
    X(duckdb_set_config)            \
    X(duckdb_destroy_config)        \
    X(duckdb_open)                  \
    X(duckdb_open_ext)              \
    X(duckdb_close)                 \
    X(duckdb_connect)               \
    X(duckdb_disconnect)            \
    X(duckdb_query)                 \
    X(duckdb_destroy_result)        \
    X(duckdb_result_error)          \
    X(duckdb_column_count)          \
    X(duckdb_column_name)           \
    X(duckdb_column_type)           \
    X(duckdb_fetch_chunk)           \
    X(duckdb_destroy_data_chunk)    \
    X(duckdb_data_chunk_get_size)   \
    X(duckdb_data_chunk_get_vector) \
    X(duckdb_vector_get_data)       \
    X(duckdb_vector_get_validity)   \
    X(duckdb_validity_row_is_valid) \
    X(duckdb_string_t_length)       \
    X(duckdb_string_t_data)         \
    X(duckdb_query_progress)        \
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

namespace qev_scoreboard {

// A read-only connection to one database file, closed when it goes out of scope. Views stored in the
// file may read local files, as the pipeline that made them does; nothing else is allowed: no writing,
// no spill files, no extension installed or loaded (so no network), no persistent secrets, and the
// configuration is locked before the first query. Anything but a regular file at `path` (a FIFO, a
// device, a directory) is refused before the engine sees it, so opening never blocks.
struct DuckDBReadOnly {
    duckdb_database db = nullptr;
    duckdb_connection con = nullptr;

    // Throws std::runtime_error carrying DuckDB's own message when the file cannot be opened. A non-empty
    // `file_search_dir` is where the engine looks for relative file names (besides the working directory).
    // With `track_progress`, duckdb_query_progress() tells how far a running query is (the engine prints
    // nothing of it itself).
    explicit DuckDBReadOnly(const std::filesystem::path& path, const std::filesystem::path& file_search_dir = {},
                            bool track_progress = false);
    DuckDBReadOnly(const DuckDBReadOnly&) = delete;
    DuckDBReadOnly& operator=(const DuckDBReadOnly&) = delete;
    ~DuckDBReadOnly();
};

// A database of its own in memory, with the read-only connection's limits on what reaches beyond it
// (local files may be read, nothing installed or loaded, no spill files): where a copy of a view over
// files is counted once the file of its database has been let go, so that a writer is not locked out
// for the time of a long count.
struct DuckDBInMemory {
    duckdb_database db = nullptr;
    duckdb_connection con = nullptr;

    // As DuckDBReadOnly's; throws std::runtime_error with the engine's message when it cannot start.
    explicit DuckDBInMemory(const std::filesystem::path& file_search_dir = {}, bool track_progress = false);
    DuckDBInMemory(const DuckDBInMemory&) = delete;
    DuckDBInMemory& operator=(const DuckDBInMemory&) = delete;
    ~DuckDBInMemory();
};

}  // namespace qev_scoreboard

namespace qev_scoreboard {

// The process could not return to its working directory: relative paths mean something else now, so
// nothing that relies on them may go on.
struct WorkingDirectoryLost : FileError {
    using FileError::FileError;
};

// Runs `body` on a thread of its own whose working directory is `dir`, so that relative file names in
// what `body` runs (and in every thread it starts) resolve there, while the process's working directory
// stays untouched. Where the system refuses a private working directory (unshare is often refused in
// containers), a program that allowed it (see below) has the whole process work in `dir` for the time of
// `body` and then return; otherwise `body` runs with the process's own and receives false. Exceptions
// from `body` reach the caller; failing to return to the process's directory throws WorkingDirectoryLost.
void with_working_directory(const std::filesystem::path& dir, const std::function<void(bool in_dir)>& body);

// Lets with_working_directory() change the process's working directory where it must. Only a program
// that owns its process may call this: a library caller's other threads rely on the directory staying.
void allow_process_directory_change();

}  // namespace qev_scoreboard
