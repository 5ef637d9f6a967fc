#include "qev_scoreboard/platform/arguments.hpp"

#include "qev_scoreboard/platform/win/system_error.hpp"
#include "qev_scoreboard/platform/win/windows.hpp"
// After <windows.h>, which it needs.
#include <shellapi.h>

namespace qev_scoreboard::platform {

std::vector<std::string> utf8_arguments(int argc, char** argv) {
    int n = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &n);
    if (wide == nullptr) return {argv, argv + argc};
    std::vector<std::string> out;
    out.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) out.push_back(win::narrow(wide[i]));
    ::LocalFree(wide);
    return out;
}

}  // namespace qev_scoreboard::platform
