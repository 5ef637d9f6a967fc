#pragma once
// Where a write to a path lands, looked up as the write will reach it, and the existing file there
// opened for its attributes or for a rewrite in place. Failures throw FileError(action, shown), or return
// an errno value where the caller decides what a failure means.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "qev_scoreboard/platform/files.hpp"
#include "qev_scoreboard/platform/native_handle.hpp"

namespace qev_scoreboard::platform {

namespace fs = std::filesystem;

// Where a write to a path lands: the directory that holds it, open, and its name there, which is never
// a link. The file described here is the file a later operation on (dir, name) reaches.
struct Destination {
    File dir;           // the holding directory (POSIX: opened for lookups only)
    fs::path dir_path;  // the same directory by name (Windows works by name)
    std::string name;
    bool exists = false;
    bool via_link = false;  // the path's last component was a link
    FileInfo info;          // of the file, when it exists
};

// Follows `path` to where a write lands. On POSIX systems it walks component by component through
// directory descriptors; a link that stands for the name written (the path's last component, or the
// last component of what such a link leads to) in a directory that anyone besides its owner may write is
// followed only when it belongs to this user or to the directory's owner, else ForeignLinkRefused is
// thrown. On Windows the system resolves the links of an existing file.
Destination resolve_destination(const fs::path& path, const char* action);

// True when the directory refuses to let entries go (append-only or immutable): a temporary file made
// there could be neither renamed over its target nor removed. False where that cannot be known.
bool keeps_entries(const Destination& at);

// Opens the existing file of `at` without following links, checked to be the file described
// (FileReplacedMeanwhile when another took its name) and writable by this process (as a plain write would
// be refused), for its attributes only. On Windows, where any open handle on the target makes the system
// refuse to replace it, the file is checked and closed again: the result is empty.
File open_existing(const Destination& at, const fs::path& shown, const char* action);

// Opens the existing file of `at` for reading and writing in place, checked as open_existing does and
// to be a regular file, without blocking on anything else.
File open_for_rewrite(const Destination& at, const fs::path& shown, const char* action);

// True when a rename over the existing file of `at` would be refused where a plain write is not: in a
// sticky directory (a shared one, like /tmp) only the owner of the file or of the directory may replace
// it. Always false on Windows.
bool replacement_refused(const Destination& at);

}  // namespace qev_scoreboard::platform
