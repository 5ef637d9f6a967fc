#pragma once
// A working directory for one thread, where the system has such a thing.

#include <filesystem>

namespace qev_scoreboard::platform {

// Gives the calling thread, and the threads it starts from then on, `dir` as a working directory of its
// own; the process's and other threads' stay as they were. Returns false, changing nothing, where the
// system offers no such thing (only Linux does) or refuses it (a sandbox). Throws FileError
// ("açılamadı") when `dir` cannot be entered. It cannot be undone: call it on a thread started for the
// purpose.
bool enter_thread_working_directory(const std::filesystem::path& dir);

}  // namespace qev_scoreboard::platform
