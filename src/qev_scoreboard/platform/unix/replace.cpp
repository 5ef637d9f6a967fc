#include "qev_scoreboard/platform/replace.hpp"

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
#include "qev_scoreboard/platform/in_flight.hpp"
#include "qev_scoreboard/platform/process.hpp"
#include "qev_scoreboard/platform/random.hpp"
#include "qev_scoreboard/platform/temporary_name.hpp"
#include "qev_scoreboard/platform/unix/file_info.hpp"
#include "qev_scoreboard/platform/unix/system_calls.hpp"
#include "qev_scoreboard/platform/unix/variants.hpp"

#if QEV_HAVE_LINUX_CALLS
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/xattr.h>
#endif

namespace qev_scoreboard::platform {

using unix_files::fd_of;

namespace {

// A directory opened to look names up in, never to read: O_PATH where Linux has it.
#if QEV_USE_LINUX_CALLS
constexpr int LOOKUP_ONLY = O_PATH;
#elif defined(O_SEARCH)
constexpr int LOOKUP_ONLY = O_SEARCH;
#else
constexpr int LOOKUP_ONLY = O_RDONLY;
#endif

File open_lookup_dir(int at, const char* name) {
    return File(NativeHandle{sys::openat(at, name, LOOKUP_ONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)});
}

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

namespace {

// Where a temporary file in flight lies, for a signal handler to remove it.
struct InFlight {
    int dir = -1;
    char name[NAME_MAX + 1];
};
InFlightTable<InFlight> g_in_flight;

int track(int dir, const std::string& name) {
    if (name.size() > NAME_MAX) return -1;
    return g_in_flight.claim([&](InFlight& where) {
        where.dir = dir;
        std::memcpy(where.name, name.c_str(), name.size() + 1);
    });
}

void mark_live(int slot) { g_in_flight.mark_live(slot); }

void untrack(int slot) { g_in_flight.release(slot); }

bool same_inode(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// A directory this run made and holds, to go with an interrupt if nothing was put in it yet.
struct DirectoryInFlight {
    char path[PATH_MAX];
};
InFlightTable<DirectoryInFlight, 4> g_directories_in_flight;

}  // namespace

void remove_temporaries_in_flight() noexcept {
    g_in_flight.for_each_live([](const InFlight& where) { sys::unlinkat(where.dir, where.name, 0); });
    // After the temporary files, which may be all a directory holds; one holding anything else stays.
    g_directories_in_flight.for_each_live([](const DirectoryInFlight& where) { sys::rmdir(where.path); });
}

int track_directory(NativeHandle, const fs::path& dir) noexcept {
    const std::string& text = dir.native();
    if (text.size() >= PATH_MAX) return -1;
    const int slot = g_directories_in_flight.claim(
        [&](DirectoryInFlight& where) { std::memcpy(where.path, text.c_str(), text.size() + 1); });
    g_directories_in_flight.mark_live(slot);
    return slot;
}

void untrack_directory(int slot) noexcept { g_directories_in_flight.release(slot); }

bool TemporaryFile::create(const Destination& at, std::uint32_t permissions, const fs::path& shown,
                           const char* action) {
    dir_ = at.dir.get();
    const int dir = fd_of(dir_);
    for (int attempt = 0; attempt < 100; ++attempt) {
        name_ = std::string(TEMP_PREFIX) + random_name(TEMP_SUFFIX_LENGTH);
        // From its creation to its place in the interrupt's list, an interrupt would leave the file behind.
        const InterruptsDeferred deferred(Defer::AllInterrupts);
        slot_ = track(dir, name_);
        file_ = File(NativeHandle{sys::openat(dir, name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY,
                                              static_cast<mode_t>(permissions))});
        if (!file_) {
            const int err = errno;
            untrack(slot_);
            slot_ = -1;
            if (err == EEXIST) continue;
            if (err == EACCES || err == EPERM) return false;
            throw_file_error(action, shown, err);
        }
        int locked;
        while ((locked = sys::flock(fd_of(file_.get()), LOCK_EX)) != 0 && errno == EINTR) {
        }
        if (locked != 0) {
            // A file system that cannot lock (some network and user-space ones): nobody's clean-up can lock
            // this file either, so it is safe from them; it is ours, written unlocked.
            mark_live(slot_);
            ours_ = true;
            return true;
        }
        // Another run may have taken the file for a left-over before we locked it: then it is gone
        // (or another's) and we start over under a new name.
        struct stat held {
        }, named{};
        int looked = sys::fstat(fd_of(file_.get()), &held);
        if (looked == 0) looked = sys::fstatat(dir, name_.c_str(), &named, AT_SYMLINK_NOFOLLOW);
        if (looked == 0 && same_inode(named, held)) {
            mark_live(slot_);
            ours_ = true;
            return true;
        }
        if (looked != 0 && errno != ENOENT) {
            // No answer: the name is taken to be ours still, and removed again on the way out.
            const int err = errno;
            mark_live(slot_);
            ours_ = true;
            throw_file_error(action, shown, err);
        }
        file_.reset();
        untrack(slot_);
        slot_ = -1;
    }
    throw_file_error(action, shown, EEXIST);
}

void TemporaryFile::commit(const Destination& at, const fs::path& shown, const char* action) {
    {
        // Renamed and out of the interrupt's list at once: its name may be another run's a moment later.
        const InterruptsDeferred deferred(Defer::AllInterrupts);
        if (sys::renameat(fd_of(dir_), name_.c_str(), fd_of(at.dir.get()), at.name.c_str()) != 0)
            throw_file_error(action, shown, errno);
        ours_ = false;
        untrack(slot_);
        slot_ = -1;
    }
    if (const int err = file_.close(); err != 0) throw_file_error(action, shown, err);
}

TemporaryFile::~TemporaryFile() {
    const InterruptsDeferred deferred(Defer::AllInterrupts);
    // Removed whether or not the interrupt's list had room for it.
    if (ours_) sys::unlinkat(fd_of(dir_), name_.c_str(), 0);
    untrack(slot_);
    file_.reset();
}

void remove_left_over_temporaries(const Destination& at) noexcept {
    const int dir = fd_of(at.dir.get());
    const int list_fd = sys::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (list_fd < 0) return;
    std::unique_ptr<DIR, int (*)(DIR*)> d(sys::fdopendir(list_fd), ::closedir);
    if (!d) {
        sys::close(list_fd);
        return;
    }
    std::vector<std::string> names;
    try {
        while (const dirent* e = sys::readdir(d.get()))
            if (is_temporary_name(e->d_name)) names.emplace_back(e->d_name);
    } catch (...) {
        return;  // out of memory: the left-overs wait for another run
    }
    for (const std::string& name : names) {
        // Only regular files are ours: opening a device, even to look, may do something.
        struct stat first {};
        if (sys::fstatat(dir, name.c_str(), &first, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(first.st_mode)) continue;
        const File f(
            NativeHandle{sys::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)});
        if (!f || sys::flock(fd_of(f.get()), LOCK_EX | LOCK_NB) != 0) continue;
        struct stat held {
        }, named{};
        if (sys::fstat(fd_of(f.get()), &held) == 0 && S_ISREG(held.st_mode) &&
            sys::fstatat(dir, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && same_inode(named, held))
            sys::unlinkat(dir, name.c_str(), 0);
    }
}

namespace {

// A file system that cannot lock (some network and user-space ones): nobody else can lock there either.
bool cannot_lock(int err) { return err == ENOLCK || err == EOPNOTSUPP || err == ENOTSUP || err == EINVAL; }

}  // namespace

File hold_directory(const fs::path& dir, const char* action) {
    File held(NativeHandle{sys::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)});
    if (!held) {
        if (errno == ENOENT) return {};
        throw_file_error(action, dir, errno);
    }
    // Never waits: a directory someone holds is theirs, whoever made it.
    if (sys::flock(fd_of(held.get()), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) return {};
        if (!cannot_lock(errno)) throw_file_error(action, dir, errno);
    }
    struct stat opened {
    }, named{};
    if (sys::fstat(fd_of(held.get()), &opened) != 0) throw_file_error(action, dir, errno);
    if (sys::lstat(dir.c_str(), &named) != 0) {
        if (errno == ENOENT) return {};
        throw_file_error(action, dir, errno);
    }
    return same_inode(opened, named) ? std::move(held) : File();
}

void remove_held_directory(File& held, const fs::path& dir) noexcept {
    // Still held: whoever removes a directory holds it first, so the name is still ours.
    if (held) sys::rmdir(dir.c_str());
    held.reset();
}

void remove_abandoned_directory(const fs::path& dir) noexcept {
    const File d(NativeHandle{sys::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)});
    if (!d || sys::flock(fd_of(d.get()), LOCK_EX | LOCK_NB) != 0) return;
    remove_left_over_temporaries_in(dir);
    sys::rmdir(dir.c_str());  // refused while anything else is in it
}

File lock_directory(const fs::path& dir, const char* action) {
    File d(NativeHandle{sys::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)});
    if (!d) throw_file_error(action, dir, errno);
    if (sys::flock(fd_of(d.get()), LOCK_EX) != 0 && !cannot_lock(errno)) throw_file_error(action, dir, errno);
    return d;
}

void remove_left_over_temporaries_in(const fs::path& dir) noexcept {
    Destination at;
    at.dir = open_lookup_dir(AT_FDCWD, dir.c_str());
    if (at.dir) remove_left_over_temporaries(at);
}

void copy_content(NativeHandle in, NativeHandle out, const fs::path& src, const fs::path& dst) {
#if QEV_USE_LINUX_CALLS
    for (;;) {
        const ssize_t n = sys::copy_file_range(fd_of(in), fd_of(out), 1 << 30);
        if (n > 0) continue;
        if (n == 0) return;
        if (errno == EINTR) continue;
        if (errno == EFBIG || errno == ENOSPC || errno == EDQUOT || errno == EIO)
            throw_file_error("yazılamadı", dst, errno);
        // Not supported between these file systems: plain reads and writes instead.
        if (errno != EXDEV && errno != ENOSYS && errno != EOPNOTSUPP && errno != EINVAL)
            throw_file_error("kopyalanamadı", src, errno);
        break;
    }
#endif
    for (;;) {
        char buf[1 << 16];
        const std::size_t n = read_some(in, buf, sizeof buf, src);
        if (n == 0) return;
        write_all(out, std::string_view(buf, n), dst);
    }
}

void keep_owner(NativeHandle file, const FileInfo& from) {
    if (from.owner == ::geteuid() && from.group == ::getegid()) return;
    if (sys::fchown(fd_of(file), from.owner, from.group) == 0) return;
    if (sys::fchown(fd_of(file), static_cast<uid_t>(-1), from.group) == 0) return;
    // Neither is ours to give: the file stays with this user's own owner and group.
}

#if QEV_USE_LINUX_CALLS
namespace {

bool not_ours_to_copy(int err) { return err == EPERM || err == EACCES || err == ENOTSUP || err == ENODATA; }

// Reads the attribute list or value `get` fills, growing the buffer while it keeps growing meanwhile.
template <typename Get>
ssize_t read_attribute(std::vector<char>& buf, Get get) {
    for (;;) {
        ssize_t n = get(nullptr, 0);
        if (n < 0) return n;
        buf.resize(static_cast<std::size_t>(n) + 1);
        n = get(buf.data(), buf.size());
        if (n >= 0 || errno != ERANGE) return n;
    }
}

}  // namespace
#endif

void copy_extended_attributes(NativeHandle from, NativeHandle to, const fs::path& shown, const char* action) {
#if QEV_USE_LINUX_CALLS
    // Reached through its descriptor: O_PATH descriptors take no attribute calls themselves.
    const std::string old = "/proc/self/fd/" + std::to_string(fd_of(from));
    std::vector<char> names;
    const ssize_t total =
        read_attribute(names, [&](char* b, std::size_t n) { return sys::listxattr(old.c_str(), b, n); });
    if (total < 0) {
        if (not_ours_to_copy(errno) || errno == ENOENT) return;  // ENOENT: no /proc to reach it through
        throw_file_error(action, shown, errno);
    }
    std::vector<char> value;
    for (std::size_t i = 0; i < static_cast<std::size_t>(total); i += std::strlen(&names[i]) + 1) {
        const char* name = &names[i];
        const ssize_t n =
            read_attribute(value, [&](char* b, std::size_t size) { return sys::getxattr(old.c_str(), name, b, size); });
        if (n < 0) {
            if (not_ours_to_copy(errno)) continue;
            throw_file_error(action, shown, errno);
        }
        if (sys::fsetxattr(fd_of(to), name, value.data(), static_cast<std::size_t>(n), 0) != 0 &&
            !not_ours_to_copy(errno))
            throw_file_error(action, shown, errno);
    }
#else
    // Extended attributes have no portable interface; each system's own call belongs here.
    (void)from, (void)to, (void)shown, (void)action;
#endif
}

int set_permissions(NativeHandle file, std::uint32_t permissions) noexcept {
    return sys::fchmod(fd_of(file), static_cast<mode_t>(permissions & 07777)) == 0 ? 0 : errno;
}

int set_times(NativeHandle file, FileTime accessed, FileTime modified) noexcept {
    const struct timespec times[2] = {{static_cast<time_t>(accessed.seconds), accessed.nanoseconds},
                                      {static_cast<time_t>(modified.seconds), modified.nanoseconds}};
    return sys::futimens(fd_of(file), times) == 0 ? 0 : errno;
}

void flush_data(NativeHandle file, const fs::path& shown) {
    if (sys::fdatasync(fd_of(file)) != 0) throw_file_error("diske yazılamadı", shown, errno);
}

int reserve(NativeHandle file, std::uint64_t size) noexcept {
    const int fd = fd_of(file);
#if QEV_USE_LINUX_CALLS
    if (sys::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) == 0) return 0;
    const int err = errno;
    // A reservation that failed part-way may still hold blocks beyond the end: a full disk gets them back.
    struct stat st {};
    if (sys::fstat(fd, &st) == 0 && static_cast<std::uint64_t>(st.st_size) < size)
        sys::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, st.st_size,
                       static_cast<off_t>(size) - st.st_size);
    return err == ENOSYS ? EOPNOTSUPP : err;
