// The status command: a read-only report on one working directory (raw data, database, sample outputs).
#include <algorithm>
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
#include <tuple>
#include <utility>
#include <vector>

#include "qev_scoreboard/cli/args.hpp"
#include "qev_scoreboard/cli/handlers.hpp"
#include "qev_scoreboard/cli/output.hpp"
#include "qev_scoreboard/core/duckdb_loader.hpp"
#include "qev_scoreboard/core/fs.hpp"
#include "qev_scoreboard/core/utf8.hpp"
#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/platform/path_text.hpp"
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
    // One column's values, and its validity mask (null when every row is valid).
    template <typename T>
    const T* values(idx_t column, uint64_t*& validity) const {
        duckdb_vector v = api.duckdb_data_chunk_get_vector(chunk, column);
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
    duckdb_type column_type(idx_t column) { return api.duckdb_column_type(&res, column); }
    Chunk next() { return Chunk(api, api.duckdb_fetch_chunk(res)); }
};

constexpr std::string_view MAIN_SCHEMA = "main";

// A table or view of the database file.
struct DbObject {
    std::string catalog, schema, name;

    bool in_main() const { return schema == MAIN_SCHEMA; }
    // Those of the main schema by name alone, as the notebooks name them; the others with their schema.
    std::string label() const {
        return in_main() ? printable_name(name) : printable_name(schema) + "." + printable_name(name);
    }
    // Fully qualified: neither a schema nor a built-in object of the same name can stand in for it.
    std::string reference() const {
        return quote_identifier(catalog) + "." + quote_identifier(schema) + "." + quote_identifier(name);
    }
};

// The file's own tables and views in every schema: not the engine's built-in ones, not temporary ones,
// not those of another database. Tables and views are listed apart: the engine refuses to list any of
// a kind when one of them has a name that is not UTF-8, and the other kind must still be shown.
constexpr std::array<std::pair<std::string_view, std::string_view>, 2> LISTINGS = {{
    {"tablolar",
     "SELECT database_name, schema_name, table_name FROM duckdb_tables() "
     "WHERE database_name = current_database() AND NOT internal AND NOT temporary"},
    {"görünümler",
     "SELECT database_name, schema_name, view_name FROM duckdb_views() "
     "WHERE database_name = current_database() AND NOT internal AND NOT temporary"},
}};

std::vector<DbObject> read_objects(const DuckDBApi& api, duckdb_connection con, std::string_view sql) {
    QueryResult listed(api, con, std::string(sql));
    if (listed.columns() != 3) throw std::runtime_error("katalog sorgusu beklenmeyen sayıda sütun döndürdü");
    for (idx_t column = 0; column < 3; ++column)
        if (listed.column_type(column) != DUCKDB_TYPE_VARCHAR)
            throw std::runtime_error("katalog sorgusu ad yerine metin olmayan bir değer döndürdü");
    std::vector<DbObject> objects;
    for (;;) {
        const Chunk chunk = listed.next();
        if (!chunk) return objects;
        std::array<std::string, 3> fields;
        for (idx_t row = 0; row < chunk.size(); ++row) {
            for (idx_t column = 0; column < 3; ++column) {
                uint64_t* validity = nullptr;
                const auto* texts = chunk.values<duckdb_string_t>(column, validity);
                if (validity && !api.duckdb_validity_row_is_valid(validity, row))
                    throw std::runtime_error("katalog sorgusu boş ad döndürdü");
                duckdb_string_t text = texts[row];
                fields[column].assign(api.duckdb_string_t_data(&text), api.duckdb_string_t_length(text));
            }
            objects.push_back({fields[0], fields[1], fields[2]});
        }
    }
}

struct Listing {
    std::vector<DbObject> objects;
    std::string failure;  // what could not be listed, when the rest could
};

