#pragma once
// Where this installation lies, found from the file of the program or library holding this code. It
// is resolved once, as an absolute path, while that file is being loaded: a caller that loaded the
// library by a relative path and then changed directory still gets the right answer.

#include <filesystem>
#include <string_view>

namespace qev_scoreboard {

namespace fs = std::filesystem;

// The installation prefix: the directory above the bin/ or lib/ directory holding this code. Throws
// std::runtime_error when it could not be resolved.
fs::path installation_prefix();

// The wheel's package directory, the installation prefix of the wheel's files, for its command, which an
// installer put in `scripts`: an environment's scripts directory (bin/ of a virtual environment, a conda
// environment, the user's base or a prefix; Scripts\ on Windows; bin/ of a --target directory). It is the
// qev_scoreboard_cli directory, holding the package data, of a site-packages directory of that
// environment that also holds the installer's record of `version`, so the command never takes another
// version's or another installation's files for its own. Empty when there is none.
fs::path wheel_package_dir(const fs::path& scripts, std::string_view version);

// For the copy of the program that the wheel installs as its command: the installation is from now on
// the wheel's package directory of the environment around the program's own directory (for an error
// naming that directory when there is none). Call it first in main.
void locate_as_wheel_command();

// <prefix>/share/qev-scoreboard: notebooks, data readme, step registry.
fs::path package_data_dir();

// <prefix>/lib/qev-scoreboard: the DuckDB runtime, off the system's library path.
fs::path private_library_dir();

}  // namespace qev_scoreboard
