#include "qev_scoreboard/platform/temporary_file.hpp"

#include <cerrno>
#include <cwchar>
#include <string>
#include <vector>

#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/platform/files.hpp"
#include "qev_scoreboard/platform/in_flight.hpp"
#include "qev_scoreboard/platform/random.hpp"
#include "qev_scoreboard/platform/temporary_name.hpp"
#include "qev_scoreboard/platform/win/file_info.hpp"
#include "qev_scoreboard/platform/win/handles.hpp"
#include "qev_scoreboard/platform/win/system_error.hpp"
#include "qev_scoreboard/platform/win/windows.hpp"

namespace qev_scoreboard::platform {

using win::delete_on_close;
using win::delete_on_close_anyway;
using win::existing_path;
using win::fail;
using win::handle_of;
using win::in_use;
using win::lock_mark;
using win::lock_whole;

namespace {

// Where a temporary file in flight lies, for the console's interrupt thread to remove it.
constexpr std::size_t MAX_TRACKED_PATH = 1024;
struct InFlight {
    wchar_t path[MAX_TRACKED_PATH];
};
InFlightTable<InFlight> g_in_flight;

int track(const std::wstring& path) {
    if (path.size() >= MAX_TRACKED_PATH) return -1;
    return g_in_flight.claim([&](InFlight& where) { std::wmemcpy(where.path, path.c_str(), path.size() + 1); });
}

void mark_live(int slot) { g_in_flight.mark_live(slot); }

void untrack(int slot) { g_in_flight.release(slot); }

// A directory this run made and holds, to go with an interrupt if nothing was put in it yet.
struct DirectoryInFlight {
    HANDLE held = INVALID_HANDLE_VALUE;
};
InFlightTable<DirectoryInFlight, 4> g_directories_in_flight;

}  // namespace

void remove_temporaries_in_flight() noexcept {
    // Our own handle allows deletion: the file goes when the process ends, whatever it was doing.
    g_in_flight.for_each_live([](const InFlight& where) {
        // Read-only already, as the replacement of a read-only file is: ours all the same.
        if (!::DeleteFileW(where.path) && ::SetFileAttributesW(where.path, FILE_ATTRIBUTE_NORMAL))
            ::DeleteFileW(where.path);
    });
    // Refused for a directory that holds anything; one that is empty goes as the process ends.
    g_directories_in_flight.for_each_live([](const DirectoryInFlight& where) { delete_on_close(where.held); });
}

int track_directory(NativeHandle held, const fs::path&) noexcept {
    const int slot = g_directories_in_flight.claim([&](DirectoryInFlight& where) { where.held = handle_of(held); });
    g_directories_in_flight.mark_live(slot);
    return slot;
}

void untrack_directory(int slot) noexcept { g_directories_in_flight.release(slot); }

bool TemporaryFile::create(const Destination& at, std::uint32_t permissions, const fs::path& shown,
                           const char* action) {
    (void)permissions;  // a new file has the directory's access list; read-only is set with the mode later
    dir_path_ = at.dir_path;
    for (int attempt = 0; attempt < 100; ++attempt) {
        name_ = std::string(TEMP_PREFIX) + random_name(TEMP_SUFFIX_LENGTH);
        const fs::path path = dir_path_ / win::widen(name_);
        const std::wstring system = win::system_path(path);
        slot_ = track(system);
        // Shared for reading and deletion: an interrupt's clean-up may delete it, and once it has its final
        // name other runs may read it while this one still holds it. Another run's clean-up of left-overs
        // asks for it unshared, which this handle refuses from the start: it never takes this file.
        file_ = File(win::native(::CreateFileW(system.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                               FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                               FILE_ATTRIBUTE_NORMAL, nullptr)));
        if (!file_) {
            const DWORD err = ::GetLastError();
            untrack(slot_);
            slot_ = -1;
            if (err == ERROR_FILE_EXISTS || err == ERROR_ALREADY_EXISTS) continue;
            if (err == ERROR_ACCESS_DENIED) return false;
            fail(action, shown, err);
        }
        if (lock_mark(handle_of(file_.get()))) {
            mark_live(slot_);
            ours_ = true;
            return true;
        }
        delete_on_close(handle_of(file_.get()));
        file_.reset();
        untrack(slot_);
        slot_ = -1;
    }
    throw_file_error(action, shown, EEXIST);
}

void TemporaryFile::commit(const Destination& at, const fs::path& shown, const char* action, FileInfo* after) {
    const fs::path target = existing_path(at);
    // Renamed through our own handle, still open and locked: no other run can take it for a left-over
    // before it has its final name.
    const std::wstring to = win::verbatim_path(target);
    const std::size_t name_bytes = to.size() * sizeof(wchar_t);
    // The name is also ended by a zero, which some systems' conversion of it relies on.
    std::vector<std::uint64_t> buffer((sizeof(FILE_RENAME_INFO) + name_bytes + 7) / 8);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(name_bytes);
    std::wmemcpy(rename->FileName, to.c_str(), to.size() + 1);
    const HANDLE h = handle_of(file_.get());
    // Another program reading the target (an editor, a virus scanner) holds it for a moment: wait a
    // little, then name it.
    DWORD err = ERROR_SUCCESS;
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (::SetFileInformationByHandle(h, FileRenameInfo, rename, static_cast<DWORD>(buffer.size() * 8))) {
            err = ERROR_SUCCESS;
            break;
        }
        err = ::GetLastError();
        if (err != ERROR_SHARING_VIOLATION && err != ERROR_LOCK_VIOLATION && err != ERROR_ACCESS_DENIED) break;
        ::Sleep(50);
    }
    // A target open anywhere is refused as access denied, whatever its holder shares: in use, unless
    // nobody holds it (then the refusal is the file's own: read-only, or its access list).
    if (err == ERROR_ACCESS_DENIED && in_use(target)) err = ERROR_SHARING_VIOLATION;
    if (err != ERROR_SUCCESS) fail(action, shown, err);
    ours_ = false;
    untrack(slot_);
    slot_ = -1;
    // What the rename changed reaches the disk before the replacement counts as done, as a rename that
    // writes through would have it; the content was flushed before it took the name.
    if (!::FlushFileBuffers(h)) fail("diske yazılamadı", shown, ::GetLastError());
    if (after != nullptr) *after = info(file_.get(), shown);
    if (const int e = file_.close(); e != 0) throw_file_error(action, shown, e);
}

