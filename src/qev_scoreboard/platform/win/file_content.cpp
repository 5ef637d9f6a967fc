// What a replacement does to the content and attributes of its file, and the last resort of a rewrite in
// place: Windows keeps no owner or extended attributes of ours to copy, only the read-only attribute.
#include "qev_scoreboard/platform/file_content.hpp"

#include <cerrno>
#include <string_view>
#include <vector>

#include "qev_scoreboard/platform/win/file_info.hpp"
#include "qev_scoreboard/platform/win/system_error.hpp"
#include "qev_scoreboard/platform/win/windows.hpp"

namespace qev_scoreboard::platform {

using win::handle_of;

void copy_content(NativeHandle in, NativeHandle out, const fs::path& src, const fs::path& dst) {
    std::vector<char> buf(1 << 16);
    for (;;) {
        const std::size_t n = read_some(in, buf.data(), buf.size(), src);
        if (n == 0) return;
        write_all(out, std::string_view(buf.data(), n), dst);
    }
}

void keep_owner(NativeHandle, const FileInfo&) {}

void copy_extended_attributes(NativeHandle, NativeHandle, const fs::path&, const char*) {}

int set_permissions(NativeHandle file, std::uint32_t permissions) noexcept {
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandleEx(handle_of(file), FileBasicInfo, &basic, sizeof basic))
        return win::errno_from_win32(::GetLastError());
    if (permissions & 0222)
        basic.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    else
        basic.FileAttributes |= FILE_ATTRIBUTE_READONLY;
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    // Zero times mean "leave as they are".
    basic.CreationTime.QuadPart = basic.LastAccessTime.QuadPart = basic.LastWriteTime.QuadPart =
        basic.ChangeTime.QuadPart = 0;
    if (!::SetFileInformationByHandle(handle_of(file), FileBasicInfo, &basic, sizeof basic))
        return win::errno_from_win32(::GetLastError());
    return 0;
}

int set_times(NativeHandle file, FileTime accessed, FileTime modified) noexcept {
    const FILETIME a = win::to_filetime(accessed);
    const FILETIME m = win::to_filetime(modified);
    return ::SetFileTime(handle_of(file), nullptr, &a, &m) ? 0 : win::errno_from_win32(::GetLastError());
}

void flush_data(NativeHandle file, const fs::path& shown) {
    if (!::FlushFileBuffers(handle_of(file))) win::throw_win32_error("diske yazılamadı", shown, ::GetLastError());
}

// Windows writes back on its own; FlushFileBuffers waits for it.
void start_flush(NativeHandle) noexcept {}

int reserve(NativeHandle file, std::uint64_t size) noexcept {
    FILE_ALLOCATION_INFO allocation{};
    allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(size);
    FILE_STANDARD_INFO standard{};
    // Never shrink: a smaller allocation would cut the file.
    if (::GetFileInformationByHandleEx(handle_of(file), FileStandardInfo, &standard, sizeof standard) &&
        standard.AllocationSize.QuadPart >= allocation.AllocationSize.QuadPart)
        return 0;
    if (::SetFileInformationByHandle(handle_of(file), FileAllocationInfo, &allocation, sizeof allocation)) return 0;
    const DWORD err = ::GetLastError();
    // Systems without the call (wine) say so in these words.
    const bool unsupported = err == ERROR_NOT_SUPPORTED || err == ERROR_INVALID_PARAMETER ||
                             err == ERROR_INVALID_FUNCTION || err == ERROR_CALL_NOT_IMPLEMENTED;
    return unsupported ? EOPNOTSUPP : win::errno_from_win32(err);
}

void rewind(NativeHandle file, const fs::path& shown, const char* action) {
    LARGE_INTEGER zero{};
    if (!::SetFilePointerEx(handle_of(file), zero, nullptr, FILE_BEGIN))
        win::throw_win32_error(action, shown, ::GetLastError());
}

namespace {

bool set_size(HANDLE h, std::uint64_t size) {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    return ::SetFileInformationByHandle(h, FileEndOfFileInfo, &end, sizeof end) != 0;
}

}  // namespace

void truncate(NativeHandle file, std::uint64_t size, const fs::path& shown, const char* action) {
    if (!set_size(handle_of(file), size)) win::throw_win32_error(action, shown, ::GetLastError());
}

void put_back(NativeHandle file, std::string_view old, std::uint64_t) noexcept {
    for (std::size_t done = 0; done < old.size();) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(done & 0xffffffffu);
        at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(done) >> 32);
        const std::size_t left = old.size() - done;
        DWORD n = 0;
        if (!::WriteFile(handle_of(file), old.data() + done, left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left),
                         &n, &at) ||
            n == 0)
            break;
        done += n;
    }
    set_size(handle_of(file), old.size());
}

}  // namespace qev_scoreboard::platform
