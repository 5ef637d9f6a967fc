#include "qev_scoreboard/platform/replace.hpp"

#include <cerrno>
#include <cwchar>
#include <string>
#include <vector>

#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/platform/in_flight.hpp"
#include "qev_scoreboard/platform/random.hpp"
#include "qev_scoreboard/platform/temporary_name.hpp"
#include "qev_scoreboard/platform/win/file_info.hpp"
#include "qev_scoreboard/platform/win/system_error.hpp"
#include "qev_scoreboard/platform/win/windows.hpp"

namespace qev_scoreboard::platform {

using win::handle_of;

namespace {

[[noreturn]] void fail(const char* action, const fs::path& shown, DWORD code) {
    win::throw_win32_error(action, shown, code);
}

// The path the system resolved an open handle to, without the \\?\ prefix where it is not needed.
fs::path final_path(HANDLE h) {
    const DWORD n = ::GetFinalPathNameByHandleW(h, nullptr, 0, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0) return {};
    std::wstring buf(n, L'\0');
    const DWORD written = ::GetFinalPathNameByHandleW(h, buf.data(), n, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (written == 0 || written >= n) return {};
    buf.resize(written);
    if (buf.size() < MAX_PATH && buf.starts_with(L"\\\\?\\") && !buf.starts_with(L"\\\\?\\UNC\\")) buf.erase(0, 4);
    return buf;
}

bool is_link(const fs::path& path) {
    const DWORD attributes = ::GetFileAttributesW(win::system_path(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Deletes the file behind `h` (opened with DELETE access) once every handle to it is closed.
bool delete_on_close(HANDLE h) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    return ::SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

// delete_on_close, read-only or not: the attribute guards a user's file, not a temporary one of ours (a
// replacement of a read-only file is made read-only before it takes the name). `h` needs
// FILE_WRITE_ATTRIBUTES for that.
bool delete_on_close_anyway(HANDLE h) {
    if (delete_on_close(h)) return true;
    return set_permissions(win::native(h), 0666) == 0 && delete_on_close(h);
}

bool lock_whole(HANDLE h, DWORD flags) {
    OVERLAPPED at{};
    return ::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | flags, 0, MAXDWORD, MAXDWORD, &at) != 0;
}

// A live run's temporary file is marked by a lock on one byte far past any end of a file: what a clean-up
// of left-overs asks for (lock_whole covers it), while a reader of the file, once it has its final name,
// reads its bytes unhindered.
bool lock_mark(HANDLE h) {
    OVERLAPPED at{};
    at.OffsetHigh = 0x40000000;  // 2^62
    return ::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

// Whether another handle (another program's, another run's) has the file at `path` open for its content
// or for deletion, whatever it shares: a handle shared with nobody cannot be had then.
bool in_use(const fs::path& path) {
    const File probe = win::open_handle(path, GENERIC_READ, 0, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
    return !probe && ::GetLastError() == ERROR_SHARING_VIOLATION;
}

}  // namespace

Destination resolve_destination(const fs::path& path, const char* action) {
    if (path.empty()) throw_file_error(action, path, ENOENT);
    Destination at;
    fs::path target = path;
    const File existing = win::open_handle(path, FILE_READ_ATTRIBUTES, win::SHARE_ALL, OPEN_EXISTING, 0);
    if (existing) {
        if (!win::describe_handle(handle_of(existing.get()), at.info)) fail(action, path, ::GetLastError());
        at.exists = true;
        // A link is followed to the file it leads to, which is replaced; the link stays.
        if (is_link(path)) {
            at.via_link = true;
            if (fs::path resolved = final_path(handle_of(existing.get())); !resolved.empty()) target = resolved;
        }
    } else if (const DWORD err = ::GetLastError(); err != ERROR_FILE_NOT_FOUND) {
        fail(action, path, err);
    }
    at.name = win::narrow(target.filename().native());
    if (at.name.empty()) throw_file_error(action, path, EISDIR);
    at.dir_path = target.parent_path().empty() ? fs::path(L".") : target.parent_path();
    at.dir = win::open_handle(at.dir_path, FILE_READ_ATTRIBUTES, win::SHARE_ALL, OPEN_EXISTING, 0);
    if (!at.dir) fail(action, path, ::GetLastError());
    return at;
}

bool keeps_entries(const Destination&) { return false; }

namespace {

fs::path existing_path(const Destination& at) { return at.dir_path / win::widen(at.name); }

File open_checked(const Destination& at, DWORD access, const fs::path& shown, const char* action) {
    File f = win::open_handle(existing_path(at), access, win::SHARE_ALL, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
    if (!f) fail(action, shown, ::GetLastError());
    FileInfo opened;
    if (!win::describe_handle(handle_of(f.get()), opened)) fail(action, shown, ::GetLastError());
    // Another file took the name since it was checked: not the file we were asked to write.
    if (!same_file(opened, at.info)) throw FileReplacedMeanwhile(action, shown);
    // The read-only attribute refuses a plain write; so does it a replacement.
    if (!(opened.permissions & 0200)) fail(action, shown, ERROR_ACCESS_DENIED);
    return f;
}

}  // namespace

File open_existing(const Destination& at, const fs::path& shown, const char* action) {
    open_checked(at, FILE_READ_ATTRIBUTES, shown, action);
    // The file's access list may refuse us a write; another program merely holding it is for the
    // replacement to wait out.
    const File probe = win::open_handle(existing_path(at), FILE_WRITE_DATA, win::SHARE_ALL, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT);
    if (!probe) {
        const DWORD err = ::GetLastError();
        if (err != ERROR_SHARING_VIOLATION && err != ERROR_LOCK_VIOLATION) fail(action, shown, err);
    }
    // Nothing stays open: any handle on the target, even our own, makes the system refuse to replace it.
    return {};
}

File open_for_rewrite(const Destination& at, const fs::path& shown, const char* action) {
    File f = open_checked(at, GENERIC_READ | GENERIC_WRITE, shown, action);
    if (at.info.kind != FileKind::Regular) throw FileError(action, shown, EINVAL, "düzenli bir dosya değil");
    return f;
}

bool replacement_refused(const Destination&) { return false; }

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

void TemporaryFile::commit(const Destination& at, const fs::path& shown, const char* action) {
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
