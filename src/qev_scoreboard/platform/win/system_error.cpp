#include "qev_scoreboard/platform/win/system_error.hpp"

#include <cerrno>
#include <climits>

#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/platform/win/windows.hpp"

namespace qev_scoreboard::platform::win {

int errno_from_win32(unsigned long code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_MOD_NOT_FOUND:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
            return EACCES;
        case ERROR_PRIVILEGE_NOT_HELD:
            return EPERM;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_BUSY:
            return EBUSY;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_DIR_NOT_EMPTY:
            return ENOTEMPTY;
        case ERROR_DIRECTORY:
            return ENOTDIR;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        case ERROR_TOO_MANY_OPEN_FILES:
            return EMFILE;
        case ERROR_INVALID_HANDLE:
            return EBADF;
        case ERROR_NOT_SAME_DEVICE:
            return EXDEV;
        case ERROR_BROKEN_PIPE:
        case ERROR_NO_DATA:
            return EPIPE;
        case ERROR_NOT_SUPPORTED:
            return ENOTSUP;
        case ERROR_CANT_RESOLVE_FILENAME:
            return ELOOP;
        case ERROR_INVALID_NAME:
        case ERROR_INVALID_PARAMETER:
        case ERROR_BAD_EXE_FORMAT:
            return EINVAL;
        default:
            return EIO;
    }
}

std::string win32_reason(unsigned long code) {
    switch (code) {
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return "başka bir program tarafından kullanılıyor";
        case ERROR_MOD_NOT_FOUND:
            return "kütüphane ya da bağımlılıklarından biri bulunamadı";
        case ERROR_BAD_EXE_FORMAT:
            return "bu sistem için bir kütüphane değil";
        case ERROR_PROC_NOT_FOUND:
            return "işlev bulunamadı";
        default:
            break;
    }
    const int err = errno_from_win32(code);
    if (err != EIO || code == ERROR_CRC || code == ERROR_IO_DEVICE) return errno_reason(err);
    return "Windows hatası " + std::to_string(code);
}

void throw_win32_error(const char* action, const std::filesystem::path& path, unsigned long code) {
    throw FileError(action, path, errno_from_win32(code), win32_reason(code));
}

std::wstring widen(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int size = utf8.size() > INT_MAX ? INT_MAX : static_cast<int>(utf8.size());
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, out.data(), n);
    return out;
}

std::string narrow(std::wstring_view utf16) {
    if (utf16.empty()) return {};
    const int size = utf16.size() > INT_MAX ? INT_MAX : static_cast<int>(utf16.size());
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, out.data(), n, nullptr, nullptr);
    return out;
}

}  // namespace qev_scoreboard::platform::win
