#include "qev_scoreboard/core/atomic_file.hpp"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

#include "qev_scoreboard/core/fd.hpp"
#include "qev_scoreboard/core/file_error.hpp"
#include "qev_scoreboard/platform/random.hpp"

namespace qev_scoreboard {

namespace {

// Temporary files in flight, readable from a signal handler: a slot is claimed, filled, then marked live.
struct InFlight {
    std::atomic<bool> claimed{false};
    std::atomic<bool> live{false};
    char path[PATH_MAX];
};
InFlight g_in_flight[16];

// Claims a slot for `path`; it is cleaned up on a signal only once marked live, after our own open
// succeeded, so a name another process happens to hold is never deleted.
int track(const std::string& path) {
    if (path.size() >= PATH_MAX) return -1;
    for (int i = 0; i < static_cast<int>(std::size(g_in_flight)); ++i) {
        bool expected = false;
        if (!g_in_flight[i].claimed.compare_exchange_strong(expected, true)) continue;
        std::memcpy(g_in_flight[i].path, path.c_str(), path.size() + 1);
        return i;
    }
    return -1;  // more in flight than slots: only the ordinary clean-up covers this one
}

void mark_live(int slot) {
    if (slot >= 0) g_in_flight[slot].live.store(true, std::memory_order_release);
}

void untrack(int slot) {
    if (slot < 0) return;
    g_in_flight[slot].live.store(false, std::memory_order_release);
    g_in_flight[slot].claimed.store(false, std::memory_order_release);
}

// The file that a write to `path` really changes: links followed to their end, which may not exist yet.
fs::path follow_links(const fs::path& path) {
    fs::path p = path;
    for (int hops = 0;; ++hops) {
        char buf[PATH_MAX];
        const ssize_t n = ::readlink(p.c_str(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINVAL || errno == ENOENT || errno == ENOTDIR) return p;
            throw_file_error("erişilemedi", path, errno);
        }
        if (hops == 40) throw_file_error("erişilemedi", path, ELOOP);
        const fs::path next(std::string(buf, static_cast<size_t>(n)));
        p = next.is_absolute() ? next : p.parent_path() / next;
    }
}

struct Target {
    fs::path file;  // links followed
    bool exists = false;
    bool in_place = false;  // a rename over it would be refused where a plain write is not
    struct stat st {};
};

// In a sticky directory (a shared one, like /tmp) only the owner of a file or of the directory may
// rename over it; anyone allowed to write the file may still write it.
bool rename_refused(const Target& t) {
    if (::geteuid() == 0 || t.st.st_uid == ::geteuid()) return false;
    struct stat dir {};
    const fs::path parent = t.file.has_parent_path() ? t.file.parent_path() : fs::path(".");
    return ::stat(parent.c_str(), &dir) == 0 && (dir.st_mode & S_ISVTX) && dir.st_uid != ::geteuid();
}

// Where a replacement of `path` lands, refused as a plain write would be refused.
Target inspect(const fs::path& path, const char* action) {
    Target t;
    t.file = follow_links(path);
    if (::stat(t.file.c_str(), &t.st) != 0) {
        if (errno != ENOENT) throw_file_error(action, path, errno);
        return t;
    }
    t.exists = true;
    require_regular_file(t.st, path, action);
    if (::faccessat(AT_FDCWD, t.file.c_str(), W_OK, AT_EACCESS) != 0) throw_file_error(action, path, errno);
    t.in_place = rename_refused(t);
    return t;
}

// Owner and group of the replaced file, where we may give them; otherwise the group alone, or neither,
// as any rewrite by this user would.
void keep_owner(int fd, const struct stat& old) {
    if (old.st_uid == ::geteuid() && old.st_gid == ::getegid()) return;
    if (::fchown(fd, old.st_uid, old.st_gid) == 0) return;
    if (::fchown(fd, static_cast<uid_t>(-1), old.st_gid) == 0) return;
    // Neither is ours to give: the file stays with this user's own owner and group.
}

void flush(int fd, const fs::path& path) {
    if (::fdatasync(fd) != 0) throw_file_error("diske yazılamadı", path, errno);
}

// A temporary file beside the target, unlinked again unless commit() renamed it over the target.
class TempFile {
 public:
    // Returns false, creating nothing, when the directory refuses new files (EACCES, EPERM).
    bool create(const fs::path& target, mode_t mode, const char* action) {
        const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
        for (int attempt = 0; attempt < 100; ++attempt) {
            // Short: the target's own name may already be as long as a name can be.
            path_ = dir / (".qev-" + platform::random_name(8));
            slot_ = track(path_.string());
            fd_ = Fd(::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode));
            if (fd_) {
                mark_live(slot_);
                return true;
            }
            const int err = errno;
            untrack(slot_);
            slot_ = -1;
            if (err == EEXIST) continue;
            if (err == EACCES || err == EPERM) return false;
            throw_file_error(action, target, err);
        }
        throw_file_error(action, target, EEXIST);
    }
    int fd() const { return fd_.get(); }
    void commit(const fs::path& target, const fs::path& shown, const char* action) {
        if (fd_.close() != 0) throw_file_error(action, shown, errno);
        if (::rename(path_.c_str(), target.c_str()) != 0) throw_file_error(action, shown, errno);
        untrack(slot_);
        slot_ = -1;
    }
    ~TempFile() {
        if (slot_ < 0) return;
        fd_.reset();
        ::unlink(path_.c_str());
        untrack(slot_);
    }

