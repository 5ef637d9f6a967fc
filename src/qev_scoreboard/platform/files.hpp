#pragma once
// Files and directories: opening, reading, writing, describing and listing them, one implementation per
// system. Paths are std::filesystem paths (UTF-16 underneath on Windows, so long and non-ASCII names
// pass unchanged). Every failure throws FileError naming the path, its action and an errno value; on
// Windows the system's error is mapped to the errno value that means the same, and a file another
// program holds open (a sharing violation) is EBUSY with a reason of its own.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qev_scoreboard/platform/native_handle.hpp"

namespace qev_scoreboard::platform {

namespace fs = std::filesystem;

enum class FileKind { Regular, Directory, Link, Other };  // Other: FIFO, device, socket

struct FileTime {
    std::int64_t seconds = 0;  // since 1970-01-01 UTC
    std::int32_t nanoseconds = 0;
};

// What a file is, in the terms callers decide on. Owner and group are numeric ids where the system
// has them and 0 elsewhere; `permissions` holds the POSIX bits 07777 (on Windows 0444 or 0666 from the
// read-only attribute).
struct FileInfo {
    FileKind kind = FileKind::Other;
    std::uint64_t size = 0;
    std::uint32_t permissions = 0;
    std::uint32_t owner = 0;
    std::uint32_t group = 0;
    std::uint64_t links = 1;
    std::uint64_t device = 0;  // device and file id together name the file on this machine
    std::uint64_t file_id = 0;
    FileTime accessed;
    FileTime modified;
};

// Opens `path` for reading as a regular file. A FIFO or device is refused ("düzenli bir dosya değil")
// without ever blocking on it; a directory gives EISDIR.
File open_for_reading(const fs::path& path);

// Opens a directory as a place to resolve names in (`open_at`) and to work in; listing it is not
// required, only entering it. Links in `path` are followed.
File open_directory(const fs::path& path);

enum class Follow { Links, NoLinks };

// Opens `name`, one component, inside the directory `dir`, for reading, as `open_for_reading` does.
// With Follow::NoLinks a link there is refused with ELOOP, so a walk can apply its own rule to it.
File open_at(NativeHandle dir, const fs::path& name, Follow follow);

// Describes what stands at `path` (the link itself with Follow::NoLinks), or nothing when nothing does:
// a missing path, a path through a non-directory, a dangling link or (following links) a link loop.
// Any other failure (permission denied, say) throws.
std::optional<FileInfo> lookup(const fs::path& path, Follow follow);

// Describes an open file, or `name` inside `dir` (the link itself with Follow::NoLinks).
FileInfo info(NativeHandle file, const fs::path& shown);
FileInfo info_at(NativeHandle dir, const fs::path& name, Follow follow);

// The target text of the link `name` inside `dir`.
fs::path read_link_at(NativeHandle dir, const fs::path& name);

// Reads at most `size` bytes, retrying on interruption; 0 means end of file.
std::size_t read_some(NativeHandle file, char* buf, std::size_t size, const fs::path& shown);

// Writes all of `data`, retrying on interruption and short writes.
void write_all(NativeHandle file, std::string_view data, const fs::path& shown);

// True when this process may write the file at `path` (its effective ids on POSIX, the read-only
// attribute and the file's access list on Windows).
bool may_write(const fs::path& path);

struct DirEntry {
    std::string name;           // UTF-8
    bool is_directory = false;  // the entry itself, links not followed
};

// The entries of `dir` (links to it followed), without "." and "..", in the order the system gives.
std::vector<DirEntry> list_directory(const fs::path& dir);

// Creates the one directory `dir` (mode 0777 less the umask). Returns false when something already
// stands there; throws on any other failure.
bool make_directory(const fs::path& dir);

// Deletes the non-directory at `path` (a link as a link). False when nothing is there.
bool remove_file(const fs::path& path);

// The process's current directory.
fs::path current_directory();

// A path from UTF-8 text, and a path as UTF-8 text for printing. On Windows the text shows the
// system's separator where the path has one, as the system's own tools print it.
fs::path path_from_utf8(std::string_view text);
std::string path_to_utf8(const fs::path& path);

}  // namespace qev_scoreboard::platform
