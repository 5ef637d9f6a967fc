#pragma once
// The status report's database block.

#include <filesystem>

#include "qev_scoreboard/status/report.hpp"

namespace qev_scoreboard {

// Fills report.database: whether the file at `db_path` is there, its size, and the row count of every
// table and view in it, each told to `listener` in the report's order as it is known. Whatever goes wrong
// with the engine or the file is the block's finding, not an error; a path that cannot even be looked up
// or sized throws. `db_path` is the file as given, `counted_db` the same resolved once, and views over raw
// files name them relative to `counted_dir`, the work directory resolved once.
void collect_database(StatusReport& report, const std::filesystem::path& db_path,
                      const std::filesystem::path& counted_db, const std::filesystem::path& counted_dir,
                      bool track_progress, const StatusListener& listener);

// Tells `listener` that `part` (at `index`) was added to the report.
inline void tell(const StatusListener& listener, const StatusReport& report, StatusPart part, std::size_t index = 0) {
    if (listener.added) listener.added(report, part, index);
}

}  // namespace qev_scoreboard
