#pragma once
// Handles and file descriptions in the layer's terms, for this directory's files only.

#include <string>

#include "qev_scoreboard/platform/files.hpp"
#include "qev_scoreboard/platform/win/windows.hpp"

namespace qev_scoreboard::platform::win {

inline HANDLE handle_of(NativeHandle h) { return reinterpret_cast<HANDLE>(h.value); }
inline NativeHandle native(HANDLE h) { return NativeHandle{reinterpret_cast<std::intptr_t>(h)}; }

// Every sharing mode: our handles never stand in another program's way, nor a rename's.
constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// `path` as the system's calls take it: past MAX_PATH made absolute and given the \\?\ prefix, so long
// work directories work without the system's long-path setting.
std::wstring system_path(const fs::path& path);

// `path` absolute with the \\?\ prefix, whatever its length: for a rename through a handle, whose new
// name must not depend on the current directory nor be trimmed on its way.
std::wstring verbatim_path(const fs::path& path);

// Opens `path` by CreateFileW (directories too); an invalid handle carries the error in GetLastError().
File open_handle(const fs::path& path, DWORD access, DWORD share, DWORD disposition, DWORD flags);

// The description of an open handle; false with the error in GetLastError().
bool describe_handle(HANDLE h, FileInfo& out);

FileTime from_filetime(const FILETIME& ft);
FILETIME to_filetime(FileTime t);

}  // namespace qev_scoreboard::platform::win
