#include "qev_scoreboard/platform/path_text.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string>

#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/platform/win/file_info.hpp"
#include "qev_scoreboard/platform/win/system_error.hpp"
#include "qev_scoreboard/platform/win/windows.hpp"

namespace qev_scoreboard::platform {

namespace {

// The form in which the system takes a path as it is: no "/" turned into "\", no name trimmed, no ".."
// resolved.
bool verbatim(std::wstring_view text) { return text.starts_with(LR"(\\?\)") || text.starts_with(LR"(\??\)"); }

// The first name of `text` from `from` on that the system would trim (one ending in a space or a dot),
// or an empty view.
std::wstring_view unkeepable_name(std::wstring_view text, std::size_t from) {
    while (from < text.size()) {
        const std::size_t end = std::min(text.find_first_of(LR"(\/)", from), text.size());
        const std::wstring_view name = text.substr(from, end - from);
        from = end + 1;
        if (name.empty() || name == L"." || name == L"..") continue;
        if (name.back() == L' ' || name.back() == L'.') return name;
    }
    return {};
}

}  // namespace

fs::path path_from_utf8(std::string_view text) {
    std::wstring wide = win::widen(text);
    if (!verbatim(wide)) std::replace(wide.begin(), wide.end(), L'/', L'\\');
    return fs::path(std::move(wide));
}

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

std::string path_to_library_text(const fs::path& path) { return win::narrow(win::system_path(path)); }

std::string path_to_joinable_text(const fs::path& path) {
    const std::wstring text = win::system_path(path);
    if (!text.starts_with(LR"(\\?\)")) return win::narrow(text);
    std::wstring plain = text.starts_with(LR"(\\?\UNC\)") ? LR"(\\)" + text.substr(8) : text.substr(4);
    // Only where the system, resolving the plain form, reaches the same directory.
    const bool same = plain.size() < MAX_PATH - 12 && plain.find(L'/') == std::wstring::npos &&
                      unkeepable_name(plain, fs::path(plain).root_name().native().size()).empty();
    return win::narrow(same ? plain : text);
}

fs::path absolute_path(const fs::path& path, const char* action) {
    require_keepable_names(path, action);
    const std::wstring& text = path.native();
    if (verbatim(text)) return path;
    // The system's own resolution, the one every call would make: the drive's current directory for
    // "D:dws" (kept in the environment), "\\.\" and UNC roots, "/" as "\", "." and "..".
    const DWORD n = ::GetFullPathNameW(text.c_str(), 0, nullptr, nullptr);
    std::wstring full(n, L'\0');
    const DWORD written = n == 0 ? 0 : ::GetFullPathNameW(text.c_str(), n, full.data(), nullptr);
    if (written == 0 || written >= n) win::throw_win32_error(action, path, ::GetLastError());
    full.resize(written);
    return fs::path(std::move(full));
}

void require_keepable_names(const fs::path& path, const char* action) {
    const std::wstring& text = path.native();
    if (verbatim(text)) return;
    // "C:", "\\server" or "\\." is no name; a share's name is one.
    const std::wstring_view name = unkeepable_name(text, path.root_name().native().size());
    if (!name.empty()) {
        std::string reason(1, '"');
        reason += win::narrow(name);
        reason += name.back() == L' ' ? "\" adı boşlukla" : "\" adı noktayla";
        reason += " bitiyor, Windows böyle bir adı tutamaz";
        throw FileError(action, path, EINVAL, reason);
    }
}

bool same_entry_name(std::string_view a, std::string_view b) {
    if (a == b) return true;
    const std::wstring wa = win::widen(a);
    const std::wstring wb = win::widen(b);
    if (wa.size() != wb.size() || wa.size() > INT_MAX) return false;
    // Ordinal, with the system's table of upper-case letters: how the file system itself tells names
    // apart, whatever the user's language (no Turkish dotless i here).
    return ::CompareStringOrdinal(wa.data(), static_cast<int>(wa.size()), wb.data(), static_cast<int>(wb.size()),
                                  TRUE) == CSTR_EQUAL;
}

}  // namespace qev_scoreboard::platform
