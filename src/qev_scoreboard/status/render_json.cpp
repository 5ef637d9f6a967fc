// The status report as plain JSON data: one line per raw-data directory, table, output and step, inside
// an object of one member per line.

#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "qev_scoreboard/core/json_writer.hpp"
#include "qev_scoreboard/status/render.hpp"

namespace qev_scoreboard {

namespace {

using Layout = JsonWriter::Layout;

void field(JsonWriter& w, const char* name, std::string_view text) {
    w.key(name);
    w.string(text);
}

// Not taken for a bool, as a pointer would be.
void field(JsonWriter& w, const char* name, const char* text) { field(w, name, std::string_view(text)); }

void field(JsonWriter& w, const char* name, bool value) {
    w.key(name);
    w.boolean(value);
}

template <typename T>
void field(JsonWriter& w, const char* name, const std::optional<T>& value) {
    w.key(name);
    if (!value) return w.null();
    if constexpr (std::is_same_v<T, std::string>) {
        w.string(*value);
    } else {
        w.number(*value);
    }
}

// A block not collected lists nothing.
template <typename T>
const std::vector<T>& listed(const std::optional<std::vector<T>>& block) {
    static const std::vector<T> none;
    return block ? *block : none;
}

// `key`: an array of one line per item, whose members `members(item)` writes.
template <typename Items, typename Members>
void lines_of(JsonWriter& w, const char* key, const Items& items, Members members) {
    w.key(key);
    w.begin_array();
    for (const auto& item : items) {
        w.begin_object(Layout::Inline);
        members(item);
        w.end_object();
    }
    w.end_array();
}

void database(JsonWriter& w, const StatusReport::Database& db) {
    w.begin_object(Layout::Inline);
    field(w, "path", db.path);
    field(w, "exists", db.exists);
    field(w, "size_bytes", db.size_bytes);
    lines_of(w, "tables", db.tables, [&](const auto& t) {
        field(w, "schema", t.schema);
        field(w, "name", t.name);
        field(w, "kind", t.view ? "view" : "table");
        field(w, "rows", t.rows);
        if (!t.rows) field(w, "error", t.error);
    });
    field(w, "error", db.error.empty() ? std::nullopt : std::optional<std::string>(db.error));
    w.end_object();
}

}  // namespace

std::string status_json(const StatusReport& report) {
    std::string out;
    JsonWriter w(out);
    w.begin_object();
    field(w, "version", report.version);
    field(w, "work_dir", report.work_dir);
    lines_of(w, "external_data", report.external_data, [&](const auto& dir) {
        field(w, "name", dir.name);
        field(w, "exists", dir.exists);
        field(w, "entries", dir.entries);
        field(w, "files", dir.files);
        if (dir.exists && (!dir.entries || !dir.files)) field(w, "error", dir.error);
    });
    w.key("database");
    report.database ? database(w, *report.database) : w.null();
    lines_of(w, "outputs", listed(report.outputs), [&](const auto& o) {
        field(w, "name", o.name);
        field(w, "exists", o.exists);
        field(w, "size_bytes", o.size_bytes);
    });
    lines_of(w, "steps", listed(report.steps), [&](const auto& s) {
        field(w, "season", s.season);
        field(w, "code", s.code);
        field(w, "notebook", s.notebook);
        field(w, "recorded", s.recorded);
        field(w, "current", s.current);
        field(w, "stale", s.stale());
        if (!s.error.empty()) field(w, "error", s.error);
    });
    if (!report.steps_error.empty()) field(w, "steps_error", report.steps_error);
    w.end_object();
    return out + "\n";
}

}  // namespace qev_scoreboard
