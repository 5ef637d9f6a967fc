#pragma once
// Files and directories: opening, reading, writing, describing and listing them, one implementation per
// system. Paths are std::filesystem paths (UTF-16 underneath on Windows, so long and non-ASCII names
// pass unchanged). Failures either throw FileError naming the path, its action and an errno value, or,
// where callers decide what a failure means, return that errno value (0 for success). On Windows the
// system's error is mapped to the errno value that means the same, and a file another program holds
// open (a sharing violation) is EBUSY with a reason of its own.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "qev_scoreboard/platform/native_handle.hpp"

namespace qev_scoreboard::platform {

namespace fs = std::filesystem;

enum class FileKind { Regular, Directory, Link, Fifo, Device, Other };  // Other: a socket

struct FileTime {
    std::int64_t seconds = 0;  // since 1970-01-01 UTC
    std::int32_t nanoseconds = 0;
    friend bool operator==(FileTime, FileTime) = default;
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
    std::uint64_t device = 0;  // device and file id together name the file on this machine
    std::uint64_t file_id = 0;
    std::uint64_t links = 1;  // names the file has
    FileTime accessed;
    FileTime modified;
    // When the file's content or description last changed, set by the system alone (POSIX ctime; on
    // Windows the change time of its basic information); zero where the file system keeps none (FAT).
    FileTime changed;
};

inline bool same_file(const FileInfo& a, const FileInfo& b) { return a.device == b.device && a.file_id == b.file_id; }

enum class Follow { Links, NoLinks };

// Opens `path` for reading as a regular file. A FIFO or device is refused ("düzenli bir dosya değil")
// without ever blocking on it; a directory gives EISDIR. Action: "açılamadı".
File open_for_reading(const fs::path& path);

// Opens a directory to work in; entering it is enough, listing it is not required. Links are followed.
// Action: "açılamadı".
File open_directory(const fs::path& path);

// Describes an open file. Action: "okunamadı".
FileInfo info(NativeHandle file, const fs::path& shown);

// Describes what stands at `path` (the link itself with Follow::NoLinks) into `out`. Returns 0 or the
// errno value: ENOENT or ENOTDIR when nothing is there, ELOOP for a link loop.
int describe(const fs::path& path, Follow follow, FileInfo& out) noexcept;

// Whether this user may make entries in the directory `dir`, as a new file or directory there would
// ask: 0, or the errno value the attempt would meet (EACCES, EROFS, ...). Changes nothing.
int may_add_entries(const fs::path& dir) noexcept;

// Reads at most `size` bytes, retrying on interruption; 0 means end of file. Action: "okunamadı".
std::size_t read_some(NativeHandle file, char* buf, std::size_t size, const fs::path& shown);

// Reads at most `size` bytes starting `offset` bytes into the file, leaving where plain reads stand
// alone on POSIX (on Windows the handle's own position moves); 0 means the offset is at or past the end.
// Action: "okunamadı".
std::size_t read_at(NativeHandle file, std::uint64_t offset, char* buf, std::size_t size, const fs::path& shown);

// Writes all of `data`, retrying on interruption and short writes. Action: "yazılamadı".
void write_all(NativeHandle file, std::string_view data, const fs::path& shown);

struct DirEntry {
    std::string name;           // UTF-8 on Windows; the bytes the system gives elsewhere
    bool is_directory = false;  // the entry itself, links not followed
};

// The entries of `dir` (links to it followed), without "." and "..", in the order the system gives.
// Action: "listelenemedi".
std::vector<DirEntry> list_directory(const fs::path& dir);

// Creates the one directory `dir` (mode 0777 less the umask). Returns 0 or the errno value.
int make_directory(const fs::path& dir) noexcept;

// Deletes the non-directory at `path` (a link as a link). Returns 0 or the errno value.
int remove_file(const fs::path& path) noexcept;

// Deletes the directory `dir` if it is empty. Returns 0 or the errno value (ENOTEMPTY or EEXIST when
// something is in it).
int remove_empty_directory(const fs::path& dir) noexcept;

// The process's current directory. Action: "çalışma dizini okunamadı".
fs::path current_directory();

// Flushes the directory `dir` itself, so a rename inside it reaches the disk. A directory this process
// may not open, or a file system that cannot flush one, is left as durable as the system makes it.
// Nothing on Windows, whose replacement writes through. Action: "diske yazılamadı".
void flush_directory(const fs::path& dir);

// Flushes the content of the existing regular file `path`, as a run that wrote it and was cut short
// before flushing would have. Nothing on Windows, whose replacements are flushed through their own
// handles before they are named. Action: "diske yazılamadı".
void flush_existing_file(const fs::path& path);

}  // namespace qev_scoreboard::platform
