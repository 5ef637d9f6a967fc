#pragma once
// What the replacement code does with handles: deletion once closed, the locks that tell a live run's
// temporary file, and whether another program has a file open. For this directory's files only.

#include <filesystem>

#include "qev_scoreboard/platform/destination.hpp"
#include "qev_scoreboard/platform/file_content.hpp"
#include "qev_scoreboard/platform/win/file_info.hpp"
#include "qev_scoreboard/platform/win/system_error.hpp"
#include "qev_scoreboard/platform/win/windows.hpp"

namespace qev_scoreboard::platform::win {

[[noreturn]] inline void fail(const char* action, const fs::path& shown, DWORD code) {
    throw_win32_error(action, shown, code);
}

// The path of the existing file of `at`.
inline fs::path existing_path(const Destination& at) { return at.dir_path / widen(at.name); }

// Deletes the file behind `h` (opened with DELETE access) once every handle to it is closed.
inline bool delete_on_close(HANDLE h) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    return ::SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

// delete_on_close, read-only or not: the attribute guards a user's file, not a temporary one of ours (a
// replacement of a read-only file is made read-only before it takes the name). `h` needs
// FILE_WRITE_ATTRIBUTES for that.
inline bool delete_on_close_anyway(HANDLE h) {
    if (delete_on_close(h)) return true;
    return set_permissions(native(h), 0666) == 0 && delete_on_close(h);
}

inline bool lock_whole(HANDLE h, DWORD flags) {
    OVERLAPPED at{};
    return ::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | flags, 0, MAXDWORD, MAXDWORD, &at) != 0;
}

// A live run's temporary file is marked by a lock on one byte far past any end of a file: what a clean-up
// of left-overs asks for (lock_whole covers it), while a reader of the file, once it has its final name,
// reads its bytes unhindered.
inline bool lock_mark(HANDLE h) {
    OVERLAPPED at{};
    at.OffsetHigh = 0x40000000;  // 2^62
    return ::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

// Whether another handle (another program's, another run's) has the file at `path` open for its content
// or for deletion, whatever it shares: a handle shared with nobody cannot be had then.
inline bool in_use(const fs::path& path) {
    const File probe = open_handle(path, GENERIC_READ, 0, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
    return !probe && ::GetLastError() == ERROR_SHARING_VIOLATION;
}

}  // namespace qev_scoreboard::platform::win
