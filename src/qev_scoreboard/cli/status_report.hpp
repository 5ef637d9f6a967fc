#pragma once
// The status report as data: collected once, block by block, then rendered as the command's text, as
// JSON (the C interface's and the Python module's dict) and as HTML (a notebook cell).

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
    bool looked_up = false;  // whether `exists` is known yet
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
    std::string work_dir;        // as given
    std::string work_dir_shown;  // as the report's heading shows it
    // Each block is there once collected, in order; an unfinished one is the block being collected.
    bool external_data_begun = false;
    std::optional<bool> external_data_found;
    std::vector<RawDir> external_data;
    std::optional<Database> database;
    bool database_done = false;
    std::optional<std::vector<Output>> outputs;
    std::optional<std::vector<Step>> steps;  // only when asked for: the command does not report them
    std::string steps_error;                 // why the seasons could not be searched, when they could not
};

// Told as the report grows, on the thread that collects the block (the database block is collected on a
// thread of its own, whose working directory is the work directory).
struct StatusListener {
    // After each part is added: the report so far.
    std::function<void(const StatusReport&)> updated;
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

// Where the command's text of a growing report has got to.
struct StatusTextCursor {
    int stage = 0;
    std::size_t index = 0;
    bool error_shown = false;
};
// Appends the command's lines (without their line breaks) that the report has gained since `at`, and
// moves `at` past them: the lines of each part collected, in order, each once.
void append_status_lines(const StatusReport& report, StatusTextCursor& at, std::vector<std::string>& lines);
// The command's lines for the whole report.
std::vector<std::string> status_text_lines(const StatusReport& report);
// The whole report as the command prints it.
std::string status_text(const StatusReport& report);
// Plain JSON data: version, work_dir, external_data, database, outputs, steps.
std::string status_json(const StatusReport& report);
// An HTML fragment for a notebook cell: the same blocks as tables, errors and stale steps marked.
std::string status_html(const StatusReport& report);

// How the report names a table or view: those of the main schema by name alone, the others with their
// schema; a part holding "." or '"' in double quotes (inner ones doubled), as SQL writes it.
std::string status_table_label(const std::string& schema, const std::string& name);

}  // namespace qev_scoreboard
