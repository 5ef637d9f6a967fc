#include "qev_scoreboard/platform/self_location.hpp"

#include <stdexcept>
#include <string>

#include "qev_scoreboard/platform/win/system_error.hpp"
#include "qev_scoreboard/platform/win/windows.hpp"

namespace qev_scoreboard::platform {

namespace {

constexpr const char* NOT_FOUND = "kütüphanenin konumu bulunamadı";

// An address inside this file, so inside the program or DLL holding this code.
const void* anchor() { return reinterpret_cast<const void*>(&anchor); }

}  // namespace

fs::path module_file() {
    HMODULE module = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCWSTR>(anchor()), &module))
        throw std::runtime_error(std::string(NOT_FOUND) + ": " + win::win32_reason(::GetLastError()));
    // The loader records the full path it loaded; past MAX_PATH the buffer grows up to the 32767 a
    // path may have.
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(module, name.data(), static_cast<DWORD>(name.size()));
        if (n == 0) throw std::runtime_error(std::string(NOT_FOUND) + ": " + win::win32_reason(::GetLastError()));
        if (n < name.size()) {
            name.resize(n);
            return fs::path(name);
        }
        if (name.size() >= 32768) throw std::runtime_error(std::string(NOT_FOUND) + ": dosya adı çok uzun");
        name.resize(name.size() * 2);
    }
}

}  // namespace qev_scoreboard::platform
