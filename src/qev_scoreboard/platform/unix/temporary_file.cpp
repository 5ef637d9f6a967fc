#include "qev_scoreboard/platform/temporary_file.hpp"

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
#include "qev_scoreboard/platform/files.hpp"
#include "qev_scoreboard/platform/in_flight.hpp"
#include "qev_scoreboard/platform/process.hpp"
#include "qev_scoreboard/platform/random.hpp"
#include "qev_scoreboard/platform/temporary_name.hpp"
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
using unix_files::same_inode;

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

void TemporaryFile::commit(const Destination& at, const fs::path& shown, const char* action, FileInfo* after) {
    {
        // Renamed and out of the interrupt's list at once: its name may be another run's a moment later.
        const InterruptsDeferred deferred(Defer::AllInterrupts);
        if (sys::renameat(fd_of(dir_), name_.c_str(), fd_of(at.dir.get()), at.name.c_str()) != 0)
            throw_file_error(action, shown, errno);
        ours_ = false;
        untrack(slot_);
        slot_ = -1;
    }
    if (after != nullptr) *after = info(file_.get(), shown);
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
    struct stat self {};
    if (sys::fstat(dir, &self) == 0) {
        try {
            if (!left_overs_due(std::to_string(self.st_dev) + ":" + std::to_string(self.st_ino))) return;
        } catch (...) {
            // Out of memory naming it: cleared, as without a scope.
        }
    }
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

void remove_left_over_temporaries_in(const fs::path& dir) noexcept {
    Destination at;
    at.dir = open_lookup_dir(AT_FDCWD, dir.c_str());
    if (at.dir) remove_left_over_temporaries(at);
}

}  // namespace qev_scoreboard::platform
