#pragma once
// The command module: the parsed-arguments record, the shared constants, the command handlers and the
// synchronisation routines that init and the auto-sync share.

#include <array>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qev_scoreboard/qev_scoreboard.hpp"  // _sync_notebooks, offered to callers outside the program

namespace qev_scoreboard {

namespace fs = std::filesystem;

// The parsed command line. `dir` is the --dir value as typed (absent when not given).
struct Args {
    std::optional<std::string> dir;
    std::optional<std::string> command;  // a sub-command's name; absent: no sub-command
    bool force = false;                  // init --force
    std::string db = "db/qev.duckdb";    // verify --db
};

// The raw-data sub-directories under external_data, in the order init creates and status reports them.
struct ExternalDataSubdir {
    std::string_view name;
    std::string_view content;
};
inline constexpr std::array<ExternalDataSubdir, 10> EXTERNAL_DATA_SUBDIRS{{
    {"kik_data_ham_csv", "KIK izleme CSV"},
    {"kredi_db", "Kredi risk parquet"},
    {"yis_tahmin_data", "YIS tahmin CSV"},
    {"eus_tahmin_data", "EUS tahmin CSV"},
    {"eus_hedef_muta", "EUS hedef MUTA"},
    {"eus_sql_kapsam_muta", "EUS kapsam MUTA"},
    {"statik_db", "Statik bilgiler TXT"},
    {"yis_train_data", "YIS training parquet"},
    {"rkd_donem_data", "RKD kriter parquet"},
    {"memzuc_data_donem", "Memzuc parquet"},
}};

inline constexpr std::string_view INGEST_NOTEBOOK = "nb_01_ingest.ipynb";

// Writes `text` and one line break to standard output, or hands `text` to the line sink in force on
// the calling thread.
void print_line(std::string_view text);

// While alive, print_line on the constructing thread hands each line (without its line break) to
// `sink` instead of writing standard output: one caller's lines never reach another caller or fd 1.
// Scopes nest; the innermost wins. An empty `sink` drops the lines.
class ScopedLineSink {
 public:
    using Sink = std::function<void(const std::string&)>;
    explicit ScopedLineSink(Sink sink);
    ~ScopedLineSink();
    ScopedLineSink(const ScopedLineSink&) = delete;
    ScopedLineSink& operator=(const ScopedLineSink&) = delete;

 private:
    Sink sink_;
    ScopedLineSink* previous_;
    friend void print_line(std::string_view text);
};

void cmd_init(const Args& args);
void cmd_status(const Args& args);
void cmd_version(const Args& args);
void cmd_verify(const Args& args);

// First 16 lower-case hex characters of the SHA-256 of the file's bytes. Throws FileError when the file
// cannot be opened or read, or is not a regular file.
std::string _file_hash(const fs::path& path);

// Writes the current fingerprint of each named notebook into the newest season's meta file of every
// step that runs from it; prints the "[SYNC] ... meta hash" line when files changed.
void _update_meta_hashes(const fs::path& base, const std::vector<std::string>& updated_notebooks);

// The package notebooks that are installed into a work directory: all but the ingest notebook.
std::vector<std::string> installable_notebooks(const fs::path& nb_dir);

// Version stamp db/.nb_version: the recorded version ("" when missing, empty or all white space).
std::string read_version_stamp(const fs::path& base);
// Writes the stamp, flushed to disk before it replaces the old one.
void write_version_stamp(const fs::path& base, const std::string& version);

}  // namespace qev_scoreboard
