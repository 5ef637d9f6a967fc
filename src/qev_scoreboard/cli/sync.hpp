#pragma once
// The synchronisation routines that init and the auto-sync share: fingerprints, the meta-hash refresh,
// the notebooks to install and the version stamp. The auto-sync itself, _sync_notebooks, is offered to
// callers outside the program through the public header.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

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

// Version stamp db/.nb_version: the recorded version ("" when missing, empty or all white space).
std::string read_version_stamp(const fs::path& base);
// Writes the stamp, flushed to disk before it replaces the old one.
void write_version_stamp(const fs::path& base, const std::string& version);

}  // namespace qev_scoreboard
