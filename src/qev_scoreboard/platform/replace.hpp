#pragma once
// What replacing a file through a temporary one needs from the system: a temporary file beside the
// target, its attributes, its content copied, flushing, a lock, and the replacement itself. Failures
// throw FileError as in files.hpp.
//
// Flushing: `flush_data` returns once the file's content and size are on the disk; the name of a file
// is durable only once its directory is flushed too (`flush_directory`), which Windows does as part of
// `replace` (write-through) and POSIX systems do not.

#include <cstdint>
#include <filesystem>

#include "qev_scoreboard/platform/files.hpp"
#include "qev_scoreboard/platform/native_handle.hpp"

namespace qev_scoreboard::platform {

struct TemporaryFile {
    File file;
    fs::path path;
};

// Creates a new file with a short random name beside `target` (in its directory), open for writing,
// never one that already exists. `permissions` applies less the umask. Returns an empty file when the
// directory refuses new files (EACCES, EPERM); throws on any other failure. On Windows the file is
// opened so that it can still be deleted while open (an interrupt's clean-up runs on another thread).
TemporaryFile create_temporary_beside(const fs::path& target, std::uint32_t permissions);

// Copies the whole remaining content of `in` to `out`, in the kernel where the system can.
void copy_content(NativeHandle in, NativeHandle out, const fs::path& src, const fs::path& dst);

// Reserves `size` bytes for `file`, so a full disk shows before anything is replaced. Where the file
// system cannot reserve, nothing happens.
void preallocate(NativeHandle file, std::uint64_t size, const fs::path& shown);

// Sets the length of `file`.
void truncate(NativeHandle file, std::uint64_t size, const fs::path& shown);

// Gives `file` the owner and group `from` has, as far as this process may: both, else the group alone,
// else neither (no error: the file stays with this process's own). Nothing happens on Windows.
void keep_owner(NativeHandle file, const FileInfo& from);

// Sets the permission bits 07777 (on Windows: read-only when no write bit is set).
void set_permissions(NativeHandle file, std::uint32_t permissions, const fs::path& shown);

// Sets the access and modification times.
void set_times(NativeHandle file, FileTime accessed, FileTime modified, const fs::path& shown);

// Copies the extended attributes (and with them ACLs and security labels) of `from` to `to`, as far as
// this process may set them. Nothing happens where the system has none to copy.
void copy_extended_attributes(NativeHandle from, NativeHandle to, const fs::path& shown);

// True when the file may only be appended to (chattr +a, chflags uappnd): replacing it would break that.
bool is_append_only(NativeHandle file);

// Holds an exclusive advisory lock on `file` until it is closed; waits for another holder.
void lock_exclusive(NativeHandle file, const fs::path& shown);

// Flushes the file's content to the disk (fdatasync, FlushFileBuffers).
void flush_data(NativeHandle file, const fs::path& shown);

// Flushes the directory `dir` itself, so a rename inside it reaches the disk. A directory this process
// may not open, or a file system that cannot flush one, is left as durable as the system makes it.
void flush_directory(const fs::path& dir);

// Flushes the whole file system holding `path`, as `sync -f` does (every file system where the system
// offers only that). Only where file_system_flush_available(): elsewhere (Windows, where it needs an
// administrator) each file must be flushed before it replaces another.
bool file_system_flush_available();
void flush_file_system(const fs::path& path);

// True when a rename over `target` would be refused where a plain write is not: in a sticky directory
// (a shared one, like /tmp) only the owner of the file or of the directory may replace it. Always false
// on Windows.
bool replacement_refused(const FileInfo& target, const fs::path& directory);

// Removes the file at `native`, a path in the system's own form (fs::path::c_str()), ignoring failures.
// Async-signal-safe: for an interrupt's clean-up of temporary files.
void remove_in_interrupt(const fs::path::value_type* native) noexcept;

// Renames `temporary` over `target`, replacing it in one step. On Windows (MoveFileExW, replace and
// write-through) a target held open by another program is retried for about a second, then reported as
// EBUSY naming `shown`; `temporary` is left for the caller to remove.
void replace(const fs::path& temporary, const fs::path& target, const fs::path& shown);

}  // namespace qev_scoreboard::platform
