#pragma once
// What a run will write through, judged before it writes anything.

#include <filesystem>
#include <vector>

namespace qev_scoreboard {

namespace fs = std::filesystem;

// Refuses to write through what `paths` lead to: a link planted by another user where others may write
// (ForeignLinkRefused), or two of them that reach one file ("<second>: yazılamadı: <first> ile aynı
// dosya", EINVAL). Any other failure to look one up is left for the write to report.
void check_destinations(const std::vector<fs::path>& paths);

}  // namespace qev_scoreboard
