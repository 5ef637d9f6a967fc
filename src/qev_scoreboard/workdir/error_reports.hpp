#pragma once
// The pipeline's error reports, which describe runs of the notebooks an update replaces.

#include <filesystem>

namespace qev_scoreboard {

namespace fs = std::filesystem;

// Deletes every error_report.txt under base/seasons, at any depth (links to directories are not
// descended into, a directory this user may not list is passed over), and those at the fixed places under
// base/outputs. Returns how many it deleted.
int remove_error_reports(const fs::path& base);

}  // namespace qev_scoreboard
