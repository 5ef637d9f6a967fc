// The status report collected as data, and its three renderings.
#include "qev_scoreboard/cli/status_report.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <map>
#include <stdexcept>
#include <string_view>
#include <tuple>
#include <utility>

#include "qev_scoreboard/core/duckdb_query.hpp"
#include "qev_scoreboard/core/fd.hpp"
#include "qev_scoreboard/core/fs.hpp"
#include "qev_scoreboard/core/json_reader.hpp"
#include "qev_scoreboard/core/layout.hpp"
#include "qev_scoreboard/core/utf8.hpp"
#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/platform/path_text.hpp"
#include "qev_scoreboard/services/registry.hpp"
#include "qev_scoreboard/services/services.hpp"
#include "qev_scoreboard/workdir/fingerprint.hpp"
#include "qev_scoreboard/workdir/paths.hpp"
#include "qev_scoreboard/workdir/seasons.hpp"

namespace qev_scoreboard {

namespace {

// ---- collecting ---------------------------------------------------------------------------------

constexpr std::string_view MAIN_SCHEMA = "main";

// A table or view of the database file.
struct DbObject {
    std::string catalog, schema, name;
    bool view = false;

    bool in_main() const { return schema == MAIN_SCHEMA; }
    // Fully qualified: neither a schema nor a built-in object of the same name can stand in for it.
    std::string reference() const {
        return sql_quoted(catalog, '"') + "." + sql_quoted(schema, '"') + "." + sql_quoted(name, '"');
    }
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

std::vector<DbObject> read_objects(const DuckDBApi& api, duckdb_connection con, const ListingQuery& query) {
    DuckDBResult listed(api, con, std::string(query.sql));
    if (listed.columns() != 3) throw std::runtime_error("katalog sorgusu beklenmeyen sayıda sütun döndürdü");
    for (idx_t column = 0; column < 3; ++column)
        if (listed.column_type(column) != DUCKDB_TYPE_VARCHAR)
            throw std::runtime_error("katalog sorgusu ad yerine metin olmayan bir değer döndürdü");
    std::vector<DbObject> objects;
    for (;;) {
        const DuckDBChunk chunk = listed.next();
        if (!chunk) return objects;
        for (idx_t row = 0; row < chunk.size(); ++row) {
            for (idx_t column = 0; column < 3; ++column) {
                uint64_t* validity = nullptr;
                chunk.values<duckdb_string_t>(column, validity);
                if (!chunk.valid(validity, row)) throw std::runtime_error("katalog sorgusu boş ad döndürdü");
            }
            objects.push_back({chunk.text(0, row), chunk.text(1, row), chunk.text(2, row), query.views});
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

int64_t count_rows(const DuckDBApi& api, duckdb_connection con, const DbObject& object) {
    DuckDBResult counted(api, con, "SELECT COUNT(*) FROM " + object.reference());
    const DuckDBChunk chunk = counted.next();
    if (!chunk || chunk.size() < 1 || counted.columns() < 1) throw std::runtime_error("COUNT(*) sonuç vermedi");
    if (counted.column_type(0) != DUCKDB_TYPE_BIGINT) throw std::runtime_error("COUNT(*) tamsayı döndürmedi");
    uint64_t* validity = nullptr;
    const int64_t* count = chunk.values<int64_t>(0, validity);
    if (!chunk.valid(validity, 0)) throw std::runtime_error("COUNT(*) boş değer döndürdü");
    return count[0];
}

void tell(const StatusListener& listener, const StatusReport& report) {
    if (listener.updated) listener.updated(report);
}

void collect_external_data(StatusReport& report, const fs::path& source_dir, const StatusListener& listener) {
    report.external_data_begun = true;
    tell(listener, report);
    report.external_data_found = path_exists(source_dir);
    tell(listener, report);
    for (const auto& sub : EXTERNAL_DATA_SUBDIRS) {
        StatusReport::RawDir dir;
        dir.name = sub.name;
        const fs::path p = source_dir / dir.name;
        dir.exists = *report.external_data_found && path_exists(p);
        // One directory that cannot be counted (a file in its place, no permission to list it) is a
        // finding like a missing one; the others are still counted.
        if (dir.exists) {
            try {
                dir.entries = list_directory(p).size();
            } catch (const FileError& e) {
                dir.error = e.reason();
            }
        }
        report.external_data.push_back(std::move(dir));
        tell(listener, report);
    }
}

// Row count of every table and view, each told as it comes. One that cannot be counted has its error and
// the others are still counted. Throws when the file cannot be opened or nothing in it listed. Views over
// the raw files name them relative to the work directory, where the notebooks run, so the session runs
// with that as its working directory. Both paths are absolute: relative ones would change meaning there.
void count_tables(StatusReport& report, const fs::path& db_path, const fs::path& work_dir, bool track_progress,
                  const StatusListener& listener) {
    StatusReport::Database& database = *report.database;
    const std::string work_dir_text = platform::path_to_joinable_text(work_dir);
    with_working_directory(work_dir, [&](bool in_work_dir) {
        // Without the work directory as its working directory the engine still finds relative names
        // there through its search path (a comma would split it), though a file at the same relative
        // name under the process's working directory then comes first.
        const bool need_search_path = !in_work_dir && work_dir_text.find(',') == std::string::npos;
        DuckDBReadOnly db(db_path, need_search_path ? work_dir : fs::path(), track_progress);
        const DuckDBApi& api = duckdb_api();
        const Listing listing = list_objects(api, db.con);
        database.error = listing.failure;  // told with what comes next
        const std::function<double()> progress = [&] { return api.duckdb_query_progress(db.con).percentage; };
        for (const DbObject& object : listing.objects) {
            StatusReport::Table table;
            table.schema = object.schema;
            table.name = object.name;
            table.view = object.view;
            // What is told so far reaches its reader before the count, which may take long.
            tell(listener, report);
            {
                // Told on every way out: the connection `progress` asks of lives no longer than this scope.
                struct Counted {
                    const StatusListener& listener;
                    ~Counted() {
                        if (listener.counted) listener.counted();
                    }
                } counted{listener};
                if (listener.counting) listener.counting(status_table_label(object.schema, object.name), progress);
                try {
                    table.rows = count_rows(api, db.con, object);
                } catch (const std::exception& e) {
                    table.error = e.what();
                }
            }
            database.tables.push_back(std::move(table));
        }
    });
}

// `db_path` as given; `counted_db` and `counted_dir` resolved.
void collect_database(StatusReport& report, const fs::path& db_path, const fs::path& counted_db,
                      const fs::path& counted_dir, bool track_progress, const StatusListener& listener) {
    report.database.emplace();
    StatusReport::Database& database = *report.database;
    database.path = platform::path_to_utf8(db_path);
    tell(listener, report);
    database.exists = path_exists(db_path);
    database.looked_up = true;
    if (database.exists) {
        database.size_bytes = size_in_bytes(db_path);
        tell(listener, report);
        // The one place where errors are findings: whatever goes wrong with the engine or the file is
        // kept and the report goes on.
        try {
            count_tables(report, counted_db, counted_dir, track_progress, listener);
        } catch (const WorkingDirectoryLost&) {
            throw;
        } catch (const std::exception& e) {
            database.error = e.what();
            database.error_at = database.tables.size();
        }
    }
    report.database_done = true;
    tell(listener, report);
}

void collect_outputs(StatusReport& report, const fs::path& output_dir, const StatusListener& listener) {
    report.outputs.emplace();
    tell(listener, report);
    for (std::string_view rel : layout::SAMPLE_OUTPUTS) {
        const fs::path path = output_dir / platform::path_from_utf8(rel);
        StatusReport::Output output;
        output.name = rel;
        output.exists = path_exists(path);
        if (output.exists) output.size_bytes = size_in_bytes(path);
        report.outputs->push_back(std::move(output));
        tell(listener, report);
    }
}

// The nb_hash of a step's meta file: absent when the file holds none.
std::optional<std::string> recorded_fingerprint(const fs::path& meta, std::string& error) {
    try {
        const JsonValue top = parse_meta_json(read_utf8_file(meta));
        const JsonValue* hash = find_member(top, "nb_hash");
        if (hash != nullptr && hash->kind == JsonValue::Kind::String) return hash->text;
        error = "nb_hash yok";
    } catch (const FileError& e) {
        error = e.reason();
    } catch (const std::runtime_error& e) {
        error = e.what();
    }
    return std::nullopt;
}

// The steps of the registry whose meta file is in some season, each as the newest such season records
// it, with the fingerprint of the notebook installed now: the engine runs a step again when they differ.
// What cannot be read is a finding, as elsewhere in the report: a step's error, or the steps' own.
std::vector<StatusReport::Step> collect_steps(const fs::path& base, std::string& steps_error) {
    std::vector<StatusReport::Step> steps;
    const fs::path seasons_dir = layout::seasons_dir(base);
    std::optional<Seasons> found;
    try {
        if (!leads_to_directory(seasons_dir)) return steps;
        found.emplace(seasons_dir);
    } catch (const FileError& e) {
        steps_error = e.what();
        return steps;
    }
    Seasons& seasons = *found;
    std::map<std::string, std::pair<std::optional<std::string>, std::string>> current;  // by notebook
    for (const StepRecord& record : adim_registry()) {
        const std::string file = layout::meta_file_name(record.kod);
        const auto [presence, season] = seasons.find(file);
        if (presence == Presence::Absent) continue;
        StatusReport::Step step;
        step.season = seasons.name(season);
        step.code = record.kod;
        step.notebook = record.nb;
        if (presence == Presence::Hidden)
            step.error = errno_reason(EACCES);
        else
            step.recorded = recorded_fingerprint(seasons.candidate(season, file), step.error);
        auto known = current.find(record.nb);
        if (known == current.end()) {
            const fs::path notebook = base / platform::path_from_utf8(record.nb);
            std::pair<std::optional<std::string>, std::string> fingerprint;
            try {
                if (path_exists(notebook)) fingerprint.first = _file_hash(notebook);
            } catch (const FileError& e) {
                fingerprint.second = e.what();  // a notebook that cannot be read: no fingerprint to compare
            }
            known = current.emplace(record.nb, std::move(fingerprint)).first;
        }
        step.current = known->second.first;
        if (step.error.empty()) step.error = known->second.second;
        steps.push_back(std::move(step));
    }
    return steps;
}

// ---- the command's text -------------------------------------------------------------------------

// Fixed-point with `digits` decimals; ties go to the even digit, as printf does for a double.
std::string fixed(double value, int digits) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", digits, value);
    return buf;
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

std::string raw_status(const StatusReport::RawDir& dir) {
    if (!dir.exists) return "YOK";
    if (!dir.entries) return "okunamadı: " + printable(dir.error);
    return *dir.entries > 0 ? std::to_string(*dir.entries) + " dosya" : std::string("BOŞ");
}

// ---- HTML ---------------------------------------------------------------------------------------

std::string html(std::string_view text) {
    std::string out;
    for (const char c : printable(text)) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string row(const std::vector<std::string>& cells, std::string_view css_class = {}) {
    std::string out = css_class.empty() ? "<tr>" : "<tr class=\"" + std::string(css_class) + "\">";
    for (const std::string& cell : cells) out += "<td>" + cell + "</td>";
    return out + "</tr>\n";
}

std::string table(std::string_view caption, const std::vector<std::string>& headings, const std::string& rows) {
    std::string out = "<table>\n<caption>" + std::string(caption) + "</caption>\n<thead><tr>";
    for (const std::string& h : headings) out += "<th>" + h + "</th>";
    return out + "</tr></thead>\n<tbody>\n" + rows + "</tbody>\n</table>\n";
}

}  // namespace

std::string status_table_label(const std::string& schema, const std::string& name) {
    const auto part = [](const std::string& text) {
        return printable_name(text.find_first_of(".\"") == std::string::npos ? text : sql_quoted(text, '"'));
    };
    return schema == MAIN_SCHEMA ? part(name) : part(schema) + "." + part(name);
}

StatusReport collect_status(const std::optional<std::string>& dir, bool steps, bool track_progress,
                            const StatusListener& listener) {
    const fs::path base = get_work_dir(dir);
    const fs::path source_dir = get_source_dir(dir);
    const fs::path db_path = get_db_path(dir);
    const fs::path output_dir = get_output_dir(dir);
    // Resolved once, here: the count moves into the work directory, where a path relative to another
    // place (a drive-relative one on Windows: "D:dws") would be resolved again, wrongly.
    const fs::path counted_dir = platform::absolute_path(base, "okunamadı");
    const fs::path counted_db = platform::absolute_path(db_path, "okunamadı");

    StatusReport report;
    report.version = services().version();
    report.work_dir = dir ? *dir : platform::path_to_utf8(base);
    report.work_dir_shown = printable(platform::path_to_utf8(base));
    tell(listener, report);
    collect_external_data(report, source_dir, listener);
    collect_database(report, db_path, counted_db, counted_dir, track_progress, listener);
    collect_outputs(report, output_dir, listener);
    if (steps) report.steps = collect_steps(base, report.steps_error);
    return report;
}

void append_status_lines(const StatusReport& report, StatusTextCursor& at, std::vector<std::string>& lines) {
    enum Stage { HEADING, RAW_TITLE, RAW_FOUND, RAW, DB_TITLE, DB_FILE, TABLES, OUTPUTS_TITLE, OUTPUTS };
    for (;;) {
        switch (at.stage) {
            case HEADING:
                lines.insert(lines.end(), {"QEV Scoreboard v" + report.version + " — status",
                                           "Çalışma dizini: " + report.work_dir_shown, ""});
                at.stage = RAW_TITLE;
                break;
            case RAW_TITLE:
                if (!report.external_data_begun) return;
                lines.push_back("  [external_data]");
                at.stage = RAW_FOUND;
                break;
            case RAW_FOUND:
                if (!report.external_data_found) return;
                if (!*report.external_data_found) lines.push_back("    BULUNAMADI — 'qev-scoreboard init' çalıştırın");
                at.stage = RAW;
                break;
            case RAW:
                for (; *report.external_data_found && at.index < report.external_data.size(); ++at.index) {
                    const auto& dir = report.external_data[at.index];
                    lines.push_back("    " + dir.name + ": " + raw_status(dir));
                }
                if (!report.database) return;
                at.stage = DB_TITLE;
                at.index = 0;
                break;
            case DB_TITLE:
                lines.insert(lines.end(), {"", "  [db]"});
                at.stage = DB_FILE;
                break;
            case DB_FILE: {
                const StatusReport::Database& db = *report.database;
                if (!db.looked_up || (db.exists && !db.size_bytes)) return;
                if (!db.exists) {
                    lines.push_back("    qev.duckdb: YOK — pipeline henüz çalışmamış");
                    at.stage = OUTPUTS_TITLE;
                    break;
                }
                lines.push_back("    qev.duckdb: " + fixed(static_cast<double>(*db.size_bytes) / 1048576.0, 2) + " MB");
                at.stage = TABLES;
                break;
            }
            case TABLES: {
                const StatusReport::Database& db = *report.database;
                for (;; ++at.index) {
                    if (!at.error_shown && !db.error.empty() && db.error_at == at.index) {
                        lines.push_back("      Okuma hatası: " + one_line(db.error));
                        at.error_shown = true;
                    }
                    if (at.index == db.tables.size()) break;
                    const StatusReport::Table& t = db.tables[at.index];
                    if (!t.rows)
                        lines.push_back("      " + status_table_label(t.schema, t.name) +
                                        ": Okuma hatası: " + one_line(t.error));
                    else if (*t.rows > 0)
                        lines.push_back("      " + status_table_label(t.schema, t.name) + ": " +
                                        std::to_string(*t.rows) + " rows");
                }
                if (!report.database_done) return;
                at.stage = OUTPUTS_TITLE;
                at.index = 0;
                break;
            }
            case OUTPUTS_TITLE:
                if (!report.database_done || !report.outputs) return;
                lines.insert(lines.end(), {"", "  [outputs]"});
                at.stage = OUTPUTS;
                break;
            default:
                for (; at.index < report.outputs->size(); ++at.index) {
                    const auto& output = (*report.outputs)[at.index];
                    lines.push_back("    " + output.name + ": " +
                                    (output.exists ? fixed(static_cast<double>(*output.size_bytes) / 1024.0, 1) + " KB"
                                                   : std::string("YOK")));
                }
                return;
        }
    }
}

std::vector<std::string> status_text_lines(const StatusReport& report) {
    StatusTextCursor at;
    std::vector<std::string> lines;
    append_status_lines(report, at, lines);
    return lines;
}

std::string status_text(const StatusReport& report) {
    std::string out;
    for (const std::string& line : status_text_lines(report)) out += line + "\n";
    return out;
}

std::string status_html(const StatusReport& report) {
    std::string out =
        "<div class=\"qev-status\">\n<style>\n"
        ".qev-status table{border-collapse:collapse;margin:0.5em 0 1em 0}\n"
        ".qev-status caption{text-align:left;font-weight:bold}\n"
        ".qev-status th,.qev-status td{padding:0.15em 0.8em;text-align:left;border-bottom:1px solid #ddd}\n"
        ".qev-status td.qev-n{text-align:right}\n"
        ".qev-status tr.qev-missing td{color:#777}\n"
        ".qev-status tr.qev-error td{color:#b00020}\n"
        ".qev-status tr.qev-stale td{background:#fff3cd}\n"
        "</style>\n<p><b>" +
        html("QEV Scoreboard v" + report.version + " — status") + "</b><br>Çalışma dizini: <code>" +
        html(report.work_dir) + "</code></p>\n";

    std::string rows;
    if (report.external_data_found && !*report.external_data_found) {
        rows = row({"external_data", "BULUNAMADI — 'qev-scoreboard init' çalıştırın"}, "qev-missing");
    } else {
        for (const auto& dir : report.external_data)
            rows += row({html(dir.name), html(raw_status(dir))}, !dir.exists    ? "qev-missing"
                                                                 : !dir.entries ? "qev-error"
                                                                                : "");
    }
    out += table("external_data", {"Dizin", "Durum"}, rows);

    if (report.database) {
        const StatusReport::Database& db = *report.database;
        rows.clear();
        if (!db.error.empty()) rows += row({"", "", "", "Okuma hatası: " + html(db.error)}, "qev-error");
        for (const auto& t : db.tables)
            rows += row({html(t.schema), html(t.name), t.view ? "görünüm" : "tablo",
                         t.rows ? std::to_string(*t.rows) : "Okuma hatası: " + html(t.error)},
                        t.rows ? "" : "qev-error");
        const std::string caption =
            !db.exists ? "db — qev.duckdb: YOK — pipeline henüz çalışmamış"
                       : "db — qev.duckdb: " + (db.size_bytes
                                                    ? fixed(static_cast<double>(*db.size_bytes) / 1048576.0, 2) + " MB"
                                                    : std::string("?"));
        out += table(caption, {"Şema", "Ad", "Tür", "Satır"}, rows);
    }
    if (report.outputs) {
        rows.clear();
        for (const auto& o : *report.outputs)
            rows +=
                row({html(o.name), o.exists ? fixed(static_cast<double>(*o.size_bytes) / 1024.0, 1) + " KB" : "YOK"},
                    o.exists ? "" : "qev-missing");
        out += table("outputs", {"Dosya", "Boyut"}, rows);
    }
    if (report.steps) {
        rows.clear();
        if (!report.steps_error.empty())
            rows += row({"", "", "", "Okuma hatası: " + html(report.steps_error), "", ""}, "qev-error");
        for (const auto& s : *report.steps)
            rows += row({html(s.season), html(s.code), html(s.notebook),
                         s.recorded ? html(*s.recorded) : "Okuma hatası: " + html(s.error),
                         s.current ? html(*s.current) : "YOK", s.stale() ? "yeniden çalışacak" : "güncel"},
                        s.stale() ? "qev-stale" : "");
        out += table("adımlar", {"Sezon", "Adım", "Notebook", "Kayıtlı nb_hash", "Güncel", "Durum"}, rows);
    }
    return out + "</div>\n";
}

}  // namespace qev_scoreboard
