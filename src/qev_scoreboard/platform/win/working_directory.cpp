#include "qev_scoreboard/platform/working_directory.hpp"

#include <cerrno>
#include <string>

#include "qev_scoreboard/platform/file_error.hpp"
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

// Process-wide: reached only from the program, which alone allows it (allow_process_directory_change,
// called by main); a library caller's other threads never see their directory move.
int change_process_directory(const std::filesystem::path& dir) noexcept {
    return ::SetCurrentDirectoryW(dir.c_str()) ? 0 : win::errno_from_win32(::GetLastError());
}

int change_process_directory(NativeHandle dir) noexcept {
    try {
        const HANDLE h = reinterpret_cast<HANDLE>(dir.value);
        const DWORD n = ::GetFinalPathNameByHandleW(h, nullptr, 0, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        std::wstring path(n, L'\0');
        const DWORD written =
            n == 0 ? 0 : ::GetFinalPathNameByHandleW(h, path.data(), n, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (written == 0 || written >= n) return win::errno_from_win32(::GetLastError());
        path.resize(written);
        return ::SetCurrentDirectoryW(path.c_str()) ? 0 : win::errno_from_win32(::GetLastError());
    } catch (...) {
        return ENOMEM;
    }
}

}  // namespace qev_scoreboard::platform
