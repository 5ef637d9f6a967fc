#include "qev_scoreboard/platform/file_content.hpp"

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
#include "qev_scoreboard/platform/unix/system_calls.hpp"
#include "qev_scoreboard/platform/unix/variants.hpp"

#if QEV_HAVE_LINUX_CALLS
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/xattr.h>
#endif

namespace qev_scoreboard::platform {

using unix_files::fd_of;

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

void start_flush(NativeHandle file) noexcept {
#if QEV_USE_LINUX_CALLS
    sys::sync_file_range(fd_of(file), 0, 0, SYNC_FILE_RANGE_WRITE);
#else
    (void)file;
#endif
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
