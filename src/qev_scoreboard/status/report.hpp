#pragma once
// The status report as data: collected once, block by block, then rendered (render.hpp) as the command's
// text, as JSON (the C interface's and the Python module's dict) and as HTML (a notebook cell).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qev_scoreboard {

// The parts of a StatusReport (apart from it, so each is complete before the report holds it).
struct StatusRawDir {
    std::string name;
    bool exists = false;
    std::optional<std::uint64_t> entries;  // when it could be counted
    std::optional<std::uint64_t> files;    // of the entries, the regular files that are not hidden
    std::string error;                     // why not, when it exists but could not be
};
struct StatusTable {
    std::string schema, name;
    bool view = false;
    std::optional<std::int64_t> rows;  // when it could be counted
    std::string error;                 // why not
};
struct StatusDatabase {
    std::string path;
    bool exists = false;
    std::optional<std::uint64_t> size_bytes;
    std::vector<StatusTable> tables;  // as counted, in the report's order
    std::string error;                // the engine or the file could not be opened, or a kind not listed
    std::size_t error_at = 0;         // how many tables had been counted when it happened
};
struct StatusOutput {
    std::string name;  // relative to the output directory, as the report labels it
    bool exists = false;
    std::optional<std::uint64_t> size_bytes;
};
struct StatusStep {
    std::string season, code, notebook;
    std::optional<std::string> recorded;  // the meta file's nb_hash
    std::optional<std::string> current;   // the installed notebook's fingerprint
    std::string error;                    // why the meta file or the notebook could not be read
    bool stale() const { return !recorded || !current || *recorded != *current; }
};

struct StatusReport {
    using RawDir = StatusRawDir;
    using Table = StatusTable;
    using Database = StatusDatabase;
    using Output = StatusOutput;
    using Step = StatusStep;

    std::string version;
    std::string work_dir;                     // as given
    std::string work_dir_shown;               // as the report's heading shows it
    std::optional<bool> external_data_found;  // whether the raw-data directory is there
    std::vector<RawDir> external_data;
    std::optional<Database> database;
    std::optional<std::vector<Output>> outputs;
    std::optional<std::vector<Step>> steps;  // only when asked for: the command does not report them
    std::string steps_error;                 // why the seasons could not be searched, when they could not
};

// The parts of a report, in the order they are collected and shown, each added whole.
enum class StatusPart {
    Heading,            // the version and the work directory
    ExternalDataTitle,  // the raw-data block begins
    ExternalDataFound,  // external_data_found is known
    RawDir,             // external_data[index]
    DatabaseTitle,      // the database block begins: database->path
    DatabaseFile,       // whether the file is there, and its size
    DatabaseError,      // database->error, after database->tables[0..index)
    Table,              // database->tables[index]
    OutputsTitle,       // the outputs block begins
    Output,             // (*outputs)[index]
};

// Told as the report grows, on the thread that collects the block (the database block is collected on a
// thread of its own, whose working directory is the work directory).
struct StatusListener {
    // After each part is added: the report so far, the part, and its index where it has one.
    std::function<void(const StatusReport&, StatusPart, std::size_t index)> added;
    // A table or view is about to be counted, under this label; `progress` tells how far the count is,
    // as a percentage, or a negative number when the engine cannot tell. Valid until counted() is called.
    std::function<void(const std::string& label, const std::function<double()>& progress)> counting;
    std::function<void()> counted;
};

// Collects the report on the work directory named by `dir` (the --dir value), block by block, telling
// `listener` of each part. Errors other than the findings the report shows (a path that cannot even be
// looked up, a size that cannot be read) are thrown, as the command reports them. `steps` adds the steps
// of the registry with their recorded and current fingerprints; `track_progress` lets counting() tell
// how far a count is.
StatusReport collect_status(const std::optional<std::string>& dir, bool steps, bool track_progress,
                            const StatusListener& listener = {});

// The report as the C interface gives it, with the steps: on a work directory that must be there (a
// FileError otherwise, as for a listing).
StatusReport collect_status_data(const std::optional<std::string>& dir);

}  // namespace qev_scoreboard