TemporaryFile::~TemporaryFile() {
    // Ours until renamed, and open until then.
    if (ours_ && file_) delete_on_close_anyway(handle_of(file_.get()));
    file_.reset();
    untrack(slot_);
}

void remove_left_over_temporaries(const Destination& at) noexcept {
    try {
        if (!left_overs_due(win::narrow(win::verbatim_path(at.dir_path)))) return;
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW found{};
        const HANDLE h = ::FindFirstFileExW(win::system_path(at.dir_path / (win::widen(TEMP_PREFIX) + L"*")).c_str(),
                                            FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
        if (h == INVALID_HANDLE_VALUE) return;
        do {
            if (!(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
                is_temporary_name(win::narrow(found.cFileName)))
                names.emplace_back(found.cFileName);
        } while (::FindNextFileW(h, &found));
        ::FindClose(h);
        for (const std::wstring& name : names) {
            // Asked for unshared, which a run still writing it refuses, and locked, which its mark refuses:
            // only a file nobody holds goes.
            const File f = win::open_handle(at.dir_path / name, GENERIC_READ | FILE_WRITE_ATTRIBUTES | DELETE, 0,
                                            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
            if (!f || !lock_whole(handle_of(f.get()), LOCKFILE_FAIL_IMMEDIATELY)) continue;
            delete_on_close_anyway(handle_of(f.get()));
        }
    } catch (...) {
        // Out of memory: the left-overs wait for another run.
    }
}

void remove_left_over_temporaries_in(const fs::path& dir) noexcept {
    try {
        Destination at;
        at.dir_path = dir;
        remove_left_over_temporaries(at);
    } catch (...) {
        // Out of memory: the left-overs wait for another run.
    }
}

}  // namespace qev_scoreboard::platform
