#pragma once
// What a replacement does to its file's content and attributes: the content copied, the owner, mode,
// times and extended attributes carried over, the data flushed, space reserved, and the last resort of a
// rewrite in place. Failures throw FileError(action, shown), or return an errno value.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "qev_scoreboard/platform/files.hpp"
#include "qev_scoreboard/platform/native_handle.hpp"

namespace qev_scoreboard::platform {

namespace fs = std::filesystem;

// Copies the whole remaining content of `in` to `out`, in the kernel where the system can.
void copy_content(NativeHandle in, NativeHandle out, const fs::path& src, const fs::path& dst);

// Gives `file` the owner and group `from` has, as far as this process may: both, else the group alone,
// else neither (no error: the file stays with this process's own). Nothing on Windows.
void keep_owner(NativeHandle file, const FileInfo& from);

// Copies the extended attributes (and with them ACLs and security labels) of `from` (from
// open_existing) to `to`, those this process may read and set. Nothing where the system has none.
void copy_extended_attributes(NativeHandle from, NativeHandle to, const fs::path& shown, const char* action);

// Sets the permission bits 07777 (on Windows: read-only when no write bit is set). 0 or the errno value.
int set_permissions(NativeHandle file, std::uint32_t permissions) noexcept;

// Sets the access and modification times. 0 or the errno value.
int set_times(NativeHandle file, FileTime accessed, FileTime modified) noexcept;

// Flushes the file's content and size to the disk. Action: "diske yazılamadı".
void flush_data(NativeHandle file, const fs::path& shown);

// Starts writing the file's content back to the disk without waiting for it, so that the flushes of many
// files, made after, overlap. Nothing where the system cannot; never an error (flush_data tells).
void start_flush(NativeHandle file) noexcept;

// Reserves the first `size` bytes of `file`, so a full disk shows before anything is overwritten: without
// changing its size where the system can (Linux, macOS), else lengthened with zeros to `size`, which the
// rewrite then fills. 0, or the errno value: EOPNOTSUPP where the system or file system cannot.
int reserve(NativeHandle file, std::uint64_t size) noexcept;

// Moves to the start of the file, and sets its length.
void rewind(NativeHandle file, const fs::path& shown, const char* action);
void truncate(NativeHandle file, std::uint64_t size, const fs::path& shown, const char* action);

// Writes `old` back from the start and cuts the file to its length, giving back what a longer rewrite
// reserved, as far as the system lets us: the last resort after a failed rewrite.
void put_back(NativeHandle file, std::string_view old, std::uint64_t new_size) noexcept;

}  // namespace qev_scoreboard::platform
