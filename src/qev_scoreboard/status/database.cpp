// The status report's database block. The file is held, and a writer (the pipeline) refused, only while
// its catalogue is read and what needs it is counted: its tables, and the views that read them. A view
// that reads nothing but raw files is counted by an engine in memory once the file has been let go, since
// such a count takes as long as reading the files does.
#include "qev_scoreboard/status/database.hpp"

#include <algorithm>
#include <array>
#include <exception>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <variant>
#include <vector>

#include "qev_scoreboard/core/duckdb_query.hpp"
#include "qev_scoreboard/core/fs.hpp"
#include "qev_scoreboard/platform/path_text.hpp"
#include "qev_scoreboard/status/file_views.hpp"
#include "qev_scoreboard/status/labels.hpp"

namespace qev_scoreboard {

namespace {

// A table or view of the database file.
struct DbObject {
    std::string catalog, schema, name;
    bool view = false;

    bool in_main() const { return schema == MAIN_SCHEMA; }
    // Fully qualified: neither a schema nor a built-in object of the same name can stand in for it.
    std::string reference() const { return sql_quoted(catalog, '"') + "." + in_schema(); }
    std::string in_schema() const { return sql_quoted(schema, '"') + "." + sql_quoted(name, '"'); }
};

// The file's own tables and views in every schema: not the engine's built-in ones, not temporary ones,
// not those of another database. Tables and views are listed apart: the engine refuses to list any of
// a kind when one of them has a name that is not UTF-8, and the other kind must still be shown.
struct ListingQuery {
    std::string_view kind;
    std::string_view sql;
    bool views;
};
constexpr std::array<ListingQuery, 2> LISTINGS = {{
    {"tablolar",
     "SELECT database_name, schema_name, table_name FROM duckdb_tables() "
     "WHERE database_name = current_database() AND NOT internal AND NOT temporary",
     false},
    {"görünümler",
     "SELECT database_name, schema_name, view_name FROM duckdb_views() "
     "WHERE database_name = current_database() AND NOT internal AND NOT temporary",
     true},
}};
// Asked apart from the listing, so that what the engine cannot give back costs only a view's move out.
constexpr std::string_view VIEW_DEFINITIONS =
    "SELECT schema_name, view_name, sql FROM duckdb_views() "
    "WHERE database_name = current_database() AND NOT internal AND NOT temporary";
constexpr std::string_view VIEW_COLUMNS =
    "SELECT c.schema_name, c.table_name, c.column_name, c.data_type FROM duckdb_columns() c "
    "JOIN duckdb_views() v ON c.database_name = v.database_name AND c.schema_name = v.schema_name "
    "AND c.table_name = v.view_name "
    "WHERE v.database_name = current_database() AND NOT v.internal AND NOT v.temporary "
    "ORDER BY c.schema_name, c.table_name, c.column_index";

// The VARCHAR columns of every row of `sql`; nullopt for a NULL.
std::vector<std::vector<std::optional<std::string>>> text_rows(const DuckDBApi& api, duckdb_connection con,
                                                               std::string_view sql, idx_t columns) {
    DuckDBResult result(api, con, std::string(sql));
    if (result.columns() != columns) throw std::runtime_error("katalog sorgusu beklenmeyen sayıda sütun döndürdü");
    for (idx_t column = 0; column < columns; ++column)
        if (result.column_type(column) != DUCKDB_TYPE_VARCHAR)
            throw std::runtime_error("katalog sorgusu ad yerine metin olmayan bir değer döndürdü");
    std::vector<std::vector<std::optional<std::string>>> rows;
    for (;;) {
        const DuckDBChunk chunk = result.next();
        if (!chunk) return rows;
        for (idx_t row = 0; row < chunk.size(); ++row) {
            auto& values = rows.emplace_back();
            for (idx_t column = 0; column < columns; ++column) {
                uint64_t* validity = nullptr;
                chunk.values<duckdb_string_t>(column, validity);
                values.push_back(chunk.valid(validity, row) ? std::optional(chunk.text(column, row)) : std::nullopt);
            }
        }
    }
}

std::vector<DbObject> read_objects(const DuckDBApi& api, duckdb_connection con, const ListingQuery& query) {
    std::vector<DbObject> objects;
    for (auto& row : text_rows(api, con, query.sql, 3)) {
        if (!row[0] || !row[1] || !row[2]) throw std::runtime_error("katalog sorgusu boş ad döndürdü");
        objects.push_back({std::move(*row[0]), std::move(*row[1]), std::move(*row[2]), query.views});
    }
    return objects;
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
    for (const ListingQuery& query : LISTINGS) {
        try {
            std::vector<DbObject> objects = read_objects(api, con, query);
            listing.objects.insert(listing.objects.end(), objects.begin(), objects.end());
        } catch (const std::exception& e) {
            // Nothing listed at all is told as the engine tells it.
            if (++failed == LISTINGS.size()) throw;
            listing.failure = std::string(query.kind) + " listelenemedi: " + e.what();
        }
    }
    std::sort(listing.objects.begin(), listing.objects.end(), [](const DbObject& a, const DbObject& b) {
        if (a.in_main() != b.in_main()) return a.in_main();
        return std::tie(a.schema, a.name) < std::tie(b.schema, b.name);
    });
    return listing;
}

// The views of `objects` that read raw files only, as they were made; none where the file does not say.
std::vector<std::optional<FileView>> file_views(const DuckDBApi& api, duckdb_connection con,
                                                const std::vector<DbObject>& objects) {
    std::vector<std::optional<FileView>> found(objects.size());
    std::map<std::pair<std::string, std::string>, FileView> views;
    try {
        for (auto& row : text_rows(api, con, VIEW_DEFINITIONS, 3))
            if (row[0] && row[1] && row[2])
                if (std::optional<std::string> query = view_query(*row[2]))
                    views[{*row[0], *row[1]}].query = std::move(*query);
        for (auto& row : text_rows(api, con, VIEW_COLUMNS, 4)) {
            const auto view = views.find({row[0].value_or(""), row[1].value_or("")});
            if (view == views.end()) continue;
            if (!row[2] || !row[3]) {
                views.erase(view);
                continue;
            }
            view->second.names.push_back(std::move(*row[2]));
            view->second.types.push_back(std::move(*row[3]));
        }
    } catch (const std::exception&) {
        return found;
    }
    std::set<std::string> names;
    for (const DbObject& object : objects) names.insert(lower_ascii(object.name));
    for (size_t i = 0; i < objects.size(); ++i) {
        if (!objects[i].view) continue;
        auto view = views.find({objects[i].schema, objects[i].name});
        if (view == views.end() || view->second.names.empty()) continue;
        if (reads_only_files(api, con, view->second.query, names)) found[i] = std::move(view->second);
    }
    return found;
}

int64_t count_rows(const DuckDBApi& api, duckdb_connection con, const std::string& reference) {
    DuckDBResult counted(api, con, "SELECT COUNT(*) FROM " + reference);
    const DuckDBChunk chunk = counted.next();
    if (!chunk || chunk.size() < 1 || counted.columns() < 1) throw std::runtime_error("COUNT(*) sonuç vermedi");
    if (counted.column_type(0) != DUCKDB_TYPE_BIGINT) throw std::runtime_error("COUNT(*) tamsayı döndürmedi");
    uint64_t* validity = nullptr;
    const int64_t* count = chunk.values<int64_t>(0, validity);
    if (!chunk.valid(validity, 0)) throw std::runtime_error("COUNT(*) boş değer döndürdü");
    return count[0];
}

// Row count of every table and view, each told as it comes, in the report's order. One that cannot be
// counted has its error and the others are still counted. Throws when the file cannot be opened or
// nothing in it listed. Views over the raw files name them relative to the work directory, where the
// notebooks run, so both engines run with that as their working directory. Both paths are absolute:
// relative ones would change meaning there.
void count_tables(StatusReport& report, const fs::path& db_file, const fs::path& work_dir, bool track_progress,
                  const StatusListener& listener) {
    StatusReport::Database& database = *report.database;
    const std::string work_dir_text = platform::path_to_joinable_text(work_dir);
    with_working_directory(work_dir, [&](bool in_work_dir) {
        // Without the work directory as its working directory the engine still finds relative names
        // there through its search path (a comma would split it), though a file at the same relative
        // name under the process's working directory then comes first.
        const bool need_search_path = !in_work_dir && work_dir_text.find(',') == std::string::npos;
        const fs::path search_path = need_search_path ? work_dir : fs::path();
        // From here to its reset(), the file is held.
        std::optional<DuckDBReadOnly> db(std::in_place, db_file, search_path, track_progress);
        const DuckDBApi& api = duckdb_api();

        const Listing listing = list_objects(api, db->con);
        database.error = listing.failure;
        if (!database.error.empty()) tell(listener, report, StatusPart::DatabaseError, 0);
        const std::vector<DbObject>& objects = listing.objects;
        // The engine for the views over raw files, only where there are views: started while the file is
        // counted, on a thread that shares this one's working directory; the file is not held for it.
        std::future<std::unique_ptr<DuckDBInMemory>> starting;
        if (std::any_of(objects.begin(), objects.end(), [](const DbObject& o) { return o.view; }))
            starting = std::async(std::launch::async, [&] {
                try {
                    return std::make_unique<DuckDBInMemory>(search_path, track_progress);
                } catch (const std::exception&) {
                    return std::unique_ptr<DuckDBInMemory>();
                }
            });
        std::unique_ptr<DuckDBInMemory> memory;
        std::vector<std::optional<StatusReport::Table>> counted(objects.size());
        std::vector<std::optional<FileView>> moved(objects.size());
        // Lines are told in the report's order: one counted out of turn waits for those before it.
        const auto count = [&](size_t i, duckdb_connection con, const auto& how) {
            StatusReport::Table table;
            table.schema = objects[i].schema;
            table.name = objects[i].name;
            table.view = objects[i].view;
            {
                const std::function<double()> progress = [&] {
                    return con != nullptr ? api.duckdb_query_progress(con).percentage : -1.0;
                };
                // Told on every way out: the connection `progress` asks of lives no longer than this scope.
                struct Counted {
                    const StatusListener& listener;
                    ~Counted() {
                        if (listener.counted) listener.counted();
                    }
                } told{listener};
                if (listener.counting) listener.counting(status_table_label(table.schema, table.name), progress);
                if (!how(table)) return false;
            }
            counted[i] = std::move(table);
            while (database.tables.size() < counted.size() && counted[database.tables.size()]) {
                database.tables.push_back(std::move(*counted[database.tables.size()]));
                tell(listener, report, StatusPart::Table, database.tables.size() - 1);
            }
            return true;
        };
        const auto in_file = [&](size_t i) {
            count(i, db->con, [&](StatusReport::Table& table) {
                try {
                    table.rows = count_rows(api, db->con, objects[i].reference());
                } catch (const std::exception& e) {
                    table.error = e.what();
                }
                return true;
            });
        };

        bool views_sorted = false;
        for (size_t i = 0; i < objects.size(); ++i) {
            if (objects[i].view && !views_sorted) {
                views_sorted = true;
                moved = file_views(api, db->con, objects);
            }
            if (!moved[i]) in_file(i);
        }
        db.reset();

        // The file is let go: these read raw files only, and are counted where no writer is in the way.
        // Without an engine for them, they are counted in the file after all, as the unsure ones are.
        if (starting.valid()) memory = starting.get();
        std::vector<size_t> unsure;
        for (size_t i = 0; i < objects.size(); ++i) {
            if (!moved[i]) continue;
            if (!memory) {
                unsure.push_back(i);
                continue;
            }
            const bool known = count(i, memory->con, [&](StatusReport::Table& table) {
                const FileViewCount result = count_file_view(api, memory->con, *moved[i]);
                if (const auto* rows = std::get_if<std::int64_t>(&result))
                    table.rows = *rows;
                else if (const auto* failure = std::get_if<CountFailure>(&result))
                    table.error = failure->message;
                return !std::holds_alternative<std::monostate>(result);
            });
            if (!known) unsure.push_back(i);
        }
        if (unsure.empty()) return;
        // What only the file's own view can tell (its columns changed since it was made, a name that is
        // not there): asked of the file once more, as before.
        std::string refused;
        try {
            db.emplace(db_file, search_path, track_progress);
        } catch (const std::exception& e) {
            refused = e.what();
        }
        for (const size_t i : unsure) {
            if (db) {
                in_file(i);
                continue;
            }
            count(i, nullptr, [&](StatusReport::Table& table) {
                table.error = refused;
                return true;
            });
        }
    });
}

}  // namespace

void collect_database(StatusReport& report, const fs::path& db_path, const fs::path& counted_db,
                      const fs::path& counted_dir, bool track_progress, const StatusListener& listener) {
    report.database.emplace();
    StatusReport::Database& database = *report.database;
    database.path = platform::path_to_utf8(db_path);
    tell(listener, report, StatusPart::DatabaseTitle);
    database.exists = path_exists(db_path);
    if (database.exists) database.size_bytes = size_in_bytes(db_path);
    tell(listener, report, StatusPart::DatabaseFile);
    if (database.exists) {
        // The one place where errors are findings: whatever goes wrong with the engine or the file is
        // kept and the report goes on.
        try {
            count_tables(report, counted_db, counted_dir, track_progress, listener);
        } catch (const WorkingDirectoryLost&) {
            throw;
        } catch (const std::exception& e) {
            database.error = e.what();
            database.error_at = database.tables.size();
            tell(listener, report, StatusPart::DatabaseError, database.error_at);
        }
    }
}

}  // namespace qev_scoreboard
