// The status report collected as data, and its three renderings.
#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <map>
#include <stdexcept>
#include <string_view>
#include <tuple>
#include <utility>

#include "qev_scoreboard/core/duckdb_query.hpp"
#include "qev_scoreboard/core/fd.hpp"
#include "qev_scoreboard/core/fs.hpp"
#include "qev_scoreboard/core/json_reader.hpp"
#include "qev_scoreboard/core/layout.hpp"
#include "qev_scoreboard/core/utf8.hpp"
#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/platform/path_text.hpp"
#include "qev_scoreboard/services/registry.hpp"
#include "qev_scoreboard/services/services.hpp"
#include "qev_scoreboard/status/database.hpp"
#include "qev_scoreboard/status/labels.hpp"
#include "qev_scoreboard/status/report.hpp"
#include "qev_scoreboard/status/steps.hpp"
#include "qev_scoreboard/workdir/fingerprint.hpp"
#include "qev_scoreboard/workdir/paths.hpp"
#include "qev_scoreboard/workdir/seasons.hpp"

namespace qev_scoreboard {

namespace {

// ---- collecting ---------------------------------------------------------------------------------

// Of a directory's entries, those that are data a scheduler waits for: regular files (through links)
// whose names do not begin with a dot, so that a .gitkeep or a notebook's .ipynb_checkpoints/ does not
// pass for data that has arrived. Unknown (nullopt, and why) when one of them cannot be looked at.
std::optional<std::uint64_t> data_files(const fs::path& dir, const std::vector<DirEntry>& entries, std::string& error) {
    std::uint64_t files = 0;
    for (const DirEntry& entry : entries) {
        if (entry.name.starts_with('.') || entry.is_directory) continue;
        platform::FileInfo info;
        const int err = platform::describe(dir / platform::path_from_utf8(entry.name), platform::Follow::Links, info);
        if (means_absent(err)) continue;  // a link that leads nowhere, or a name gone since it was listed
        if (err != 0) {
            error = errno_reason(err);
            return std::nullopt;
        }
        files += info.kind == platform::FileKind::Regular;
    }
    return files;
}

void collect_external_data(StatusReport& report, const fs::path& source_dir, const StatusListener& listener) {
    tell(listener, report, StatusPart::ExternalDataTitle);
    report.external_data_found = path_exists(source_dir);
    tell(listener, report, StatusPart::ExternalDataFound);
    for (const auto& sub : EXTERNAL_DATA_SUBDIRS) {
        StatusReport::RawDir dir;
        dir.name = sub.name;
        const fs::path p = source_dir / dir.name;
        dir.exists = *report.external_data_found && path_exists(p);
        // One directory that cannot be counted (a file in its place, no permission to list it) is a
        // finding like a missing one; the others are still counted.
        if (dir.exists) {
            try {
                const std::vector<DirEntry> entries = list_directory(p);
                dir.entries = entries.size();
                dir.files = data_files(p, entries, dir.error);
            } catch (const FileError& e) {
                dir.error = e.reason();
            }
        }
        report.external_data.push_back(std::move(dir));
        tell(listener, report, StatusPart::RawDir, report.external_data.size() - 1);
    }
}

void collect_outputs(StatusReport& report, const fs::path& output_dir, const StatusListener& listener) {
    report.outputs.emplace();
    tell(listener, report, StatusPart::OutputsTitle);
    for (std::string_view rel : layout::SAMPLE_OUTPUTS) {
        const fs::path path = output_dir / platform::path_from_utf8(rel);
        StatusReport::Output output;
        output.name = rel;
        output.exists = path_exists(path);
        if (output.exists) output.size_bytes = size_in_bytes(path);
        report.outputs->push_back(std::move(output));
        tell(listener, report, StatusPart::Output, report.outputs->size() - 1);
    }
}

}  // namespace

StatusReport collect_status(const std::optional<std::string>& dir, bool steps, bool track_progress,
                            const StatusListener& listener) {
    const fs::path base = get_work_dir(dir);
    const fs::path source_dir = get_source_dir(dir);
    const fs::path db_path = get_db_path(dir);
    const fs::path output_dir = get_output_dir(dir);
    // Resolved once, here: the count moves into the work directory, where a path relative to another
    // place (a drive-relative one on Windows: "D:dws") would be resolved again, wrongly.
    const fs::path counted_dir = platform::absolute_path(base, "okunamadı");
    const fs::path counted_db = platform::absolute_path(db_path, "okunamadı");

    StatusReport report;
    report.version = services().version();
    report.work_dir = dir ? *dir : platform::path_to_utf8(base);
    report.work_dir_shown = printable(platform::path_to_utf8(base));
    tell(listener, report, StatusPart::Heading);
    collect_external_data(report, source_dir, listener);
    collect_database(report, db_path, counted_db, counted_dir, track_progress, listener);
    collect_outputs(report, output_dir, listener);
    if (steps) report.steps = collect_steps(base, report.steps_error);
    return report;
}

StatusReport collect_status_data(const std::optional<std::string>& dir) {
    // A report on a directory that is not there would describe nothing the caller meant.
    require_directory(get_work_dir(dir), "okunamadı");
    return collect_status(dir, true, false);
}

}  // namespace qev_scoreboard
