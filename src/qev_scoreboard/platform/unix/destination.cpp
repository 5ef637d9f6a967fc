#include "qev_scoreboard/platform/destination.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/platform/unix/file_info.hpp"
#include "qev_scoreboard/platform/unix/lookup.hpp"
#include "qev_scoreboard/platform/unix/system_calls.hpp"
#include "qev_scoreboard/platform/unix/variants.hpp"

#if QEV_HAVE_LINUX_CALLS
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/xattr.h>
#endif

namespace qev_scoreboard::platform {

using unix_files::fd_of;
using unix_files::open_lookup_dir;

namespace {

// The protection the kernel gives sticky world-writable directories against links planted there
// (fs.protected_symlinks), for every directory that anyone besides its owner may write: a team's
// group-writable one is the same danger. There a link is followed only by its own owner, or when it
// belongs to the directory's owner; root is no exception, being the user such a link is laid for.
bool may_follow_link(int dir_fd, const struct stat& link) {
    struct stat dir {};
    if (sys::fstat(dir_fd, &dir) != 0) return false;
    if ((dir.st_mode & (S_IWGRP | S_IWOTH)) == 0) return true;
    return link.st_uid == ::geteuid() || link.st_uid == dir.st_uid;
}

// Appends the components of `text` to the stack `todo`, the first one on top.
void push_components(std::vector<std::string>& todo, const std::string& text) {
    std::vector<std::string> parts;
    for (std::size_t start = 0; start <= text.size();) {
        std::size_t end = text.find('/', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    todo.insert(todo.end(), parts.rbegin(), parts.rend());
}

}  // namespace

Destination resolve_destination(const fs::path& path, const char* action) {
    const std::string& text = path.native();
    if (text.empty()) throw_file_error(action, path, ENOENT);
    Destination at;
    at.dir = open_lookup_dir(AT_FDCWD, text[0] == '/' ? "/" : ".");
    if (!at.dir) throw_file_error(action, path, errno);
    // Only ever shown or used to flush: every lookup goes through the descriptor.
    fs::path dir_path = text[0] == '/' ? "/" : ".";
    std::vector<std::string> todo;
    push_components(todo, text);
    for (int links = 0; !todo.empty();) {
        const std::string name = std::move(todo.back());
        todo.pop_back();
        const bool last = todo.empty();
        if (name == "." && !last) continue;
        const int dir = fd_of(at.dir.get());
        struct stat st {};
        if (sys::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT && last) {
                at.dir_path = dir_path.lexically_normal();
                at.name = name;
                return at;
            }
            throw_file_error(action, path, errno);
        }
        if (S_ISLNK(st.st_mode)) {
            if (++links > 40) throw_file_error(action, path, ELOOP);
            // Only the name written is judged: a link on the way (a data volume linked in) is the user's
            // own set-up, and the kernel judges it as it is walked.
            if (last && !may_follow_link(dir, st)) throw ForeignLinkRefused(path);
            char buf[PATH_MAX];
            const ssize_t n = sys::readlinkat(dir, name.c_str(), buf, sizeof buf);
            if (n <= 0) throw_file_error(action, path, n == 0 ? ENOENT : errno);
            const std::string target(buf, static_cast<std::size_t>(n));
            at.via_link = at.via_link || last;
            if (target[0] == '/') {
                if (!(at.dir = open_lookup_dir(AT_FDCWD, "/"))) throw_file_error(action, path, errno);
                dir_path = "/";
            }
            push_components(todo, target);
            continue;
        }
        if (last) {
            at.dir_path = dir_path.lexically_normal();
            at.name = name;
            at.exists = true;
            at.info = unix_files::to_info(st);
            return at;
        }
        if (!S_ISDIR(st.st_mode)) throw_file_error(action, path, ENOTDIR);
        File next = open_lookup_dir(dir, name.c_str());
        if (!next) throw_file_error(action, path, errno);
        at.dir = std::move(next);
        dir_path /= name;
    }
    throw_file_error(action, path, EISDIR);  // nothing but slashes and dots: a directory
}

bool keeps_entries(const Destination& at) {
#if QEV_USE_LINUX_CALLS
    const File dir(NativeHandle{sys::openat(fd_of(at.dir.get()), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)});
    int flags = 0;
    return dir && sys::ioctl_get_flags(fd_of(dir.get()), &flags) == 0 && (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL));
#elif defined(UF_APPEND)
    struct stat st {};
    return sys::fstat(fd_of(at.dir.get()), &st) == 0 &&
           (st.st_flags & (UF_APPEND | UF_IMMUTABLE | SF_APPEND | SF_IMMUTABLE)) != 0;
#else
    (void)at;
    return false;
#endif
}

namespace {

// Whether we may write the file just opened: asked of the descriptor itself where the kernel can, so the
// answer is about the file we hold, not about whatever the name leads to by now.
bool may_write_opened(const File& f, int dir, const std::string& name) {
#if QEV_USE_LINUX_CALLS
    if (sys::faccessat(fd_of(f.get()), "", W_OK, AT_EACCESS | AT_EMPTY_PATH) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
#else
    (void)f;
#endif
    return sys::faccessat(dir, name.c_str(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) == 0;
}

// Opens the existing file of `at` by `flags`, without following a link, and checks it is the file
// described and writable by us.
File open_checked(const Destination& at, int flags, const fs::path& shown, const char* action) {
    const int dir = fd_of(at.dir.get());
    File f(NativeHandle{sys::openat(dir, at.name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC)});
    if (!f) throw_file_error(action, shown, errno);
    struct stat opened {};
    if (sys::fstat(fd_of(f.get()), &opened) != 0) throw_file_error(action, shown, errno);
    // Another file took the name since it was checked: not the file we were asked to write.
    if (!same_file(unix_files::to_info(opened), at.info)) throw FileReplacedMeanwhile(action, shown);
    if (!may_write_opened(f, dir, at.name)) throw_file_error(action, shown, errno);
    return f;
}

}  // namespace

File open_existing(const Destination& at, const fs::path& shown, const char* action) {
#if QEV_USE_LINUX_CALLS
    return open_checked(at, O_PATH, shown, action);
#else
    // Without O_PATH: opened as far as the file's mode lets us, never blocking and never truncating.
    const int dir = fd_of(at.dir.get());
    for (int flags : {O_RDONLY, O_WRONLY}) {
        const File probe(
            NativeHandle{sys::openat(dir, at.name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)});
        if (probe || errno != EACCES) return open_checked(at, flags | O_NONBLOCK | O_NOCTTY, shown, action);
    }
    throw_file_error(action, shown, EACCES);
#endif
}

File open_for_rewrite(const Destination& at, const fs::path& shown, const char* action) {
    File f = open_checked(at, O_RDWR | O_NONBLOCK | O_NOCTTY, shown, action);
    unix_files::require_regular(info(f.get(), shown), shown, action);
    return f;
}

bool replacement_refused(const Destination& at) {
    if (::geteuid() == 0 || at.info.owner == ::geteuid()) return false;
    struct stat dir {};
    return sys::fstat(fd_of(at.dir.get()), &dir) == 0 && (dir.st_mode & S_ISVTX) && dir.st_uid != ::geteuid();
}

}  // namespace qev_scoreboard::platform
