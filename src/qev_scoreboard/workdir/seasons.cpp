#include "qev_scoreboard/workdir/seasons.hpp"

#include <algorithm>
#include <cerrno>
#include <functional>
#include <optional>

#include "qev_scoreboard/core/fs.hpp"
#include "qev_scoreboard/core/layout.hpp"
#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/platform/path_text.hpp"

namespace qev_scoreboard {

namespace {

// Whether the step's meta file is in this season. A season we may not search may hold it.
Presence meta_file_presence(const fs::path& candidate) {
    try {
        return path_exists(candidate) ? Presence::Present : Presence::Absent;
    } catch (const FileError& e) {
        if (e.code().value() == EACCES) return Presence::Hidden;
        throw;
    }
}

}  // namespace

Seasons::Seasons(fs::path dir) : dir_(std::move(dir)) {
    for (DirEntry& entry : list_directory(dir_)) names_.push_back(std::move(entry.name));
    std::sort(names_.begin(), names_.end(), std::greater<>());
}

fs::path Seasons::candidate(size_t season, const std::string& file) const {
    return dir_ / platform::path_from_utf8(names_[season]) / std::string(layout::META) / platform::path_from_utf8(file);
}

std::pair<Presence, size_t> Seasons::find(const std::string& file) {
    for (size_t from = 0;;) {
        const std::vector<size_t>& hits = listed_[file];
        const auto hit = std::lower_bound(hits.begin(), hits.end(), from);
        const auto probe = std::lower_bound(probed_.begin(), probed_.end(), from);
        const size_t next = std::min(hit == hits.end() ? scanned_ : *hit, probe == probed_.end() ? scanned_ : *probe);
        if (next == scanned_) {
            if (scanned_ == names_.size()) return {Presence::Absent, 0};
            scan_next();
            continue;
        }
        // A listed name may be a dangling link; a season we could not list is asked directly.
        const Presence presence = meta_file_presence(candidate(next, file));
        if (presence != Presence::Absent) return {presence, next};
        from = next + 1;
    }
}

void Seasons::scan_next() {
    const size_t season = scanned_++;
    std::optional<std::vector<DirEntry>> entries;
    try {
        entries =
            list_directory_if_present(dir_ / platform::path_from_utf8(names_[season]) / std::string(layout::META));
    } catch (const FileError&) {
        probed_.push_back(season);
        return;
    }
    if (!entries) return;  // a plain file, or a season without meta files
    for (const DirEntry& entry : *entries)
        if (layout::is_meta_file_name(entry.name)) listed_[entry.name].push_back(season);
}

}  // namespace qev_scoreboard
