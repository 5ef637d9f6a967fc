#include "qev_scoreboard/platform/files.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>

#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/platform/unix/file_info.hpp"
#include "qev_scoreboard/platform/unix/system_calls.hpp"
#include "qev_scoreboard/platform/unix/variants.hpp"

namespace qev_scoreboard::platform {

using unix_files::fd_of;

void unix_files::require_regular(const FileInfo& info, const fs::path& path, const char* action) {
    if (info.kind == FileKind::Directory) throw_file_error(action, path, EISDIR);
    if (info.kind != FileKind::Regular) throw FileError(action, path, EINVAL, "düzenli bir dosya değil");
}

FileInfo info(NativeHandle file, const fs::path& shown) {
    struct stat st {};
    if (sys::fstat(fd_of(file), &st) != 0) throw_file_error("okunamadı", shown, errno);
    FileInfo out = unix_files::to_info(st);
    if (out.kind == FileKind::Regular) unix_files::forget_unkept_change_time(out, fd_of(file));
    return out;
}

File open_for_reading(const fs::path& path) {
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer forever.
    File f(NativeHandle{sys::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)});
    if (!f) throw_file_error("açılamadı", path, errno);
    unix_files::require_regular(info(f.get(), path), path, "açılamadı");
    // Back to blocking reads, as some network and user-space file systems honour the flag even for a
    // regular file. None of the other flags F_SETFL sets was asked for.
    if (sys::fcntl(fd_of(f.get()), F_SETFL, 0L) != 0) throw_file_error("açılamadı", path, errno);
    return f;
}

File open_directory(const fs::path& path) {
#if QEV_USE_LINUX_CALLS
    // O_PATH: a directory we may enter but not list is still one we can work in.
    File d(NativeHandle{sys::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)});
#else
    File d(NativeHandle{sys::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)});
#endif
    if (!d) throw_file_error("açılamadı", path, errno);
    return d;
}

int describe(const fs::path& path, Follow follow, FileInfo& out) noexcept {
    struct stat st {};
    const int rc = follow == Follow::Links ? sys::stat(path.c_str(), &st) : sys::lstat(path.c_str(), &st);
    if (rc != 0) return errno;
    out = unix_files::to_info(st);
    if (out.kind == FileKind::Regular) unix_files::forget_unkept_change_time(out, path.c_str());
    return 0;
}

int may_add_entries(const fs::path& dir) noexcept { return sys::faccessat(dir.c_str(), W_OK | X_OK) == 0 ? 0 : errno; }

std::size_t read_some(NativeHandle file, char* buf, std::size_t size, const fs::path& shown) {
    for (;;) {
        const ssize_t n = sys::read(fd_of(file), buf, size);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR) throw_file_error("okunamadı", shown, errno);
    }
}

std::size_t read_at(NativeHandle file, std::uint64_t offset, char* buf, std::size_t size, const fs::path& shown) {
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return 0;
    for (;;) {
        const ssize_t n = sys::pread(fd_of(file), buf, size, static_cast<off_t>(offset));
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR) throw_file_error("okunamadı", shown, errno);
    }
}

void write_all(NativeHandle file, std::string_view data, const fs::path& shown) {
    while (!data.empty()) {
        const ssize_t n = sys::write(fd_of(file), data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            throw_file_error("yazılamadı", shown, errno);
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
}

std::vector<DirEntry> list_directory(const fs::path& dir) {
    std::unique_ptr<DIR, int (*)(DIR*)> d(sys::opendir(dir.c_str()), ::closedir);
    if (!d) throw_file_error("listelenemedi", dir, errno);
    std::vector<DirEntry> entries;
    for (;;) {
        errno = 0;
        const dirent* e = sys::readdir(d.get());
        if (e == nullptr) {
            if (errno != 0) throw_file_error("listelenemedi", dir, errno);
            return entries;
        }
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        bool is_dir = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN) {
            struct stat st {};
            is_dir = sys::fstatat(::dirfd(d.get()), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
        }
        entries.push_back({e->d_name, is_dir});
    }
}

int make_directory(const fs::path& dir) noexcept { return sys::mkdir(dir.c_str(), 0777) == 0 ? 0 : errno; }

int remove_file(const fs::path& path) noexcept { return sys::unlink(path.c_str()) == 0 ? 0 : errno; }

int remove_empty_directory(const fs::path& dir) noexcept { return sys::rmdir(dir.c_str()) == 0 ? 0 : errno; }

fs::path current_directory() {
    char buf[PATH_MAX];
    if (sys::getcwd(buf, sizeof buf) == nullptr) throw_file_error("çalışma dizini okunamadı", ".", errno);
    return buf;
}

void flush_directory(const fs::path& dir) {
    const File d(NativeHandle{sys::open(dir.c_str(), O_RDONLY | O_CLOEXEC | O_DIRECTORY)});
    // A directory we may write but not read cannot be opened to flush: its entry is then as durable as
    // the file system makes it, as with any plain write.
    if (!d) {
        if (errno == EACCES || errno == EPERM) return;
        throw_file_error("diske yazılamadı", dir, errno);
    }
    // Some file systems cannot flush a directory; the rename is then as durable as they make it.
    if (sys::fsync(fd_of(d.get())) != 0 && errno != EINVAL && errno != EROFS)
        throw_file_error("diske yazılamadı", dir, errno);
}

void flush_existing_file(const fs::path& path) {
    const File f = open_for_reading(path);
    if (sys::fdatasync(fd_of(f.get())) != 0 && errno != EINVAL) throw_file_error("diske yazılamadı", path, errno);
}

}  // namespace qev_scoreboard::platform
