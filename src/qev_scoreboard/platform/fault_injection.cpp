// Compiled into the tests' build of the platform layer only (QEV_FAULT_INJECTION), on POSIX systems.
#include "qev_scoreboard/platform/fault_injection.hpp"

#if QEV_FAULT_INJECTION

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace qev_scoreboard::platform::faults {

namespace {

std::atomic<bool> g_armed{false};
std::atomic<std::uint64_t> g_calls{0};
std::uint64_t g_at = 0;
int g_error = 0;
Persist g_persist = Persist::Once;
std::atomic<const char*> g_fired{nullptr};
std::vector<const char*>* g_trace = nullptr;

}  // namespace

bool takes_space(const char* name) noexcept {
    for (const char* space : {"write", "pwrite", "copy_file_range", "fallocate", "posix_fallocate", "ftruncate"})
        if (std::strcmp(name, space) == 0) return true;
    return false;
}

int before(const char* name, bool interruptible) noexcept {
    if (!g_armed.load(std::memory_order_relaxed)) return 0;
    const std::uint64_t n = g_calls.fetch_add(1, std::memory_order_relaxed) + 1;
    if (g_trace != nullptr) {
        try {
            g_trace->push_back(name);
        } catch (...) {
            g_trace = nullptr;  // out of memory: the names stop, the count goes on
        }
    }
    if (const char* fired = g_fired.load(); fired != nullptr && g_persist == Persist::SameKind) {
        const bool same = takes_space(fired) ? takes_space(name) : std::strcmp(fired, name) == 0;
        if (!same || (g_error == EINTR && !interruptible)) return 0;
        return g_error;
    }
    if (n != g_at) return 0;
    if (g_error == 0) {
        g_fired.store(name);
        ::kill(::getpid(), SIGKILL);
        ::_exit(137);  // not reached
    }
    if (g_error == EINTR && !interruptible) return 0;
    g_fired.store(name);
    return g_error;
}

void arm(std::uint64_t at, int error, Persist persist) noexcept {
    g_armed.store(false);
    g_at = at;
    g_error = error;
    g_persist = persist;
    g_calls.store(0);
    g_fired.store(nullptr);
    g_armed.store(true);
}

void disarm() noexcept { g_armed.store(false); }

std::uint64_t calls() noexcept { return g_calls.load(); }

void trace(std::vector<const char*>* names) noexcept { g_trace = names; }

namespace {

using Kind = Recorded::Kind;

std::vector<Recorded>* g_record = nullptr;

// The canonical path of the directory `dir` (AT_FDCWD: the working directory), empty when unknown. Asked
// of the kernel when the call returns, so a descriptor opened with O_PATH, or reused since, names the
// directory it stands for now.
std::string directory_path(int dir) {
    char buf[PATH_MAX];
    if (dir == AT_FDCWD) return ::getcwd(buf, sizeof buf) != nullptr ? buf : "";
#if defined(__linux__)
    const std::string link = "/proc/self/fd/" + std::to_string(dir);
    const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : "";
#elif defined(F_GETPATH)
    return ::fcntl(dir, F_GETPATH, buf) != -1 ? buf : "";
#else
    return "";
#endif
}

// The directory (canonical) and the last name that `name`, looked up from `dir`, stands for.
void place(int dir, const char* name, std::string& in, std::string& last) {
    std::string full = name[0] == '/' ? std::string(name) : directory_path(dir) + "/" + name;
    while (full.size() > 1 && full.back() == '/') full.pop_back();
    const size_t slash = full.rfind('/');
    last = full.substr(slash + 1);
    const std::string parent = slash == 0 ? "/" : full.substr(0, slash);
    char buf[PATH_MAX];
    in = ::realpath(parent.c_str(), buf) != nullptr ? buf : parent;
}

// Whether `fd` is a regular file, which `r` then names.
bool identify(int fd, Recorded& r) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    r.device = st.st_dev;
    r.inode = st.st_ino;
    return true;
}

// Appends what `fill` makes of the call, when it is one to keep. Leaves errno as the call left it.
template <typename Fill>
void keep(const char* call, Kind kind, Fill fill) noexcept {
    if (!g_armed.load(std::memory_order_relaxed) || g_record == nullptr) return;
    const int saved = errno;
    try {
        Recorded r;
        r.kind = kind;
        r.call = call;
        r.number = g_calls.load();
        if (fill(r)) g_record->push_back(std::move(r));
    } catch (...) {
        g_record = nullptr;  // out of memory: the record stops short, which its replay shows
    }
    errno = saved;
}

}  // namespace

