#include "qev_scoreboard/platform/path_text.hpp"

#include <algorithm>
#include <string>

#include "qev_scoreboard/platform/win/system_error.hpp"

namespace qev_scoreboard::platform {

fs::path path_from_utf8(std::string_view text) { return fs::path(win::widen(text)); }

std::string path_to_utf8(const fs::path& path) {
    std::wstring text = path.native();
    // The long-path prefix is how the system is asked, not part of the name the user gave.
    if (text.starts_with(LR"(\\?\UNC\)"))
        text.replace(0, 8, LR"(\\)");
    else if (text.starts_with(LR"(\\?\)"))
        text.erase(0, 4);
    // As Windows' own tools print a path: "C:/w/ws" is C:\w\ws.
    std::replace(text.begin(), text.end(), L'/', L'\\');
    return win::narrow(text);
}

}  // namespace qev_scoreboard::platform