 private:
    fs::path path_;
    Fd fd_;
    int slot_ = -1;
};

void copy_bytes(int in, int out, const fs::path& src, const fs::path& dst) {
    for (bool use_range = true;;) {
        if (use_range) {
            const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
            if (n > 0) continue;
            if (n == 0) return;
            if (errno == EINTR) continue;
            // Not supported between these file systems: plain reads and writes instead.
            if (errno != EXDEV && errno != ENOSYS && errno != EOPNOTSUPP && errno != EINVAL)
                throw_file_error("kopyalanamadı", src, errno);
            use_range = false;
        }
        char buf[1 << 16];
        const size_t n = read_some(in, buf, sizeof buf, src);
        if (n == 0) return;
        write_all(out, std::string_view(buf, n), dst);
    }
}

// The fallback where the directory refuses new files: the target rewritten in place, as a plain write
// would. `fill` writes the content and returns its length.
template <typename Fill>
void rewrite_in_place(const Target& t, const fs::path& shown, const char* action, Flush when, Fill fill) {
    const Fd fd(::open(t.file.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY));
    if (!fd) throw_file_error(action, shown, errno);
    const off_t size = fill(fd.get());
    if (::ftruncate(fd.get(), size) != 0) throw_file_error(action, shown, errno);
    if (when == Flush::BeforeRename) flush(fd.get(), shown);
}

}  // namespace

void write_file_atomic(const fs::path& path, std::string_view content) {
    constexpr const char* action = "yazılamadı";
    const Target t = inspect(path, action);
    TempFile tmp;
    if (t.in_place || !tmp.create(t.file, t.exists ? 0600 : 0666, action)) {
        if (!t.exists) throw_file_error(action, path, EACCES);
        rewrite_in_place(t, path, action, Flush::BeforeRename, [&](int fd) {
            write_all(fd, content, path);
            return static_cast<off_t>(content.size());
        });
        return;
    }
    write_all(tmp.fd(), content, path);
    if (t.exists) {
        keep_owner(tmp.fd(), t.st);
        if (::fchmod(tmp.fd(), t.st.st_mode & 07777) != 0) throw_file_error(action, path, errno);
    }
    flush(tmp.fd(), path);
    tmp.commit(t.file, path, action);
}

void copy_file_atomic(const fs::path& src, const fs::path& dst, Flush when) {
    constexpr const char* action = "kopyalanamadı";
    const Fd in = open_regular_for_reading(src);
    const struct stat src_st = stat_fd(in.get(), src);
    const struct timespec times[2] = {src_st.st_atim, src_st.st_mtim};
    const Target t = inspect(dst, action);
    // A file reached through a link may lie on another file system, which the caller's flush misses.
    if (t.file != dst) when = Flush::BeforeRename;
    TempFile tmp;
    if (t.in_place || !tmp.create(t.file, 0600, action)) {
        if (!t.exists) throw_file_error(action, dst, EACCES);
        rewrite_in_place(t, dst, action, when, [&](int fd) {
            copy_bytes(in.get(), fd, src, dst);
            // Mode and times are the owner's to set; a plain copy by someone else leaves them.
            if (::fchmod(fd, src_st.st_mode & 07777) != 0 && errno != EPERM) throw_file_error(action, dst, errno);
            if (::futimens(fd, times) != 0 && errno != EPERM) throw_file_error(action, dst, errno);
            return src_st.st_size;
        });
        return;
    }
    copy_bytes(in.get(), tmp.fd(), src, dst);
    if (t.exists) keep_owner(tmp.fd(), t.st);
    if (::fchmod(tmp.fd(), src_st.st_mode & 07777) != 0) throw_file_error(action, dst, errno);
    if (::futimens(tmp.fd(), times) != 0) throw_file_error(action, dst, errno);
    if (when == Flush::BeforeRename) flush(tmp.fd(), dst);
    tmp.commit(t.file, dst, action);
}

void remove_temporary_files_in_flight() noexcept {
    for (auto& entry : g_in_flight)
        if (entry.live.load(std::memory_order_acquire)) ::unlink(entry.path);
}

namespace {

void on_fatal_signal(int sig) {
    remove_temporary_files_in_flight();
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

}  // namespace

void remove_temporary_files_on_signals() {
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        struct sigaction sa {};
        sa.sa_handler = on_fatal_signal;
        sigemptyset(&sa.sa_mask);
        ::sigaction(sig, &sa, nullptr);
    }
}

}  // namespace qev_scoreboard
