#pragma once
// Telling that a file is unchanged without reading it: by its facts (size, modification and change
// times, identity), as they were when it was last fingerprinted. A file whose facts all match is the
// same file with the same bytes, unless it changed within the file system clock's resolution of when its
// facts were taken ("racily clean"): only facts older than that are trusted. When in doubt, read.

#include <chrono>

#include "qev_scoreboard/platform/files.hpp"

namespace qev_scoreboard {

// Whether `now` is `then`, taken at `taken` (system time), unchanged since: the same file with the same
// size and times, on a file system that keeps change times, last changed well before `taken`.
bool unchanged_since(const platform::FileInfo& then, std::chrono::system_clock::time_point taken,
                     const platform::FileInfo& now);

}  // namespace qev_scoreboard
