#pragma once
// The notebook auto-sync offered to callers outside the program (_sync_notebooks in the public header):
// when the package version changed since the work directory was last synchronised, reinstall its
// notebooks and clear the stale error reports.

#include <filesystem>
#include <string>
#include <vector>

#include "qev_scoreboard/qev_scoreboard.hpp"  // _sync_notebooks

namespace qev_scoreboard {

namespace fs = std::filesystem;

// _sync_notebooks, with the copies it kept told to `kept` (relative to `base`, as printed) as they are
// made, whether it succeeds or fails.
void sync_notebooks(const fs::path& base, std::vector<std::string>* kept);

}  // namespace qev_scoreboard
