#include "qev_scoreboard/core/atomic_file.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "qev_scoreboard/core/fd.hpp"
#include "qev_scoreboard/core/file_error.hpp"
#include "qev_scoreboard/core/fs.hpp"
#include "qev_scoreboard/platform/random.hpp"

namespace qev_scoreboard {

namespace {

constexpr std::string_view TEMP_PREFIX = ".qev-";
constexpr size_t TEMP_SUFFIX_LENGTH = 8;
constexpr char TEMP_ALPHABET[] = "abcdefghijklmnopqrstuvwxyz0123456789";

// Temporary files in flight, readable from a signal handler: a slot is claimed, filled, then marked live.
struct InFlight {
    std::atomic<bool> claimed{false};
    std::atomic<bool> live{false};
    int dir = -1;
    char name[NAME_MAX + 1];
};
InFlight g_in_flight[16];

// Claims a slot for `name` in `dir`; it is cleaned up on a signal only once marked live, after our own
// open succeeded, so a name another process happens to hold is never deleted.
int track(int dir, const std::string& name) {
    if (name.size() > NAME_MAX) return -1;
    for (int i = 0; i < static_cast<int>(std::size(g_in_flight)); ++i) {
        bool expected = false;
        if (!g_in_flight[i].claimed.compare_exchange_strong(expected, true)) continue;
        g_in_flight[i].dir = dir;
        std::memcpy(g_in_flight[i].name, name.c_str(), name.size() + 1);
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

bool is_temporary_name(std::string_view name) {
    if (!name.starts_with(TEMP_PREFIX) || name.size() != TEMP_PREFIX.size() + TEMP_SUFFIX_LENGTH) return false;
    return name.substr(TEMP_PREFIX.size()).find_first_not_of(TEMP_ALPHABET) == std::string_view::npos;
}

// Blocks signals in the calling thread only: a library must not change what the process does on them.
// A file-size signal that a write of ours raised meanwhile is consumed, so the write fails with EFBIG
// instead of ending the process.
class SignalBlock {
 public:
    enum Which { FileSize, AllCatchable };
    explicit SignalBlock(Which which) {
        sigset_t set;
        sigemptyset(&set);
        if (which == AllCatchable) {
            sigfillset(&set);
            // Faults are raised by the code itself; blocking them would only make them fatal.
            for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS}) sigdelset(&set, sig);
        }
        sigaddset(&set, SIGXFSZ);
        sigset_t pending;
        sigpending(&pending);
        xfsz_was_pending_ = sigismember(&pending, SIGXFSZ) == 1;
        ::pthread_sigmask(SIG_BLOCK, &set, &old_);
    }
    SignalBlock(const SignalBlock&) = delete;
    SignalBlock& operator=(const SignalBlock&) = delete;
    ~SignalBlock() {
        sigset_t pending;
        if (!xfsz_was_pending_ && sigismember(&old_, SIGXFSZ) != 1 && sigpending(&pending) == 0 &&
            sigismember(&pending, SIGXFSZ) == 1) {
            sigset_t only;
            sigemptyset(&only);
            sigaddset(&only, SIGXFSZ);
            const struct timespec now {};
            ::sigtimedwait(&only, nullptr, &now);
        }
        ::pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }

 private:
    sigset_t old_;
    bool xfsz_was_pending_ = false;
};

struct Target {
    ResolvedPath at;        // links followed
    Fd file;                // the existing file checked (O_PATH), for its attributes
    bool in_place = false;  // no temporary file can be renamed over it (or removed) where a plain write can
};

// In a sticky directory (a shared one, like /tmp) only the owner of a file or of the directory may
// rename over it; anyone allowed to write the file may still write it.
bool rename_refused(const Target& t) {
    if (::geteuid() == 0 || t.at.st.st_uid == ::geteuid()) return false;
    struct stat dir {};
    return ::fstat(t.at.dir.get(), &dir) == 0 && (dir.st_mode & S_ISVTX) && dir.st_uid != ::geteuid();
}

// Removes the temporary files that runs killed outright left in `dir`: only those nobody holds locked,
// and only while the name still leads to the file locked. Best effort: what cannot be removed stays.
void remove_stale_temporaries(int dir) {
    const int list_fd = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (list_fd < 0) return;
    std::unique_ptr<DIR, int (*)(DIR*)> d(::fdopendir(list_fd), ::closedir);
    if (!d) {
        ::close(list_fd);
        return;
    }
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(d.get()))
        if (is_temporary_name(e->d_name)) names.emplace_back(e->d_name);
    for (const std::string& name : names) {
        // Only regular files are ours: opening a device, even to look, may do something.
        struct stat first {};
        if (::fstatat(dir, name.c_str(), &first, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(first.st_mode)) continue;
        const Fd fd(::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
        if (!fd || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) continue;
        struct stat held {
        }, named{};
        if (::fstat(fd.get(), &held) == 0 && S_ISREG(held.st_mode) &&
            ::fstatat(dir, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == held.st_dev &&
            named.st_ino == held.st_ino)
            ::unlinkat(dir, name.c_str(), 0);
    }
}

// Where a replacement of `path` lands, refused as a plain write would be refused.
Target inspect(const fs::path& path, const char* action) {
    Target t{resolve_path(path, action), Fd(), false};
    remove_stale_temporaries(t.at.dir.get());
    if (directory_keeps_entries(t.at.dir.get())) t.in_place = true;
    if (!t.at.exists) return t;
    require_regular_file(t.at.st, path, action);
    t.file = Fd(::openat(t.at.dir.get(), t.at.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat opened {};
    if (!t.file || ::fstat(t.file.get(), &opened) != 0) throw_file_error(action, path, errno);
    // Another file took the name since it was checked: not the file we were asked to write.
    if (opened.st_dev != t.at.st.st_dev || opened.st_ino != t.at.st.st_ino) throw_file_error(action, path, EAGAIN);
    if (::faccessat(t.at.dir.get(), t.at.name.c_str(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0)
        throw_file_error(action, path, errno);
    if (rename_refused(t)) t.in_place = true;
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

bool not_ours_to_copy(int err) { return err == EPERM || err == EACCES || err == ENOTSUP || err == ENODATA; }

// Reads attribute list or value `get` fills, growing the buffer while it keeps growing meanwhile.
template <typename Get>
ssize_t read_attribute(std::vector<char>& buf, Get get) {
    for (;;) {
        ssize_t n = get(nullptr, 0);
        if (n < 0) return n;
        buf.resize(static_cast<size_t>(n) + 1);
        n = get(buf.data(), buf.size());
        if (n >= 0 || errno != ERANGE) return n;
    }
}

// The extended attributes of the replaced file (its ACLs among them) onto the replacement, those this
// user may read and set; an attribute the file system or our rights refuse is left, as a plain copy would.
void keep_attributes(const Target& t, int fd, const fs::path& shown, const char* action) {
    // The file checked, reached through its descriptor: O_PATH descriptors take no attribute calls themselves.
    const std::string old = "/proc/self/fd/" + std::to_string(t.file.get());
    std::vector<char> names;
    const ssize_t total = read_attribute(names, [&](char* b, size_t n) { return ::listxattr(old.c_str(), b, n); });
    if (total < 0) {
        if (not_ours_to_copy(errno) || errno == ENOENT) return;  // ENOENT: no /proc to reach it through
        throw_file_error(action, shown, errno);
    }
    std::vector<char> value;
    for (size_t i = 0; i < static_cast<size_t>(total); i += std::strlen(&names[i]) + 1) {
        const char* name = &names[i];
        const ssize_t n =
            read_attribute(value, [&](char* b, size_t size) { return ::getxattr(old.c_str(), name, b, size); });
        if (n < 0) {
            if (not_ours_to_copy(errno)) continue;
            throw_file_error(action, shown, errno);
        }
        if (::fsetxattr(fd, name, value.data(), static_cast<size_t>(n), 0) != 0 && !not_ours_to_copy(errno))
            throw_file_error(action, shown, errno);
    }
}

void flush(int fd, const fs::path& path) {
    if (::fdatasync(fd) != 0) throw_file_error("diske yazılamadı", path, errno);
}

// A temporary file beside the target, locked while it is written so no other run takes it for a
// left-over, and unlinked again unless commit() renamed it over the target.
class TempFile {
 public:
    // Returns false, creating nothing, when the directory refuses new files (EACCES, EPERM).
    bool create(const Target& t, mode_t mode, const fs::path& shown, const char* action) {
        dir_ = t.at.dir.get();
        for (int attempt = 0; attempt < 100; ++attempt) {
            // Short: the target's own name may already be as long as a name can be.
            name_ = std::string(TEMP_PREFIX) + platform::random_name(TEMP_SUFFIX_LENGTH);
            slot_ = track(dir_, name_);
            fd_ = Fd(::openat(dir_, name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode));
            if (!fd_) {
                const int err = errno;
                untrack(slot_);
                slot_ = -1;
                if (err == EEXIST) continue;
                if (err == EACCES || err == EPERM) return false;
                throw_file_error(action, shown, err);
            }
            // Another run may have taken the file for a left-over before we locked it: then it is gone
            // (or another's) and we start over under a new name.
            struct stat held {
            }, named{};
            if (::flock(fd_.get(), LOCK_EX) == 0 && ::fstat(fd_.get(), &held) == 0 &&
                ::fstatat(dir_, name_.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == held.st_dev &&
                named.st_ino == held.st_ino) {
                mark_live(slot_);
                return true;
            }
            fd_.reset();
            untrack(slot_);
            slot_ = -1;
        }
        throw_file_error(action, shown, EEXIST);
    }
    int fd() const { return fd_.get(); }
    // Renamed while still open and locked: closed first, it could be taken for a left-over.
    void commit(const Target& t, const fs::path& shown, const char* action) {
        if (::renameat(dir_, name_.c_str(), t.at.dir.get(), t.at.name.c_str()) != 0)
            throw_file_error(action, shown, errno);
        untrack(slot_);
        slot_ = -1;
        if (fd_.close() != 0) throw_file_error(action, shown, errno);
    }
    ~TempFile() {
        if (slot_ < 0) return;
        ::unlinkat(dir_, name_.c_str(), 0);
        fd_.reset();
        untrack(slot_);
    }

 private:
    int dir_ = -1;
    std::string name_;
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
            if (errno == EFBIG || errno == ENOSPC || errno == EDQUOT || errno == EIO)
                throw_file_error("yazılamadı", dst, errno);
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

// The old bytes written back after a failed rewrite, as far as the system lets us.
void put_back(int fd, const std::string& old, off_t new_size) {
    for (size_t done = 0; done < old.size();) {
        const ssize_t n = ::pwrite(fd, old.data() + done, old.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    const off_t old_size = static_cast<off_t>(old.size());
    if (::ftruncate(fd, old_size) == 0 && new_size > old_size)
        ::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, old_size, new_size - old_size);
}

// The fallback where no temporary file can take the target's place: the target rewritten in place, as a
// plain write would, but never left half-written by a failure we can see. The space is reserved before
// the first byte changes (or the file is left alone), catchable signals wait until the rewrite is whole,
// and a failed write puts the old bytes back. `fill` writes `new_size` bytes from the start.
template <typename Fill>
void rewrite_in_place(const Target& t, const fs::path& shown, const char* action, Flush when, off_t new_size,
                      Fill fill) {
    const Fd fd(::openat(t.at.dir.get(), t.at.name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd) throw_file_error(action, shown, errno);
    const struct stat st = stat_fd(fd.get(), shown);
    require_regular_file(st, shown, action);
    // Another file took the name since it was checked: not the file we were asked to write.
    if (st.st_dev != t.at.st.st_dev || st.st_ino != t.at.st.st_ino) throw_file_error(action, shown, EAGAIN);

    SignalBlock block(SignalBlock::AllCatchable);
    std::string old;
    try {
        old.reserve(static_cast<size_t>(st.st_size));
        char buf[1 << 16];
        read_blocks(fd.get(), shown, buf, sizeof buf, [&](const char* data, size_t n) { old.append(data, n); });
    } catch (const std::bad_alloc&) {
        throw_file_error(action, shown, ENOMEM);
    }
    if (new_size > 0 && ::fallocate(fd.get(), FALLOC_FL_KEEP_SIZE, 0, new_size) != 0) {
        const int err = errno;
        if (err != EOPNOTSUPP && err != ENOSYS) throw_file_error(action, shown, err);
        // Without a reservation only a rewrite that fits in the old file's own space is safe.
        if (new_size > st.st_size) throw FileError(action, shown, err, "yer önceden ayrılamıyor, dosyaya dokunulmadı");
    }
    try {
        if (::lseek(fd.get(), 0, SEEK_SET) != 0) throw_file_error(action, shown, errno);
        fill(fd.get());
        if (::ftruncate(fd.get(), new_size) != 0) throw_file_error(action, shown, errno);
    } catch (...) {
        put_back(fd.get(), old, new_size);
        throw;
    }
    if (when == Flush::BeforeRename) flush(fd.get(), shown);
}

}  // namespace

void write_file_atomic(const fs::path& path, std::string_view content) {
    constexpr const char* action = "yazılamadı";
    SignalBlock block(SignalBlock::FileSize);
    const Target t = inspect(path, action);
    TempFile tmp;
    if (t.in_place || !tmp.create(t, t.at.exists ? 0600 : 0666, path, action)) {
        if (!t.at.exists) throw_file_error(action, path, t.in_place ? EPERM : EACCES);
        rewrite_in_place(t, path, action, Flush::BeforeRename, static_cast<off_t>(content.size()),
                         [&](int fd) { write_all(fd, content, path); });
        return;
    }
    write_all(tmp.fd(), content, path);
    if (t.at.exists) {
        keep_owner(tmp.fd(), t.at.st);
        keep_attributes(t, tmp.fd(), path, action);
        if (::fchmod(tmp.fd(), t.at.st.st_mode & 07777) != 0) throw_file_error(action, path, errno);
    }
    flush(tmp.fd(), path);
    tmp.commit(t, path, action);
}

void copy_file_atomic(const fs::path& src, const fs::path& dst, Flush when) {
    constexpr const char* action = "kopyalanamadı";
    SignalBlock block(SignalBlock::FileSize);
    const Fd in = open_regular_for_reading(src);
    const struct stat src_st = stat_fd(in.get(), src);
    const struct timespec times[2] = {src_st.st_atim, src_st.st_mtim};
    const Target t = inspect(dst, action);
    // A file reached through a link may lie on another file system, which the caller's flush misses.
    if (t.at.via_link) when = Flush::BeforeRename;
    TempFile tmp;
    if (t.in_place || !tmp.create(t, 0600, dst, action)) {
        if (!t.at.exists) throw_file_error(action, dst, t.in_place ? EPERM : EACCES);
        rewrite_in_place(t, dst, action, when, src_st.st_size, [&](int fd) {
            copy_bytes(in.get(), fd, src, dst);
            // Mode and times are the owner's to set; a plain copy by someone else leaves them.
            if (::fchmod(fd, src_st.st_mode & 07777) != 0 && errno != EPERM) throw_file_error(action, dst, errno);
            if (::futimens(fd, times) != 0 && errno != EPERM) throw_file_error(action, dst, errno);
        });
        return;
    }
    copy_bytes(in.get(), tmp.fd(), src, dst);
    if (t.at.exists) {
        keep_owner(tmp.fd(), t.at.st);
        keep_attributes(t, tmp.fd(), dst, action);
    }
    if (::fchmod(tmp.fd(), src_st.st_mode & 07777) != 0) throw_file_error(action, dst, errno);
    if (::futimens(tmp.fd(), times) != 0) throw_file_error(action, dst, errno);
    if (when == Flush::BeforeRename) flush(tmp.fd(), dst);
    tmp.commit(t, dst, action);
}

void remove_temporary_files_in_flight() noexcept {
    for (auto& entry : g_in_flight)
        if (entry.live.load(std::memory_order_acquire)) ::unlinkat(entry.dir, entry.name, 0);
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
