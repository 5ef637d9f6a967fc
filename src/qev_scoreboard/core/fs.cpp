#include "qev_scoreboard/core/fs.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
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

namespace {

std::optional<std::vector<DirEntry>> list(const fs::path& dir, bool absence_is_an_error) {
    std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(dir.c_str()), ::closedir);
    if (!d) {
        if ((errno == ENOENT || errno == ENOTDIR) && !absence_is_an_error) return std::nullopt;
        throw_file_error("listelenemedi", dir, errno);
    }
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

}  // namespace

std::vector<DirEntry> list_directory(const fs::path& dir) { return std::move(*list(dir, true)); }

std::optional<std::vector<DirEntry>> list_directory_if_present(const fs::path& dir) { return list(dir, false); }

namespace {

Fd open_path_dir(int at, const char* name) {
    return Fd(::openat(at, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

// The protection the kernel applies to links in shared directories (fs.protected_symlinks = 1).
bool may_follow_link(int dir_fd, const struct stat& link) {
    struct stat dir {};
    if (::fstat(dir_fd, &dir) != 0) return false;
    if ((dir.st_mode & (S_ISVTX | S_IWOTH)) != (S_ISVTX | S_IWOTH)) return true;
    return link.st_uid == ::geteuid() || link.st_uid == dir.st_uid;
}

// Appends the components of `text` to the stack `todo`, the first one on top.
void push_components(std::vector<std::string>& todo, const std::string& text) {
    std::vector<std::string> parts;
    for (size_t start = 0; start <= text.size();) {
        size_t end = text.find('/', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    todo.insert(todo.end(), parts.rbegin(), parts.rend());
}

}  // namespace

ResolvedPath resolve_path(const fs::path& path, const char* action) {
    const std::string& text = path.native();
    if (text.empty()) throw_file_error(action, path, ENOENT);
    Fd dir = open_path_dir(AT_FDCWD, text[0] == '/' ? "/" : ".");
    if (!dir) throw_file_error(action, path, errno);
    std::vector<std::string> todo;
    push_components(todo, text);
    bool via_link = false;
    for (int links = 0; !todo.empty();) {
        const std::string name = std::move(todo.back());
        todo.pop_back();
        const bool last = todo.empty();
        if (name == "." && !last) continue;
        struct stat st {};
        if (::fstatat(dir.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT && last) return {std::move(dir), name, false, via_link, {}};
            throw_file_error(action, path, errno);
        }
        if (S_ISLNK(st.st_mode)) {
            if (++links > 40) throw_file_error(action, path, ELOOP);
            if (!may_follow_link(dir.get(), st)) throw_file_error(action, path, EACCES);
            char buf[PATH_MAX];
            const ssize_t n = ::readlinkat(dir.get(), name.c_str(), buf, sizeof buf);
            if (n <= 0) throw_file_error(action, path, n == 0 ? ENOENT : errno);
            const std::string target(buf, static_cast<size_t>(n));
            via_link = via_link || last;
            if (target[0] == '/' && !(dir = open_path_dir(AT_FDCWD, "/"))) throw_file_error(action, path, errno);
            push_components(todo, target);
            continue;
        }
        if (last) return {std::move(dir), name, true, via_link, st};
        if (!S_ISDIR(st.st_mode)) throw_file_error(action, path, ENOTDIR);
        Fd next = open_path_dir(dir.get(), name.c_str());
        if (!next) throw_file_error(action, path, errno);
        dir = std::move(next);
    }
    throw_file_error(action, path, EISDIR);  // nothing but slashes and dots: a directory
}

bool directory_keeps_entries(int dir_fd) {
    const Fd dir(::openat(dir_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    int flags = 0;
    return dir && ::ioctl(dir.get(), FS_IOC_GETFLAGS, &flags) == 0 && (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL));
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