// Main's objects first, by name, as the engine's own SHOW TABLES orders them; then the other schemas',
// by schema and name. Byte order, which is code-point order for UTF-8. Throws when nothing can be listed.
Listing list_objects(const DuckDBApi& api, duckdb_connection con) {
    Listing listing;
    size_t failed = 0;
    for (const auto& [kind, sql] : LISTINGS) {
        try {
            std::vector<DbObject> objects = read_objects(api, con, sql);
            listing.objects.insert(listing.objects.end(), objects.begin(), objects.end());
        } catch (const std::exception& e) {
            // Nothing listed at all is told as the engine tells it.
            if (++failed == LISTINGS.size()) throw;
            listing.failure = std::string(kind) + " listelenemedi: " + e.what();
        }
    }
    std::sort(listing.objects.begin(), listing.objects.end(), [](const DbObject& a, const DbObject& b) {
        if (a.in_main() != b.in_main()) return a.in_main();
        return std::tie(a.schema, a.name) < std::tie(b.schema, b.name);
    });
    return listing;
}

int64_t count_rows(const DuckDBApi& api, duckdb_connection con, const DbObject& object) {
    QueryResult counted(api, con, "SELECT COUNT(*) FROM " + object.reference());
    const Chunk chunk = counted.next();
    if (!chunk || chunk.size() < 1 || counted.columns() < 1) throw std::runtime_error("COUNT(*) sonuç vermedi");
    if (counted.column_type(0) != DUCKDB_TYPE_BIGINT) throw std::runtime_error("COUNT(*) tamsayı döndürmedi");
    uint64_t* validity = nullptr;
    const int64_t* count = chunk.values<int64_t>(0, validity);
    if (validity && !api.duckdb_validity_row_is_valid(validity, 0))
        throw std::runtime_error("COUNT(*) boş değer döndürdü");
    return count[0];
}

// What is printed before a query reaches its reader now: a count may take long, or never end (a view
// over a FIFO), and the report up to it must be visible in a pipe meanwhile.
void flush_output() { std::fflush(stdout); }

// Row count of every table and view, printed as it comes; those without rows print nothing. One that
// cannot be counted gets its own line and the others are still counted. Throws when the file cannot be
// opened or nothing in it listed. Views over the raw files name them relative to the work directory,
// where the notebooks run, so the session runs with that as its working directory.
void print_table_counts(const fs::path& db_path, const fs::path& work_dir) {
    // Relative paths would change meaning inside the session, whose working directory is the work directory.
    const fs::path cwd = db_path.is_absolute() && work_dir.is_absolute() ? fs::path() : current_directory();
    const std::string db_file = platform::path_to_utf8(cwd / db_path);
    const std::string work_dir_text = platform::path_to_utf8(cwd / work_dir);
    with_working_directory(work_dir, [&](bool in_work_dir) {
        // Without the work directory as its working directory the engine still finds relative names
        // there through its search path (a comma would split it), though a file at the same relative
        // name under the process's working directory then comes first.
        const bool need_search_path = !in_work_dir && work_dir_text.find(',') == std::string::npos;
        flush_output();
        DuckDBReadOnly db(db_file, need_search_path ? work_dir_text : std::string());
        const DuckDBApi& api = duckdb_api();
        const Listing listing = list_objects(api, db.con);
        if (!listing.failure.empty()) print_line("      Okuma hatası: " + one_line(listing.failure));
        for (const DbObject& object : listing.objects) {
            flush_output();
            try {
                const int64_t count = count_rows(api, db.con, object);
                if (count > 0) print_line("      " + object.label() + ": " + std::to_string(count) + " rows");
            } catch (const std::exception& e) {
                print_line("      " + object.label() + ": Okuma hatası: " + one_line(e.what()));
            }
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
        // One directory that cannot be counted (a file in its place, no permission to list it) is a
        // finding like a missing one; the others are still counted.
        size_t n = 0;
        try {
            n = list_directory(p).size();
        } catch (const FileError& e) {
            print_line("    " + name + ": okunamadı: " + printable(e.reason()));
            continue;
        }
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
    } catch (const WorkingDirectoryLost&) {
        throw;
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
    print_line("Çalışma dizini: " + printable(platform::path_to_utf8(base)) + "\n");
    print_external_data(source_dir);
    print_database(db_path, base);
    print_outputs(output_dir);
}

}  // namespace qev_scoreboard
