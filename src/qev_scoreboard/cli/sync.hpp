#pragma once
// The synchronisation routines that init and the auto-sync share: fingerprints, the meta-hash refresh,
// the notebooks to install and the version stamp. The auto-sync itself, _sync_notebooks, is offered to
// callers outside the program through the public header.

#include <filesystem>
#include <string>
#include <vector>

#include "qev_scoreboard/qev_scoreboard.hpp"

namespace qev_scoreboard {

namespace fs = std::filesystem;

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
