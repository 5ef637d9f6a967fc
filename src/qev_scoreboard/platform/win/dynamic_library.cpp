#include "qev_scoreboard/platform/dynamic_library.hpp"

#include <stdexcept>

#include "qev_scoreboard/platform/win/system_error.hpp"
#include "qev_scoreboard/platform/win/windows.hpp"

namespace qev_scoreboard::platform {

SharedLibrary SharedLibrary::open(const fs::path& file) {
    // A library named by its full path finds what it depends on beside itself first (duckdb.dll beside
    // the program), then in the system's directories; never in the current directory.
    const DWORD flags = file.is_absolute() ? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS : 0;
    if (HMODULE h = ::LoadLibraryExW(file.c_str(), nullptr, flags)) return SharedLibrary(h);
    const DWORD code = ::GetLastError();
    throw std::runtime_error(win::narrow(file.native()) + ": " + win::win32_reason(code));
}

std::string SharedLibrary::file_name(std::string_view stem) { return std::string(stem) + ".dll"; }

void* SharedLibrary::symbol(const char* name) const {
    if (handle_ == nullptr) return nullptr;
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void SharedLibrary::close() noexcept {
    if (handle_) ::FreeLibrary(static_cast<HMODULE>(handle_));
    handle_ = nullptr;
}

}  // namespace qev_scoreboard::platform
