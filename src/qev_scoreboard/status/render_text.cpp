// The status report as the command prints it: each part's lines, and the whole report as its parts in
// order.
#include <string>
#include <vector>

#include "qev_scoreboard/status/labels.hpp"
#include "qev_scoreboard/status/render.hpp"

namespace qev_scoreboard {

namespace {

using namespace status_labels;

std::string title(std::string_view block) { return "  [" + std::string(block) + "]"; }

std::string table_line(const StatusTable& t) {
    const std::string label = "      " + status_table_label(t.schema, t.name) + ": ";
    if (!t.rows) return label + std::string(READ_ERROR) + one_line(t.error);
    return label + std::to_string(*t.rows) + std::string(ROWS);
}

}  // namespace

std::vector<std::string> status_text_part(const StatusReport& report, StatusPart part, std::size_t index) {
    switch (part) {
        case StatusPart::Heading:
            return {"QEV Scoreboard v" + report.version + " — status", "Çalışma dizini: " + report.work_dir_shown, ""};
        case StatusPart::ExternalDataTitle:
            return {title(EXTERNAL_DATA)};
        case StatusPart::ExternalDataFound:
            if (*report.external_data_found) return {};
            return {"    " + std::string(NOT_FOUND)};
        case StatusPart::RawDir: {
            // Nothing can lie below a raw-data directory that is not there: it alone is told.
            if (!*report.external_data_found) return {};
            const StatusRawDir& dir = report.external_data[index];
            return {"    " + dir.name + ": " + raw_dir_status(dir)};
        }
        case StatusPart::DatabaseTitle:
            return {"", title(DB)};
        case StatusPart::DatabaseFile: {
            const StatusDatabase& db = *report.database;
            const std::string label = "    " + std::string(DATABASE) + ": ";
            return {db.exists ? label + size_mb(*db.size_bytes) : label + std::string(NO_DATABASE)};
        }
        case StatusPart::DatabaseError:
            return {"      " + std::string(READ_ERROR) + one_line(report.database->error)};
        case StatusPart::Table: {
            const StatusTable& t = report.database->tables[index];
            // Tables with no rows print nothing.
            if (t.rows && *t.rows <= 0) return {};
            return {table_line(t)};
        }
        case StatusPart::OutputsTitle:
            return {"", title(OUTPUTS)};
        case StatusPart::Output: {
            const StatusOutput& output = (*report.outputs)[index];
            return {"    " + output.name + ": " + (output.exists ? size_kb(*output.size_bytes) : std::string(MISSING))};
        }
    }
    return {};
}

std::vector<std::string> status_text_lines(const StatusReport& report) {
    std::vector<std::string> lines;
    const auto add = [&](StatusPart part, std::size_t index = 0) {
        for (std::string& line : status_text_part(report, part, index)) lines.push_back(std::move(line));
    };
    add(StatusPart::Heading);
    add(StatusPart::ExternalDataTitle);
    if (!report.external_data_found) return lines;
    add(StatusPart::ExternalDataFound);
    for (std::size_t i = 0; i < report.external_data.size(); ++i) add(StatusPart::RawDir, i);
    if (!report.database) return lines;
    const StatusDatabase& db = *report.database;
    add(StatusPart::DatabaseTitle);
    add(StatusPart::DatabaseFile);
    for (std::size_t i = 0; i <= db.tables.size(); ++i) {
        if (!db.error.empty() && db.error_at == i) add(StatusPart::DatabaseError, i);
        if (i < db.tables.size()) add(StatusPart::Table, i);
    }
    if (!report.outputs) return lines;
    add(StatusPart::OutputsTitle);
    for (std::size_t i = 0; i < report.outputs->size(); ++i) add(StatusPart::Output, i);
    return lines;
}

std::string status_text(const StatusReport& report) {
    std::string out;
    for (const std::string& line : status_text_lines(report)) out += line + "\n";
    return out;
}

}  // namespace qev_scoreboard
