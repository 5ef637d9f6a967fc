#pragma once
// Directories a run fills while other runs may be at work in the same place: held so that no other run
// takes one for a killed run's, removed only by whoever holds them, and taken in turns.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "qev_scoreboard/platform/files.hpp"
#include "qev_scoreboard/platform/native_handle.hpp"

namespace qev_scoreboard::platform {

namespace fs = std::filesystem;

// A directory this process fills, held so that remove_abandoned_directory() in any process leaves it
// alone while the handle is open. Never waits: empty when the name no longer leads to a directory, or
// when another process holds it already (it is then that one's: make another). Throws
// FileError(action, dir) when it cannot be opened for any other reason.
File hold_directory(const fs::path& dir, const char* action);

// Removes the directory `dir` that `held` holds (from hold_directory) if it is empty, before letting it
// go: no other run can have taken the name meanwhile, so only this run's own directory is removed.
// `held` is closed either way. Best effort.
void remove_held_directory(File& held, const fs::path& dir) noexcept;

// Removes `dir` when nobody holds it (hold_directory) and it holds nothing but left-over temporary
// files: what a run killed while it filled it left. Best effort.
void remove_abandoned_directory(const fs::path& dir) noexcept;

// Takes the directory `dir` for this process alone among the processes that ask for it here, waiting for
// the one that has it now, until the returned File is closed (or the process ends, however it ends):
// runs that decide what to keep in one directory take turns. Leaves nothing behind in `dir`. A file
// system that cannot lock is taken as it is. Throws FileError(action, dir) when `dir` cannot be opened.
File lock_directory(const fs::path& dir, const char* action);

}  // namespace qev_scoreboard::platform
