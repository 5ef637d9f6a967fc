#pragma once
// Which file holds this code: the program, or the shared library a caller loaded.

#include <filesystem>

namespace qev_scoreboard::platform {

namespace fs = std::filesystem;

// The absolute path, links resolved, of the program or shared library holding this code. A relative
// name the system recorded is resolved against the current directory (and a bare program name against
// PATH), so call it before anything may change directory. Throws std::runtime_error
// ("[<file>: ]kütüphanenin konumu bulunamadı[: <reason>]") when the system cannot say.
fs::path module_file();

}  // namespace qev_scoreboard::platform
