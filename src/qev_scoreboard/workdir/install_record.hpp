#pragma once
// The record of installed files, db/.nb_installed.json: the fingerprint of every file init and the
// auto-sync installed, by which a file the user changed since is told from one an older package put there.

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "qev_scoreboard/platform/files.hpp"
#include "qev_scoreboard/workdir/facts.hpp"

namespace qev_scoreboard {

namespace fs = std::filesystem;

// What the record says of one installed file: its fingerprint, and the facts of the file as installed
// and of the package file it was installed from, by which a later run trusts both without reading them.
struct RecordedFile {
    std::string fingerprint;
    std::optional<FileFacts> installed;
    std::optional<FileFacts> package;
};

// By path relative to the work directory, with "/" between names.
using RecordedFiles = std::map<std::string, RecordedFile>;

struct InstallRecord {
    bool found = false;  // false: no record, or one that could not be read as one
    RecordedFiles files;
    std::string text;                           // as read, so that an unchanged record is not written again
    std::optional<platform::FileTime> written;  // the record file's modification time: when its facts held
};

// The record as the work directory holds it; one an older version wrote holds fingerprints alone. A
// missing, unreadable or malformed record is no record: every installed file that differs from what
// replaces it then counts as the user's.
InstallRecord read_install_record(const fs::path& base);

// Records `files` as installed, replacing the record atomically, flushed first and its directory after;
// a record that already says exactly this is left alone. Before it is written, the file system's clock
// is let pass the last change of the files it names, so that their facts can be trusted next time.
void write_install_record(const fs::path& base, const InstallRecord& old, const RecordedFiles& files);

}  // namespace qev_scoreboard
