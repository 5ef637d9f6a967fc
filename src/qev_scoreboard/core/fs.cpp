#include "qev_scoreboard/core/fs.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "qev_scoreboard/core/fd.hpp"
#include "qev_scoreboard/core/file_error.hpp"

namespace qev_scoreboard {

void make_directories(const fs::path& dir) {
    struct stat st {};
    if (::stat(dir.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode)) throw_file_error("dizin oluşturulamadı", dir, ENOTDIR);
        return;
    }
    if (errno != ENOENT && errno != ENOTDIR) throw_file_error("dizin oluşturulamadı", dir, errno);
    const fs::path parent = dir.parent_path();
    if (!parent.empty() && parent != dir) make_directories(parent);
    if (::mkdir(dir.c_str(), 0777) == 0) return;
    const int err = errno;
    // Someone else may have made it meanwhile; only a directory will do.
    if (err == EEXIST && ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return;
    throw_file_error("dizin oluşturulamadı", dir, err);
}

bool path_exists(const fs::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return true;
    if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP) return false;
    throw_file_error("erişilemedi", path, errno);
}

bool leads_to_directory(const fs::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<DirEntry> list_directory(const fs::path& dir) {
    std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(dir.c_str()), ::closedir);
    if (!d) throw_file_error("listelenemedi", dir, errno);
    std::vector<DirEntry> entries;
    for (;;) {
        errno = 0;
        const dirent* e = ::readdir(d.get());
        if (e == nullptr) {
            if (errno != 0) throw_file_error("listelenemedi", dir, errno);
            return entries;
        }
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        bool is_dir = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN) {
            struct stat st {};
            is_dir = ::fstatat(::dirfd(d.get()), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
        }
        entries.push_back({e->d_name, is_dir});
    }
}

std::uintmax_t size_in_bytes(const fs::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) throw_file_error("boyutu okunamadı", path, errno);
    return static_cast<std::uintmax_t>(st.st_size);
}

bool remove_file(const fs::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return false;
        throw_file_error("erişilemedi", path, errno);
    }
    if (S_ISDIR(st.st_mode)) return false;
    if (::unlink(path.c_str()) != 0) {
        if (errno == ENOENT) return false;  // gone meanwhile: not ours to count
        throw_file_error("silinemedi", path, errno);
    }
    return true;
}

fs::path current_directory() {
    char buf[PATH_MAX];
    if (::getcwd(buf, sizeof buf) == nullptr) throw_file_error("çalışma dizini okunamadı", ".", errno);
    return buf;
}

void sync_filesystem(const fs::path& path) {
    const Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_DIRECTORY));
    if (!fd || ::syncfs(fd.get()) != 0) throw_file_error("diske yazılamadı", path, errno);
}

void sync_directory(const fs::path& dir) {
    const Fd fd(::open(dir.c_str(), O_RDONLY | O_CLOEXEC | O_DIRECTORY));
    // A directory we may write but not read cannot be opened to flush: its entry is then as durable as
    // the file system makes it, as with any plain write.
    if (!fd) {
        if (errno == EACCES || errno == EPERM) return;
        throw_file_error("diske yazılamadı", dir, errno);
    }
    // Some file systems cannot flush a directory; the rename is then as durable as they make it.
    if (::fsync(fd.get()) != 0 && errno != EINVAL && errno != EROFS) throw_file_error("diske yazılamadı", dir, errno);
}

}  // namespace qev_scoreboard
