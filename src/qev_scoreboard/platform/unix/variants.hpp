#pragma once
// The two ways of doing a thing where Linux has a call of its own and other POSIX systems need a
// portable one. On Linux both are built; the portable one is used where the build forces it
// (QEV_FORCE_POSIX_FALLBACKS), so the paths another system takes are tested here. Tests run both.

#include <cstddef>
#include <filesystem>

#ifdef __linux__
#define QEV_HAVE_LINUX_CALLS 1
#else
#define QEV_HAVE_LINUX_CALLS 0
#endif

#if QEV_HAVE_LINUX_CALLS && !defined(QEV_FORCE_POSIX_FALLBACKS)
#define QEV_USE_LINUX_CALLS 1
#else
#define QEV_USE_LINUX_CALLS 0
#endif

namespace qev_scoreboard::platform::unix_variants {

// Where this code lies: glibc's link map (dladdr1, /proc/self/exe for the program), or dladdr alone.
std::filesystem::path module_file_linux();
std::filesystem::path module_file_posix();

// Random bytes: getrandom, or /dev/urandom. False when the source failed.
bool random_bytes_linux(unsigned char* buf, std::size_t size);
bool random_bytes_posix(unsigned char* buf, std::size_t size);

// A working directory for the calling thread: unshare(CLONE_FS), or none (false).
bool enter_thread_working_directory_linux(const std::filesystem::path& dir);
bool enter_thread_working_directory_posix(const std::filesystem::path& dir);

}  // namespace qev_scoreboard::platform::unix_variants
