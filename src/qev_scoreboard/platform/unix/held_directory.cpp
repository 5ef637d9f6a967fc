#include "qev_scoreboard/platform/held_directory.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>

#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/platform/temporary_file.hpp"
#include "qev_scoreboard/platform/unix/file_info.hpp"
#include "qev_scoreboard/platform/unix/lookup.hpp"
#include "qev_scoreboard/platform/unix/system_calls.hpp"

namespace qev_scoreboard::platform {

using unix_files::fd_of;
using unix_files::same_inode;

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

}  // namespace qev_scoreboard::platform
