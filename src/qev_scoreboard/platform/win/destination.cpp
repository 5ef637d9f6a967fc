#include "qev_scoreboard/platform/destination.hpp"

#include <cerrno>
#include <cwchar>
#include <string>
#include <vector>

#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/platform/win/file_info.hpp"
#include "qev_scoreboard/platform/win/handles.hpp"
#include "qev_scoreboard/platform/win/system_error.hpp"
#include "qev_scoreboard/platform/win/windows.hpp"

namespace qev_scoreboard::platform {

using win::existing_path;
using win::fail;
using win::handle_of;

namespace {

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

}  // namespace qev_scoreboard::platform
