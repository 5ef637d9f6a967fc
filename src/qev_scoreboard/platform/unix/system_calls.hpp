#pragma once
// Every file-system call of this directory passes through here: the test seam stands in front of each,
// and behind each that changes the disk (fault_injection.hpp: nothing at all outside the tests' build),
// and a call the system may interrupt before it did anything (EINTR: a signal, a network file system) is
// made again, so that no caller takes an interruption for a failure. For this directory's files only.

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "qev_scoreboard/platform/fault_injection.hpp"
#include "qev_scoreboard/platform/unix/variants.hpp"

#if QEV_HAVE_LINUX_CALLS
#include <linux/fs.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#else
#include <sys/mount.h>
#include <sys/param.h>
#endif

namespace qev_scoreboard::platform::sys {

// One attempt: the seam's error in place of the call when it has one (-1 and errno, as the call would).
template <typename Call>
auto attempt([[maybe_unused]] const char* name, [[maybe_unused]] bool interruptible, Call call) -> decltype(call()) {
    if (const int err = QEV_FAULT(name, interruptible); err != 0) {
        errno = err;
        return static_cast<decltype(call())>(-1);
    }
    return call();
}

// A call that may be interrupted: attempted until it is not.
template <typename Call>
auto retried(const char* name, Call call) -> decltype(call()) {
    for (;;) {
        const auto result = attempt(name, true, call);
        if (result != -1 || errno != EINTR) return result;
    }
}

// The same for calls returning a pointer, null on failure.
template <typename Call>
auto attempt_pointer([[maybe_unused]] const char* name, Call call) -> decltype(call()) {
    if (const int err = QEV_FAULT(name, false); err != 0) {
        errno = err;
        return nullptr;
    }
    return call();
}

// A call that reads no file and changes nothing, made a number of times that depends on the clock or on
// what the process learnt before (a wait for the clock to tick, a file system's kind, cached): kept out
// of the seam's count, so that a sweep's Nth call is the same call in every run. Retried on EINTR.
template <typename Call>
auto uncounted(Call call) -> decltype(call()) {
    for (;;) {
        const auto result = call();
        if (result != -1 || errno != EINTR) return result;
    }
}

inline int open(const char* path, int flags, mode_t mode = 0) {
    const int fd = retried("open", [&] { return ::open(path, flags, mode); });
    QEV_RECORD(opened, "open", AT_FDCWD, path, flags, fd);
    return fd;
}
inline int openat(int dir, const char* name, int flags, mode_t mode = 0) {
    const int fd = retried("openat", [&] { return ::openat(dir, name, flags, mode); });
    QEV_RECORD(opened, "openat", dir, name, flags, fd);
    return fd;
}
// The descriptor is gone whatever close() reports, an interruption included: never closed twice.
inline int close(int fd) {
    const int err = QEV_FAULT("close", true);
    const int rc = ::close(fd);
    if (err == EINTR || (rc != 0 && errno == EINTR)) return 0;
    if (err != 0) {
        errno = err;
        return -1;
    }
    return rc;
}
inline ssize_t read(int fd, void* buf, size_t size) {
    return retried("read", [&] { return ::read(fd, buf, size); });
}
inline ssize_t pread(int fd, void* buf, size_t size, off_t at) {
    return retried("pread", [&] { return ::pread(fd, buf, size, at); });
}
inline ssize_t write(int fd, const void* buf, size_t size) {
    const ssize_t n = retried("write", [&] { return ::write(fd, buf, size); });
    QEV_RECORD(wrote, "write", fd, buf, n, -1);
    return n;
}
inline ssize_t pwrite(int fd, const void* buf, size_t size, off_t at) {
    const ssize_t n = retried("pwrite", [&] { return ::pwrite(fd, buf, size, at); });
    QEV_RECORD(wrote, "pwrite", fd, buf, n, at);
    return n;
}
inline int fstat(int fd, struct stat* st) {
    return attempt("fstat", false, [&] { return ::fstat(fd, st); });
}
inline int fstatat(int dir, const char* name, struct stat* st, int flags) {
    return attempt("fstatat", false, [&] { return ::fstatat(dir, name, st, flags); });
}
inline int stat(const char* path, struct stat* st) {
    return attempt("stat", false, [&] { return ::stat(path, st); });
}
inline int lstat(const char* path, struct stat* st) {
    return attempt("lstat", false, [&] { return ::lstat(path, st); });
}
inline int faccessat(int dir, const char* name, int mode, int flags) {
    return attempt("faccessat", false, [&] { return ::faccessat(dir, name, mode, flags); });
}
inline ssize_t readlinkat(int dir, const char* name, char* buf, size_t size) {
    return attempt("readlinkat", false, [&] { return ::readlinkat(dir, name, buf, size); });
}
inline int fcntl(int fd, int cmd, long arg = 0) {
    return attempt("fcntl", false, [&] { return ::fcntl(fd, cmd, arg); });
}
inline int fcntl(int fd, int cmd, void* arg) {
    return attempt("fcntl", false, [&] { return ::fcntl(fd, cmd, arg); });
}
inline off_t lseek(int fd, off_t offset, int whence) {
    return attempt("lseek", false, [&] { return ::lseek(fd, offset, whence); });
}
inline int flock(int fd, int operation) {
    return retried("flock", [&] { return ::flock(fd, operation); });
}
inline int fsync(int fd) {
    const int rc = retried("fsync", [&] { return ::fsync(fd); });
    QEV_RECORD(flushed, "fsync", fd, rc);
    return rc;
}
inline int fdatasync(int fd) {
    const int rc = retried("fdatasync", [&] { return ::fdatasync(fd); });
    QEV_RECORD(flushed, "fdatasync", fd, rc);
    return rc;
}
inline int ftruncate(int fd, off_t size) {
    const int rc = retried("ftruncate", [&] { return ::ftruncate(fd, size); });
    QEV_RECORD(truncated, fd, size, rc);
    return rc;
}
inline int fchmod(int fd, mode_t mode) {
    return attempt("fchmod", false, [&] { return ::fchmod(fd, mode); });
}
inline int fchown(int fd, uid_t owner, gid_t group) {
    return attempt("fchown", false, [&] { return ::fchown(fd, owner, group); });
}
inline int futimens(int fd, const struct timespec times[2]) {
    return attempt("futimens", false, [&] { return ::futimens(fd, times); });
}
inline int renameat(int from_dir, const char* from, int to_dir, const char* to) {
    const int rc = attempt("renameat", false, [&] { return ::renameat(from_dir, from, to_dir, to); });
    QEV_RECORD(renamed, from_dir, from, to_dir, to, rc);
    return rc;
}
inline int unlinkat(int dir, const char* name, int flags) {
    const int rc = attempt("unlinkat", false, [&] { return ::unlinkat(dir, name, flags); });
    QEV_RECORD(removed, "unlinkat", dir, name, (flags & AT_REMOVEDIR) != 0, rc);
    return rc;
}
inline int unlink(const char* path) {
    const int rc = attempt("unlink", false, [&] { return ::unlink(path); });
    QEV_RECORD(removed, "unlink", AT_FDCWD, path, false, rc);
    return rc;
}
inline int mkdir(const char* path, mode_t mode) {
    const int rc = attempt("mkdir", false, [&] { return ::mkdir(path, mode); });
    QEV_RECORD(made_directory, path, rc);
    return rc;
}
inline int rmdir(const char* path) {
    const int rc = attempt("rmdir", false, [&] { return ::rmdir(path); });
    QEV_RECORD(removed, "rmdir", AT_FDCWD, path, true, rc);
    return rc;
}
inline DIR* opendir(const char* path) {
    return attempt_pointer("opendir", [&] { return ::opendir(path); });
}
inline DIR* fdopendir(int fd) {
    return attempt_pointer("fdopendir", [&] { return ::fdopendir(fd); });
}
// Null at the end (errno unchanged, 0) or on failure (errno set).
inline dirent* readdir(DIR* dir) {
    errno = 0;
    return attempt_pointer("readdir", [&] { return ::readdir(dir); });
}
inline char* realpath(const char* path, char* resolved) {
    return attempt_pointer("realpath", [&] { return ::realpath(path, resolved); });
}
inline char* getcwd(char* buf, size_t size) {
    return attempt_pointer("getcwd", [&] { return ::getcwd(buf, size); });
}
inline int chdir(const char* path) {
    return attempt("chdir", false, [&] { return ::chdir(path); });
}
inline int fchdir(int fd) {
    return attempt("fchdir", false, [&] { return ::fchdir(fd); });
}
// The file system's clock, read while waiting for it to tick.
inline int clock_gettime_uncounted(clockid_t clock, struct timespec* ts) {
    return uncounted([&] { return ::clock_gettime(clock, ts); });
}
inline int clock_gettime(clockid_t clock, struct timespec* ts) {
    return attempt("clock_gettime", false, [&] { return ::clock_gettime(clock, ts); });
}
inline int fstatfs(int fd, struct statfs* out) {
    return uncounted([&] { return ::fstatfs(fd, out); });
}
inline int statfs(const char* path, struct statfs* out) {
    return uncounted([&] { return ::statfs(path, out); });
}
// A pause, cut short by a signal: the caller only waits for a clock to move, and looks again.
// As this process's effective ids would be judged when it made an entry, not its real ones.
inline int faccessat(const char* path, int mode) {
    return retried("faccessat", [&] { return ::faccessat(AT_FDCWD, path, mode, AT_EACCESS); });
}
inline int nanosleep(const struct timespec* how_long) {
    return uncounted([&] { return ::nanosleep(how_long, nullptr); });
}
// Flushes every file system; cannot fail.
inline void sync() {
    [[maybe_unused]] const int ignored = QEV_FAULT("sync", false);  // a point to end at: sync cannot fail
    ::sync();
    QEV_RECORD(flushed_all, "sync", 0);
}
// Returns 0 or the errno value, as posix_fallocate does.
inline int posix_fallocate(int fd, off_t at, off_t size) {
    for (;;) {
        int err = QEV_FAULT("posix_fallocate", true);
        if (err == 0) err = ::posix_fallocate(fd, at, size);
        if (err != EINTR) return err;
    }
}

#if QEV_HAVE_LINUX_CALLS
inline int syncfs(int fd) {
    const int rc = retried("syncfs", [&] { return ::syncfs(fd); });
    QEV_RECORD(flushed_all, "syncfs", rc);
    return rc;
}
inline int sync_file_range(int fd, off_t at, off_t size, unsigned int flags) {
    return retried("sync_file_range", [&] { return ::sync_file_range(fd, at, size, flags); });
}
inline int unshare(int flags) {
    return attempt("unshare", false, [&] { return ::unshare(flags); });
}
inline ssize_t getrandom(void* buf, size_t size, unsigned int flags) {
    return retried("getrandom", [&] { return ::getrandom(buf, size, flags); });
}
inline ssize_t copy_file_range(int in, int out, size_t size) {
    const ssize_t n = retried("copy_file_range", [&] { return ::copy_file_range(in, nullptr, out, nullptr, size, 0); });
    QEV_RECORD(copied, in, out, n);
    return n;
}
inline int fallocate(int fd, int mode, off_t at, off_t size) {
    return retried("fallocate", [&] { return ::fallocate(fd, mode, at, size); });
}
inline int ioctl_get_flags(int fd, int* flags) {
    return attempt("ioctl", false, [&] { return ::ioctl(fd, FS_IOC_GETFLAGS, flags); });
}
inline ssize_t listxattr(const char* path, char* list, size_t size) {
    return attempt("listxattr", false, [&] { return ::listxattr(path, list, size); });
}
inline ssize_t getxattr(const char* path, const char* name, void* value, size_t size) {
    return attempt("getxattr", false, [&] { return ::getxattr(path, name, value, size); });
}
inline int fsetxattr(int fd, const char* name, const void* value, size_t size, int flags) {
    return attempt("fsetxattr", false, [&] { return ::fsetxattr(fd, name, value, size, flags); });
}
#endif

}  // namespace qev_scoreboard::platform::sys
