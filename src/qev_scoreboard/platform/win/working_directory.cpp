#include "qev_scoreboard/platform/working_directory.hpp"

#include <cerrno>

#include "qev_scoreboard/core/file_error.hpp"
#include "qev_scoreboard/platform/win/system_error.hpp"
#include "qev_scoreboard/platform/win/windows.hpp"

namespace qev_scoreboard::platform {

// Windows keeps one working directory per process: nothing to enter, only to check.
bool enter_thread_working_directory(const std::filesystem::path& dir) {
    const DWORD attributes = ::GetFileAttributesW(dir.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) win::throw_win32_error("açılamadı", dir, ::GetLastError());
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) throw_file_error("açılamadı", dir, ENOTDIR);
    return false;
}

}  // namespace qev_scoreboard::platform
