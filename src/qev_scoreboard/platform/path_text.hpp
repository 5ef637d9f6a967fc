#pragma once
// Paths as text: the UTF-8 the program's arguments and reports are in, and the system's own form.

#include <filesystem>
#include <string>
#include <string_view>

namespace qev_scoreboard::platform {

namespace fs = std::filesystem;

// A path from UTF-8 text (on POSIX systems, the bytes as they are).
fs::path path_from_utf8(std::string_view text);

// A path as UTF-8 text for printing. On Windows it shows the system's separator wherever the path has
// one, as the system's own tools print it ("C:/w/ws" is C:\w\ws), and no long-path prefix.
std::string path_to_utf8(const fs::path& path);

}  // namespace qev_scoreboard::platform
