#pragma once
// struct stat in the layer's terms, for this directory's files only.

#include <sys/stat.h>

#include "qev_scoreboard/platform/files.hpp"

namespace qev_scoreboard::platform::unix_files {

inline FileKind kind_of(mode_t mode) {
    if (S_ISREG(mode)) return FileKind::Regular;
    if (S_ISDIR(mode)) return FileKind::Directory;
    if (S_ISLNK(mode)) return FileKind::Link;
    if (S_ISFIFO(mode)) return FileKind::Fifo;
    if (S_ISCHR(mode) || S_ISBLK(mode)) return FileKind::Device;
    return FileKind::Other;
}

inline FileInfo to_info(const struct stat& st) {
    FileInfo info;
    info.kind = kind_of(st.st_mode);
    info.size = static_cast<std::uint64_t>(st.st_size);
    info.permissions = static_cast<std::uint32_t>(st.st_mode & 07777);
    info.owner = static_cast<std::uint32_t>(st.st_uid);
    info.group = static_cast<std::uint32_t>(st.st_gid);
    info.device = static_cast<std::uint64_t>(st.st_dev);
    info.file_id = static_cast<std::uint64_t>(st.st_ino);
    info.links = static_cast<std::uint64_t>(st.st_nlink);
#if defined(__APPLE__)
    info.accessed = {st.st_atimespec.tv_sec, static_cast<std::int32_t>(st.st_atimespec.tv_nsec)};
    info.modified = {st.st_mtimespec.tv_sec, static_cast<std::int32_t>(st.st_mtimespec.tv_nsec)};
    info.changed = {st.st_ctimespec.tv_sec, static_cast<std::int32_t>(st.st_ctimespec.tv_nsec)};
#else
    info.accessed = {st.st_atim.tv_sec, static_cast<std::int32_t>(st.st_atim.tv_nsec)};
    info.modified = {st.st_mtim.tv_sec, static_cast<std::int32_t>(st.st_mtim.tv_nsec)};
    info.changed = {st.st_ctim.tv_sec, static_cast<std::int32_t>(st.st_ctim.tv_nsec)};
#endif
    return info;
}

// Clears `info.changed` where the file system keeps no change time of its own (FAT, exFAT): a file there
// is never trusted by its facts. `fd` or `path` names the file `info` describes.
void forget_unkept_change_time(FileInfo& info, int fd) noexcept;
void forget_unkept_change_time(FileInfo& info, const char* path) noexcept;

// Throws FileError(action, path) unless `info` is a regular file's: EISDIR for a directory, "düzenli bir
// dosya değil" for a FIFO, device or socket.
void require_regular(const FileInfo& info, const fs::path& path, const char* action);

inline int fd_of(NativeHandle h) { return static_cast<int>(h.value); }

}  // namespace qev_scoreboard::platform::unix_files
