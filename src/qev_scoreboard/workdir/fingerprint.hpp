#pragma once
// The fingerprint shared with the pipeline engine: the first 16 lower-case hex digits of the SHA-256 of a
// file's bytes, as its step meta files keep it (nb_hash) and the record of installed files does.

#include <array>
#include <filesystem>
#include <string>
#include <string_view>

#include "qev_scoreboard/platform/native_handle.hpp"

namespace qev_scoreboard {

namespace fs = std::filesystem;

// The fingerprint of the file at `path`. Throws FileError when the file cannot be opened or read, or is
// not a regular file.
std::string _file_hash(const fs::path& path);
// The same of a file already open, read from where it stands (`path` names it in errors), and of bytes
// in memory (`subject` names them should the digest library fail).
std::string fingerprint_of_open_file(platform::NativeHandle file, const fs::path& path);
std::string fingerprint_of_bytes(std::string_view bytes, const fs::path& subject);
// The fingerprint a SHA-256 digest gives: its first 8 bytes in lower-case hex.
std::string fingerprint_of_digest(const std::array<unsigned char, 32>& digest);

}  // namespace qev_scoreboard
