#pragma once
// Paths as text: the UTF-8 the program's arguments and reports are in, and the system's own form.

#include <filesystem>
#include <string>
#include <string_view>

namespace qev_scoreboard::platform {

namespace fs = std::filesystem;

// A path from UTF-8 text (on POSIX systems, the bytes as they are). On Windows a "/" is the separator
// the system would take it for, "\", so that names joined to a \\?\ path (which the system takes
// verbatim, without turning "/" into "\" itself) reach the file meant; a \\?\ path is taken verbatim.
fs::path path_from_utf8(std::string_view text);

// A path as UTF-8 text for printing. On Windows it shows the system's separator wherever the path has
// one, as the system's own tools print it ("C:/w/ws" is C:\w\ws), and no long-path prefix.
std::string path_to_utf8(const fs::path& path);

// A path as the UTF-8 text that names the same file to a library opening files by such text itself (the
// database engine): the system's own form, with the long-path prefix where the system needs one, not the
// form for printing.
std::string path_to_library_text(const fs::path& path);

// A directory as the UTF-8 text for a library that joins relative names of its own to it, names that
// may hold "/" (the engine's search path): on Windows without the \\?\ prefix wherever the path means
// the same without it, since a verbatim path takes no "/".
std::string path_to_joinable_text(const fs::path& path);

// `path` resolved once, as the system resolves it now, for use after the process may have moved
// elsewhere: against the current directory, and on Windows a drive-relative path ("D:dws") against that
// drive's own current directory. A \\?\ path is absolute as it is. Refuses what
// require_keepable_names refuses, with `action`.
fs::path absolute_path(const fs::path& path, const char* action);

// Throws FileError(action, path, EINVAL) when the system would not keep a name of `path` as given, so
// that the file made or found would be another than the one named: on Windows, a component ending in a
// space or a dot, which the system drops (a \\?\ path, taken verbatim, keeps them). Nothing on POSIX
// systems.
void require_keepable_names(const fs::path& path, const char* action);

// Whether the file system takes the two entry names (UTF-8) for one: on Windows case-insensitively, as
// NTFS compares names; elsewhere byte for byte.
bool same_entry_name(std::string_view a, std::string_view b);

}  // namespace qev_scoreboard::platform
