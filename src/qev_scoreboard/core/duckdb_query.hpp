#pragma once
// Queries on a DuckDB connection, through the run-time loaded API: results and their data chunks, each
// released on every way out, and a failing statement thrown as the engine's own message. The one set of
// helpers every caller of the engine uses.

#include <cstdint>
#include <string>
#include <string_view>

#include "qev_scoreboard/core/duckdb_loader.hpp"

namespace qev_scoreboard {

// One data chunk of a result; empty once the result is exhausted.
class DuckDBChunk {
 public:
    DuckDBChunk(const DuckDBApi& api, duckdb_data_chunk chunk) : api_(api), chunk_(chunk) {}
    DuckDBChunk(const DuckDBChunk&) = delete;
    DuckDBChunk& operator=(const DuckDBChunk&) = delete;
    ~DuckDBChunk() {
        if (chunk_) api_.duckdb_destroy_data_chunk(&chunk_);
    }

    explicit operator bool() const { return chunk_ != nullptr; }
    idx_t size() const { return api_.duckdb_data_chunk_get_size(chunk_); }
    // One column's values, T being the column's C type, and its validity mask (valid() tells a NULL).
    template <typename T>
    const T* values(idx_t column, uint64_t*& validity) const {
        duckdb_vector v = api_.duckdb_data_chunk_get_vector(chunk_, column);
        validity = api_.duckdb_vector_get_validity(v);
        return static_cast<const T*>(api_.duckdb_vector_get_data(v));
    }
    bool valid(const uint64_t* validity, idx_t row) const {
        return validity == nullptr || api_.duckdb_validity_row_is_valid(const_cast<uint64_t*>(validity), row);
    }
    // The VARCHAR at `row` of `column`.
    std::string text(idx_t column, idx_t row) const {
        uint64_t* validity = nullptr;
        duckdb_string_t s = values<duckdb_string_t>(column, validity)[row];
        return std::string(api_.duckdb_string_t_data(&s), api_.duckdb_string_t_length(s));
    }

 private:
    const DuckDBApi& api_;
    duckdb_data_chunk chunk_;
};

// The result of one statement. Throws std::runtime_error with the engine's message when it fails.
class DuckDBResult {
 public:
    DuckDBResult(const DuckDBApi& api, duckdb_connection con, const std::string& sql);
    DuckDBResult(const DuckDBResult&) = delete;
    DuckDBResult& operator=(const DuckDBResult&) = delete;
    ~DuckDBResult() { api_.duckdb_destroy_result(&res_); }

    idx_t columns() { return api_.duckdb_column_count(&res_); }
    duckdb_type column_type(idx_t column) { return api_.duckdb_column_type(&res_, column); }
    std::string column_name(idx_t column) {
        const char* name = api_.duckdb_column_name(&res_, column);
        return name != nullptr ? name : "";
    }
    DuckDBChunk next() { return DuckDBChunk(api_, api_.duckdb_fetch_chunk(res_)); }

 private:
    const DuckDBApi& api_;
    duckdb_result res_{};
};

// `text` between two `quote`s, each `quote` inside doubled: a string literal (') or an identifier (")
// that means exactly `text` to SQL, whatever it holds.
inline std::string sql_quoted(std::string_view text, char quote) {
    std::string out(1, quote);
    for (const char c : text) {
        if (c == quote) out += quote;
        out += c;
    }
    return out + quote;
}

// Runs a statement whose result is not wanted.
inline void duckdb_execute(const DuckDBApi& api, duckdb_connection con, const std::string& sql) {
    DuckDBResult(api, con, sql);
}

}  // namespace qev_scoreboard
