#pragma once
// File-system helpers shared by the commands. Every failure throws fs::filesystem_error (or
// std::runtime_error for content problems) naming the path and the reason.

#include <exception>
#include <filesystem>
#include <string>
#include <string_view>

namespace qev_scoreboard {

namespace fs = std::filesystem;

// The whole file as bytes.
std::string read_file(const fs::path& path);

// True when `text` is well-formed UTF-8 (no overlongs, no surrogates, nothing above U+10FFFF).
bool is_valid_utf8(std::string_view text);

// Replaces `path` with `content` through a temporary file in the same directory and a rename, so a
// reader sees either the old or the new file, never a partial one. An existing file's permission bits
// are kept. On failure the original is untouched and the temporary file is removed.
void write_file_atomic(const fs::path& path, std::string_view content);

// Copies `src` to `dst` with its permission bits and access and modification times, through a
// temporary file beside `dst` and a rename: a failed copy never leaves a truncated `dst`.
void copy_file_atomic(const fs::path& src, const fs::path& dst);

// Creates `dir` with its missing parents; an existing directory is no error. A non-directory in the
// way is reported on that very component as "not a directory".
void make_directories(const fs::path& dir);

// Existence test that follows links: a missing path, a dangling link, a link loop or a path through a
// non-directory is absent (false). Any other failure (e.g. permission denied) throws.
bool path_exists(const fs::path& path);

// Throws fs::filesystem_error for `path` with the action `what` and the system error `err`.
[[noreturn]] void throw_errno(const std::string& what, const fs::path& path, int err);

// The one-line description of an error for the user: "<path>: <action>: <reason>" for a file-system
// error (whose what() would put the paths last, in brackets), what() for anything else.
std::string describe_error(const std::exception& e);

}  // namespace qev_scoreboard
