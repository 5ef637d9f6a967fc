#pragma once
// Where this installation lies, found from the file of the program or library holding this code. It
// is resolved once, as an absolute path, while that file is being loaded: a caller that loaded the
// library by a relative path and then changed directory still gets the right answer.

#include <filesystem>

namespace qev_scoreboard {

namespace fs = std::filesystem;

// The installation prefix: the directory above the bin/ or lib/ directory holding this code. Throws
// std::runtime_error when it could not be resolved.
fs::path installation_prefix();

// <prefix>/share/qev-scoreboard: notebooks, data readme, step registry.
fs::path package_data_dir();

// <prefix>/lib/qev-scoreboard: the DuckDB runtime, off the system's library path.
fs::path private_library_dir();

}  // namespace qev_scoreboard
