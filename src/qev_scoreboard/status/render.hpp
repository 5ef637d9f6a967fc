#pragma once
// The status report's renderings: the command's text, part by part as the report grows or whole; plain
// JSON data; an HTML fragment for a notebook cell.

#include <cstddef>
#include <string>
#include <vector>

#include "qev_scoreboard/status/report.hpp"

namespace qev_scoreboard {

// The command's lines (without their line breaks) for one part of the report, just added.
std::vector<std::string> status_text_part(const StatusReport& report, StatusPart part, std::size_t index);
// The command's lines for the whole report.
std::vector<std::string> status_text_lines(const StatusReport& report);
// The whole report as the command prints it.
std::string status_text(const StatusReport& report);
// Plain JSON data: version, work_dir, external_data, database, outputs, steps.
std::string status_json(const StatusReport& report);
// An HTML fragment for a notebook cell: the same blocks as tables, errors and stale steps marked.
std::string status_html(const StatusReport& report);

}  // namespace qev_scoreboard
