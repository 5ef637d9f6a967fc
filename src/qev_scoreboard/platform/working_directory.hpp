#pragma once
// A working directory for one thread, where the system has such a thing, and the process's own.

#include <filesystem>

#include "qev_scoreboard/platform/native_handle.hpp"

namespace qev_scoreboard::platform {

// Gives the calling thread, and the threads it starts from then on, `dir` as a working directory of its
// own; the process's and other threads' stay as they were. Returns false, changing nothing, where the
// system offers no such thing (only Linux does) or refuses it (a sandbox). Throws FileError
// ("açılamadı") when `dir` cannot be entered. It cannot be undone: call it on a thread started for the
// purpose.
bool enter_thread_working_directory(const std::filesystem::path& dir);

// Moves the whole process into the directory `dir` (by name, or open from open_directory). Returns 0 or
// the errno value. Only a program that owns its process may: a library caller's other threads rely on
// the directory. By name, a directory this process may enter but not read will do everywhere.
int change_process_directory(const std::filesystem::path& dir) noexcept;
int change_process_directory(NativeHandle dir) noexcept;

}  // namespace qev_scoreboard::platform
