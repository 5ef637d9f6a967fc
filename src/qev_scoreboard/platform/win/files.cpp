#include "qev_scoreboard/platform/files.hpp"

#include <cerrno>
#include <climits>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/platform/win/file_info.hpp"
#include "qev_scoreboard/platform/win/system_error.hpp"
#include "qev_scoreboard/platform/win/windows.hpp"

namespace qev_scoreboard::platform {

using win::handle_of;

namespace {

// 100-nanosecond intervals from 1601-01-01 to 1970-01-01.
constexpr std::int64_t EPOCH_DIFFERENCE = 116444736000000000LL;

// FAT and exFAT keep no change time of their own (the system reports the last write's, which a rewrite
// can put back): asked once per volume, as a machine has few.
bool change_time_kept(HANDLE h, DWORD volume) {
    static std::mutex mutex;
    static std::vector<std::pair<DWORD, bool>> known;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        for (const auto& [serial, kept] : known)
            if (serial == volume) return kept;
    }
    wchar_t name[MAX_PATH + 1] = {};
    // Not known: taken as not kept, so the file is read rather than trusted, and asked again next time.
    if (!::GetVolumeInformationByHandleW(h, nullptr, 0, nullptr, nullptr, nullptr, name, MAX_PATH + 1)) return false;
    const std::wstring system(name);
    const bool kept = system != L"FAT" && system != L"FAT32" && system != L"exFAT";
    const std::lock_guard<std::mutex> lock(mutex);
    known.emplace_back(volume, kept);
    return kept;
}

}  // namespace

std::wstring win::system_path(const fs::path& path) {
    const std::wstring& text = path.native();
    // "\\?\C:" and "\\.\C:" name the volume itself, which no file call of ours means: they are what is
    // left of a device or verbatim path walked up to its drive, whose root directory is meant.
    if (text.size() == 6 && (text.starts_with(L"\\\\?\\") || text.starts_with(L"\\\\.\\")) && text[5] == L':')
        return text + L'\\';
    // CreateDirectoryW's limit is MAX_PATH less room for an 8.3 name.
    if (text.size() < MAX_PATH - 12) return text;
    return verbatim_path(path);
}

