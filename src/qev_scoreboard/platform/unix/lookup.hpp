#pragma once
// Directories opened to look names up in, and the identity of a file, for this directory's files only.

#include <fcntl.h>
#include <sys/stat.h>

#include "qev_scoreboard/platform/native_handle.hpp"
#include "qev_scoreboard/platform/unix/system_calls.hpp"
#include "qev_scoreboard/platform/unix/variants.hpp"

namespace qev_scoreboard::platform::unix_files {

// A directory opened to look names up in, never to read: O_PATH where Linux has it.
#if QEV_USE_LINUX_CALLS
inline constexpr int LOOKUP_ONLY = O_PATH;
#elif defined(O_SEARCH)
inline constexpr int LOOKUP_ONLY = O_SEARCH;
#else
inline constexpr int LOOKUP_ONLY = O_RDONLY;
#endif

inline File open_lookup_dir(int at, const char* name) {
    return File(NativeHandle{sys::openat(at, name, LOOKUP_ONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)});
}

inline bool same_inode(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace qev_scoreboard::platform::unix_files
