#pragma once
// File-system primitives in the terms the commands decide on. Every failure throws FileError naming the
// path.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "qev_scoreboard/core/fd.hpp"
#include "qev_scoreboard/platform/files.hpp"

namespace qev_scoreboard {

namespace fs = std::filesystem;

// Creates `dir` with its missing parents (mode 0777 less the umask), each flushed into its parent; an
// existing directory is no error. A non-directory in the way is reported on that very component ("bir
// dizin değil").
void make_directories(const fs::path& dir);

// Throws what make_directories(dir) would where it would surely fail (a component that is no directory,
// one that cannot be looked at, a parent this user may not make entries in), making nothing.
void require_makeable(const fs::path& dir);

// Creates the one directory `dir`, whose parent exists. False, creating nothing, when something of that
// name is there already; any other failure throws.
bool make_new_directory(const fs::path& dir);

// Whether a look-up's errno value means that nothing is there: no such name, a non-directory on the way,
// or a link that leads nowhere (a loop of links).
bool means_absent(int err);

// Existence test that follows links: a missing path, a dangling link, a link loop or a path through a
// non-directory is absent (false). Any other failure (e.g. permission denied) throws.
bool path_exists(const fs::path& path);

// Throws FileError(action, dir) unless `dir` leads (through links) to a directory: ENOENT when nothing is
// there, ENOTDIR for something else (or a non-directory on the way), the system's own reason otherwise.
void require_directory(const fs::path& dir, const char* action);

// True when `path` leads (through links) to a directory; false when it is absent or anything else. A
// look-up that fails otherwise (an I/O error, say) throws: it is no answer.
bool leads_to_directory(const fs::path& path);

using DirEntry = platform::DirEntry;

// The entries of `dir` (links to it followed), without "." and "..", in the order the system gives.
std::vector<DirEntry> list_directory(const fs::path& dir);

// Like list_directory, but a directory that is not there (or a non-directory in its place) gives nullopt
// instead of an error.
std::optional<std::vector<DirEntry>> list_directory_if_present(const fs::path& dir);

// Size in bytes of what `path` leads to.
std::uintmax_t size_in_bytes(const fs::path& path);

// Deletes the non-directory at `path` (a link as a link). False when nothing is there, or when a
// directory stands there (it is left alone).
bool remove_file(const fs::path& path);

// The process's current directory.
fs::path current_directory();

// Flushes the directory `dir` itself, so a rename inside it reaches the disk.
void sync_directory(const fs::path& dir);

// Flushes the content of the existing regular file `path`.
void flush_file(const fs::path& path);

}  // namespace qev_scoreboard
