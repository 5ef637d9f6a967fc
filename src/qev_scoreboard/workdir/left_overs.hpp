#pragma once
// What runs killed outright leave behind, removed by the next run.

#include <filesystem>

namespace qev_scoreboard {

namespace fs = std::filesystem;

// Removes, from the directories every run owns, what killed runs left: temporary files in the work
// directory, db/ and external_data/, and under yedek/ the runs' abandoned folders and their temporary
// files; never a file or folder a live run holds. Best effort.
void remove_left_overs(const fs::path& base);

}  // namespace qev_scoreboard
