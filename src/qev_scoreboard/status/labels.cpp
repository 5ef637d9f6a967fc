#include "qev_scoreboard/status/labels.hpp"

#include <cctype>
#include <cstdio>

#include "qev_scoreboard/core/duckdb_query.hpp"
#include "qev_scoreboard/core/utf8.hpp"

namespace qev_scoreboard {

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

std::string fixed_point(double value, int digits) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", digits, value);
    return buf;
}

std::string size_mb(std::uint64_t bytes) { return fixed_point(static_cast<double>(bytes) / 1048576.0, 2) + " MB"; }

std::string size_kb(std::uint64_t bytes) { return fixed_point(static_cast<double>(bytes) / 1024.0, 1) + " KB"; }

std::string raw_dir_status(const StatusReport::RawDir& dir) {
    using namespace status_labels;
    if (!dir.exists) return std::string(MISSING);
    if (!dir.entries) return std::string(UNREADABLE) + printable(dir.error);
    return *dir.entries > 0 ? std::to_string(*dir.entries) + std::string(FILES) : std::string(EMPTY);
}

std::string status_table_label(const std::string& schema, const std::string& name) {
    const auto part = [](const std::string& text) {
        return printable_name(text.find_first_of(".\"") == std::string::npos ? text : sql_quoted(text, '"'));
    };
    return schema == MAIN_SCHEMA ? part(name) : part(schema) + "." + part(name);
}

}  // namespace qev_scoreboard
