#pragma once
// The work directory and its parts for a --dir value, as the commands reach them.

#include <filesystem>
#include <optional>
#include <string>

namespace qev_scoreboard {

namespace fs = std::filesystem;

// The work directory for a --dir value: absent gives the current directory, "" gives ".", anything
// else is used exactly as typed.
fs::path get_work_dir(const std::optional<std::string>& dir);
fs::path get_source_dir(const std::optional<std::string>& dir);  // <work>/external_data
fs::path get_db_path(const std::optional<std::string>& dir);     // <work>/db/qev.duckdb
fs::path get_output_dir(const std::optional<std::string>& dir);  // <work>/outputs

}  // namespace qev_scoreboard
