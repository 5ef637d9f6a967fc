#pragma once
// qev_scoreboard: the operations the package's command module offers to programs outside it.
// Link with qev_scoreboard::qev_scoreboard (CMake) or `pkg-config --libs qev_scoreboard`.

#include <filesystem>

#include "qev_scoreboard/qev_scoreboard.h"  // QEV_SCOREBOARD_API

namespace qev_scoreboard {

// Brings the notebooks installed in the work directory `base` up to the installed package version.
//
// Creates base/db (with missing parents) on every call. When the version stamp base/db/.nb_version
// already names the package version it returns at once: nothing is copied, written, deleted or printed.
// Otherwise it copies every package notebook except nb_01_ingest.ipynb into `base` (content, permission
// bits, access and modification times; each through a temporary file and a rename, so a failed copy
// never leaves a truncated notebook), writes the stamp, refreshes the notebook fingerprints in the step
// meta files under base/seasons, deletes every error_report.txt under base/seasons (links to
// directories are not followed) and in base/outputs/json and base/outputs, and prints a "  [SYNC] "
// summary line (plus a clean-up line when reports were deleted) to standard output through C stdio.
//
// Throws std::filesystem::filesystem_error or std::runtime_error (what() names the path and the reason) at the first
// failure; what was done before it stays done and no summary line is printed. A failed copy leaves the
// old stamp, so the next call starts over; a failure after the stamp was written is not repeated.
// Not safe against a second process synchronising the same work directory at the same time.
QEV_SCOREBOARD_API void _sync_notebooks(const std::filesystem::path& base);

}  // namespace qev_scoreboard
