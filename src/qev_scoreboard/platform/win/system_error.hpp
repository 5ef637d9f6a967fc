#pragma once
// Windows' error codes in the terms of the layer above: the errno value that means the same, and the
// Turkish reason.

#include <filesystem>
#include <string>
#include <string_view>

namespace qev_scoreboard::platform::win {

// The errno value closest to the Windows error `code` (EIO when none is).
int errno_from_win32(unsigned long code);

// The Turkish reason for `code`: errno_reason's text where the errno value says it all, a text of its
// own where Windows says more (a file in use by another program), the number otherwise.
std::string win32_reason(unsigned long code);

// Throws FileError(action, path) for `code`.
[[noreturn]] void throw_win32_error(const char* action, const std::filesystem::path& path, unsigned long code);

// UTF-8 to UTF-16 and back; invalid sequences become U+FFFD.
std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view utf16);

}  // namespace qev_scoreboard::platform::win
