#pragma once
// After notebooks are replaced, their new fingerprints go into the engine's step meta files, so the
// engine does not re-run steps whose notebook changed only by being reinstalled.

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "qev_scoreboard/workdir/seasons.hpp"

namespace qev_scoreboard {

namespace fs = std::filesystem;

// Writes the current fingerprint of each named notebook into the newest season's meta file of every
// step that runs from it; prints the "[SYNC] ... meta hash" line when files changed.
void _update_meta_hashes(const fs::path& base, const std::vector<std::string>& updated_notebooks);

// The same, with the seasons of base/seasons as a run has listed them so far (listed here when not yet),
// so that one run lists them once.
// `known`, when given, holds the fingerprints of notebooks just installed, which are not read again.
// A `preview` writes and removes nothing: it prints the line the refresh would print, with `known` the
// fingerprints of the notebooks as they would be installed.
void update_meta_hashes(const fs::path& base, const std::vector<std::string>& updated_notebooks,
                        std::optional<Seasons>& seasons, const std::map<std::string, std::string>* known = nullptr,
                        bool preview = false);

// The meta files update_meta_hashes(base, names, seasons) would rewrite if stale: the newest season's of
// every step of each named notebook. What cannot be searched is left out.
std::vector<fs::path> meta_files_of(const fs::path& base, const std::vector<std::string>& names,
                                    std::optional<Seasons>& seasons);

}  // namespace qev_scoreboard
