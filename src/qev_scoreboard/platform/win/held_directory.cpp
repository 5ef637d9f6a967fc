#include "qev_scoreboard/platform/held_directory.hpp"

#include <cerrno>
#include <cwchar>
#include <string>
#include <vector>

#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/platform/temporary_file.hpp"
#include "qev_scoreboard/platform/win/file_info.hpp"
#include "qev_scoreboard/platform/win/handles.hpp"
#include "qev_scoreboard/platform/win/system_error.hpp"
#include "qev_scoreboard/platform/win/windows.hpp"

namespace qev_scoreboard::platform {

using win::delete_on_close;
using win::fail;
using win::handle_of;

File hold_directory(const fs::path& dir, const char* action) {
    // Shared with nobody: while it is open nobody removes the directory, and another run that tries to
    // hold it learns that it is ours. DELETE access, so that this run can remove it while still holding it.
    File held = win::open_handle(dir, FILE_LIST_DIRECTORY | DELETE, 0, OPEN_EXISTING, 0);
    if (!held) {
        const DWORD err = ::GetLastError();
        // Gone, held by another run, or being removed by one.
        if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND || err == ERROR_SHARING_VIOLATION ||
            err == ERROR_ACCESS_DENIED)
            return {};
        fail(action, dir, err);
    }
    return held;
}

void remove_held_directory(File& held, const fs::path&) noexcept {
    // Refused while anything is in it; the directory goes when the handle closes.
    if (held) delete_on_close(handle_of(held.get()));
    held.reset();
}

void remove_abandoned_directory(const fs::path& dir) noexcept {
    remove_left_over_temporaries_in(dir);
    try {
        ::RemoveDirectoryW(win::system_path(dir).c_str());  // refused while held or not empty
    } catch (...) {
    }
}

File lock_directory(const fs::path& dir, const char* action) {
    // Directories take no byte-range locks: a file of our own, shared with nobody and gone with its last
    // handle, however the process ends, stands for the lock.
    const std::wstring lock = win::system_path(dir / L".qev-kilit");
    for (int refused = 0;;) {
        File f(win::native(::CreateFileW(lock.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                                         FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr)));
        if (f) return f;
        const DWORD err = ::GetLastError();
        // Held by another run (for as long as it keeps copies), or going with that run's last handle (a
        // moment: a refusal that lasts is the directory's own).
        if (err == ERROR_ACCESS_DENIED && ++refused > 400) fail(action, dir, err);
        if (err != ERROR_SHARING_VIOLATION && err != ERROR_ACCESS_DENIED) fail(action, dir, err);
        ::Sleep(5);
    }
}

}  // namespace qev_scoreboard::platform
