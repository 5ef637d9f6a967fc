#pragma once
// File-system primitives over the system calls. Every failure throws FileError naming the path.

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "qev_scoreboard/core/fd.hpp"

namespace qev_scoreboard {

namespace fs = std::filesystem;

// Creates `dir` with its missing parents (mode 0777 less the umask); an existing directory is no error.
// A non-directory in the way is reported on that very component ("bir dizin değil").
void make_directories(const fs::path& dir);

// Existence test that follows links: a missing path, a dangling link, a link loop or a path through a
// non-directory is absent (false). Any other failure (e.g. permission denied) throws.
bool path_exists(const fs::path& path);

// True when `path` leads (through links) to a directory; false when it is absent or anything else.
bool leads_to_directory(const fs::path& path);

struct DirEntry {
    std::string name;
    bool is_directory = false;  // the entry itself, links not followed
};

// The entries of `dir` (links to it followed), without "." and "..", in the order the system gives.
std::vector<DirEntry> list_directory(const fs::path& dir);

// Like list_directory, but a directory that is not there (or a non-directory in its place) gives nullopt
// instead of an error.
std::optional<std::vector<DirEntry>> list_directory_if_present(const fs::path& dir);

// Where a write to a path lands: the directory that holds it, open, and its name there, which is never a
// link. The file checked here is the file a later openat()/renameat() on (dir, name) reaches.
struct ResolvedPath {
    Fd dir;  // the holding directory (O_PATH)
    std::string name;
    bool exists = false;
    bool via_link = false;  // the path's last component was a link
    struct stat st {};      // of the file, when it exists
};

// Follows `path` component by component through directory descriptors. A link is followed only where the
// kernel's protection against links planted in shared directories would allow it for this user, whatever
// the machine's setting: in a sticky world-writable directory, only a link owned by the caller or by the
// directory's owner. A refused link is EACCES. Failures throw FileError(action, path).
ResolvedPath resolve_path(const fs::path& path, const char* action);

// True when the directory refuses to let entries go (append-only or immutable): a temporary file made
// there could be neither renamed over its target nor removed. False where the flags cannot be read.
bool directory_keeps_entries(int dir_fd);

// Size in bytes of what `path` leads to.
std::uintmax_t size_in_bytes(const fs::path& path);

// Deletes the non-directory at `path` (a link as a link). False when nothing is there, or when a
// directory stands there (it is left alone).
bool remove_file(const fs::path& path);

// The process's current directory.
fs::path current_directory();

// Flushes the whole file system holding `path` to disk, as `sync -f` does.
void sync_filesystem(const fs::path& path);

// Flushes the directory `dir` itself, so a rename inside it reaches the disk.
void sync_directory(const fs::path& dir);

}  // namespace qev_scoreboard
