// The status report as tables for a notebook cell (HTML).
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qev_scoreboard/core/utf8.hpp"
#include "qev_scoreboard/status/labels.hpp"
#include "qev_scoreboard/status/render.hpp"

namespace qev_scoreboard {

namespace {

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

std::string status_html(const StatusReport& report) {
    using namespace status_labels;
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
        rows = row({std::string(EXTERNAL_DATA), std::string(NOT_FOUND)}, "qev-missing");
    } else {
        for (const auto& dir : report.external_data)
            rows += row({html(dir.name), html(raw_dir_status(dir))}, !dir.exists    ? "qev-missing"
                                                                     : !dir.entries ? "qev-error"
                                                                                    : "");
    }
    out += table(EXTERNAL_DATA, {"Dizin", "Durum"}, rows);

    if (report.database) {
        const StatusReport::Database& db = *report.database;
        rows.clear();
        if (!db.error.empty()) rows += row({"", "", "", std::string(READ_ERROR) + html(db.error)}, "qev-error");
        for (const auto& t : db.tables)
            rows += row({html(t.schema), html(t.name), t.view ? "görünüm" : "tablo",
                         t.rows ? std::to_string(*t.rows) : std::string(READ_ERROR) + html(t.error)},
                        t.rows ? "" : "qev-error");
        const std::string caption = std::string(DB) + " — " + std::string(DATABASE) + ": " +
                                    (!db.exists      ? std::string(NO_DATABASE)
                                     : db.size_bytes ? size_mb(*db.size_bytes)
                                                     : std::string("?"));
        out += table(caption, {"Şema", "Ad", "Tür", "Satır"}, rows);
    }
    if (report.outputs) {
        rows.clear();
        for (const auto& o : *report.outputs)
            rows += row({html(o.name), o.exists ? size_kb(*o.size_bytes) : std::string(MISSING)},
                        o.exists ? "" : "qev-missing");
        out += table(OUTPUTS, {"Dosya", "Boyut"}, rows);
    }
    if (report.steps) {
        rows.clear();
        if (!report.steps_error.empty())
            rows += row({"", "", "", std::string(READ_ERROR) + html(report.steps_error), "", ""}, "qev-error");
        for (const auto& s : *report.steps)
            rows +=
                row({html(s.season), html(s.code), html(s.notebook),
                     s.recorded ? html(*s.recorded) : std::string(READ_ERROR) + html(s.error),
                     s.current ? html(*s.current) : std::string(MISSING), s.stale() ? "yeniden çalışacak" : "güncel"},
                    s.stale() ? "qev-stale" : "");
        out += table("adımlar", {"Sezon", "Adım", "Notebook", "Kayıtlı nb_hash", "Güncel", "Durum"}, rows);
    }
    return out + "</div>\n";
}

}  // namespace qev_scoreboard
