#include "qev_scoreboard/workdir/error_reports.hpp"

#include <cerrno>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "qev_scoreboard/core/fs.hpp"
#include "qev_scoreboard/core/layout.hpp"
#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/platform/path_text.hpp"

namespace qev_scoreboard {

namespace {

// Every error report under `seasons`, at any depth, itself included; links to directories are not
// descended into. Collected before any deletion so the walk never sees a directory change under it.
// A directory we may not list holds nothing we could delete: it is passed over, not a reason to leave
// the reports elsewhere in place.
std::vector<fs::path> find_error_reports(const fs::path& seasons) {
    std::vector<fs::path> found;
    if (!leads_to_directory(seasons)) return found;
    std::vector<fs::path> pending{seasons};
    while (!pending.empty()) {
        const fs::path dir = std::move(pending.back());
        pending.pop_back();
        std::vector<DirEntry> entries;
        try {
            entries = list_directory(dir);
        } catch (const FileError& e) {
            if (e.code().value() == EACCES || e.code().value() == EPERM) continue;
            throw;
        }
        for (const DirEntry& entry : entries) {
            if (platform::same_entry_name(entry.name, layout::ERROR_REPORT))
                found.push_back(dir / platform::path_from_utf8(entry.name));
            if (entry.is_directory) pending.push_back(dir / platform::path_from_utf8(entry.name));
        }
    }
    return found;
}

}  // namespace

int remove_error_reports(const fs::path& base) {
    std::vector<fs::path> reports = find_error_reports(layout::seasons_dir(base));
    // The two fixed places count only when something is really there: a dangling link is no report.
    for (const fs::path& report : layout::fixed_error_reports(base))
        if (path_exists(report)) reports.push_back(report);
    int silinen = 0;
    std::set<fs::path> dirs;
    for (const fs::path& report : reports)
        if (remove_file(report)) {
            ++silinen;
            dirs.insert(report.parent_path());
        }
    // Gone for good before any stamp says the run that removed them is done.
    for (const fs::path& dir : dirs) sync_directory(dir);
    return silinen;
}

}  // namespace qev_scoreboard
