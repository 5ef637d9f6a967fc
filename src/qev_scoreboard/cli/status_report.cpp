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

#include "qev_scoreboard/cli/status_parts.hpp"
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

// Of a directory's entries, those that are data a scheduler waits for: regular files (through links)
// whose names do not begin with a dot, so that a .gitkeep or a notebook's .ipynb_checkpoints/ does not
// pass for data that has arrived. Unknown (nullopt, and why) when one of them cannot be looked at.
std::optional<std::uint64_t> data_files(const fs::path& dir, const std::vector<DirEntry>& entries, std::string& error) {
    std::uint64_t files = 0;
    for (const DirEntry& entry : entries) {
        if (entry.name.starts_with('.') || entry.is_directory) continue;
        platform::FileInfo info;
        const int err = platform::describe(dir / platform::path_from_utf8(entry.name), platform::Follow::Links, info);
        if (means_absent(err)) continue;  // a link that leads nowhere, or a name gone since it was listed
        if (err != 0) {
            error = errno_reason(err);
            return std::nullopt;
        }
        files += info.kind == platform::FileKind::Regular;
    }
    return files;
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
                const std::vector<DirEntry> entries = list_directory(p);
                dir.entries = entries.size();
                dir.files = data_files(p, entries, dir.error);
            } catch (const FileError& e) {
                dir.error = e.reason();
            }
        }
        report.external_data.push_back(std::move(dir));
        tell(listener, report);
    }
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

}  // namespace

std::string fixed_point(double value, int digits) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", digits, value);
    return buf;
}

std::string raw_dir_status(const StatusReport::RawDir& dir) {
    if (!dir.exists) return "YOK";
    if (!dir.entries) return "okunamadı: " + printable(dir.error);
    return *dir.entries > 0 ? std::to_string(*dir.entries) + " dosya" : std::string("BOŞ");
}

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
                    lines.push_back("    " + dir.name + ": " + raw_dir_status(dir));
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
                lines.push_back("    qev.duckdb: " + fixed_point(static_cast<double>(*db.size_bytes) / 1048576.0, 2) +
                                " MB");
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
                                    (output.exists
                                         ? fixed_point(static_cast<double>(*output.size_bytes) / 1024.0, 1) + " KB"
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

StatusReport collect_status_data(const std::optional<std::string>& dir) {
    // A report on a directory that is not there would describe nothing the caller meant.
    require_directory(get_work_dir(dir), "okunamadı");
    return collect_status(dir, true, false);
}

std::string status_text(const StatusReport& report) {
    std::string out;
    for (const std::string& line : status_text_lines(report)) out += line + "\n";
    return out;
}

}  // namespace qev_scoreboard