std::wstring win::verbatim_path(const fs::path& path) {
    const std::wstring& text = path.native();
    if (text.starts_with(L"\\\\?\\")) return text;
    const DWORD n = ::GetFullPathNameW(text.c_str(), 0, nullptr, nullptr);
    if (n == 0) return text;
    std::wstring full(n, L'\0');
    const DWORD written = ::GetFullPathNameW(text.c_str(), n, full.data(), nullptr);
    if (written == 0 || written >= n) return text;
    full.resize(written);
    // A device path ("\\.\C:\...") is in the namespace the prefix asks for already; only UNC is another.
    if (full.starts_with(L"\\\\.\\")) return L"\\\\?\\" + full.substr(4);
    if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

File win::open_handle(const fs::path& path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    const HANDLE h = ::CreateFileW(system_path(path).c_str(), access, share, nullptr, disposition,
                                   flags | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    return File(native(h));
}

FileTime win::from_filetime(const FILETIME& ft) {
    const std::int64_t ticks =
        static_cast<std::int64_t>((static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) -
        EPOCH_DIFFERENCE;
    std::int64_t seconds = ticks / 10000000;
    std::int64_t rest = ticks % 10000000;
    if (rest < 0) {
        rest += 10000000;
        --seconds;
    }
    return {seconds, static_cast<std::int32_t>(rest * 100)};
}

FILETIME win::to_filetime(FileTime t) {
    const std::uint64_t ticks =
        static_cast<std::uint64_t>(t.seconds * 10000000 + t.nanoseconds / 100 + EPOCH_DIFFERENCE);
    return {static_cast<DWORD>(ticks & 0xffffffffu), static_cast<DWORD>(ticks >> 32)};
}

bool win::describe_handle(HANDLE h, FileInfo& out) {
    BY_HANDLE_FILE_INFORMATION bh{};
    if (!::GetFileInformationByHandle(h, &bh)) {
        // Consoles and pipes have no such description: they are what a FIFO or device is elsewhere.
        const DWORD type = ::GetFileType(h);
        if (type != FILE_TYPE_CHAR && type != FILE_TYPE_PIPE) return false;
        out = {};
        out.kind = type == FILE_TYPE_CHAR ? FileKind::Device : FileKind::Fifo;
        return true;
    }
    FileInfo info;
    if (bh.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        info.kind = FileKind::Link;  // only seen when opened without following it
    else if (bh.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        info.kind = FileKind::Directory;
    else
        info.kind = FileKind::Regular;
    info.size = (static_cast<std::uint64_t>(bh.nFileSizeHigh) << 32) | bh.nFileSizeLow;
    info.permissions = (bh.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    info.device = bh.dwVolumeSerialNumber;
    info.file_id = (static_cast<std::uint64_t>(bh.nFileIndexHigh) << 32) | bh.nFileIndexLow;
    info.links = bh.nNumberOfLinks;
    info.accessed = from_filetime(bh.ftLastAccessTime);
    info.modified = from_filetime(bh.ftLastWriteTime);
    // The C runtime's "change time" is the creation time; the system keeps the real one here (zero on
    // file systems that keep none, such as FAT).
    FILE_BASIC_INFO basic{};
    if (::GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic) && basic.ChangeTime.QuadPart != 0 &&
        (info.kind != FileKind::Regular || change_time_kept(h, bh.dwVolumeSerialNumber))) {
        FILETIME changed{};
        changed.dwLowDateTime = static_cast<DWORD>(basic.ChangeTime.QuadPart & 0xffffffffu);
        changed.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(basic.ChangeTime.QuadPart) >> 32);
        info.changed = from_filetime(changed);
    }
    out = info;
    return true;
}

FileInfo info(NativeHandle file, const fs::path& shown) {
    FileInfo out;
    if (!win::describe_handle(handle_of(file), out)) win::throw_win32_error("okunamadı", shown, ::GetLastError());
    return out;
}

File open_for_reading(const fs::path& path) {
    // Opening never blocks on Windows; a directory opens (backup semantics) so it can be told apart.
    File f = win::open_handle(path, GENERIC_READ, win::SHARE_ALL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    if (!f) win::throw_win32_error("açılamadı", path, ::GetLastError());
    const FileInfo described = info(f.get(), path);
    if (described.kind == FileKind::Directory) throw_file_error("açılamadı", path, EISDIR);
    if (described.kind != FileKind::Regular) throw FileError("açılamadı", path, EINVAL, "düzenli bir dosya değil");
    return f;
}

File open_directory(const fs::path& path) {
    File d = win::open_handle(path, FILE_READ_ATTRIBUTES, win::SHARE_ALL, OPEN_EXISTING, 0);
    if (!d) win::throw_win32_error("açılamadı", path, ::GetLastError());
    if (info(d.get(), path).kind != FileKind::Directory) throw_file_error("açılamadı", path, ENOTDIR);
    return d;
}

int may_add_entries(const fs::path& dir) noexcept {
    try {
        // The directory's access list answers the open as it would answer making an entry in it.
        const File d = win::open_handle(dir, FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY, win::SHARE_ALL, OPEN_EXISTING, 0);
        return d ? 0 : win::errno_from_win32(::GetLastError());
    } catch (...) {
        return ENOMEM;
    }
}

int describe(const fs::path& path, Follow follow, FileInfo& out) noexcept {
    try {
        const File f = win::open_handle(path, FILE_READ_ATTRIBUTES, win::SHARE_ALL, OPEN_EXISTING,
                                        follow == Follow::NoLinks ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
        if (!f || !win::describe_handle(win::handle_of(f.get()), out)) {
            const DWORD err = ::GetLastError();
            // A path through a file: not there, as ENOTDIR says on POSIX systems.
            return err == ERROR_DIRECTORY ? ENOTDIR : win::errno_from_win32(err);
        }
        return 0;
    } catch (...) {
        return ENOMEM;
    }
}

std::size_t read_some(NativeHandle file, char* buf, std::size_t size, const fs::path& shown) {
    DWORD n = 0;
    const DWORD want = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    if (!::ReadFile(handle_of(file), buf, want, &n, nullptr)) {
        const DWORD err = ::GetLastError();
        if (err == ERROR_BROKEN_PIPE || err == ERROR_HANDLE_EOF) return 0;
        win::throw_win32_error("okunamadı", shown, err);
    }
    return n;
}

std::size_t read_at(NativeHandle file, std::uint64_t offset, char* buf, std::size_t size, const fs::path& shown) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD n = 0;
    const DWORD want = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    if (!::ReadFile(handle_of(file), buf, want, &n, &at)) {
        const DWORD err = ::GetLastError();
        if (err == ERROR_HANDLE_EOF) return 0;
        win::throw_win32_error("okunamadı", shown, err);
    }
    return n;
}

void write_all(NativeHandle file, std::string_view data, const fs::path& shown) {
    while (!data.empty()) {
        DWORD n = 0;
        const DWORD want = data.size() > 0x40000000 ? 0x40000000 : static_cast<DWORD>(data.size());
        if (!::WriteFile(handle_of(file), data.data(), want, &n, nullptr))
            win::throw_win32_error("yazılamadı", shown, ::GetLastError());
        if (n == 0) throw_file_error("yazılamadı", shown, ENOSPC);
        data.remove_prefix(n);
    }
}

std::vector<DirEntry> list_directory(const fs::path& dir) {
    WIN32_FIND_DATAW found{};
    const HANDLE h = ::FindFirstFileExW(win::system_path(dir / L"*").c_str(), FindExInfoBasic, &found,
                                        FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    std::vector<DirEntry> entries;
    if (h == INVALID_HANDLE_VALUE) {
        DWORD err = ::GetLastError();
        if (err == ERROR_FILE_NOT_FOUND) return entries;  // an empty drive root
        // A file in a directory's place is no directory, whatever else the search said of it (wine
        // says the name is invalid).
        if (err != ERROR_DIRECTORY) {
            const DWORD attributes = ::GetFileAttributesW(win::system_path(dir).c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
                err = ERROR_DIRECTORY;
        }
        win::throw_win32_error("listelenemedi", dir, err);
    }
    for (;;) {
        const std::wstring_view name = found.cFileName;
        if (name != L"." && name != L"..") {
            const bool is_dir = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                                !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
            entries.push_back({win::narrow(name), is_dir});
        }
        if (!::FindNextFileW(h, &found)) {
            const DWORD err = ::GetLastError();
            ::FindClose(h);
            if (err != ERROR_NO_MORE_FILES) win::throw_win32_error("listelenemedi", dir, err);
            return entries;
        }
    }
}

int make_directory(const fs::path& dir) noexcept {
    try {
        if (::CreateDirectoryW(win::system_path(dir).c_str(), nullptr)) return 0;
        return win::errno_from_win32(::GetLastError());
    } catch (...) {
        return ENOMEM;
    }
}

int remove_empty_directory(const fs::path& dir) noexcept {
    try {
        if (::RemoveDirectoryW(win::system_path(dir).c_str())) return 0;
        return win::errno_from_win32(::GetLastError());
    } catch (...) {
        return ENOMEM;
    }
}

int remove_file(const fs::path& path) noexcept {
    try {
        const std::wstring p = win::system_path(path);
        const DWORD attributes = ::GetFileAttributesW(p.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return win::errno_from_win32(::GetLastError());
        // A link to a directory is removed as a directory is, leaving what it leads to.
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            return ::RemoveDirectoryW(p.c_str()) ? 0 : win::errno_from_win32(::GetLastError());
        if (::DeleteFileW(p.c_str())) return 0;
        DWORD err = ::GetLastError();
        // A read-only file goes as it would on POSIX systems, where the right to delete is the directory's.
        if (err == ERROR_ACCESS_DENIED && (attributes & FILE_ATTRIBUTE_READONLY) &&
            ::SetFileAttributesW(p.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
            if (::DeleteFileW(p.c_str())) return 0;
            err = ::GetLastError();
            ::SetFileAttributesW(p.c_str(), attributes);
        }
        return win::errno_from_win32(err);
    } catch (...) {
        return ENOMEM;
    }
}

fs::path current_directory() {
    const DWORD n = ::GetCurrentDirectoryW(0, nullptr);
    std::wstring buf(n, L'\0');
    const DWORD written = n == 0 ? 0 : ::GetCurrentDirectoryW(n, buf.data());
    if (written == 0 || written >= n) win::throw_win32_error("çalışma dizini okunamadı", ".", ::GetLastError());
    buf.resize(written);
    return buf;
}

// A replacement is flushed through its own handle once renamed; a directory handle cannot be flushed.
void flush_directory(const fs::path&) {}

void flush_existing_file(const fs::path&) {}

}  // namespace qev_scoreboard::platform
