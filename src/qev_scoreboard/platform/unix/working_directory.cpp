#include "qev_scoreboard/platform/working_directory.hpp"

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/platform/native_handle.hpp"
#include "qev_scoreboard/platform/unix/system_calls.hpp"
#include "qev_scoreboard/platform/unix/variants.hpp"

namespace qev_scoreboard::platform {

namespace unix_variants {

#if QEV_HAVE_LINUX_CALLS
bool enter_thread_working_directory_linux(const std::filesystem::path& dir) {
    // O_PATH: a directory we may enter but not list is still one we can work in.
    const File d(NativeHandle{sys::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)});
    if (!d) throw_file_error("açılamadı", dir, errno);
    // Threads share the working directory unless one asks for its own.
    return sys::unshare(CLONE_FS) == 0 && sys::fchdir(static_cast<int>(d.get().value)) == 0;
}
#endif

// Other systems share one working directory among all threads: nothing to enter, only to check.
bool enter_thread_working_directory_posix(const std::filesystem::path& dir) {
    struct stat st {};
    if (sys::stat(dir.c_str(), &st) != 0) throw_file_error("açılamadı", dir, errno);
    if (!S_ISDIR(st.st_mode)) throw_file_error("açılamadı", dir, ENOTDIR);
    if (sys::faccessat(AT_FDCWD, dir.c_str(), X_OK, AT_EACCESS) != 0) throw_file_error("açılamadı", dir, errno);
    return false;
}

}  // namespace unix_variants

// Process-wide: reached only from the program, which alone allows it (allow_process_directory_change,
// called by main); a library caller's other threads never see their directory move.
int change_process_directory(const std::filesystem::path& dir) noexcept {
    return sys::chdir(dir.c_str()) == 0 ? 0 : errno;
}

int change_process_directory(NativeHandle dir) noexcept {
    return sys::fchdir(static_cast<int>(dir.value)) == 0 ? 0 : errno;
}

bool enter_thread_working_directory(const std::filesystem::path& dir) {
#if QEV_USE_LINUX_CALLS
    return unix_variants::enter_thread_working_directory_linux(dir);
#else
    return unix_variants::enter_thread_working_directory_posix(dir);
#endif
}

}  // namespace qev_scoreboard::platform
