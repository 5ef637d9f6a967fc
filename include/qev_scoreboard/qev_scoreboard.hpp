#pragma once
// qev_scoreboard: the operations the package's command module offers to programs outside it.
// Link with qev_scoreboard::qev_scoreboard (CMake) or `pkg-config --libs qev_scoreboard`.

#include <filesystem>

#include "qev_scoreboard/qev_scoreboard.h"  // QEV_SCOREBOARD_API

namespace qev_scoreboard {

// Brings the notebooks installed in the work directory `base` up to the installed package version.
//
// `base` must be an existing directory: one that is not there fails with ENOENT (ENOTDIR for a file)
// and nothing is created. Creates base/db on every call. When the version stamp base/db/.nb_version
// already names the package version it returns at once: nothing is copied, written, deleted or printed.
// Otherwise it copies every package notebook except nb_01_ingest.ipynb into `base` (content and
// permission bits; a new notebook keeps the package's access and modification times, a replaced one
// takes the time of its replacement; each through a temporary file and a rename, so a failed copy never
// leaves a truncated notebook). Before it replaces a notebook the user changed (its fingerprint differs
// from the one recorded in base/db/.nb_installed.json when it was installed, and from the new one), it
// copies that notebook to base/yedek/<UTC time of the call, YYYYMMDD-HHMMSS>/ (a suffix -2, -3, ... where
// that folder exists), flushed to disk. Then it records the fingerprints of the notebooks installed,
// refreshes the notebook fingerprints in the step meta files under base/seasons (the newest season's
// meta file of each step, also where it was stale before), deletes every error_report.txt under
// base/seasons (links to directories are not followed) and in base/outputs/json and base/outputs,
// flushes all of it to disk and writes the stamp last. It prints a "  [SYNC] " summary line, a
// "  [SYNC] Yedeklendi: " line per kept copy and a clean-up line when reports were deleted, to standard
// output through C stdio.
//
// Throws std::filesystem::filesystem_error or std::runtime_error (what() names the path and the reason) at the first
// failure; what was done before it stays done, no summary line is printed and the stamp keeps the old
// version, so the next call starts over. A copy of the user's notebook that cannot be made is such a
// failure, before that notebook is replaced. Any number of calls and init runs on one work directory, in
// this process or others, may run at the same time.
QEV_SCOREBOARD_API void _sync_notebooks(const std::filesystem::path& base);

}  // namespace qev_scoreboard
