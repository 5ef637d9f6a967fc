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

#include "qev_scoreboard/cli/cli.hpp"
#include "qev_scoreboard/core/duckdb_loader.hpp"
#include "qev_scoreboard/core/fs.hpp"
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
// report's one-entry-per-line layout.
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
    return out;
}

// One materialised query result, destroyed on every way out. A failing statement throws DuckDB's message.
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

    idx_t rows() { return api.duckdb_row_count(&res); }
    idx_t columns() { return api.duckdb_column_count(&res); }
};

std::vector<std::string> list_tables(const DuckDBApi& api, duckdb_connection con) {
    QueryResult shown(api, con, "SHOW TABLES");
    const idx_t rows = shown.rows();
    if (rows > 0 && shown.columns() != 1)
        throw std::runtime_error("SHOW TABLES satırı tek değer yerine " + std::to_string(shown.columns()) +
                                 " sütun taşıyor");
    std::vector<std::string> tables;
    tables.reserve(rows);
    for (idx_t row = 0; row < rows; ++row) {
        if (api.duckdb_value_is_null(&shown.res, 0, row))
            throw std::runtime_error("SHOW TABLES boş tablo adı döndürdü");
        char* name = api.duckdb_value_varchar(&shown.res, 0, row);
        if (name == nullptr) throw std::runtime_error("SHOW TABLES tablo adı okunamadı");
        tables.emplace_back(name);
        api.duckdb_free(name);
    }
    return tables;
}

// Row count of every table, printed as it comes; tables without rows print nothing. Throws on the first
// failure, leaving the lines of the tables before it.
void print_table_counts(const fs::path& db_path) {
    DuckDBReadOnly db(db_path.string());
    const DuckDBApi& api = duckdb_api();
    for (const std::string& table : list_tables(api, db.con)) {
        QueryResult counted(api, db.con, "SELECT COUNT(*) FROM " + quote_identifier(table));
        if (counted.rows() < 1 || counted.columns() < 1) throw std::runtime_error("COUNT(*) sonuç vermedi: " + table);
        const int64_t count = api.duckdb_value_int64(&counted.res, 0, 0);
        if (count > 0) print_line("      " + table + ": " + std::to_string(count) + " rows");
    }
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

void print_database(const fs::path& db_path) {
    print_line("\n  [db]");
    if (!path_exists(db_path)) {
        print_line("    qev.duckdb: YOK — pipeline henüz çalışmamış");
        return;
    }
    print_line("    qev.duckdb: " + fixed(static_cast<double>(size_in_bytes(db_path)) / 1048576.0, 2) + " MB");
    // The one place where errors are findings: whatever goes wrong with the engine or the file is shown
    // and the report goes on.
    try {
        print_table_counts(db_path);
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
    print_database(db_path);
    print_outputs(output_dir);
}

}  // namespace qev_scoreboard
