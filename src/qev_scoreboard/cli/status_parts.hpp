#pragma once
// What the files of the status report share: the database block, collected apart, and the numbers and
// words every rendering shows alike.

#include <filesystem>
#include <string>
#include <string_view>

#include "qev_scoreboard/cli/status_report.hpp"

namespace qev_scoreboard {

// The schema whose objects the report names without their schema.
inline constexpr std::string_view MAIN_SCHEMA = "main";

// Tells `listener` that the report has grown.
inline void tell(const StatusListener& listener, const StatusReport& report) {
    if (listener.updated) listener.updated(report);
}

// Fills report.database: whether the file at `db_path` is there, its size, and the row count of every
// table and view in it, each told to `listener` in the report's order as it is known. Whatever goes wrong
// with the engine or the file is the block's finding, not an error; a path that cannot even be looked up
// or sized throws. `db_path` is the file as given, `counted_db` the same resolved once, and views over raw
// files name them relative to `counted_dir`, the work directory resolved once.
void collect_database(StatusReport& report, const std::filesystem::path& db_path,
                      const std::filesystem::path& counted_db, const std::filesystem::path& counted_dir,
                      bool track_progress, const StatusListener& listener);

// Fixed-point with `digits` decimals; ties go to the even digit, as printf does for a double.
std::string fixed_point(double value, int digits);

// A raw-data directory's state as the report words it: YOK, BOŞ, "<n> dosya" or why it was not counted.
std::string raw_dir_status(const StatusRawDir& dir);

}  // namespace qev_scoreboard
