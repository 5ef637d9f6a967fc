#pragma once
// The synchronisation routines that init and the auto-sync share: fingerprints, the meta-hash refresh,
// the notebooks to install and the version stamp. The auto-sync itself, _sync_notebooks, is offered to
// callers outside the program through the public header.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qev_scoreboard/cli/seasons.hpp"
#include "qev_scoreboard/core/atomic_file.hpp"
#include "qev_scoreboard/platform/files.hpp"
#include "qev_scoreboard/platform/native_handle.hpp"
#include "qev_scoreboard/qev_scoreboard.hpp"

namespace qev_scoreboard {

namespace fs = std::filesystem;

// First 16 lower-case hex characters of the SHA-256 of the file's bytes. Throws FileError when the file
// cannot be opened or read, or is not a regular file.
std::string _file_hash(const fs::path& path);
// The same of a file already open, read from where it stands (`path` names it in errors), and of bytes
// in memory (`subject` names them should the digest library fail).
std::string fingerprint_of_open_file(platform::NativeHandle file, const fs::path& path);
std::string fingerprint_of_bytes(std::string_view bytes, const fs::path& subject);

// Writes the current fingerprint of each named notebook into the newest season's meta file of every
// step that runs from it; prints the "[SYNC] ... meta hash" line when files changed.
void _update_meta_hashes(const fs::path& base, const std::vector<std::string>& updated_notebooks);

// The package notebooks that are installed into a work directory: all but the ingest notebook.
std::vector<std::string> installable_notebooks(const fs::path& nb_dir);

// A package file opened once, so that its fingerprint and its copy are of the same bytes.
struct PackageFile {
    fs::path path;
    platform::File file;
    platform::FileInfo info;  // as opened, before anything read it
    std::string fingerprint;
};
PackageFile open_package_file(const fs::path& path);
// Copies it to `dst` as copy_file_atomic does.
void install_package_file(const PackageFile& package_file, const fs::path& dst, Flush flush);

// _update_meta_hashes with the seasons of base/seasons as a run has listed them so far (listed here when
// not yet), so that one run lists them once.
void update_meta_hashes(const fs::path& base, const std::vector<std::string>& updated_notebooks,
                        std::optional<Seasons>& seasons);

// The meta files update_meta_hashes(base, names, seasons) would rewrite if stale: the newest season's of
// every step of each named notebook. What cannot be searched is left out.
std::vector<fs::path> meta_files_of(const fs::path& base, const std::vector<std::string>& names,
                                    std::optional<Seasons>& seasons);

// Removes what runs killed outright left in the directories every run owns: temporary files in the work
// directory, db/ and external_data/, and under yedek/ the runs' abandoned folders and their temporary
// files; never a file or folder a live run holds. Best effort.
void remove_left_overs(const fs::path& base);

// Refuses, before anything is written, to write through what `paths` lead to: a link planted by another
// user where others may write (ForeignLinkRefused), or two of them that reach one file ("<second>:
// yazılamadı: <first> ile aynı dosya", EINVAL). Any other failure to look one up is left for the write to
// report.
void check_destinations(const std::vector<fs::path>& paths);

// The auto-sync, with the copies it kept told to `kept` (relative to `base`, as printed) as they are
// made, whether it succeeds or fails.
void sync_notebooks(const fs::path& base, std::vector<std::string>* kept);

// Where the version stamp and the record of installed files lie.
fs::path version_stamp_path(const fs::path& base);
fs::path install_record_path(const fs::path& base);

// Version stamp db/.nb_version: the recorded version ("" when missing, empty or all white space).
std::string read_version_stamp(const fs::path& base);
// Writes the stamp, flushed to disk before it replaces the old one.
void write_version_stamp(const fs::path& base, const std::string& version);

}  // namespace qev_scoreboard