void record(std::vector<Recorded>* calls) noexcept { g_record = calls; }

void opened(const char* call, int dir, const char* name, int flags, int fd) noexcept {
    if (fd < 0) return;
    if ((flags & O_CREAT) != 0)
        keep(call, Kind::Create, [&](Recorded& r) {
            place(dir, name, r.dir, r.name);
            return identify(fd, r);
        });
    if ((flags & O_TRUNC) != 0) keep(call, Kind::Truncate, [&](Recorded& r) { return identify(fd, r); });
}

void wrote(const char* call, int fd, const void* data, long long written, long long at) noexcept {
    if (written <= 0) return;
    keep(call, Kind::Write, [&](Recorded& r) {
        if (!identify(fd, r)) return false;
        r.offset = static_cast<std::uint64_t>(at >= 0 ? at : ::lseek(fd, 0, SEEK_CUR) - written);
        r.bytes.assign(static_cast<const char*>(data), static_cast<size_t>(written));
        return true;
    });
}

void copied(int in, int out, long long n) noexcept {
    if (n <= 0) return;
    keep("copy_file_range", Kind::Write, [&](Recorded& r) {
        if (!identify(out, r)) return false;
        // Read back from the source, whose position moved past the bytes as the target's did: the target
        // may be open for writing only.
        const off_t from = ::lseek(in, 0, SEEK_CUR) - n;
        r.offset = static_cast<std::uint64_t>(::lseek(out, 0, SEEK_CUR) - n);
        r.bytes.resize(static_cast<size_t>(n));
        for (size_t done = 0; done < r.bytes.size();) {
            const ssize_t got = ::pread(in, r.bytes.data() + done, r.bytes.size() - done, from + off_t(done));
            if (got <= 0) {
                r.bytes.resize(done);  // short: the replay's own check finds it
                break;
            }
            done += static_cast<size_t>(got);
        }
        return true;
    });
}

void truncated(int fd, long long size, int rc) noexcept {
    if (rc != 0) return;
    keep("ftruncate", Kind::Truncate, [&](Recorded& r) {
        r.offset = static_cast<std::uint64_t>(size);
        return identify(fd, r);
    });
}

void renamed(int from_dir, const char* from, int to_dir, const char* to, int rc) noexcept {
    if (rc != 0) return;
    keep("renameat", Kind::Rename, [&](Recorded& r) {
        place(from_dir, from, r.dir, r.name);
        place(to_dir, to, r.to_dir, r.to_name);
        struct stat st {};
        if (::fstatat(to_dir, to, &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
        r.device = st.st_dev;
        r.inode = st.st_ino;
        return true;
    });
}

void removed(const char* call, int dir, const char* name, bool directory, int rc) noexcept {
    if (rc != 0) return;
    keep(call, directory ? Kind::RemoveDirectory : Kind::Unlink, [&](Recorded& r) {
        place(dir, name, r.dir, r.name);
        return true;
    });
}

void made_directory(const char* path, int rc) noexcept {
    if (rc != 0) return;
    keep("mkdir", Kind::MakeDirectory, [&](Recorded& r) {
        place(AT_FDCWD, path, r.dir, r.name);
        return true;
    });
}

void flushed(const char* call, int fd, int rc) noexcept {
    if (rc != 0) return;
    keep(call, Kind::FlushFile, [&](Recorded& r) {
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode)) return identify(fd, r);
        r.kind = Kind::FlushDirectory;
        r.dir = directory_path(fd);
        return !r.dir.empty();
    });
}

void flushed_all(const char* call, int rc) noexcept {
    if (rc == 0) keep(call, Kind::FlushAll, [](Recorded&) { return true; });
}

}  // namespace qev_scoreboard::platform::faults

#endif
