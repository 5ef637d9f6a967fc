// The status command: a read-only report on one working directory (raw data, database, sample outputs).
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "qev_scoreboard/cli/args.hpp"
#include "qev_scoreboard/cli/handlers.hpp"
#include "qev_scoreboard/cli/output.hpp"
#include "qev_scoreboard/core/duckdb_loader.hpp"
#include "qev_scoreboard/core/fs.hpp"
#include "qev_scoreboard/core/utf8.hpp"
#include "qev_scoreboard/services/paths.hpp"
#include "qev_scoreboard/services/services.hpp"

namespace qev_scoreboard {

namespace {

constexpr std::array<std::string_view, 2> SAMPLE_OUTPUTS = {"json/sample_scoreboard.json",
                                                            "json/sample_trending_lists.json"};

// Fixed-point with `digits` decimals; ties go to the even digit, as printf does for a double.
std::string fixed(double value, int digits) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", digits, value);
    return buf;
}

// A DuckDB identifier that means exactly `name`, whatever characters it holds.
std::string quote_identifier(std::string_view name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + '"';
}

// The engine's message on one line: its own line breaks (query context, hints) would break the
// report's one-entry-per-line layout, and what is left of control characters is made visible.
std::string one_line(std::string_view message) {
    std::string out;
    bool pending_space = false;
    for (size_t i = 0; i < message.size(); ++i) {
        if (message[i] == '\n' || message[i] == '\r') {
            while (!out.empty() && (out.back() == ' ' || out.back() == '\t')) out.pop_back();
            while (i + 1 < message.size() && std::isspace(static_cast<unsigned char>(message[i + 1]))) ++i;
            pending_space = !out.empty();
            continue;
        }
        if (pending_space) out += ' ';
        pending_space = false;
        out += message[i];
    }
    return printable(out);
}

// One data chunk of a result, destroyed on every way out; empty once the result is exhausted.
struct Chunk {
    const DuckDBApi& api;
    duckdb_data_chunk chunk;

    Chunk(const DuckDBApi& a, duckdb_data_chunk c) : api(a), chunk(c) {}
    Chunk(const Chunk&) = delete;
    Chunk& operator=(const Chunk&) = delete;
    ~Chunk() {
        if (chunk) api.duckdb_destroy_data_chunk(&chunk);
    }

    explicit operator bool() const { return chunk != nullptr; }
    idx_t size() const { return api.duckdb_data_chunk_get_size(chunk); }
    // First column's values, and its validity mask (null when every row is valid).
    template <typename T>
    const T* values(uint64_t*& validity) const {
        duckdb_vector v = api.duckdb_data_chunk_get_vector(chunk, 0);
        validity = api.duckdb_vector_get_validity(v);
        return static_cast<const T*>(api.duckdb_vector_get_data(v));
    }
};

// One query result, destroyed on every way out. A failing statement throws DuckDB's message.
struct QueryResult {
    const DuckDBApi& api;
    duckdb_result res{};

    QueryResult(const DuckDBApi& a, duckdb_connection con, const std::string& sql) : api(a) {
        if (api.duckdb_query(con, sql.c_str(), &res) != DuckDBSuccess) {
            const char* error = api.duckdb_result_error(&res);
            std::string message = error && *error ? error : "sorgu başarısız: " + sql;
            api.duckdb_destroy_result(&res);
            throw std::runtime_error(message);
        }
    }
    QueryResult(const QueryResult&) = delete;
    QueryResult& operator=(const QueryResult&) = delete;
    ~QueryResult() { api.duckdb_destroy_result(&res); }

