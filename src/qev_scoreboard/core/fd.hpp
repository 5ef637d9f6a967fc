#pragma once
// Open files and whole-file and block reads. Every failure throws FileError naming the path.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/platform/files.hpp"
#include "qev_scoreboard/platform/native_handle.hpp"

namespace qev_scoreboard {

namespace fs = std::filesystem;

// An owned open file, closed on every path out of its scope.
using Fd = platform::File;

// Opens `path` for reading as a regular file. A FIFO or device is refused ("düzenli bir dosya değil")
// without ever blocking on it; a directory gives EISDIR.
inline Fd open_regular_for_reading(const fs::path& path) { return platform::open_for_reading(path); }

// Feeds `fn(data, n)` every block read from `file`, front to back, until end of file.
template <typename Fn>
void read_blocks(platform::NativeHandle file, const fs::path& path, char* buf, size_t size, Fn&& fn) {
    for (size_t n; (n = platform::read_some(file, buf, size, path)) != 0;) fn(buf, n);
}

// Moves back to the start of `file`, to read it again. Action: "okunamadı".
void rewind_for_reading(platform::NativeHandle file, const fs::path& path);

// Whether read_utf8_file refused the file for what it holds or is, rather than failed to read it: not
// UTF-8, larger than allowed, a directory, or no regular file (a FIFO, a device).
bool refused_as_text(const FileError& e);

// The whole regular file, which must be valid UTF-8 ("<path>: okunamadı: geçerli UTF-8 değil").
// Files above `max_size` bytes are refused before any allocation.
std::string read_utf8_file(const fs::path& path, size_t max_size = static_cast<size_t>(1) << 30);
// The same of a file already open, read from where it stands (`path` names it in errors).
std::string read_utf8_text(platform::NativeHandle file, const fs::path& path,
                           size_t max_size = static_cast<size_t>(1) << 30);

}  // namespace qev_scoreboard
