#pragma once
// The record of installed files, db/.nb_installed.json: the fingerprint of every file init and the
// auto-sync installed, by which a file the user changed since is told from one an older package put there.

#include <filesystem>
#include <map>
#include <string>

namespace qev_scoreboard {

namespace fs = std::filesystem;

// Fingerprints by path relative to the work directory, with "/" between names.
using Fingerprints = std::map<std::string, std::string>;

struct InstallRecord {
    bool found = false;  // false: no record, or one that could not be read as one
    Fingerprints files;
    std::string text;  // as read, so that an unchanged record is not written again
};

// The record as the work directory holds it. A missing, unreadable or malformed record is no record:
// every installed file that differs from what replaces it then counts as the user's.
InstallRecord read_install_record(const fs::path& base);

// Records `files` as installed, replacing the record atomically, flushed first; a record that already
// says exactly this is left alone.
void write_install_record(const fs::path& base, const InstallRecord& old, const Fingerprints& files);

}  // namespace qev_scoreboard