    idx_t columns() { return api.duckdb_column_count(&res); }
    duckdb_type first_column_type() { return api.duckdb_column_type(&res, 0); }
    Chunk next() { return Chunk(api, api.duckdb_fetch_chunk(res)); }
};

std::vector<std::string> list_tables(const DuckDBApi& api, duckdb_connection con) {
    QueryResult shown(api, con, "SHOW TABLES");
    std::vector<std::string> tables;
    for (;;) {
        const Chunk chunk = shown.next();
        if (!chunk) return tables;
        const idx_t rows = chunk.size();
        if (rows == 0) continue;
        if (shown.columns() != 1)
            throw std::runtime_error("SHOW TABLES satırı tek değer yerine " + std::to_string(shown.columns()) +
                                     " sütun taşıyor");
        if (shown.first_column_type() != DUCKDB_TYPE_VARCHAR)
            throw std::runtime_error("SHOW TABLES tablo adı yerine metin olmayan bir değer döndürdü");
        uint64_t* validity = nullptr;
        const auto* names = chunk.values<duckdb_string_t>(validity);
        for (idx_t row = 0; row < rows; ++row) {
            if (validity && !api.duckdb_validity_row_is_valid(validity, row))
                throw std::runtime_error("SHOW TABLES boş tablo adı döndürdü");
            duckdb_string_t name = names[row];
            tables.emplace_back(api.duckdb_string_t_data(&name), api.duckdb_string_t_length(name));
        }
    }
}

int64_t count_rows(const DuckDBApi& api, duckdb_connection con, const std::string& table) {
    QueryResult counted(api, con, "SELECT COUNT(*) FROM " + quote_identifier(table));
    const Chunk chunk = counted.next();
    if (!chunk || chunk.size() < 1 || counted.columns() < 1)
        throw std::runtime_error("COUNT(*) sonuç vermedi: " + printable(table));
    if (counted.first_column_type() != DUCKDB_TYPE_BIGINT)
        throw std::runtime_error("COUNT(*) tamsayı döndürmedi: " + printable(table));
    uint64_t* validity = nullptr;
    const int64_t* count = chunk.values<int64_t>(validity);
    if (validity && !api.duckdb_validity_row_is_valid(validity, 0))
        throw std::runtime_error("COUNT(*) boş değer döndürdü: " + printable(table));
    return count[0];
}

// Row count of every table, printed as it comes; tables without rows print nothing. Throws on the first
// failure, leaving the lines of the tables before it. Views over the raw files name them relative to the
// work directory, where the notebooks run, so the session runs with that as its working directory.
void print_table_counts(const fs::path& db_path, const fs::path& work_dir) {
    // Relative paths would change meaning inside the session, whose working directory is the work directory.
    const fs::path cwd = db_path.is_absolute() && work_dir.is_absolute() ? fs::path() : current_directory();
    const std::string db_file = (cwd / db_path).string();
    const std::string work_dir_text = (cwd / work_dir).string();
    with_working_directory(work_dir, [&](bool private_cwd) {
        // Without a working directory of its own the engine still finds relative names under the work
        // directory through its search path (a comma would split it), though a file at the same relative
        // name under the process's working directory then comes first.
        const bool need_search_path = !private_cwd && work_dir_text.find(',') == std::string::npos;
        DuckDBReadOnly db(db_file, need_search_path ? work_dir_text : std::string());
        const DuckDBApi& api = duckdb_api();
        for (const std::string& table : list_tables(api, db.con)) {
            const int64_t count = count_rows(api, db.con, table);
            if (count > 0) print_line("      " + printable(table) + ": " + std::to_string(count) + " rows");
        }
    });
}

void print_external_data(const fs::path& source_dir) {
    print_line("  [external_data]");
    if (!path_exists(source_dir)) {
        print_line("    BULUNAMADI — 'qev-scoreboard init' çalıştırın");
        return;
    }
    for (const auto& sub : EXTERNAL_DATA_SUBDIRS) {
        const std::string name(sub.name);
        const fs::path p = source_dir / name;
        if (!path_exists(p)) {
            print_line("    " + name + ": YOK");
            continue;
        }
        const size_t n = list_directory(p).size();
        print_line("    " + name + ": " + (n > 0 ? std::to_string(n) + " dosya" : std::string("BOŞ")));
    }
}

void print_database(const fs::path& db_path, const fs::path& work_dir) {
    print_line("\n  [db]");
    if (!path_exists(db_path)) {
        print_line("    qev.duckdb: YOK — pipeline henüz çalışmamış");
        return;
    }
    print_line("    qev.duckdb: " + fixed(static_cast<double>(size_in_bytes(db_path)) / 1048576.0, 2) + " MB");
    // The one place where errors are findings: whatever goes wrong with the engine or the file is shown
    // and the report goes on.
    try {
        print_table_counts(db_path, work_dir);
    } catch (const std::exception& e) {
        print_line("      Okuma hatası: " + one_line(e.what()));
    }
}

void print_outputs(const fs::path& output_dir) {
    print_line("\n  [outputs]");
    for (std::string_view rel : SAMPLE_OUTPUTS) {
        const fs::path fpath = output_dir / rel;
        const std::string label(rel);
        if (path_exists(fpath))
            print_line("    " + label + ": " + fixed(static_cast<double>(size_in_bytes(fpath)) / 1024.0, 1) + " KB");
        else
            print_line("    " + label + ": YOK");
    }
}

}  // namespace

void cmd_status(const Args& args) {
    const fs::path base = get_work_dir(args.dir);
    const fs::path source_dir = get_source_dir(args.dir);
    const fs::path db_path = get_db_path(args.dir);
    const fs::path output_dir = get_output_dir(args.dir);

    print_line("QEV Scoreboard v" + services().version() + " — status");
    print_line("Çalışma dizini: " + base.string() + "\n");
    print_external_data(source_dir);
    print_database(db_path, base);
    print_outputs(output_dir);
}

}  // namespace qev_scoreboard