#else
    struct stat st {};
    if (sys::fstat(fd, &st) != 0) return errno;
    // Within the file's own length its space is already there.
    if (static_cast<std::uint64_t>(st.st_size) >= size) return 0;
#if defined(F_PREALLOCATE)
    // Reserved beyond the end, the size untouched, contiguous if it can be.
    fstore_t store{F_ALLOCATECONTIG | F_ALLOCATEALL, F_PEOFPOSMODE, 0, static_cast<off_t>(size) - st.st_size, 0};
    if (sys::fcntl(fd, F_PREALLOCATE, &store) == 0) return 0;
    store.fst_flags = F_ALLOCATEALL;
    if (sys::fcntl(fd, F_PREALLOCATE, &store) == 0) return 0;
    return errno == ENOTSUP || errno == EINVAL ? EOPNOTSUPP : errno;
#else
    // The portable call lengthens the file with zeros up to the new content's length, which the rewrite
    // then fills; a failed rewrite cuts it back.
    const int err = sys::posix_fallocate(fd, 0, static_cast<off_t>(size));
    return err == EINVAL || err == ENOTSUP || err == ENOSYS ? EOPNOTSUPP : err;
#endif
#endif
}

void rewind(NativeHandle file, const fs::path& shown, const char* action) {
    if (sys::lseek(fd_of(file), 0, SEEK_SET) != 0) throw_file_error(action, shown, errno);
}

void truncate(NativeHandle file, std::uint64_t size, const fs::path& shown, const char* action) {
    if (sys::ftruncate(fd_of(file), static_cast<off_t>(size)) != 0) throw_file_error(action, shown, errno);
}

void put_back(NativeHandle file, std::string_view old, std::uint64_t new_size) noexcept {
    const int fd = fd_of(file);
    for (std::size_t done = 0; done < old.size();) {
        const ssize_t n = sys::pwrite(fd, old.data() + done, old.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    const off_t old_size = static_cast<off_t>(old.size());
    if (sys::ftruncate(fd, old_size) != 0) return;
#if QEV_USE_LINUX_CALLS
    // What the reservation kept beyond the old end goes back to the file system.
    if (static_cast<off_t>(new_size) > old_size)
        sys::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, old_size,
                       static_cast<off_t>(new_size) - old_size);
#else
    (void)new_size;
#endif
}

}  // namespace qev_scoreboard::platform
